veldra_test(veldsim_test SOURCES veldsim_test.cpp LIBS veldsim_model)
