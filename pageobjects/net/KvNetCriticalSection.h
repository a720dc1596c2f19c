#pragma once
// A critical section that owns its initialisation and deletion, and its scope guard. Critical
// sections are re-entrant, which the network module relies on (registration initialises the
// object under the lock that initialisation takes again).

#include <windows.h>

class KvNetCriticalSection {
public:
    KvNetCriticalSection() noexcept { ::InitializeCriticalSection(&m_section); }
    ~KvNetCriticalSection() { ::DeleteCriticalSection(&m_section); }
    KvNetCriticalSection(const KvNetCriticalSection&) = delete;
    KvNetCriticalSection& operator=(const KvNetCriticalSection&) = delete;

    void Enter() noexcept { ::EnterCriticalSection(&m_section); }
    void Leave() noexcept { ::LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

class KvNetLock {
public:
    explicit KvNetLock(KvNetCriticalSection& section) noexcept : m_section(section) { m_section.Enter(); }
    ~KvNetLock() { m_section.Leave(); }
    KvNetLock(const KvNetLock&) = delete;
    KvNetLock& operator=(const KvNetLock&) = delete;

private:
    KvNetCriticalSection& m_section;
};
