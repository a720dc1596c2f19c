# The shell's UI configuration, language tables, locale strings, application info and Vistrel
# state.
add_library(shellconfig STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/ApplicationInfo.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/CAgentUICfg.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/CKvSARNLocale2.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/LanguageTables.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/VistrelHelper.cpp)
target_include_directories(shellconfig PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(shellconfig PUBLIC access core ole32 oleaut32 uuid user32)

file(GLOB SHELLCONFIG_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/config/*.cpp)
ordwell_add_test(shellconfig_tests SOURCES ${SHELLCONFIG_TEST_SOURCES} LIBS shellconfig core_testsupport)
# The configuration component, the localized-resource DLL and the resource DLLs the tests load.
add_dependencies(shellconfig_tests standin_kvuicfg standin_kvrtmui_full res_locale)
