veldra_test(solve_test SOURCES solve_test.cpp LIBS veldra_solve_core veldsim_stars)
add_dependencies(solve_test veldra-solve)
