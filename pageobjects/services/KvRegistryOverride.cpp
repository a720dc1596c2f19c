#include "pageobjects/services/KvRegistryOverride.h"

#include "core/Logging/Logging.h"
#include "core/registry/ObfuscatedRegistry.h"

#include <algorithm>

namespace {
constexpr wchar_t kSource[] = L"KvRegistryOverride";
}  // namespace

HRESULT KvRegistryOverride::AddHive(HKEY root, const std::wstring& path, std::uint32_t priority,
                                    std::uint32_t active) noexcept
{
    try {
        m_hives.emplace_back(KvHive(root, path), priority, active);
        m_unsorted = 1;
        return S_OK;
    } catch (...) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"KvRegistryOverride::AddHive",
               L"Caught exception trying to add hive to hive list");
        return E_FAIL;
    }
}

HRESULT KvRegistryOverride::SortHives() noexcept
{
    if (m_unsorted != 0) {
        // Stable: "added later wins" among equal priorities must hold for any number of hives.
        std::stable_sort(m_hives.begin(), m_hives.end(), [](const KvHiveRecord& a, const KvHiveRecord& b) {
            return a.Priority() < b.Priority();
        });
        m_unsorted = 0;
    }
    return S_OK;
}

HRESULT KvRegistryOverride::OpenKey(const wchar_t* subkey, REGSAM access) noexcept
{
    CloseKeys();
    SortHives();
    if (subkey == nullptr) return E_INVALIDARG;
    try {
        const KvRegistryPath relative{std::wstring(subkey)};
        for (auto hive = m_hives.rbegin(); hive != m_hives.rend(); ++hive) {
            const std::wstring full = hive->Hive().Path().Join(relative).Text();
            Fundor::ScopedRegKey key;
            if (RegOpenKeyExW(hive->Hive().Root(), full.c_str(), 0, access, key.put()) != ERROR_SUCCESS) continue;
            // A hive listed twice keeps its first key; the second handle closes with `key`.
            m_openKeys.emplace(hive->Hive(), std::move(key));
        }
    } catch (...) {
        CloseKeys();
        return E_OUTOFMEMORY;
    }
    if (m_openKeys.empty()) {
        ETWLOG(ETWLogging::kLevelNormal, kSource, L"KvRegistryOverride::OpenKey",
               L"Couldn't open key '%s' in any hives", subkey);
        return E_FAIL;
    }
    return S_OK;
}

HRESULT KvRegistryOverride::ReadValue(const wchar_t* name, DWORD* type, void* data, DWORD* size,
                                      DWORD flags) noexcept
{
    if (m_openKeys.empty()) return E_HANDLE;
    const DWORD callerType = type != nullptr ? *type : 0;
    const DWORD callerSize = size != nullptr ? *size : 0;
    bool tried = false;
    LONG lastError = ERROR_SUCCESS;
    for (auto hive = m_hives.rbegin(); hive != m_hives.rend(); ++hive) {
        if (!hive->IsActive()) continue;
        const auto open = m_openKeys.find(hive->Hive());
        if (open == m_openKeys.end()) continue;
        tried = true;
        if (type != nullptr) *type = callerType;
        if (size != nullptr) *size = callerSize;
        lastError = Fundor::ObfuscatedRegQueryValue(open->second.get(), nullptr, name, type, data, size, flags);
        if (lastError == ERROR_SUCCESS) return S_OK;
        if (lastError == ERROR_MORE_DATA) {
            ETWLOG(ETWLogging::kLevelNormal, kSource, L"KvRegistryOverride::ReadValue",
                   L"Failed to read value '%s' from hive (%ld)", name, lastError);
            return HRESULT_FROM_WIN32(ERROR_MORE_DATA);
        }
    }
    if (type != nullptr) *type = callerType;
    if (size != nullptr) *size = callerSize;
    if (!tried) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"KvRegistryOverride::ReadValue", L"Couldn't find an active hive");
    } else {
        ETWLOG(ETWLogging::kLevelNormal, kSource, L"KvRegistryOverride::ReadValue",
               L"Failed to read value '%s' from hive (%ld)", name, lastError);
    }
    return E_FAIL;
}

void KvRegistryOverride::CloseKeys() noexcept
{
    m_openKeys.clear();
}

DWORD KvRegistryOverride::Clear() noexcept
{
    CloseKeys();
    m_hives.clear();
    m_unsorted = 0;
    return 0;
}
