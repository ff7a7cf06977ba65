# The timed error dialog and the file and folder choosers, on the offscreen platform.
if(VELDRA_GUI)
    veldra_test(notice_test SOURCES notice_test.cpp LIBS veldra_windows)
    set_tests_properties(notice_test PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endif()
