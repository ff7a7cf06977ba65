veldra_test(telescope_test SOURCES telescope_test.cpp LIBS veldra_setup)
