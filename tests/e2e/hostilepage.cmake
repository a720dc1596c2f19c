# The hostile-page run: a page DLL whose script attacks every method of the page objects, the
# unsigned program its launch attempts aim at, and the test that runs them in an installed host
# (in the whole-program prefix of wholeprogram.cmake).
set(E2E_PAGES_DIR ${CMAKE_CURRENT_SOURCE_DIR}/pages)
add_library(e2e_hostile_pages MODULE ${E2E_PAGES_DIR}/hostilepages.rc)
set_target_properties(e2e_hostile_pages PROPERTIES PREFIX "" SUFFIX ".dll" OUTPUT_NAME "hostilepages"
    LINKER_LANGUAGE C LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin/e2epages)
target_link_options(e2e_hostile_pages PRIVATE -nostdlib -e 0)
set_source_files_properties(${E2E_PAGES_DIR}/hostilepages.rc PROPERTIES OBJECT_DEPENDS ${E2E_PAGES_DIR}/hostile.html)

add_executable(e2e_start_recorder WIN32 StartRecorder.cpp)
set_target_properties(e2e_start_recorder PROPERTIES OUTPUT_NAME "OrdwellStartRecorder")
target_link_libraries(e2e_start_recorder PRIVATE core)
target_link_options(e2e_start_recorder PRIVATE -municode)

add_executable(hostile_page_tests HostilePageTest.cpp)
target_link_libraries(hostile_page_tests PRIVATE e2e_support gmock_main)
add_dependencies(hostile_page_tests e2e_deliverables e2e_wineprefix e2e_hostile_pages e2e_start_recorder)

# The launch spellings are a test of their own: what they start depends on the launch code.
foreach(group IN ITEMS Objects Launch)
    if(group STREQUAL "Objects")
        set(filter "WholeProgramHostile.EveryPageObjectMethod*")
    else()
        set(filter "WholeProgramHostile.LaunchSpellings*")
    endif()
    add_test(NAME whole_program.Hostile${group}
        COMMAND ${E2E_RUN} ${E2E_COPIES}/whole_program.Hostile${group} env ${E2E_WINE_ENV} ${WINE64_LOADER}
                $<TARGET_FILE:hostile_page_tests> --gtest_filter=${filter})
    set_tests_properties(whole_program.Hostile${group} PROPERTIES TIMEOUT 300 LABELS e2e)
endforeach()
