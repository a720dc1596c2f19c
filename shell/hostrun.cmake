# Whole-program runs of Ordwell.exe with the signed stand-ins, and the host's benchmarks.

# Pages of the runs, and a copy of the product's UI DLL beside them: the URL library finds page
# DLLs in the UI DLL's folder. The UI configuration file goes there too.
set(HOSTRUN_RESOURCE_DIR ${CMAKE_BINARY_DIR}/bin/resources/hostrun)
set(HOSTRUN_PAGES_DIR ${CMAKE_CURRENT_SOURCE_DIR}/tests/hostrun/pages)
add_library(hostrun_pages MODULE ${HOSTRUN_PAGES_DIR}/hostpages.rc)
add_library(hostrun_qrnui MODULE ${CMAKE_SOURCE_DIR}/standins/resources/locale/qrnui.rc)
set_target_properties(hostrun_pages PROPERTIES OUTPUT_NAME "hostpages")
set_target_properties(hostrun_qrnui PROPERTIES OUTPUT_NAME "qrnui")
foreach(target IN ITEMS hostrun_pages hostrun_qrnui)
    set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".dll" LINKER_LANGUAGE C
        LIBRARY_OUTPUT_DIRECTORY ${HOSTRUN_RESOURCE_DIR})
    target_link_options(${target} PRIVATE -nostdlib -e 0)
endforeach()
set(HOSTRUN_PAGE_FILES
    ${HOSTRUN_PAGES_DIR}/carried.html
    ${HOSTRUN_PAGES_DIR}/locked.html
    ${HOSTRUN_PAGES_DIR}/pageobjects.html
    ${HOSTRUN_PAGES_DIR}/plain.html
    ${HOSTRUN_PAGES_DIR}/selfclose.html
    ${HOSTRUN_PAGES_DIR}/unlocked.html
    ${HOSTRUN_PAGES_DIR}/waits.html)
set_source_files_properties(${HOSTRUN_PAGES_DIR}/hostpages.rc PROPERTIES OBJECT_DEPENDS "${HOSTRUN_PAGE_FILES}")
configure_file(${HOSTRUN_PAGES_DIR}/qrnuicfg.dat ${HOSTRUN_RESOURCE_DIR}/qrnuicfg.dat COPYONLY)

# What a whole run needs built: the program, the signed stand-ins, the URL library, the
# configuration component and the resource DLLs.
# (The validation service is signed into bin/halvorn with the test PKI, under trust_test_prefix.)
add_custom_target(hostrun_parts DEPENDS Ordwell tessil corvane kvbrwsr2 standin_kvuicfg res_locale
    hostrun_pages hostrun_qrnui trust_test_prefix standin_kvutil_full_signed)
add_dependencies(hostrun_parts corvane_signed kvbrwsr2_signed standin_kvupdate_signed)

set(HOSTRUN_INCLUDES ${TEST_SIGNING_DIR})

ordwell_add_test(hostrun_tests LABEL e2e SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/tests/hostrun/HostRunTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/hostrun/DelayLoadRunTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/hostrun/UiSettingsBindingTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/hostrun/PageObjectsRunTest.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/tests/hostrun/FirstPageRecordTest.cpp
    # The host's start run in the test program serves the page objects from these type libraries.
    ${CMAKE_SOURCE_DIR}/pageobjects/tests/objects/ObjectsTests.rc
    LIBS ordwellhost core_testsupport
    LOCKED_CASES halvorn_registry "^(HostRun|HostStartInThisProcess|PageObjectsRun|DelayLoadRun)[.]")
target_include_directories(hostrun_tests PRIVATE ${HOSTRUN_INCLUDES} ${PAGEOBJECTS_TLB_DIR})
set_source_files_properties(${CMAKE_SOURCE_DIR}/pageobjects/tests/objects/ObjectsTests.rc PROPERTIES
    OBJECT_DEPENDS "${PAGEOBJECTS_SESSION_TLB};${PAGEOBJECTS_UNINSTALLER_TLB};${PAGEOBJECTS_TLB_RC}")
add_dependencies(hostrun_tests hostrun_parts pageobjects_tlb)

# Display mode and DPI are seen by every window of the Wine session: run alone.
add_executable(hostrun_display_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/hostrun/serial/DisplayRunTest.cpp)
target_include_directories(hostrun_display_tests PRIVATE ${HOSTRUN_INCLUDES})
target_link_libraries(hostrun_display_tests PRIVATE access core gmock_main)
add_dependencies(hostrun_display_tests wineprefix hostrun_parts)
add_test(NAME hostrun_display_tests COMMAND hostrun_display_tests)
set_tests_properties(hostrun_display_tests PROPERTIES RUN_SERIAL TRUE TIMEOUT 120 LABELS e2e
    RESOURCE_LOCK halvorn_registry ENVIRONMENT ORDWELL_TEST_LOCKS=halvorn_registry)

# Benchmarks, built but run only by scripts/bench: start-up to the first navigation and a
# hand-over to its navigation in the running host, each against the fair floor program (the
# platform work of the same steps, nothing of the host's own), with the old floors beside.
# The floor links no library of this project: only the interfaces it calls are shared.
add_executable(hostrun_bench_floor WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/tests/hostrun/bench/BenchFloor.cpp)
set_target_properties(hostrun_bench_floor PROPERTIES OUTPUT_NAME "HostBenchFloor")
target_link_libraries(hostrun_bench_floor PRIVATE ordwell_include_root wintrust ole32 shell32 advapi32 user32)
# Without debug information in the image, which a floor must not carry (the host keeps its own
# beside it).
target_link_options(hostrun_bench_floor PRIVATE -municode -s)
foreach(bench IN ITEMS Startup Handover)
    add_executable(hostrun_bench_${bench} ${CMAKE_CURRENT_SOURCE_DIR}/tests/hostrun/bench/${bench}Bench.cpp)
    set_target_properties(hostrun_bench_${bench} PROPERTIES OUTPUT_NAME "Ordwell${bench}Bench")
    target_include_directories(hostrun_bench_${bench} PRIVATE ${HOSTRUN_INCLUDES})
    target_link_libraries(hostrun_bench_${bench} PRIVATE access core)
    target_link_options(hostrun_bench_${bench} PRIVATE -municode)
    add_dependencies(hostrun_bench_${bench} hostrun_parts hostrun_bench_floor)
endforeach()
