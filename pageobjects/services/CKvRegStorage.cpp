#include "pageobjects/services/CKvRegStorage.h"

#include "core/base/ScopedResource.h"
#include "core/registry/ObfuscatedRegistry.h"

#include <cwchar>
#include <new>

CKvRegStorage::~CKvRegStorage()
{
    if (m_owned && m_key != nullptr) RegCloseKey(m_key);
}

void CKvRegStorage::SetRoot(const wchar_t* rootName)
{
    if (m_owned && m_key != nullptr) RegCloseKey(m_key);
    m_owned = false;
    m_key = rootName != nullptr && _wcsicmp(rootName, L"HKEY_CURRENT_USER") == 0 ? HKEY_CURRENT_USER
                                                                                 : HKEY_LOCAL_MACHINE;
}

LONG CKvRegStorage::OpenOrCreate(const wchar_t* subkey, std::unique_ptr<CKvSarnBaseStorage>* out, bool create)
{
    if (subkey == nullptr || *subkey == L'\0' || out == nullptr) return ERROR_INVALID_PARAMETER;
    out->reset();
    if (m_key == nullptr) return ERROR_BADKEY;
    Fundor::ScopedRegKey opened;
    const LONG status = create ? RegCreateKeyExW(m_key, subkey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, opened.put(),
                                                 nullptr)
                               : RegOpenKeyExW(m_key, subkey, 0, KEY_ALL_ACCESS, opened.put());
    if (status != ERROR_SUCCESS) return status;
    CKvRegStorage* storage = new (std::nothrow) CKvRegStorage(opened.get(), true);
    if (storage == nullptr) return ERROR_OUTOFMEMORY;
    (void)opened.release();
    out->reset(storage);
    return ERROR_SUCCESS;
}

LONG CKvRegStorage::OpenKey(const wchar_t* subkey, std::unique_ptr<CKvSarnBaseStorage>* out)
{
    return OpenOrCreate(subkey, out, false);
}

LONG CKvRegStorage::CreateKey(const wchar_t* subkey, std::unique_ptr<CKvSarnBaseStorage>* out)
{
    return OpenOrCreate(subkey, out, true);
}

LONG CKvRegStorage::CloseKey()
{
    if (m_key == nullptr) return ERROR_SUCCESS;
    if (m_owned) {
        const LONG status = RegCloseKey(m_key);
        if (status != ERROR_SUCCESS) return status;
    }
    m_key = nullptr;
    m_owned = false;
    return ERROR_SUCCESS;
}

LONG CKvRegStorage::DeleteKey(const wchar_t* subkey)
{
    if (subkey == nullptr || *subkey == L'\0') return ERROR_INVALID_PARAMETER;
    if (m_key == nullptr) return ERROR_BADKEY;
    return RegDeleteKeyW(m_key, subkey);
}

LONG CKvRegStorage::ReadValue(const wchar_t* subkey, const wchar_t* valueName, DWORD* type, void* data, DWORD* size,
                              int obfuscated)
{
    if (data != nullptr && size == nullptr) return ERROR_INVALID_PARAMETER;
    if (m_key == nullptr) return ERROR_BADKEY;
    return Fundor::ObfuscatedRegQueryValue(m_key, subkey, valueName, type, data, size,
                                           obfuscated == 1 ? Fundor::kObfuscatedValueEnciphered : 0);
}

LONG CKvRegStorage::WriteValue(const wchar_t* subkey, const wchar_t* valueName, DWORD type, const void* data,
                               DWORD size, int obfuscated)
{
    if (data == nullptr || size == 0) return ERROR_INVALID_PARAMETER;
    if (m_key == nullptr) return ERROR_BADKEY;
    return Fundor::ObfuscatedRegSetValue(m_key, subkey, valueName, type, data, size,
                                         obfuscated == 1 ? Fundor::kObfuscatedValueEnciphered : 0);
}

LONG CKvRegStorage::DeleteValue(const wchar_t* subkey, const wchar_t* valueName)
{
    if (m_key == nullptr) return ERROR_BADKEY;
    return Fundor::ObfuscatedRegDeleteValue(m_key, subkey, valueName, 0);
}

LONG CKvRegStorage::QueryKeyInfo(const wchar_t* subkey, DWORD* subKeyCount, DWORD* longestSubKeyName,
                                 DWORD* valueCount, DWORD* longestValueName, DWORD* longestValueData)
{
    if (m_key == nullptr) return ERROR_BADKEY;
    Fundor::ScopedRegKey key;
    const LONG opened = RegOpenKeyExW(m_key, subkey, 0, KEY_QUERY_VALUE, key.put());
    if (opened != ERROR_SUCCESS) return opened;
    return RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, subKeyCount, longestSubKeyName, nullptr, valueCount,
                            longestValueName, longestValueData, nullptr, nullptr);
}

LONG CKvRegStorage::List(const wchar_t* subkey, std::vector<std::wstring>& names, Listing what)
{
    names.clear();
    if (m_key == nullptr) return ERROR_BADKEY;
    const bool subKeys = what == Listing::SubKeys;
    Fundor::ScopedRegKey key;
    const LONG opened =
        RegOpenKeyExW(m_key, subkey, 0, subKeys ? KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS : KEY_QUERY_VALUE, key.put());
    if (opened != ERROR_SUCCESS) return opened;
    DWORD count = 0;
    DWORD longest = 0;
    const LONG queried = subKeys ? RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &count, &longest, nullptr,
                                                    nullptr, nullptr, nullptr, nullptr, nullptr)
                                 : RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                    &count, &longest, nullptr, nullptr, nullptr);
    if (queried != ERROR_SUCCESS || count == 0) return queried;
    try {
        std::wstring name(longest + 1, L'\0');
        for (DWORD index = 0; index < count; ++index) {
            // Reset for every index: the call leaves the last name's length here.
            DWORD length = longest + 1;
            const LONG status = subKeys ? RegEnumKeyExW(key.get(), index, name.data(), &length, nullptr, nullptr,
                                                        nullptr, nullptr)
                                        : RegEnumValueW(key.get(), index, name.data(), &length, nullptr, nullptr,
                                                        nullptr, nullptr);
            if (status != ERROR_SUCCESS) continue;
            names.emplace_back(name.data(), length);
        }
    } catch (const std::bad_alloc&) {
        names.clear();
        return ERROR_OUTOFMEMORY;
    }
    return ERROR_SUCCESS;
}

LONG CKvRegStorage::EnumSubKeys(const wchar_t* subkey, std::vector<std::wstring>& names)
{
    return List(subkey, names, Listing::SubKeys);
}

LONG CKvRegStorage::EnumValues(const wchar_t* subkey, std::vector<std::wstring>& names)
{
    return List(subkey, names, Listing::Values);
}
