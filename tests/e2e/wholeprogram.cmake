# Whole-program runs: the suite installed into a Wine prefix of its own, so that long runs never
# hold the test prefix's machine-wide keys that the unit tests take turns on.
set(E2E_WINEPREFIX ${CMAKE_BINARY_DIR}/e2e-wineprefix)
add_custom_command(
    OUTPUT ${E2E_WINEPREFIX}/.ordwell-ready
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-wineprefix ${E2E_WINEPREFIX} ${WINE64_LOADER}
    DEPENDS ${CMAKE_SOURCE_DIR}/scripts/make-wineprefix
    COMMENT "Preparing the whole-program Wine prefix"
    VERBATIM)
add_custom_target(e2e_wineprefix DEPENDS ${E2E_WINEPREFIX}/.ordwell-ready)
add_dependencies(e2e_wineprefix desktop_holder)

add_executable(whole_program_tests WholeProgramTest.cpp HandOverTest.cpp)
target_link_libraries(whole_program_tests PRIVATE e2e_support gmock_main)
add_dependencies(whole_program_tests e2e_deliverables e2e_wineprefix)

# Each test runs in a copy of that prefix made for it, with a Wine server and desktop of its own
# (scripts/run-in-prefix-copy sets WINEPREFIX): the tests install the suite into their prefix and
# use its machine-wide names, and so run side by side instead of taking turns on one prefix.
#   COMMAND ${E2E_RUN} ${E2E_COPIES}/<test name> <command>...
set(E2E_RUN ${CMAKE_SOURCE_DIR}/scripts/run-in-prefix-copy ${E2E_WINEPREFIX} ${WINE64_LOADER}
    $<TARGET_FILE:desktop_holder>)
set(E2E_COPIES ${CMAKE_BINARY_DIR}/e2e-wineprefixes)
set(E2E_WINE_ENV WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= LANG=C.UTF-8 LC_ALL=C.UTF-8)
# Hosts at once and hand-overs are fewer here; scripts/e2e-long runs 100 second starts, 50 hosts
# and 1,000 hand-overs.
foreach(group IN ITEMS Load Hosts Faults Memory)
    add_test(NAME whole_program.${group}
        COMMAND ${E2E_RUN} ${E2E_COPIES}/whole_program.${group}
                env ${E2E_WINE_ENV} ORDWELL_E2E_STARTS=100 ORDWELL_E2E_HOSTS=20 ORDWELL_E2E_HANDOVERS=40
                ${WINE64_LOADER}
                $<TARGET_FILE:whole_program_tests> --gtest_filter=WholeProgram${group}.*)
    set_tests_properties(whole_program.${group} PROPERTIES TIMEOUT 150 LABELS e2e)
endforeach()

# Hand-overs between starts: each case alone, since the races and the kill take their time.
foreach(case IN ITEMS EachHostShowsThePagesOfItsOwnIdOnly KilledHostLeavesNoPageForTheNextHost
        StartsRacingTheHostsEndLoseNoPage AnEndingHostLeavesItsSuccessorRunning
        ForeignDllPagesAreShownOnlyFromTrustedDlls)
    add_test(NAME whole_program.HandOver.${case}
        COMMAND ${E2E_RUN} ${E2E_COPIES}/whole_program.HandOver.${case}
                env ${E2E_WINE_ENV} ${WINE64_LOADER} $<TARGET_FILE:whole_program_tests>
                --gtest_filter=WholeProgramHandOver.${case})
    set_tests_properties(whole_program.HandOver.${case} PROPERTIES TIMEOUT 240 LABELS e2e)
endforeach()

# The memory run takes its baseline after the 20th hand-over, when the host has warmed up; while the
# runs that start hosts by the dozen share the processors, the host warms up later than that and the
# figures grow after the baseline. It starts once they have ended.
set_tests_properties(whole_program.Memory PROPERTIES DEPENDS
    "whole_program.Load;whole_program.Hosts;whole_program.Faults;whole_program.HandOver.StartsRacingTheHostsEndLoseNoPage;whole_program.HandOver.ForeignDllPagesAreShownOnlyFromTrustedDlls")
