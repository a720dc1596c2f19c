#pragma once
// Intrusive reference count: changed with interlocked operations; the last Release deletes the
// object through its virtual destructor. Shared by the host's window and navigation records and by
// the page objects.

#include <windows.h>

class CKvRefCount {
public:
    CKvRefCount(const CKvRefCount&) = delete;
    CKvRefCount& operator=(const CKvRefCount&) = delete;

    // The new count.
    ULONG AddRef() noexcept { return static_cast<ULONG>(InterlockedIncrement(&m_count)); }
    // The count after the decrement; at 0 the object is gone.
    ULONG Release() noexcept
    {
        const LONG count = InterlockedDecrement(&m_count);
        if (count == 0) delete this;
        return static_cast<ULONG>(count);
    }

protected:
    CKvRefCount() = default;
    // Only ever a base of an object made with new and deleted by its last Release. Abstract, so
    // that no object is of this type alone: `delete this` above always goes through the derived
    // destructor, which frees the allocation from its start rather than from this base inside it.
    virtual ~CKvRefCount() = 0;

private:
    LONG m_count = 0;
};

inline CKvRefCount::~CKvRefCount() = default;
