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
    ${CMAKE_CURRENT_SOURCE_DIR}/host/RootStoreWarmUp.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/host/ShellWindowHelpers.cpp)
target_link_libraries(ordwellhost PUBLIC shellcommon shellconfig classlib access core shell32 user32 gdi32 ole32 oleaut32
    advapi32 crypt32 uuid pageobjects)

add_executable(Ordwell WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/host/OrdwellMain.cpp ${CMAKE_CURRENT_SOURCE_DIR}/host/Ordwell.rc)
set_target_properties(Ordwell PROPERTIES OUTPUT_NAME "Ordwell")
target_link_options(Ordwell PRIVATE -municode)
target_link_libraries(Ordwell PRIVATE ordwellhost kvplatformnet)

# System DLLs that a second start never uses before its hand-over, and a first start not before
# its first navigation, are bound at their first call (delay-loaded): for the programs given to
# ordwell_delay_load() their import libraries are replaced by delay-import libraries made from the
# .def files in host/delayload/, which name only the functions the program calls (a new call into
# one of these DLLs fails to link until its name is added there and in host/DelayLoadFallbacks.cpp).
# A DLL or function that cannot be had at its first call is logged and then fails like the
# function itself (host/DelayLoadFallbacks.cpp); the delay-load helper comes from the toolchain's
# runtime.
find_program(ORDWELL_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)
set(ORDWELL_DELAYLOAD_DEF_DIR ${CMAKE_CURRENT_SOURCE_DIR}/host/delayload)
set(ORDWELL_DELAYLIB_DIR ${CMAKE_BINARY_DIR}/delaylib)
set(ORDWELL_DELAYLIBS)
foreach(dll IN ITEMS bcrypt oleaut32 version wininet)
    set(definition ${ORDWELL_DELAYLOAD_DEF_DIR}/${dll}.def)
    set(library ${ORDWELL_DELAYLIB_DIR}/lib${dll}.a)
    add_custom_command(OUTPUT ${library}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${ORDWELL_DELAYLIB_DIR}
        COMMAND ${ORDWELL_DLLTOOL} --input-def ${definition} --output-delaylib ${library}
        DEPENDS ${definition}
        COMMENT "Delay-import library for ${dll}.dll"
        VERBATIM)
    list(APPEND ORDWELL_DELAYLIBS ${library})
endforeach()
add_custom_target(ordwell_delaylibs DEPENDS ${ORDWELL_DELAYLIBS})
add_library(ordwell_delayload OBJECT ${CMAKE_CURRENT_SOURCE_DIR}/host/DelayLoadFallbacks.cpp)
target_link_libraries(ordwell_delayload PUBLIC core)
function(ordwell_delay_load target)
    add_dependencies(${target} ordwell_delaylibs)
    target_link_libraries(${target} PRIVATE ordwell_delayload)
    # Searched before the toolchain's folder, so "-loleaut32" and the others find these.
    target_link_directories(${target} BEFORE PRIVATE ${ORDWELL_DELAYLIB_DIR})
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${ORDWELL_DELAYLIBS})
endfunction()
ordwell_delay_load(Ordwell)

# The debug information is kept beside the program (Ordwell.exe.debug, found through the debug
# link) rather than in it: mapped with the image it costs every start tens of milliseconds.
add_custom_command(TARGET Ordwell POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:Ordwell> $<TARGET_FILE_NAME:Ordwell>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-debug --add-gnu-debuglink=$<TARGET_FILE_NAME:Ordwell>.debug
            $<TARGET_FILE_NAME:Ordwell>
    WORKING_DIRECTORY $<TARGET_FILE_DIR:Ordwell>
    VERBATIM)
set(ORDWELL_RC_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/host/Ordwell.manifest ${CMAKE_CURRENT_SOURCE_DIR}/host/Ordwell.ico
    ${CMAKE_CURRENT_SOURCE_DIR}/host/Ordwell.rgs ${CMAKE_CURRENT_SOURCE_DIR}/host/SessionMgr.rgs
    ${PAGEOBJECTS_TLB_RC} ${PAGEOBJECTS_SESSION_TLB} ${PAGEOBJECTS_UNINSTALLER_TLB})
# The page objects' type libraries go into the program's resources (generated in the build folder).
target_include_directories(Ordwell PRIVATE ${PAGEOBJECTS_TLB_DIR})
add_dependencies(Ordwell pageobjects_tlb)
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/host/Ordwell.rc PROPERTIES OBJECT_DEPENDS "${ORDWELL_RC_DEPENDS}")

# Started by the delay-load tests: a program linked like Ordwell.exe that calls into each
# delay-loaded DLL.
add_executable(delayload_probe ${CMAKE_CURRENT_SOURCE_DIR}/tests/host/delayload/DelayLoadProbe.cpp)
set_target_properties(delayload_probe PROPERTIES OUTPUT_NAME "OrdwellDelayLoadProbe")
target_link_libraries(delayload_probe PRIVATE core oleaut32 wininet version bcrypt)
target_link_options(delayload_probe PRIVATE -municode)
ordwell_delay_load(delayload_probe)

# Tests: the host's pieces in-process, and the program started as a process (full exit codes).
ordwell_add_test(host_tests LABEL unit
    SOURCES
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/host/BindingAndShutdownTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/host/CommandLineAndModuleTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/host/DelayLoadTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/host/ModuleOperationsTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/host/ProgramRunTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/host/RootStoreWarmUpTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/host/WindowAndLoopTest.cpp
    LIBS ordwellhost ordwell_delayload core_testsupport
    PROCESS_CASES
        "^(HostProgram|HostProgramWithUtility)[.]"
        "^DelayLoad[.]AProgramWhoseDelayLoadedDllsCannotBeLoadedLogsAndFailsTheirCallsWithoutCrashing$"
    LOCKED_CASES
        halvorn_registry "^HostProgramWithUtility[.]"
        # Offers the surrogate helper's class to other processes.
        halvorn_registry "^ModuleOperations[.]SurrogateObjectsComeFromThisProcessOrTheSurrogateReachedOnce$"
    # A minute of it is a start waiting for a paused host.
    OWN_PREFIX_CASES
        "^HostProgramWithUtility[.]HandOverAgainstSquattedNamesAndAPausedHost$")
target_include_directories(host_tests PRIVATE ${TEST_SIGNING_DIR})
ordwell_windows_path(delayload_def_dir ${ORDWELL_DELAYLOAD_DEF_DIR})
string(REPLACE "\\" "\\\\" delayload_def_dir "${delayload_def_dir}")
target_compile_definitions(host_tests PRIVATE ORDWELL_DELAYLOAD_DEF_DIR="${delayload_def_dir}")
add_dependencies(host_tests Ordwell delayload_probe trust_test_prefix standin_kvutil_full_signed)
