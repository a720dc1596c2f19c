#pragma once
// Scope guards over a slim reader/writer lock: shared for readers, exclusive for writers.

#include <windows.h>

namespace Fundor {

class SharedSrwLock {
public:
    explicit SharedSrwLock(SRWLOCK& lock) noexcept : m_lock(lock) { ::AcquireSRWLockShared(&m_lock); }
    ~SharedSrwLock() { ::ReleaseSRWLockShared(&m_lock); }
    SharedSrwLock(const SharedSrwLock&) = delete;
    SharedSrwLock& operator=(const SharedSrwLock&) = delete;

private:
    SRWLOCK& m_lock;
};

class ExclusiveSrwLock {
public:
    explicit ExclusiveSrwLock(SRWLOCK& lock) noexcept : m_lock(lock) { ::AcquireSRWLockExclusive(&m_lock); }
    ~ExclusiveSrwLock() { ::ReleaseSRWLockExclusive(&m_lock); }
    ExclusiveSrwLock(const ExclusiveSrwLock&) = delete;
    ExclusiveSrwLock& operator=(const ExclusiveSrwLock&) = delete;

private:
    SRWLOCK& m_lock;
};

}  // namespace Fundor
