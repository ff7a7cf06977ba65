veldra_test(drift_test SOURCES drift_test.cpp LIBS veldra_drift)
# The guider link on a real, private session bus.
veldra_test(drift_bus_test SOURCES drift_bus_test.cpp LIBS veldra_guider Qt6::DBus BUS)
set_target_properties(drift_bus_test PROPERTIES AUTOMOC ON)
# Dither awareness: the map, the offsets of an exposure, PHD2's events, dithered pairs.
veldra_test(dither_test SOURCES dither_test.cpp LIBS veldra_drift)
