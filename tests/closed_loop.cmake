veldra_test(closed_loop_test BUS SOURCES closed_loop_test.cpp LIBS veldra_headless)
add_dependencies(closed_loop_test veldsim veldra-solve)
