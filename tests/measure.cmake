veldra_test(measure_units_test SOURCES measure_text_test.cpp measure_metadata_test.cpp
            LIBS veldra_measure)
veldra_test(measure_solver_test SOURCES measure_solver_test.cpp LIBS veldra_measure)
veldra_test(measure_pipeline_test SOURCES measure_pipeline_test.cpp LIBS veldra_measure)
