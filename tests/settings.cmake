veldra_test(settings_test SOURCES settings_test.cpp helpers_test.cpp LIBS veldra_settings)
