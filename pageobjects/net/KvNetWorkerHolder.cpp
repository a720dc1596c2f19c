#include "pageobjects/net/KvNetWorkerHolder.h"

#include "core/base/LastError.h"
#include "pageobjects/net/KvNetCallbackMap.h"

#include <process.h>

#include <cerrno>

void KvNetWorkerStop::Wait()
{
    if (m_thread && ::WaitForSingleObject(m_thread.get(), m_timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateThread(m_thread.get(), 1);
    }
    m_thread.reset();
    m_stopEvent.reset();
}

KvNetWorkerHolder::~KvNetWorkerHolder()
{
    StopAt(false, nullptr);
    m_exitEvent.reset();
}

DWORD KvNetWorkerHolder::Initialize(const char* exitEventName)
{
    KvNetLock lock(m_lock);
    if (m_initialized) {
        return kNetMapInitializedTwice;
    }
    Fundor::ScopedHandle event(::OpenEventA(EVENT_MODIFY_STATE, FALSE, exitEventName));
    if (!event) {
        return Fundor::LastErrorOr(ERROR_INVALID_HANDLE);
    }
    m_exitEvent = std::move(event);
    m_stopTimeoutMs = kStopTimeoutMs;
    m_initialized = true;
    return ERROR_SUCCESS;
}

DWORD KvNetWorkerHolder::Start(ThreadMain main, void* argument)
{
    KvNetLock lock(m_lock);
    if (!m_initialized || !m_exitEvent) {
        return kNetMapNotInitialized;
    }
    if (m_startCount >= 1) {
        ++m_startCount;
        return ERROR_SUCCESS;
    }
    // The thread's own stop event: the exit event is shared with the next thread, which resets it,
    // so a thread still on its way out after a stop could miss it.
    Fundor::ScopedHandle stopEvent(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!stopEvent) {
        return Fundor::LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    }
    ::ResetEvent(m_exitEvent.get());
    unsigned threadId = 0;
    const uintptr_t thread = ::_beginthreadex(nullptr, 0, main, argument, 0, &threadId);
    if (thread == 0) {
        return errno == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : Fundor::LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    }
    m_thread.reset(reinterpret_cast<HANDLE>(thread));
    m_threadStopEvent = std::move(stopEvent);
    m_threadId = threadId;
    m_startCount = 1;
    return ERROR_SUCCESS;
}

LONG KvNetWorkerHolder::Stop(KvNetWorkerStop* deferred) { return StopAt(false, deferred); }

bool KvNetWorkerHolder::StopAll(KvNetWorkerStop* deferred)
{
    (void)StopAt(true, deferred);
    return deferred != nullptr && deferred->Pending();
}

void KvNetWorkerHolder::Release()
{
    StopAt(true, nullptr);
    KvNetLock lock(m_lock);
    m_exitEvent.reset();
    m_stopTimeoutMs = 0;
    m_initialized = false;
}

LONG KvNetWorkerHolder::StopAt(bool force, KvNetWorkerStop* deferred)
{
    KvNetWorkerStop own;
    KvNetWorkerStop& stop = deferred != nullptr ? *deferred : own;
    // Expected empty; anything it still held is completed rather than dropped unwaited.
    stop.Wait();
    LONG remaining = 0;
    {
        KvNetLock lock(m_lock);
        if (force) {
            m_startCount = 0;
        } else if (m_startCount > 0) {
            --m_startCount;
        }
        remaining = m_startCount;
        // Only a held handle is acted on, and it is cleared as it is given up: a closed handle's
        // value may be reused by the system for an unrelated thread.
        if (remaining == 0 && m_thread) {
            if (m_exitEvent) {
                ::SetEvent(m_exitEvent.get());
            }
            ::SetEvent(m_threadStopEvent.get());
            if (::GetCurrentThreadId() == m_threadId) {
                m_thread.reset();
                m_threadStopEvent.reset();
            } else {
                stop.m_thread = std::move(m_thread);
                stop.m_stopEvent = std::move(m_threadStopEvent);
                stop.m_timeoutMs = m_stopTimeoutMs;
            }
            m_threadId = 0;
        }
    }
    // Waited for outside the lock (here, or by the caller after leaving its own locks).
    own.Wait();
    return remaining;
}

bool KvNetWorkerHolder::HasThread()
{
    KvNetLock lock(m_lock);
    return m_thread.valid();
}

bool KvNetWorkerHolder::IsRunning()
{
    KvNetLock lock(m_lock);
    return m_thread.valid() && ::WaitForSingleObject(m_thread.get(), 0) == WAIT_TIMEOUT;
}

DWORD KvNetWorkerHolder::ThreadId()
{
    KvNetLock lock(m_lock);
    return m_threadId;
}

LONG KvNetWorkerHolder::StartCount()
{
    KvNetLock lock(m_lock);
    return m_startCount;
}

bool KvNetWorkerHolder::IsCallingThread()
{
    KvNetLock lock(m_lock);
    return m_thread.valid() && m_threadId == ::GetCurrentThreadId();
}

HANDLE KvNetWorkerHolder::StopEventOfCallingThread()
{
    KvNetLock lock(m_lock);
    return m_thread.valid() && m_threadId == ::GetCurrentThreadId() ? m_threadStopEvent.get() : nullptr;
}
