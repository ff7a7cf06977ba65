#pragma once
// The main window loaded from a program folder of its own: the base of the main-window
// and desktop tests.
#include "tests/test_support.h"
#include "veldra/settings/settings.h"
#include "veldra/windows/main/form_main.h"

#include <gtest/gtest.h>
#include <memory>

class LoadedMainWindowTest : public ::testing::Test {
  protected:
    formMain& LoadWindow() {
        window = std::make_unique<formMain>(folder.path);
        window->Load();
        return *window;
    }
    // What the window saved into "veldra.ini".
    Settings SavedSettings() {
        Settings saved;
        LoadSettings(saved, folder.path);
        return saved;
    }

    TempDir folder;
    std::unique_ptr<formMain> window;
};
