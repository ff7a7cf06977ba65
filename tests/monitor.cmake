veldra_test(monitor_listing_test SOURCES monitor_listing_test.cpp monitor_fakes.cpp
    LIBS veldra_monitor)
veldra_test(monitor_tick_test SOURCES monitor_tick_test.cpp monitor_fakes.cpp
    LIBS veldra_monitor)
veldra_test(monitor_control_test SOURCES monitor_control_test.cpp monitor_fakes.cpp
    LIBS veldra_monitor)
# Start and the monitor driving the real image pipeline and history.
veldra_test(monitor_end_to_end_test SOURCES monitor_end_to_end_test.cpp monitor_fakes.cpp
    LIBS veldra_monitor veldra_measure)
# Start's checks (a FITS image of the solve tools gives the image size).
veldra_test(monitor_start_checks_test SOURCES monitor_start_checks_test.cpp monitor_fakes.cpp
    LIBS veldra_monitor solve_common)
