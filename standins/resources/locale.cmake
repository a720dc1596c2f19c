# Resource-only DLLs with the suite's strings and icons, shared by the tests and the demo.
# Output under bin/resources/locale/ (the registry's "ResDll"/"UIDll" of application "qrn" point
# at them):
#
#   qrnres.dll  ResDll. Strings: 5 "1000", 6 "2000", 7 "65535" (package bases of packages 5, 6
#               and 7); 1001 "Ordwell Premier" (package 5's text of id 86094 = offset 1 + 20558);
#               20558 "%COMPANY_NAME_NEUTRAL% Ordwell" (product name, and the window title: the
#               host loads package string 86094, which is 20558 without a package, with 35030 put
#               in); 30001 "Ordwell" (a plain string); 35030 "Tervane" (company name);
#               40001 "Welcome to %PRODUCT%, %USER%.
#               %PRODUCT% keeps you safe."; 40002 "%COMPANY_NAME_NEUTRAL% %PRODUCT%".
#   qrnui.dll   UIDll. String 1000 (the product manifest {"name":"Ordwell","version":"1.0"});
#               icon 100, 16x16.
#   oem/        the same two DLLs plus the OEM pair:
#   oem/1033/KvOemRes.dll  strings 35030 "Oemco", 40001 "Oemco welcomes %USER% to %PRODUCT%."
#                          (the folder is the mapped UI language; 1033 when no MUI DLL is bound)
#   oem/OemUI.dll          icon 100, 48x48.
#
# Each is built from a .rc alone, linked without the C runtime and without an entry point.
set(LOCALE_RESOURCE_DIR ${CMAKE_BINARY_DIR}/bin/resources/locale)

function(ordwell_locale_resource target source folder name)
    # A module: nothing links against it, so no import library is made.
    add_library(${target} MODULE ${CMAKE_CURRENT_SOURCE_DIR}/locale/${source})
    set_target_properties(${target} PROPERTIES
        PREFIX "" SUFFIX ".dll" OUTPUT_NAME "${name}" LINKER_LANGUAGE C
        LIBRARY_OUTPUT_DIRECTORY ${folder})
    target_link_options(${target} PRIVATE -nostdlib -e 0)
endfunction()

ordwell_locale_resource(res_locale_qrnres qrnres.rc ${LOCALE_RESOURCE_DIR} qrnres)
ordwell_locale_resource(res_locale_qrnui qrnui.rc ${LOCALE_RESOURCE_DIR} qrnui)
ordwell_locale_resource(res_locale_oem_qrnres qrnres.rc ${LOCALE_RESOURCE_DIR}/oem qrnres)
ordwell_locale_resource(res_locale_oem_qrnui qrnui.rc ${LOCALE_RESOURCE_DIR}/oem qrnui)
ordwell_locale_resource(res_locale_kvoemres KvOemRes.rc ${LOCALE_RESOURCE_DIR}/oem/1033 KvOemRes)
ordwell_locale_resource(res_locale_oemui OemUI.rc ${LOCALE_RESOURCE_DIR}/oem OemUI)

add_custom_target(res_locale ALL DEPENDS res_locale_qrnres res_locale_qrnui res_locale_oem_qrnres
    res_locale_oem_qrnui res_locale_kvoemres res_locale_oemui)
