# Restart and shut-down asked by a page, for real: ExitWindowsEx ends the Wine session of the
# prefix, so the run has a prefix and a server of its own, ended after the run. Nothing of it
# reaches the Linux machine (Wine's ExitWindowsEx runs wineboot's end-session in the prefix).
set(ENDSESSION_WINEPREFIX ${CMAKE_BINARY_DIR}/endsession-wineprefix)
add_custom_command(
    OUTPUT ${ENDSESSION_WINEPREFIX}/.ordwell-ready
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-wineprefix ${ENDSESSION_WINEPREFIX} ${WINE64_LOADER}
    DEPENDS ${CMAKE_SOURCE_DIR}/scripts/make-wineprefix
    COMMENT "Preparing the end-session Wine prefix"
    VERBATIM)
add_custom_target(endsession_wineprefix DEPENDS ${ENDSESSION_WINEPREFIX}/.ordwell-ready)

add_executable(endsession_tests EndSessionTest.cpp)
target_link_libraries(endsession_tests PRIVATE e2e_support gmock_main)
add_dependencies(endsession_tests e2e_deliverables endsession_wineprefix)

add_test(NAME endsession.RestartAndShutDown
    COMMAND sh -c "\"$1\" \"$2\"; status=$?; wineserver -k; exit $status" endsession
            ${WINE64_LOADER} $<TARGET_FILE:endsession_tests>)
set_tests_properties(endsession.RestartAndShutDown PROPERTIES TIMEOUT 150 LABELS e2e
    ENVIRONMENT "WINEPREFIX=${ENDSESSION_WINEPREFIX};WINEDEBUG=-all;WINEDLLOVERRIDES=mscoree,mshtml=;LANG=C.UTF-8;LC_ALL=C.UTF-8")
