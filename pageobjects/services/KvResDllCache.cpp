#include "pageobjects/services/KvResDllCache.h"

HRESULT KvResDllCache::SetDll(const KvHive& hive, const std::wstring& dllName) noexcept
{
    try {
        m_names.emplace(hive, dllName);
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

const std::wstring* KvResDllCache::FindDll(const KvHive& hive) const
{
    const auto found = m_names.find(hive);
    return found == m_names.end() ? nullptr : &found->second;
}
