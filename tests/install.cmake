# The built programs as a user runs them: command lines and the end by signal; a staged
# `cmake --install` run from a folder it cannot write; the Debian package's file list.
if(VELDRA_GUI)
    add_test(NAME program_test
        COMMAND dbus-run-session -- ${CMAKE_CURRENT_SOURCE_DIR}/programs/command_line_and_signals.sh
                $<TARGET_FILE_DIR:veldra>)
    add_test(NAME install_test
        COMMAND dbus-run-session -- ${CMAKE_CURRENT_SOURCE_DIR}/programs/staged_install.sh
                ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
    add_test(NAME package_test
        COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/programs/package_files.sh ${CMAKE_BINARY_DIR})
    set_tests_properties(program_test install_test package_test PROPERTIES TIMEOUT 600)
    # Both install the build tree: not at the same time.
    set_tests_properties(install_test package_test PROPERTIES RESOURCE_LOCK build_install)
endif()

veldra_test(file_places_test SOURCES file_places_test.cpp LIBS veldra_settings)
