veldra_test(hdrlib_test SOURCES hdrlib_test.cpp LIBS hdrlib)
