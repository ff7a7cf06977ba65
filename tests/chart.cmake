# Chart rows, interval formulas and the resize rules without a window; with the windows
# built, also frmChart itself on the offscreen platform.
if(VELDRA_GUI)
    veldra_test(chart_test SOURCES chart_test.cpp LIBS veldra_chart veldra_windows)
    target_compile_definitions(chart_test PRIVATE VELDRA_CHART_WINDOW)
    set_tests_properties(chart_test PROPERTIES ENVIRONMENT QT_QPA_PLATFORM=offscreen)
else()
    veldra_test(chart_test SOURCES chart_test.cpp LIBS veldra_chart)
endif()
