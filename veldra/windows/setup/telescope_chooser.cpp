#include "veldra/windows/setup/telescope_chooser.h"

#include "veldra/telescope/telescope_driver.h"
#include "veldra/telescope/telescope_identifier.h"
#include "veldra/telescope/telescope_link.h"
#include "veldra/windows/message_box.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

TelescopeChooserDialog::TelescopeChooserDialog(const std::string& current, QWidget* owner)
    : QDialog(owner) {
    setWindowTitle("Choose Telescope");
    DeviceIdentifier identifier;
    if (ParseDeviceIdentifier(current, identifier))
        preselected_ = identifier.device;

    txtHost = new QLineEdit(QString::fromStdString(identifier.host), this);
    txtPort = new QSpinBox(this);
    txtPort->setRange(1, 65535);
    txtPort->setValue(identifier.port);
    cmdRefresh = new QPushButton("Refresh", this);
    lstDevices = new QListWidget(this);
    lblStatus = new QLabel(this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    cmdOk = buttons->button(QDialogButtonBox::Ok);

    auto* server = new QHBoxLayout;
    server->addWidget(new QLabel("INDI server", this));
    server->addWidget(txtHost, 1);
    server->addWidget(new QLabel("Port", this));
    server->addWidget(txtPort);
    server->addWidget(cmdRefresh);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(server);
    layout->addWidget(new QLabel("Telescope devices", this));
    layout->addWidget(lstDevices);
    layout->addWidget(lblStatus);
    layout->addWidget(buttons);

    connect(cmdRefresh, &QPushButton::clicked, this, [this] { Refresh(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(lstDevices, &QListWidget::itemSelectionChanged, this,
            [this] { cmdOk->setEnabled(!lstDevices->selectedItems().isEmpty()); });
    connect(lstDevices, &QListWidget::itemDoubleClicked, this, [this] { accept(); });
    Refresh();
}

void TelescopeChooserDialog::Refresh() {
    // Keep the choice in the list across a refresh of the same server.
    if (const auto* selected = lstDevices->currentItem();
        selected != nullptr && selected->isSelected())
        preselected_ = selected->text().toStdString();
    lstDevices->clear();
    listedHost_ = txtHost->text().trimmed().toStdString();
    listedPort_ = txtPort->value();
    std::vector<std::string> devices;
    if (listedHost_.empty() || !ListTelescopeDevices(listedHost_, listedPort_, devices)) {
        lblStatus->setText(QString("No INDI server at %1:%2")
                               .arg(QString::fromStdString(listedHost_))
                               .arg(listedPort_));
    } else {
        lblStatus->setText(devices.empty() ? "The server has no telescope device" : "");
        for (const auto& device : devices) {
            auto* item = new QListWidgetItem(QString::fromStdString(device), lstDevices);
            if (device == preselected_)
                lstDevices->setCurrentItem(item);
        }
    }
    cmdOk->setEnabled(!lstDevices->selectedItems().isEmpty());
}

std::string TelescopeChooserDialog::Chosen() const {
    const auto selected = lstDevices->selectedItems();
    if (selected.isEmpty())
        return {};
    DeviceIdentifier identifier;
    identifier.device = selected.front()->text().toStdString();
    identifier.host = listedHost_;
    identifier.port = listedPort_;
    return DeviceIdentifierText(identifier);
}

std::string RunTelescopeChooser(const std::string& current, QWidget* owner) {
    TelescopeChooserDialog dialog(current, owner);
    return dialog.exec() == QDialog::Accepted ? dialog.Chosen() : std::string();
}

void ChooseTelescopeDriver(Settings& settings, const std::string& programFolder, QWidget* owner) {
    const std::string chosen = RunTelescopeChooser(settings.ASCOM_DRIVER_NAME, owner);
    ApplyChosenTelescopeDriver(settings, programFolder, chosen, [owner](const std::string& text) {
        ShowMessageBox(owner, text, QMessageBox::Warning);
    });
}
