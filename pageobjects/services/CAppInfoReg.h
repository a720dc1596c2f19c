#pragma once
// The suite's installed applications: the sub-key names of HKLM
// "SOFTWARE\Tervane\QRN\Settings\ApplicationInfo", in the fixed product order. Read under the
// machine-wide mutex "Global\925307EC846D458b9B0CFDA691F052A4".

#include "pageobjects/services/CKvRegStorage.h"

#include "core/base/ScopedResource.h"

#include <windows.h>

#include <memory>

class CAppInfoReg {
public:
    // A mutex or storage that cannot be made stays null (QueryAppList then answers
    // ERROR_INVALID_HANDLE).
    CAppInfoReg();
    ~CAppInfoReg() = default;
    CAppInfoReg(const CAppInfoReg&) = delete;
    CAppInfoReg& operator=(const CAppInfoReg&) = delete;

    // Waits up to 7000 ms for the mutex (and goes on without it after that), then lists the ids. On
    // success *count = number of ids and *list = a CoTaskMemAlloc array of *count CoTaskMemAlloc
    // strings (null with count 0 when there are none); the caller frees both levels with
    // FreeAppList. ERROR_INVALID_PARAMETER when either pointer is null (nothing written); otherwise
    // *count = 0 and *list = null on every failure: ERROR_INVALID_HANDLE no storage,
    // ERROR_OUTOFMEMORY out of memory, or the registry's code (a missing ApplicationInfo key is an
    // empty list).
    [[nodiscard]] DWORD QueryAppList(DWORD* count, WCHAR*** list);

private:
    Fundor::ScopedHandle m_mutex;
    std::unique_ptr<CKvRegStorage> m_storage;
};

// The product order: QRN, ZEB, QEM, WOTA, XUP, JIV, DAQ, GUF (compared without case), then every
// other id. True when a goes before b; ids of one rank keep their order under a stable sort.
[[nodiscard]] bool CompareAppIds(const wchar_t* a, const wchar_t* b) noexcept;

// Frees every non-null string of list, then list. A null list does nothing.
void FreeAppList(DWORD count, WCHAR** list) noexcept;
