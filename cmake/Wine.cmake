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

# ordwell_add_test(name SOURCES ... LIBS ...): one GoogleTest program, its cases run one by one.
function(ordwell_add_test name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} gmock_main)
    add_dependencies(${name} wineprefix)
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 120
        PROPERTIES TIMEOUT 120)
endfunction()
