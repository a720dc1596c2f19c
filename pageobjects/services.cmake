# The page services: URL expansion and launching, named parameters, override hives, registry
# storage and the application list. No window code but the report wait, which hides the host's
# window, sends it a navigation record (the shell's window-free library) and pumps messages.
add_library(pageservices STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/services/CAppInfoReg.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/services/CKvRegStorage.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/services/CNamedParameterMap.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/services/KvExitWindows.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/services/KvHive.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/services/KvPartnerCustomizationBase.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/services/KvRegistryOverride.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/services/KvRegistryPath.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/services/KvReportWait.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/services/KvResDllCache.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/services/KvShellExecute.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/services/KvStartCommand.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/services/KvUrlExpansion.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/services/_SplitRegPath.cpp)
target_link_libraries(pageservices PUBLIC kvshortpath activepackage access shellcommon core wininet shlwapi shell32 user32
    ole32 oleaut32 advapi32)

ordwell_add_test(pageservices_tests LABEL unit
    SOURCES
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/services/LaunchTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/services/NamedParameterMapTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/services/RegStorageTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/services/RegistryOverrideTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/services/StartCommandTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/services/UrlExpansionTest.cpp
    LIBS pageservices core_testsupport core_testsupport_allocations
    PROCESS_CASES "^(Launch(Child)?|StartCommand)[.]"
    LOCKED_CASES halvorn_registry "^Launch[.]")
# The launch tests start the signed updater stand-in, with the utility library and the
# validation service of the test PKI (the access tests' support header sets them up).
target_include_directories(pageservices_tests PRIVATE ${TEST_SIGNING_DIR})
add_dependencies(pageservices_tests trust_test_prefix standin_kvutil_full_signed standin_kvupdate_signed
    standin_kvupdate)
