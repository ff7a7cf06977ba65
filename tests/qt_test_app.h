#pragma once
// The one Qt application of a test program, made before the first test and deleted after
// the last.  Register it at namespace scope:
//   [[maybe_unused]] ::testing::Environment* const environment =
//       ::testing::AddGlobalTestEnvironment(new QtTestApplication<QApplication>("my_test"));
// A widget application runs on the offscreen platform, so no display is needed.
#include <QCoreApplication>
#include <gtest/gtest.h>
#include <string>
#include <type_traits>

template <typename Application> class QtTestApplication : public ::testing::Environment {
  public:
    explicit QtTestApplication(const std::string& name) : name_(name) {}
    void SetUp() override {
        if constexpr (!std::is_same_v<Application, QCoreApplication>)
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = new Application(argc_, argv_);
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

  private:
    std::string name_; // argv[0]: lives as long as the application
    int argc_ = 1;
    char* argv_[2] = {name_.data(), nullptr};
    Application* app_ = nullptr;
};
