veldra_test(shell_sync_test SOURCES shell_sync_test.cpp LIBS veldra_common)
