#pragma once
// Intrusive reference count: changed with interlocked operations; the last Release deletes the
// object through its virtual destructor. Shared by the host's window and navigation records and by
// the page objects.

#include <windows.h>

class CKvRefCount {
public:
    CKvRefCount() = default;
    virtual ~CKvRefCount() = default;
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

private:
    LONG m_count = 0;
};
