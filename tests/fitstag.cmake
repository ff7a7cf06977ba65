veldra_test(fitstag_test SOURCES fitstag_test.cpp fitstag_tool_test.cpp LIBS fitstag_core)
# The tool tests run the built program.
add_dependencies(fitstag_test fitstag)
target_compile_definitions(fitstag_test PRIVATE FITSTAG_EXE="$<TARGET_FILE:fitstag>")
