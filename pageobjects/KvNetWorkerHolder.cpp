#include "KvNetWorkerHolder.h"

#include "KvNetCallbackMap.h"
#include "core/LastError.h"

#include <process.h>

#include <cerrno>

KvNetWorkerHolder::~KvNetWorkerHolder()
{
    StopAt(false);
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
    ::ResetEvent(m_exitEvent.get());
    unsigned threadId = 0;
    const uintptr_t thread = ::_beginthreadex(nullptr, 0, main, argument, 0, &threadId);
    if (thread == 0) {
        return errno == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : Fundor::LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    }
    m_thread.reset(reinterpret_cast<HANDLE>(thread));
    m_threadId = threadId;
    m_startCount = 1;
    return ERROR_SUCCESS;
}

LONG KvNetWorkerHolder::Stop() { return StopAt(false); }

void KvNetWorkerHolder::Release()
{
    StopAt(true);
    KvNetLock lock(m_lock);
    m_exitEvent.reset();
    m_stopTimeoutMs = 0;
    m_initialized = false;
}

LONG KvNetWorkerHolder::StopAt(bool force)
{
    Fundor::ScopedHandle otherThread;
    DWORD timeoutMs = 0;
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
            if (::GetCurrentThreadId() == m_threadId) {
                m_thread.reset();
            } else {
                otherThread = std::move(m_thread);
                timeoutMs = m_stopTimeoutMs;
            }
            m_threadId = 0;
        }
    }
    // Waited for outside the lock: the worker takes it for its own stop request.
    if (otherThread && ::WaitForSingleObject(otherThread.get(), timeoutMs) != WAIT_OBJECT_0) {
        ::TerminateThread(otherThread.get(), 1);
    }
    return remaining;
}

bool KvNetWorkerHolder::HasThread()
{
    KvNetLock lock(m_lock);
    return m_thread.valid();
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
