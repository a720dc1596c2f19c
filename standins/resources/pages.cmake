# Resource-only DLLs holding HTML pages (resource type 23, found by name in a DLL loaded as a
# data file), built into bin/resources/pages/:
#   qrnuild.dll  the product's own UI DLL: "main.html", "about.html", and the logos "logo_a",
#                "1001_logo_a", "logo_b", "logo_c", "1001_logo_c", "logo_d"; and the demo's pages:
#                "welcome.html" asks the page objects (OS version code, locale, a named value, a
#                registry value, the application list, a platform property) and writes the answers
#                into the page; "handover.html", the page a second start hands over, reads the
#                named value kept across the navigation; "restart.html" and "shutdown.html" ask the
#                session manager to restart or shut down the computer (run only in a prefix of
#                their own: they end its session). The whole-program tests start the host on them.
#   oemuild.dll  partner logos that win over the product's: "logo_a", "1001_logo_a", "logo_b"
#   OemUI.dll    co-branded partner pages: "offer.html"
# "1001" is a package identifier: "<package>_<logo>" is the logo of that one active package.
# The sources are pages/<dll>.rc and the HTML files in pages/<dll>/.
set(RES_PAGES_OUTPUT_DIR ${CMAKE_BINARY_DIR}/bin/resources/pages)
set(RES_PAGES_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/pages)

add_custom_target(res_pages_all)

# res_pages_add_dll(<dll> <page>...): the DLL built from pages/<dll>.rc with the pages named in
# pages/<dll>/, each one listed so that a missing page fails the build.
function(res_pages_add_dll name)
    set(target res_pages_${name})
    add_library(${target} SHARED ${RES_PAGES_SOURCE_DIR}/${name}.rc)
    set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME "${name}" LINKER_LANGUAGE C
        RUNTIME_OUTPUT_DIRECTORY ${RES_PAGES_OUTPUT_DIR}
        ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/res_pages)
    target_link_options(${target} PRIVATE -nostdlib -Wl,-e,0)
    list(TRANSFORM ARGN PREPEND ${RES_PAGES_SOURCE_DIR}/${name}/ OUTPUT_VARIABLE html)
    set_source_files_properties(${RES_PAGES_SOURCE_DIR}/${name}.rc PROPERTIES OBJECT_DEPENDS "${html}")
    add_dependencies(res_pages_all ${target})
endfunction()

res_pages_add_dll(qrnuild main.html about.html logo_a.html 1001_logo_a.html logo_b.html logo_c.html
    1001_logo_c.html logo_d.html welcome.html handover.html restart.html shutdown.html)
res_pages_add_dll(oemuild logo_a.html 1001_logo_a.html logo_b.html)
res_pages_add_dll(OemUI offer.html)
