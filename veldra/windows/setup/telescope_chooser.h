#pragma once
// The telescope chooser: a dialog listing the telescope devices of an INDI server (host
// and port editable, default localhost:7624) with the current identifier preselected.
// Modal; a refresh waits up to the driver's listing time (about a second).
#include "veldra/settings/settings.h"

#include <QDialog>
#include <string>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSpinBox;

class TelescopeChooserDialog : public QDialog {
    Q_OBJECT
  public:
    // current: the identifier in force ("DEVICE[@HOST:PORT]"), may be empty.  Lists the
    // devices of its server at once.
    TelescopeChooserDialog(const std::string& current, QWidget* owner);
    // "DEVICE@HOST:PORT" of the selected device; empty when none is selected.
    std::string Chosen() const;
    // Asks the server in the host and port boxes again.
    void Refresh();

    QLineEdit* txtHost = nullptr;
    QSpinBox* txtPort = nullptr;
    QPushButton* cmdRefresh = nullptr;
    QListWidget* lstDevices = nullptr;
    QLabel* lblStatus = nullptr;
    QPushButton* cmdOk = nullptr;

  private:
    std::string preselected_;
    std::string listedHost_;
    int listedPort_ = 0;
};

// Runs the chooser; the chosen identifier, or empty text on cancel.
std::string RunTelescopeChooser(const std::string& current, QWidget* owner);

// "ASCOM Chooser": the chooser, then ApplyChosenTelescopeDriver with message boxes
// owned by owner.
void ChooseTelescopeDriver(Settings& settings, const std::string& programFolder, QWidget* owner);
