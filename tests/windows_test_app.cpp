#include "tests/windows_test_app.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFocusEvent>
#include <QLineEdit>
#include <clocale>
#include <gtest/gtest.h>

namespace {

class OffscreenApplication : public ::testing::Environment {
  public:
    void SetUp() override {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = new QApplication(argc_, argv_);
        // QApplication adopts the environment's locale; the tests set their own.
        std::setlocale(LC_ALL, "C");
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

  private:
    int argc_ = 1;
    char name_[16] = "windows_test";
    char* argv_[2] = {name_, nullptr};
    QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const environment =
    ::testing::AddGlobalTestEnvironment(new OffscreenApplication);

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
