# The network connectivity module and its tests.
add_library(kvplatformnet STATIC
    ${CMAKE_CURRENT_SOURCE_DIR}/net/KvPlatformNet.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/net/KvNetCallbackMap.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/net/KvNetWorkerHolder.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/net/KvNetLibraryBinding.cpp)
# Winsock, RAS, IP helper and WinINet are bound at run time: no import library of theirs is linked.
target_link_libraries(kvplatformnet PUBLIC core advapi32)

# Runs with nothing but the process-wide object built, and reports what that left behind.
add_executable(kvplatformnet_probe ${CMAKE_CURRENT_SOURCE_DIR}/tests/net/ConstructionProbe.cpp)
target_link_libraries(kvplatformnet_probe PRIVATE kvplatformnet)

ordwell_add_test(kvplatformnet_tests LABEL unit
    SOURCES
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/net/NetCallbackTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/net/NetConnectivityTest.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/tests/net/NetLibraryTest.cpp
    LIBS kvplatformnet core_testsupport ws2_32
    PROCESS_CASES
        "^(KvPlatformNetProcess|KvPlatformNetConstruction)[.]"
        "^NetTest[.]ARegistrationAcceptedWhileTheWorkerGoesAwayIsTold$")
add_dependencies(kvplatformnet_tests kvplatformnet_probe)
