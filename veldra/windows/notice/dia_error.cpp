#include "veldra/windows/notice/dia_error.h"

#include "veldra/settings/numbers.h"

#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <algorithm>

namespace {
// Fixed dialog border without minimize and maximize boxes.  Qt::Tool keeps a dialog
// without an owner out of the task bar; an owned dialog stays out of it anyway.
Qt::WindowFlags DialogFlags(const QWidget* owner) {
    const Qt::WindowFlags kind = owner ? Qt::Dialog : Qt::Tool;
    return kind | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
           Qt::MSWindowsFixedSizeDialogHint;
}
} // namespace

diaError::diaError(QWidget* owner) : QDialog(owner, DialogFlags(owner)) {
    setObjectName("diaError");
    setWindowTitle("Dialog Caption");
    const double dpi = logicalDpiX() > 0 ? logicalDpiX() : 96;
    // Twips: 1440 per inch.
    const auto px = [dpi](double twips) {
        return static_cast<int>(RoundHalfEven(twips * dpi / 1440));
    };
    setGeometry(px(2760), px(3750), px(6030), px(630));
    setFixedSize(px(6030), px(630));

    OKButton = new QPushButton("OK", this);
    OKButton->setObjectName("OKButton");
    OKButton->setAccessibleName("OK");
    OKButton->setGeometry(px(2280), px(120), px(1215), px(375));
    OKButton->setDefault(true);
    OKButton->setFocus();
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, [this] {
        Timer1->stop();
        accept();
    });
}

void diaError::set_timeout(int16_t timeout) {
    Timer1->stop();
    Timer1->setInterval(std::max<int>(timeout, 0));
    // As with the classic timer control, an interval of 0 means switched off.
    if (timeout > 0)
        Timer1->start();
}

void ShowTimedError(QWidget* owner, const std::string& message) {
    // A fresh dialog for every call, so every message gets its own 5000 ms.
    QPointer<diaError> dialog = new diaError(owner);
    dialog->set_timeout(5000);
    dialog->setWindowTitle(QString::fromStdString(message));
    dialog->exec();
    delete dialog.data(); // null when the owner went away meanwhile
}
