#pragma once
// diaError, the timed error dialog: a one-line message as the window title, the same
// text inside the dialog (for window managers that draw no title bar) and an OK button; it closes
// itself when Timer1 fires or at once on OK.  Used only for failures during the unattended
// processing of an image, which must be seen but must not hold the processing for long.
// User-interface thread only; needs a QApplication.
#include <QDialog>
#include <cstdint>
#include <string>

class QLabel;
class QPushButton;
class QTimer;

class diaError : public QDialog {
    Q_OBJECT
  public:
    // Title "Dialog Caption", Timer1 without an interval (it does not fire before
    // set_timeout).  owner may be nullptr.
    explicit diaError(QWidget* owner = nullptr);

    // Stops Timer1, sets its interval to timeout milliseconds and starts it again.  A
    // timeout of 0 or less leaves the timer stopped (no self-closing).
    void set_timeout(int16_t timeout);
    // The message as the title and as the text above the button; the dialog takes the
    // design size or the smallest larger one that shows the whole text.
    void ShowMessage(const QString& message);

    QLabel* lblMessage = nullptr;
    QPushButton* OKButton = nullptr;
    QTimer* Timer1 = nullptr;
};

// A fresh diaError owned by owner: set_timeout(5000), ShowMessage(message), shown
// modally.  Returns when the dialog has closed (OK, the timer or the close box) and has
// been destroyed; window events and timers of other windows go on meanwhile.
void ShowTimedError(QWidget* owner, const std::string& message);
