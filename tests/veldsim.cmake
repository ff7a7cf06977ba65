veldra_test(veldsim_test SOURCES veldsim_test.cpp LIBS veldsim_model)
veldra_test(veldsim_stars_test SOURCES veldsim_stars_test.cpp LIBS veldsim_stars)
