# The shell's UI configuration, language tables, locale strings, application info and Vistrel
# state.
add_library(shellconfig STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/config/ApplicationInfo.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/config/CAgentUICfg.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/config/CKvSARNLocale2.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/config/LanguageTables.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/config/VistrelHelper.cpp)
target_link_libraries(shellconfig PUBLIC access core ole32 oleaut32 uuid user32)

ordwell_add_test(shellconfig_tests LABEL unit
    SOURCES
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/config/AgentUICfgTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/config/LanguageTablesTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/config/LocaleStringsTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/config/SectionReadersTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/config/ShellConfigTestSupport.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/config/VistrelHelperTest.cpp
    LIBS shellconfig core_testsupport)
# The configuration component, the localized-resource DLL and the resource DLLs the tests load.
add_dependencies(shellconfig_tests standin_kvuicfg standin_kvrtmui_full res_locale)

# Tests that change what the whole Wine session sees (display mode, class registration): one
# program run while no other test runs.
add_executable(shellconfig_session_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/config/serial/SessionWideTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/config/ShellConfigTestSupport.cpp)
target_link_libraries(shellconfig_session_tests PRIVATE shellconfig core_testsupport gmock_main)
add_dependencies(shellconfig_session_tests wineprefix standin_kvuicfg standin_kvrtmui_full)
add_test(NAME shellconfig_session_tests COMMAND shellconfig_session_tests)
set_tests_properties(shellconfig_session_tests PROPERTIES RUN_SERIAL TRUE TIMEOUT 120 LABELS unit
    ENVIRONMENT ORDWELL_TEST_LOCKS=none)
