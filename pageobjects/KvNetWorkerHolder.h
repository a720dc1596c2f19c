#pragma once
// Owns the network module's worker thread: starts it on the first start request, counts further
// requests, and stops it when the count comes back to 0.
//
// A stop from another thread sets the exit event, waits for the worker up to the stop time-out and
// terminates it when the wait fails. A worker terminated while a callback runs leaves the callback
// map's lock orphaned: callbacks run under that lock by design, and the module has no caller here.

#include <windows.h>

#include "KvNetCriticalSection.h"
#include "core/ScopedResource.h"

class KvNetWorkerHolder {
public:
    using ThreadMain = unsigned(__stdcall*)(void* argument);
    static constexpr DWORD kStopTimeoutMs = 10000;

    KvNetWorkerHolder() = default;
    // Sends a stop request (which acts only when a thread is held) and closes the event handle.
    ~KvNetWorkerHolder();
    KvNetWorkerHolder(const KvNetWorkerHolder&) = delete;
    KvNetWorkerHolder& operator=(const KvNetWorkerHolder&) = delete;

    // Opens the exit event by name with EVENT_MODIFY_STATE. Starts no thread. 11002 when done
    // already; the last error when the event cannot be opened.
    [[nodiscard]] DWORD Initialize(const char* exitEventName);

    // Count below 1: resets the exit event and starts main(argument); else only counts. 11001 when
    // not initialised; the run time's error when no thread can be started.
    [[nodiscard]] DWORD Start(ThreadMain main, void* argument);

    // Decrements the count (never below 0) and returns it. At 0 with a thread held: sets the exit
    // event, then from another thread waits (and terminates on a failed wait) and closes the
    // handle; from the worker itself only closes its handle.
    LONG Stop();

    // Brings the count to 0 and stops as above, closes the exit event handle, clears the fields.
    void Release();

    [[nodiscard]] bool HasThread();
    [[nodiscard]] DWORD ThreadId();
    [[nodiscard]] LONG StartCount();

private:
    LONG StopAt(bool force);

    KvNetCriticalSection m_lock;
    bool m_initialized = false;
    Fundor::ScopedHandle m_exitEvent;
    Fundor::ScopedHandle m_thread;
    DWORD m_threadId = 0;
    DWORD m_stopTimeoutMs = 0;
    LONG m_startCount = 0;
};
