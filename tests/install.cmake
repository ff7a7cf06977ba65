# The built programs as a user runs them: command lines and the end by signal; a staged
# `cmake --install` run from a folder it cannot write; the Debian packages of libhdrlib.
if(VELDRA_GUI)
    add_test(NAME program_test
        COMMAND dbus-run-session -- ${CMAKE_CURRENT_SOURCE_DIR}/programs/command_line_and_signals.sh
                $<TARGET_FILE_DIR:veldra>)
    add_test(NAME install_test
        COMMAND dbus-run-session -- ${CMAKE_CURRENT_SOURCE_DIR}/programs/staged_install.sh
                ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
    set_tests_properties(program_test install_test PROPERTIES TIMEOUT 600)
endif()
# libhdrlib-dev as its users have it: the Debian packages built and unpacked, a C program
# built against them with pkg-config and with CMake.
add_test(NAME dev_package_test
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/programs/dev_package.sh ${CMAKE_SOURCE_DIR} ${PROJECT_VERSION})
set_tests_properties(dev_package_test PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)

veldra_test(file_places_test SOURCES file_places_test.cpp LIBS veldra_settings)
