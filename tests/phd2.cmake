# The PHD2 guider backend: its protocol without a network, and its client against a
# server the test runs on a free local port.
veldra_test(phd2_test SOURCES phd2_test.cpp phd2_client_test.cpp LIBS veldra_guider)
# veldra's PHD2 link against the real PHD2 (PHD2_BIN or phd2 on PATH; skipped without it):
# PHD2 under its own Xvfb, private HOME, free port.  Built but not yet in CTest: its run
# time still depends on the Simulator star PHD2 picks (a calibration dragged past 300 s).
add_executable(phd2_real_test phd2_real_test.cpp)
target_link_libraries(phd2_real_test PRIVATE veldra_drift GTest::gtest GTest::gtest_main)
