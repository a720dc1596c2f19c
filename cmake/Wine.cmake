# Runs the cross-built test programs under Wine, in a prefix that lives in the build folder.
find_program(WINE64_LOADER wine64 PATHS /usr/lib/wine /usr/lib/wine64 /usr/bin NO_DEFAULT_PATH)
if(NOT WINE64_LOADER)
    find_program(WINE64_LOADER wine64)
endif()
if(NOT WINE64_LOADER)
    message(FATAL_ERROR "The wine64 loader was not found (install Debian's wine64 package)")
endif()

set(TEST_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(TEST_WINE_ENV
    WINEPREFIX=${TEST_WINEPREFIX}
    WINEDEBUG=-all
    WINEDLLOVERRIDES=mscoree,mshtml=
    LANG=C.UTF-8
    LC_ALL=C.UTF-8)
if(ORDWELL_UBSAN)
    # A trapped check ends the test program at once instead of waiting in Wine's crash debugger.
    list(TRANSFORM TEST_WINE_ENV REPLACE "^WINEDLLOVERRIDES=" "WINEDLLOVERRIDES=winedbg.exe,")
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR env ${TEST_WINE_ENV} ${WINE64_LOADER})

# The prefix is made once per build folder; every test program depends on it so that
# test discovery after the build already runs in a finished prefix.
set(TEST_WINEPREFIX_STAMP ${TEST_WINEPREFIX}/.ordwell-ready)
add_custom_command(
    OUTPUT ${TEST_WINEPREFIX_STAMP}
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-wineprefix ${TEST_WINEPREFIX} ${WINE64_LOADER}
    DEPENDS ${CMAKE_SOURCE_DIR}/scripts/make-wineprefix
    COMMENT "Preparing the test Wine prefix"
    VERBATIM)
add_custom_target(wineprefix DEPENDS ${TEST_WINEPREFIX_STAMP})

include(GoogleTest)

# Every test is in exactly one lane, its label, so that one lane can run alone (ctest -L unit):
#   unit     in-process tests;
#   process  tests that start programs or child processes of their own;
#   e2e      whole-program runs of the installed suite (tests/e2e, shell/tests/hostrun).
set(ORDWELL_TEST_LANES unit process e2e)

# Tests that use one machine-wide resource of the test prefix (the validation service's key in the
# real HKLM, the session's "ordwellsync" event, a class object offered to other processes) hold a
# resource lock, so that ctest runs them one at a time. The lock names reach the test program in
# ORDWELL_TEST_LOCKS ("none" for a test that holds none), and core/testsupport/RunnerLocks.h checks
# them, so that a test that takes such a resource without its lock fails instead of racing.
#   halvorn_registry HKLM "Software\Tervane\Halvorn" (32-bit view), read by the process-wide
#                    validator, and the surrogate helper's class registered for other processes;
#   session_sync     the session-wide "ordwellsync" event of the session manager.

# ordwell_add_test(name LABEL <lane> SOURCES ... LIBS ...
#                  [PROCESS_CASES <regex>...]
#                  [LOCKED_CASES <lock> <regex> [<lock> <regex>]...]
#                  [OWN_PREFIX_CASES <regex>...])
# One GoogleTest program, its cases run one by one, each in the lane LABEL except those whose
# name matches a PROCESS_CASES expression, which are in the "process" lane. LOCKED_CASES gives the
# cases that match each expression the resource lock before it. A case that matches an
# OWN_PREFIX_CASES expression runs in a copy of the test prefix made for it, with a Wine server of
# its own (scripts/wine-test-program), in build/wineprefix-copies/<case>: it has the prefix's
# machine-wide resources to itself, so it holds the locks LOCKED_CASES gives it without making the
# other cases wait for them. For the long cases that hold a lock most other cases also need; ctest
# starts them first (a high cost), so that they run beside the rest rather than after it.
function(ordwell_add_test name)
    cmake_parse_arguments(ARG "" "LABEL" "SOURCES;LIBS;PROCESS_CASES;LOCKED_CASES;OWN_PREFIX_CASES" ${ARGN})
    if(NOT ARG_LABEL IN_LIST ORDWELL_TEST_LANES)
        message(FATAL_ERROR "ordwell_add_test(${name}): LABEL must be one of ${ORDWELL_TEST_LANES}")
    endif()
    list(LENGTH ARG_LOCKED_CASES locked_count)
    math(EXPR locked_odd "${locked_count} % 2")
    if(locked_odd)
        message(FATAL_ERROR "ordwell_add_test(${name}): LOCKED_CASES takes pairs of a lock and an expression")
    endif()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} gmock_main)
    add_dependencies(${name} wineprefix)
    if(ARG_OWN_PREFIX_CASES)
        set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR
            "env;${TEST_WINE_ENV};${CMAKE_SOURCE_DIR}/scripts/wine-test-program;${WINE64_LOADER};${CMAKE_BINARY_DIR}/bin/OrdwellDesktopHolder.exe")
        add_dependencies(${name} desktop_holder)
    endif()
    if(NOT ARG_PROCESS_CASES AND NOT ARG_LOCKED_CASES AND NOT ARG_OWN_PREFIX_CASES)
        gtest_discover_tests(${name}
            DISCOVERY_TIMEOUT 120
            PROPERTIES TIMEOUT 120 LABELS ${ARG_LABEL} ENVIRONMENT ORDWELL_TEST_LOCKS=none)
        return()
    endif()

    # The cases are known only once the program is built and listed: a file that ctest reads after
    # the list (include files run in the order they were added) gives each its lane and locks.
    # (Set there only: a label or variable set twice would be added to, not replaced.)
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 120
        PROPERTIES TIMEOUT 120)
    set(script "# Lanes and locks of the cases of ${name} (written by ordwell_add_test).\n")
    string(APPEND script "foreach(test IN LISTS ${name}_TESTS)\n    set(lane ${ARG_LABEL})\n    set(locks)\n")
    foreach(expression IN LISTS ARG_PROCESS_CASES)
        string(APPEND script "    if(test MATCHES [==[${expression}]==])\n        set(lane process)\n    endif()\n")
    endforeach()
    while(ARG_LOCKED_CASES)
        list(POP_FRONT ARG_LOCKED_CASES lock expression)
        string(APPEND script "    if(test MATCHES [==[${expression}]==])\n        list(APPEND locks ${lock})\n    endif()\n")
    endwhile()
    string(APPEND script "    set(own_prefix)\n")
    foreach(expression IN LISTS ARG_OWN_PREFIX_CASES)
        string(APPEND script "    if(test MATCHES [==[${expression}]==])\n"
                             "        set(own_prefix \"ORDWELL_OWN_PREFIX=${CMAKE_BINARY_DIR}/wineprefix-copies/\${test}\")\n"
                             "        set_tests_properties(\"\${test}\" PROPERTIES COST 1000)\n"
                             "    endif()\n")
    endforeach()
    string(APPEND script "    if(locks)\n"
                         "        list(REMOVE_DUPLICATES locks)\n"
                         "        string(JOIN \",\" names \${locks})\n"
                         "        if(NOT own_prefix)\n"
                         "            set_tests_properties(\"\${test}\" PROPERTIES RESOURCE_LOCK \"\${locks}\")\n"
                         "        endif()\n"
                         "    else()\n"
                         "        set(names none)\n"
                         "    endif()\n"
                         "    set(environment ORDWELL_TEST_LOCKS=\${names} \${own_prefix})\n"
                         "    set_tests_properties(\"\${test}\" PROPERTIES LABELS \${lane} ENVIRONMENT \"\${environment}\")\n"
                         "endforeach()\n")
    set(lanes_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_lanes.cmake)
    file(WRITE ${lanes_file} "${script}")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${lanes_file})
endfunction()
