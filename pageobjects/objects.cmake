# The page objects: type libraries, the platform dispatch object, the uninstaller shim and the
# session manager's creator.

# Type libraries. widl reads our own base-type IDL and imports the platform's stdole2.tlb from
# Wine's Windows library folder.
find_program(WIDL x86_64-w64-mingw32-widl REQUIRED)
find_file(STDOLE2_TLB stdole2.tlb
    PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows /usr/lib64/wine/x86_64-windows
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)
get_filename_component(WINE_WINDOWS_LIBRARY_DIR ${STDOLE2_TLB} DIRECTORY)

# ordwell_type_library(<idl file> <tlb file> [further idl files it imports...])
function(ordwell_type_library idl tlb)
    get_filename_component(idl_dir ${idl} DIRECTORY)
    add_custom_command(
        OUTPUT ${tlb}
        COMMAND ${WIDL} --win64 -t -L ${WINE_WINDOWS_LIBRARY_DIR} -I ${idl_dir}
                -I ${CMAKE_SOURCE_DIR}/pageobjects/objects/idl -o ${tlb} ${idl}
        DEPENDS ${idl} ${ARGN} ${CMAKE_SOURCE_DIR}/pageobjects/objects/idl/KvBaseTypes.idl
        COMMENT "Compiling the type library ${tlb}"
        VERBATIM)
endfunction()

set(PAGEOBJECTS_TLB_DIR ${CMAKE_CURRENT_BINARY_DIR}/typelib)
set(PAGEOBJECTS_SESSION_TLB ${PAGEOBJECTS_TLB_DIR}/KvQrnCShim.tlb)
set(PAGEOBJECTS_UNINSTALLER_TLB ${PAGEOBJECTS_TLB_DIR}/KvUnInstShim.tlb)
ordwell_type_library(${CMAKE_CURRENT_SOURCE_DIR}/objects/idl/KvQrnCShim.idl ${PAGEOBJECTS_SESSION_TLB})
ordwell_type_library(${CMAKE_CURRENT_SOURCE_DIR}/objects/idl/KvUnInstShim.idl ${PAGEOBJECTS_UNINSTALLER_TLB})
add_custom_target(pageobjects_tlb DEPENDS ${PAGEOBJECTS_SESSION_TLB} ${PAGEOBJECTS_UNINSTALLER_TLB})
# The uninstaller's type library as a file in bin/typelib, for installs that register it
# (tests/e2e/support): other suite components register it so that its interfaces marshal.
set(PAGEOBJECTS_UNINSTALLER_TLB_BIN ${CMAKE_BINARY_DIR}/bin/typelib/KvUnInstShim.tlb)
add_custom_command(
    OUTPUT ${PAGEOBJECTS_UNINSTALLER_TLB_BIN}
    COMMAND ${CMAKE_COMMAND} -E copy ${PAGEOBJECTS_UNINSTALLER_TLB} ${PAGEOBJECTS_UNINSTALLER_TLB_BIN}
    DEPENDS ${PAGEOBJECTS_UNINSTALLER_TLB}
    VERBATIM)
add_custom_target(pageobjects_tlb_bin DEPENDS ${PAGEOBJECTS_UNINSTALLER_TLB_BIN})

# The resource-script fragment a program's .rc includes (#include "PageObjectTypeLibraries.rc",
# with PAGEOBJECTS_TLB_DIR on the resource include path): TYPELIB 1 and 2, the numbers
# PageObjectTypeLibraries.h names. Programs that embed it depend on pageobjects_tlb.
set(PAGEOBJECTS_TLB_RC ${PAGEOBJECTS_TLB_DIR}/PageObjectTypeLibraries.rc)
file(CONFIGURE OUTPUT ${PAGEOBJECTS_TLB_RC} CONTENT
"1 TYPELIB \"${PAGEOBJECTS_SESSION_TLB}\"
2 TYPELIB \"${PAGEOBJECTS_UNINSTALLER_TLB}\"
")
foreach(variable IN ITEMS PAGEOBJECTS_TLB_DIR PAGEOBJECTS_TLB_RC PAGEOBJECTS_SESSION_TLB PAGEOBJECTS_UNINSTALLER_TLB)
    set(${variable} ${${variable}} PARENT_SCOPE)
endforeach()

add_library(pageobjects STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/objects/TypeLibDispatch.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/objects/KvSurrogateConnection.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/objects/KvPlatformDsp.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/objects/CFakeKvUninstaller.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/objects/PageObjectFactory.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/objects/PageStringArray.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/objects/SessionManagerFactory.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/objects/SessionMgr.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/objects/SessionRegistryValues.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/objects/ScriptObjectAccess.cpp)
# The session manager uses the page services, the locale strings, the navigation record and
# performance marker of the shell's window-free library, and the class library's COM object base.
target_link_libraries(pageobjects PUBLIC pageservices shellconfig shellcommon classlib access core shell32 user32
    oleaut32 ole32 uuid)
add_dependencies(pageobjects pageobjects_tlb)

ordwell_add_test(pageobjects_tests LABEL unit
    SOURCES
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/objects/FakeUninstallerTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/objects/KvPlatformDspTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/objects/PageStringArrayTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/objects/SurrogateLifetimeTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/objects/TypeLibrariesTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/objects/ObjectsTests.rc
    LIBS pageobjects surrogate_standin_objects core_testsupport
    PROCESS_CASES
        "^(FakeUninstallerAcrossProcesses|SurrogateLifetime|SurrogateClient)[.]"
        "^PlatformDispatch[.]MakesAdminProvidersInTheSurrogateProgram$"
    LOCKED_CASES
        halvorn_registry "^(FakeUninstaller|FakeUninstallerAcrossProcesses|SurrogateLifetime)[.]"
        halvorn_registry "^PlatformDispatch[.](MakesDirectProviders|TextWithAZero|RefusesProviders|MakesAdminProviders)")
target_include_directories(pageobjects_tests PRIVATE ${PAGEOBJECTS_TLB_DIR} ${TEST_SIGNING_DIR})
set_source_files_properties(${CMAKE_CURRENT_SOURCE_DIR}/tests/objects/ObjectsTests.rc PROPERTIES
    OBJECT_DEPENDS "${PAGEOBJECTS_SESSION_TLB};${PAGEOBJECTS_UNINSTALLER_TLB};${PAGEOBJECTS_TLB_RC}")
add_dependencies(pageobjects_tests pageobjects_tlb trust_test_prefix standin_surrogate)

# The session manager: through IDispatch from C++ and from the platform's JScript engine. The probe
# DLL tells whether its code ran when only its strings were wanted.
add_library(sessionmgr_manifest_probe MODULE ${CMAKE_CURRENT_SOURCE_DIR}/tests/session/probe/ManifestProbe.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/session/probe/ManifestProbe.rc)
set_target_properties(sessionmgr_manifest_probe PROPERTIES PREFIX "" SUFFIX ".dll" OUTPUT_NAME "ManifestProbe"
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/sessionmgr)
target_link_options(sessionmgr_manifest_probe PRIVATE -static)
ordwell_add_test(sessionmgr_tests LABEL unit
    SOURCES
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/session/SessionArgumentsTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/session/SessionLaunchTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/session/SessionRegistryTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/session/SessionScriptTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/session/SessionStringsTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/session/SessionWindowTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/objects/ObjectsTests.rc
    LIBS pageobjects surrogate_standin_objects core_testsupport
    PROCESS_CASES "^SessionLaunch[.]"
    LOCKED_CASES
        halvorn_registry "^SessionLaunch[.]"
        session_sync "^SessionWindow[.]")
target_include_directories(sessionmgr_tests PRIVATE ${PAGEOBJECTS_TLB_DIR} ${TEST_SIGNING_DIR})
add_dependencies(sessionmgr_tests pageobjects_tlb trust_test_prefix standin_surrogate res_locale
    sessionmgr_manifest_probe standin_kvupdate standin_kvupdate_signed)
