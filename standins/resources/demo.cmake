# The demo's page DLL "ordwelldemo.dll" (resource type 23, found by name in a DLL loaded as a data
# file), built into bin/resources/demo/ and installed beside the product's UI DLL:
#   "welcome.html"   asks the page objects (OS version code, locale, a named value, a registry
#                    value, the application list, a platform property) and writes the answers
#                    into the page
#   "handover.html"  the page a second start hands over; reads the named value kept across the
#                    navigation and writes it into the page
#   "restart.html", "shutdown.html"  ask the session manager to restart or shut down the computer
#                    and write its answer (run only in a prefix of their own: they end its session)
# The whole-program tests start the host on the same pages.
set(RES_DEMO_OUTPUT_DIR ${CMAKE_BINARY_DIR}/bin/resources/demo)
add_library(res_demo_pages MODULE ${CMAKE_CURRENT_LIST_DIR}/demo/ordwelldemo.rc)
set_target_properties(res_demo_pages PROPERTIES PREFIX "" SUFFIX ".dll" OUTPUT_NAME "ordwelldemo"
    LINKER_LANGUAGE C LIBRARY_OUTPUT_DIRECTORY ${RES_DEMO_OUTPUT_DIR})
target_include_directories(res_demo_pages PRIVATE ${CMAKE_CURRENT_LIST_DIR}/demo)
target_link_options(res_demo_pages PRIVATE -nostdlib -e 0)
file(GLOB demo_html CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/demo/*.html)
set_source_files_properties(${CMAKE_CURRENT_LIST_DIR}/demo/ordwelldemo.rc PROPERTIES OBJECT_DEPENDS "${demo_html}")
