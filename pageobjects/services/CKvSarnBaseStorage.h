#pragma once
// A storage object over one registry key: sub-keys as further storage objects, values plain or
// enciphered, and lists of sub-keys and values. Results are Win32 codes.

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

class CKvSarnBaseStorage {
public:
    virtual ~CKvSarnBaseStorage() = default;

    virtual void SetRoot(const wchar_t* rootName) = 0;
    [[nodiscard]] virtual LONG OpenKey(const wchar_t* subkey, std::unique_ptr<CKvSarnBaseStorage>* out) = 0;
    [[nodiscard]] virtual LONG CreateKey(const wchar_t* subkey, std::unique_ptr<CKvSarnBaseStorage>* out) = 0;
    [[nodiscard]] virtual LONG CloseKey() = 0;
    [[nodiscard]] virtual LONG DeleteKey(const wchar_t* subkey) = 0;
    [[nodiscard]] virtual LONG ReadValue(const wchar_t* subkey, const wchar_t* valueName, DWORD* type, void* data,
                                         DWORD* size, int obfuscated) = 0;
    [[nodiscard]] virtual LONG WriteValue(const wchar_t* subkey, const wchar_t* valueName, DWORD type,
                                          const void* data, DWORD size, int obfuscated) = 0;
    [[nodiscard]] virtual LONG DeleteValue(const wchar_t* subkey, const wchar_t* valueName) = 0;
    [[nodiscard]] virtual LONG QueryKeyInfo(const wchar_t* subkey, DWORD* subKeyCount, DWORD* longestSubKeyName,
                                            DWORD* valueCount, DWORD* longestValueName, DWORD* longestValueData) = 0;
    [[nodiscard]] virtual LONG EnumSubKeys(const wchar_t* subkey, std::vector<std::wstring>& names) = 0;
    [[nodiscard]] virtual LONG EnumValues(const wchar_t* subkey, std::vector<std::wstring>& names) = 0;
};
