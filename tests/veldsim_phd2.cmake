veldra_test(veldsim_phd2_test SOURCES veldsim_phd2_test.cpp LIBS veldsim_model Qt6::Network)
target_compile_definitions(veldsim_phd2_test PRIVATE VELDSIM_EXE="$<TARGET_FILE:veldsim>")
add_dependencies(veldsim_phd2_test veldsim)
