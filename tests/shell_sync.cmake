veldra_test(shell_sync_test SOURCES shell_sync_test.cpp LIBS veldra_settings)
# The forced end runs the helper from the test's own bin folder.
add_dependencies(shell_sync_test veldra-forceend)
