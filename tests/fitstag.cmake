veldra_test(fitstag_test SOURCES fitstag_test.cpp fitstag_tool_test.cpp LIBS fitstag_core)
# The tool tests run the built programs.
add_dependencies(fitstag_test fitstag bench-hdrlib bench-fitstag bench-solve)
target_compile_definitions(fitstag_test PRIVATE FITSTAG_EXE="$<TARGET_FILE:fitstag>"
    BENCH_HDRLIB_EXE="$<TARGET_FILE:bench-hdrlib>" BENCH_FITSTAG_EXE="$<TARGET_FILE:bench-fitstag>"
    BENCH_SOLVE_EXE="$<TARGET_FILE:bench-solve>")
