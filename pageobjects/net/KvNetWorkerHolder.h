#pragma once
// Owns the network module's worker thread: starts it on the first start request, counts further
// requests, and stops it when the count comes back to 0.
//
// A stop from another thread sets the exit event and the thread's own stop event, waits for the
// worker up to the stop time-out and terminates it when the wait fails. The wait can be handed to
// the caller (KvNetWorkerStop), who then makes it after leaving its own locks: the worker takes
// the module's lock to decide whether to stop, and its callbacks take it to register.

#include <windows.h>

#include "core/base/ScopedResource.h"
#include "pageobjects/net/KvNetCriticalSection.h"

// A worker that was told to stop and is still to be waited for. Completed by Wait or on
// destruction; empty when there was nothing to wait for.
class KvNetWorkerStop {
public:
    KvNetWorkerStop() = default;
    ~KvNetWorkerStop() { Wait(); }
    KvNetWorkerStop(const KvNetWorkerStop&) = delete;
    KvNetWorkerStop& operator=(const KvNetWorkerStop&) = delete;

    // Waits up to the stop time-out for the thread, terminates it when the wait fails, and closes
    // its handles. Call it with no lock held that the worker or its callbacks may take.
    void Wait();
    [[nodiscard]] bool Pending() const { return m_thread.valid(); }

private:
    friend class KvNetWorkerHolder;
    Fundor::ScopedHandle m_thread;
    // Kept open until the thread has ended: the worker waits on it without owning it.
    Fundor::ScopedHandle m_stopEvent;
    DWORD m_timeoutMs = 0;
};

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

    // Count below 1: resets the exit event, makes the thread's own stop event and starts
    // main(argument); else only counts. 11001 when not initialised; the run time's or the event's
    // error when no thread can be started.
    [[nodiscard]] DWORD Start(ThreadMain main, void* argument);

    // Decrements the count (never below 0) and returns it. At 0 with a thread held: sets the exit
    // event and the thread's stop event, then from another thread waits (and terminates on a failed
    // wait) and closes the handle; from the worker itself only closes its handles (the worker must
    // not wait on its stop event afterwards). With deferred, the wait is handed over instead.
    LONG Stop(KvNetWorkerStop* deferred = nullptr);
    // Brings the count to 0 and stops as Stop does; true when a thread was handed over in *deferred.
    bool StopAll(KvNetWorkerStop* deferred);

    // Brings the count to 0 and stops as above, closes the exit event handle, clears the fields.
    void Release();

    [[nodiscard]] bool HasThread();
    // A thread is held and has not ended (something else than a stop request, such as the exit
    // event set from outside, can end it).
    [[nodiscard]] bool IsRunning();
    [[nodiscard]] DWORD ThreadId();
    [[nodiscard]] LONG StartCount();
    // Whether the calling thread is the held worker.
    [[nodiscard]] bool IsCallingThread();
    // For the worker: its own stop event (valid until it has returned, or until it stopped itself),
    // or null when the calling thread is not the held worker (stopped before it asked).
    [[nodiscard]] HANDLE StopEventOfCallingThread();

private:
    LONG StopAt(bool force, KvNetWorkerStop* deferred);

    KvNetCriticalSection m_lock;
    bool m_initialized = false;
    Fundor::ScopedHandle m_exitEvent;
    Fundor::ScopedHandle m_thread;
    Fundor::ScopedHandle m_threadStopEvent;
    DWORD m_threadId = 0;
    DWORD m_stopTimeoutMs = 0;
    LONG m_startCount = 0;
};
