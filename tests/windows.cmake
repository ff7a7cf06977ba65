# The windows, offscreen, inside a private D-Bus session (the main window talks to the bus).
if(VELDRA_GUI)
    veldra_test(windows_test
        SOURCES windows_test_app.cpp windows_test_formats.cpp windows_test_main_window.cpp
                windows_test_setup_dialog.cpp windows_test_desktop.cpp windows_test_guider_row.cpp
                windows_test_at_the_telescope.cpp
        LIBS veldra_windows Qt6::Test
        BUS)
    add_dependencies(windows_test veldra-solve) # asked at Start
    set_tests_properties(windows_test PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
