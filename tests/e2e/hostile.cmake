# A hostile process against a running host of the installed suite: junk in the window's messages
# while its page waits on the surrogate program, while it is idle and inside the move loop. Its
# page is one of the whole-program run pages, copied beside the installed UI DLL.
add_executable(hostile_messages_tests HostileMessagesTest.cpp)
target_link_libraries(hostile_messages_tests PRIVATE e2e_support gmock_main)
add_dependencies(hostile_messages_tests e2e_deliverables e2e_wineprefix hostrun_pages)

add_test(NAME hostile_messages.AllLoops
    COMMAND ${E2E_RUN} ${E2E_COPIES}/hostile_messages.AllLoops env ${E2E_WINE_ENV} ${WINE64_LOADER}
            $<TARGET_FILE:hostile_messages_tests>)
set_tests_properties(hostile_messages.AllLoops PROPERTIES TIMEOUT 240 LABELS e2e)
