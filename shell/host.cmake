# The host program Ordwell.exe: the shared shell types, the host's library and the program.

# Navigation records, the reference count and the performance marker (with the active package): also
# linked by the page objects, so nothing here needs window code.
add_library(shellcommon STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/CNAVMSGDATA.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/CKvPerfCounter.cpp)
target_include_directories(shellcommon PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(shellcommon PUBLIC activepackage core oleaut32 advapi32)

add_library(ordwellhost STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/CBrowserHelp.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/CKvShellModule.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/CShellMainWnd.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/CWinDPIAware.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/HostUiSettings.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/KvBrwsr2Lib.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/KvCommandRecord.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/NotQuiteNullDacl.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/RootStoreWarmUp.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/ShellWindowHelpers.cpp)
target_include_directories(ordwellhost PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/pageobjects)
target_link_libraries(ordwellhost PUBLIC shellcommon shellconfig classlib access core shell32 user32 gdi32 ole32 oleaut32
    advapi32 crypt32 uuid)
if(TARGET pageobjects)
    target_link_libraries(ordwellhost PUBLIC pageobjects)
else()
    target_sources(ordwellhost PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/HostWithoutPageObjects.cpp)
endif()

add_executable(Ordwell WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/OrdwellMain.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Ordwell.rc)
set_target_properties(Ordwell PROPERTIES OUTPUT_NAME "Ordwell")
target_link_options(Ordwell PRIVATE -municode)
target_link_libraries(Ordwell PRIVATE ordwellhost kvplatformnet)
set(ORDWELL_RC_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/Ordwell.manifest ${CMAKE_CURRENT_SOURCE_DIR}/Ordwell.ico
    ${CMAKE_CURRENT_SOURCE_DIR}/Ordwell.rgs ${CMAKE_CURRENT_SOURCE_DIR}/SessionMgr.rgs)
if(DEFINED PAGEOBJECTS_TLB_RC AND TARGET pageobjects_tlb)
    target_include_directories(Ordwell PRIVATE ${PAGEOBJECTS_TLB_DIR})
    target_compile_definitions(Ordwell PRIVATE ORDWELL_WITH_PAGE_OBJECT_TYPELIBS)
    list(APPEND ORDWELL_RC_DEPENDS ${PAGEOBJECTS_TLB_RC} ${PAGEOBJECTS_SESSION_TLB} ${PAGEOBJECTS_UNINSTALLER_TLB})
    add_dependencies(Ordwell pageobjects_tlb)
endif()
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/Ordwell.rc PROPERTIES OBJECT_DEPENDS "${ORDWELL_RC_DEPENDS}")

# Tests: the host's pieces in-process, and the program started as a process (full exit codes).
file(GLOB HOST_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tests/host/*.cpp)
if(HOST_TEST_SOURCES)
    ordwell_add_test(host_tests SOURCES ${HOST_TEST_SOURCES} LIBS ordwellhost core_testsupport)
    target_include_directories(host_tests PRIVATE ${TEST_SIGNING_DIR} ${CMAKE_SOURCE_DIR}/access/tests
        ${CMAKE_SOURCE_DIR}/standins/KvUtil)
    add_dependencies(host_tests Ordwell trust_test_prefix standin_kvutil_full_signed)
endif()
