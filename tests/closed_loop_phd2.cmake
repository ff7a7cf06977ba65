if(TARGET veldra_headless)
    veldra_test(closed_loop_phd2_test BUS SOURCES closed_loop_phd2_test.cpp LIBS veldra_headless)
    add_dependencies(closed_loop_phd2_test veldsim)
endif()
