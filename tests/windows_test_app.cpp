#include "tests/windows_test_app.h"

#include "tests/qt_test_app.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QLineEdit>
#include <clocale>
#include <gtest/gtest.h>

namespace {

// QApplication adopts the environment's locale; the tests set their own.
class WindowsTestApplication : public QtTestApplication<QApplication> {
  public:
    using QtTestApplication::QtTestApplication;
    void SetUp() override {
        QtTestApplication::SetUp();
        std::setlocale(LC_ALL, "C");
    }
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new WindowsTestApplication("windows_test"));

} // namespace

void PasteInto(QLineEdit* box, const std::string& text) {
    // One edit, as pasting: the change rule sees the whole text at once (typing it key by
    // key would pass through the shorter prefixes, e.g. 4000 on the way to 40000).
    box->selectAll();
    if (text.empty())
        box->del();
    else
        box->insert(QString::fromStdString(text));
}

void LeaveBox(QWidget* box) {
    QFocusEvent event(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(box, &event);
}

bool ProcessEventsUntil(const std::function<bool()>& done) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > 5000)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}
