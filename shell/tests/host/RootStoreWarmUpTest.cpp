// The thread that warms the platform's root store at start-up: its work runs on a thread of its
// own, the owner waits for it before going on to exit and leaves no handle behind. (What the
// warm-up gains is measured by scripts/bench.)

#include "shell/host/RootStoreWarmUp.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>

namespace {

std::atomic<DWORD> g_workThread{0};
HANDLE g_release = nullptr;

void BlockedWork() noexcept
{
    g_workThread = GetCurrentThreadId();
    (void)WaitForSingleObject(g_release, 30000);
}

TEST(RootStoreWarmUp, WorksOnAThreadOfItsOwnThatTheOwnerWaitsForAndLeavesNoHandle)
{
    g_release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, g_release);
    DWORD handlesBefore = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &handlesBefore));
    {
        RootStoreWarmUp warmUp(BlockedWork);
        ASSERT_TRUE(warmUp.Started());
        // A thread still at work is kept, not cut off: the owner may wait again.
        EXPECT_FALSE(warmUp.Finish(100));
        EXPECT_TRUE(warmUp.Started());
        SetEvent(g_release);
        EXPECT_TRUE(warmUp.Finish(30000));
        EXPECT_FALSE(warmUp.Started());
        EXPECT_TRUE(warmUp.Finish(0));
        EXPECT_NE(0u, g_workThread.load());
        EXPECT_NE(GetCurrentThreadId(), g_workThread.load());
    }
    DWORD handlesAfter = 0;
    ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &handlesAfter));
    EXPECT_EQ(handlesBefore, handlesAfter);

    // Destroyed at once, the owner still waits for its work to end.
    g_workThread = 0;
    ResetEvent(g_release);
    {
        RootStoreWarmUp warmUp([]() noexcept {
            Sleep(200);
            g_workThread = GetCurrentThreadId();
        });
        ASSERT_TRUE(warmUp.Started());
    }
    EXPECT_NE(0u, g_workThread.load());
    CloseHandle(g_release);
}

}  // namespace
