# veldra ended by a signal inside each of its waits: a forked main window, offscreen, on a
# private session bus.
if(VELDRA_GUI)
    veldra_test(session_end_test SOURCES session_end_test.cpp LIBS veldra_windows BUS)
    set_tests_properties(session_end_test PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
endif()
