# The PHD2 guider backend: its protocol without a network, and its client against a
# server the test runs on a free local port.
veldra_test(phd2_test SOURCES phd2_test.cpp phd2_client_test.cpp LIBS veldra_guider)
