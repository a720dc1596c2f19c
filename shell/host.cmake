# The host program Ordwell.exe: the shared shell types, the host's library and the program.

# Navigation records, the reference count, the performance marker (with the active package) and the
# senders of the window's pointer messages: also linked by the page objects, so nothing here needs
# the window's own code.
add_library(shellcommon STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/host/CNAVMSGDATA.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/host/CKvPerfCounter.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/host/ShellMessages.cpp)
target_link_libraries(shellcommon PUBLIC activepackage core user32 oleaut32 advapi32)

add_library(ordwellhost STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/host/CBrowserHelp.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/host/CKvShellModule.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/host/CShellMainWnd.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/host/CWinDPIAware.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/host/HandOverChannel.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/host/HostUiSettings.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/host/KvBrwsr2Lib.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/host/KvCommandRecord.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/host/NotQuiteNullDacl.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/host/ShellWindowHelpers.cpp)
target_link_libraries(ordwellhost PUBLIC shellcommon shellconfig classlib access core shell32 user32 gdi32 ole32 oleaut32
    advapi32 uuid pageobjects)

add_executable(Ordwell WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/host/OrdwellMain.cpp ${CMAKE_CURRENT_SOURCE_DIR}/host/Ordwell.rc)
set_target_properties(Ordwell PROPERTIES OUTPUT_NAME "Ordwell")
target_link_options(Ordwell PRIVATE -municode)
target_link_libraries(Ordwell PRIVATE ordwellhost kvplatformnet)
set(ORDWELL_RC_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/host/Ordwell.manifest ${CMAKE_CURRENT_SOURCE_DIR}/host/Ordwell.ico
    ${CMAKE_CURRENT_SOURCE_DIR}/host/Ordwell.rgs ${CMAKE_CURRENT_SOURCE_DIR}/host/SessionMgr.rgs
    ${PAGEOBJECTS_TLB_RC} ${PAGEOBJECTS_SESSION_TLB} ${PAGEOBJECTS_UNINSTALLER_TLB})
# The page objects' type libraries go into the program's resources (generated in the build folder).
target_include_directories(Ordwell PRIVATE ${PAGEOBJECTS_TLB_DIR})
add_dependencies(Ordwell pageobjects_tlb)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/host/Ordwell.rc PROPERTIES OBJECT_DEPENDS "${ORDWELL_RC_DEPENDS}")

# Tests: the host's pieces in-process, and the program started as a process (full exit codes).
ordwell_add_test(host_tests
    SOURCES
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/host/BindingAndShutdownTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/host/CommandLineAndModuleTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/host/ModuleOperationsTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/host/ProgramRunTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/host/WindowAndLoopTest.cpp
    LIBS ordwellhost core_testsupport)
target_include_directories(host_tests PRIVATE ${TEST_SIGNING_DIR})
add_dependencies(host_tests Ordwell trust_test_prefix standin_kvutil_full_signed)
