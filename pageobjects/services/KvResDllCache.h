#pragma once
// The resource-DLL name recorded per hive while the hive set is built. Nothing loads or reads the
// DLLs here; the names live as long as their owner.

#include "pageobjects/services/KvHive.h"

#include <windows.h>

#include <map>
#include <string>

class KvResDllCache {
public:
    KvResDllCache() = default;
    virtual ~KvResDllCache() = default;
    KvResDllCache(const KvResDllCache&) = delete;
    KvResDllCache& operator=(const KvResDllCache&) = delete;

    // Records dllName for hive; a hive recorded already keeps its first name. S_OK; E_OUTOFMEMORY.
    [[nodiscard]] HRESULT SetDll(const KvHive& hive, const std::wstring& dllName) noexcept;
    // The name recorded for hive, or null.
    [[nodiscard]] const std::wstring* FindDll(const KvHive& hive) const;
    void Clear() noexcept { m_names.clear(); }

private:
    std::map<KvHive, std::wstring> m_names;
};
