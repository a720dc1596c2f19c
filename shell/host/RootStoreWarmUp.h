#pragma once
// Warms the platform's certificate cache on a thread of its own while the program starts.
//
// The first trust check of a process waits for the platform to build its root store (most of a
// start under Wine). Opening the machine's "Root" store earlier, on another thread, makes the
// platform build it while the program does its other start-up work; the checks themselves, the
// files they look at and the order of their decisions are unchanged, and a check that comes
// before the build has ended simply waits for it inside the platform as it would have anyway.
//
// The thread only opens the store read-only and closes it again. The owner waits for it to end
// (bounded) before the process goes on to exit, so that no thread is inside the certificate
// library while the process is torn down, and closes its handle.

#include "core/base/ScopedResource.h"

#include <windows.h>

class RootStoreWarmUp {
public:
    using Work = void (*)() noexcept;

    // How long the owner waits at most for the thread when it is destroyed.
    static constexpr DWORD kFinishWaitMs = 10000;

    // Starts the thread running work (null: open and close the machine's "Root" store). When no
    // thread can be started nothing is warmed and nothing else changes.
    explicit RootStoreWarmUp(Work work = nullptr) noexcept;
    // Finish(kFinishWaitMs).
    ~RootStoreWarmUp();
    RootStoreWarmUp(const RootStoreWarmUp&) = delete;
    RootStoreWarmUp& operator=(const RootStoreWarmUp&) = delete;

    [[nodiscard]] bool Started() const noexcept { return m_thread.valid(); }
    // Waits up to timeout for the thread to end, then closes its handle. True when it has ended
    // or was never started; false when it is still running (the handle is then kept).
    [[nodiscard]] bool Finish(DWORD timeout) noexcept;

    // The default work: the machine's "Root" store opened read-only and closed.
    static void OpenRootStore() noexcept;

private:
    static DWORD WINAPI ThreadMain(void* work) noexcept;

    Fundor::ScopedHandle m_thread;
};
