veldra_test(telescope_test SOURCES telescope_test.cpp telescope_test_server.cpp LIBS veldra_telescope)
if(VELDRA_GUI)
    veldra_test(telescope_chooser_test
        SOURCES telescope_test_chooser.cpp telescope_test_server.cpp
        LIBS veldra_windows)
    set_tests_properties(telescope_chooser_test PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
