cmake_policy(SET CMP0057 NEW)
# Fails when a built module imports a DLL that is not part of the operating system: the host
# loads the URL library into a process whose DLL search is limited to the System folder.
#   cmake -DOBJDUMP=<objdump> -DMODULE=<file> -P CheckSystemImports.cmake
set(system_dlls
    kernel32.dll advapi32.dll user32.dll gdi32.dll shell32.dll shlwapi.dll ole32.dll oleaut32.dll
    version.dll bcrypt.dll msvcrt.dll ucrtbase.dll ntdll.dll)
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE status)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} -p ${MODULE} failed (${status})")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
if(NOT lines)
    message(FATAL_ERROR "${MODULE}: no import table found")
endif()
set(foreign "")
foreach(line IN LISTS lines)
    string(REGEX REPLACE "DLL Name: *" "" name "${line}")
    string(STRIP "${name}" name)
    string(TOLOWER "${name}" lower)
    if(NOT lower IN_LIST system_dlls AND NOT lower MATCHES "^api-ms-win-")
        list(APPEND foreign ${name})
    endif()
endforeach()
if(foreign)
    message(FATAL_ERROR "${MODULE} imports DLLs outside the system: ${foreign}")
endif()
