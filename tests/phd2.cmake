# The PHD2 guider backend: its protocol without a network, and its client against a
# server the test runs on a free local port.
veldra_test(phd2_test SOURCES phd2_test.cpp phd2_client_test.cpp LIBS veldra_guider)
# veldra's PHD2 link against the real PHD2 (PHD2_BIN or phd2 on PATH; skipped without it):
# PHD2 under its own Xvfb, private HOME, free port; indiserver for the declination case.
veldra_test(phd2_real_test SOURCES phd2_real_test.cpp telescope_test_server.cpp
    LIBS veldra_drift veldra_telescope veldra_common)
set_tests_properties(phd2_real_test PROPERTIES LABELS real-peer
    SKIP_REGULAR_EXPRESSION "real-PHD2 test skipped")
