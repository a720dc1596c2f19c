#pragma once
// The override hives: an ordered set of registry locations, each with a priority. A key is opened
// in every hive that has it, and a value is read from the active hive with the highest priority
// that yields it (among equal priorities the hive added later), so the base settings answer last.
//
// Used by one thread at a time: each caller builds its own object for one request. Calling order:
// AddHive..., then OpenKey / ReadValue pairs, then CloseKeys or destruction.

#include "core/base/ScopedResource.h"
#include "pageobjects/services/KvHive.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class KvRegistryOverride {
public:
    KvRegistryOverride() = default;
    virtual ~KvRegistryOverride() = default;  // closes every open key
    KvRegistryOverride(const KvRegistryOverride&) = delete;
    KvRegistryOverride& operator=(const KvRegistryOverride&) = delete;

    // Appends a hive (path normalised). S_OK; E_FAIL (logged) when it cannot be stored.
    [[nodiscard]] HRESULT AddHive(HKEY root, const std::wstring& path, std::uint32_t priority,
                                  std::uint32_t active) noexcept;
    // Orders the hives by priority (unsigned, ascending), keeping the order added among equal
    // priorities. S_OK.
    HRESULT SortHives() noexcept;
    // Closes the keys of the last OpenKey, then opens subkey (normalised, joined to each hive's
    // path) in every hive, active or not. S_OK when at least one hive has it; E_FAIL when none
    // does (no key is then open); E_INVALIDARG for a null subkey.
    [[nodiscard]] HRESULT OpenKey(const wchar_t* subkey, REGSAM access) noexcept;
    // Reads name from the open keys, highest priority first, with ObfuscatedRegQueryValue and the
    // given flags. type, data and size are as there; each hive's read starts from the caller's own
    // *type and *size, so no read gets more room than the caller's buffer. S_OK from the first
    // read that succeeds. A read that finds the value larger than the buffer ends the walk with
    // HRESULT_FROM_WIN32(ERROR_MORE_DATA) and *size = the needed size (a lower hive must not answer
    // for a value the higher one holds). E_HANDLE without open keys; E_FAIL when no active hive
    // had the key open or none yielded the value (*type and *size then as the caller gave them).
    [[nodiscard]] HRESULT ReadValue(const wchar_t* name, DWORD* type, void* data, DWORD* size,
                                    DWORD flags) noexcept;
    // Closes every key opened by OpenKey.
    void CloseKeys() noexcept;
    // CloseKeys, then drops every hive. 0.
    DWORD Clear() noexcept;

    // The hives in their current order (added order until sorted).
    [[nodiscard]] const std::vector<KvHiveRecord>& Hives() const { return m_hives; }

private:
    std::map<KvHive, Fundor::ScopedRegKey> m_openKeys;
    std::vector<KvHiveRecord> m_hives;
    std::uint32_t m_unsorted = 0;
};
