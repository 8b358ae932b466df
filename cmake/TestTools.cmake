# Programs that only tests run (the MQTT broker and its clients, openssl, Wine, a virtual
# display, ...) are looked up where those tests are registered, and never as REQUIRED: a
# machine without one still configures and builds everything, and ctest lists the tests that
# need it as not run, behind a test named <program>_installed that fails saying what to
# install.

# vemox_find_test_tool(<variable> <program> <install command> [find_program options...]):
# finds <program> into <variable> (a path that has gone since the last configure is looked
# up again) and keeps what to tell when it is missing.
function(vemox_find_test_tool variable program install)
    if(${variable} AND NOT EXISTS "${${variable}}")
        unset(${variable} CACHE)
    endif()
    find_program(${variable} ${program} ${ARGN})
    set_property(GLOBAL PROPERTY ${variable}_program ${program})
    set_property(GLOBAL PROPERTY ${variable}_install "${install}")
endfunction()

# vemox_tests_need(<variable>... [TESTS <test>...]): the tests (by default every test this
# folder has registered so far) run only when each tool was found.
function(vemox_tests_need)
    cmake_parse_arguments(PARSE_ARGV 0 arg "" "" "TESTS")
    if(NOT arg_TESTS)
        get_property(arg_TESTS DIRECTORY PROPERTY TESTS)
        list(FILTER arg_TESTS EXCLUDE REGEX "_installed$")
    endif()
    foreach(variable IN LISTS arg_UNPARSED_ARGUMENTS)
        if(${variable})
            continue()
        endif()
        get_property(program GLOBAL PROPERTY ${variable}_program)
        get_property(install GLOBAL PROPERTY ${variable}_install)
        set(fixture ${program}_installed)
        get_property(registered GLOBAL PROPERTY ${fixture})
        if(NOT registered)
            set(reason "${program} not installed: ${install}, then configure again")
            message(STATUS "Some tests will not run: ${reason}")
            add_test(NAME ${fixture} COMMAND sh -c "echo \"$0\"; exit 1" "${reason}")
            set_tests_properties(${fixture} PROPERTIES FIXTURES_SETUP ${fixture})
            set_property(GLOBAL PROPERTY ${fixture} TRUE)
        endif()
        set_property(TEST ${arg_TESTS} APPEND PROPERTY FIXTURES_REQUIRED ${fixture})
    endforeach()
endfunction()
