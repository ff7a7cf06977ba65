#include "veldra/windows/notice/dia_error.h"

#include "common/numbers.h"

#include <QLabel>
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
// Twips (1440 per inch) to pixels of this screen.
int Pixels(const QWidget* widget, double twips) {
    const double dpi = widget->logicalDpiX() > 0 ? widget->logicalDpiX() : 96;
    return static_cast<int>(RoundHalfEven(twips * dpi / 1440));
}
} // namespace

diaError::diaError(QWidget* owner) : QDialog(owner, DialogFlags(owner)) {
    setObjectName("diaError");
    setWindowTitle("Dialog Caption");
    const auto px = [this](double twips) { return Pixels(this, twips); };
    setGeometry(px(2760), px(3750), px(6030), px(630));
    setFixedSize(px(6030), px(630));

    // The title alone is not enough: some window managers draw none.
    lblMessage = new QLabel(this);
    lblMessage->setObjectName("lblMessage");
    lblMessage->setWordWrap(true);
    lblMessage->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblMessage->hide();

    OKButton = new QPushButton("OK", this);
    OKButton->setObjectName("OKButton");
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

void diaError::ShowMessage(const QString& message) {
    setWindowTitle(message);
    // A path wraps after its separators (a zero-width space there lets the line break).
    lblMessage->setText(QString(message).replace("/", QString("/") + QChar(0x200B)));
    lblMessage->setVisible(!message.isEmpty());
    if (message.isEmpty())
        return;
    // The design's client area, widened up to twice its width for a long message, then
    // heightened for the lines it wraps to; the button keeps its place below the text.
    const auto px = [this](double twips) { return Pixels(this, twips); };
    const int margin = px(120);
    const int oneLine = lblMessage->fontMetrics().horizontalAdvance(message);
    const int width = std::clamp(oneLine + 2 * margin + 2, px(6030), px(12060));
    const int textHeight = lblMessage->heightForWidth(width - 2 * margin);
    lblMessage->setGeometry(margin, margin, width - 2 * margin, textHeight);
    OKButton->move((width - OKButton->width()) / 2, margin + textHeight + px(120));
    setFixedSize(width, std::max(px(630), OKButton->geometry().bottom() + 1 + margin));
}

void ShowTimedError(QWidget* owner, const std::string& message) {
    // A fresh dialog for every call, so every message gets its own 5000 ms.
    QPointer<diaError> dialog = new diaError(owner);
    dialog->set_timeout(5000);
    dialog->ShowMessage(QString::fromStdString(message));
    dialog->exec();
    delete dialog.data(); // null when the owner went away meanwhile
}
