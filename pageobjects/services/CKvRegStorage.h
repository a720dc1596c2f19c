#pragma once
// The registry storage object: one key, either a predefined root (SetRoot) or a key it opened or
// created itself. Values go through the obfuscated value store (ANSI names, UTF-16 string data).
// Codes: ERROR_INVALID_PARAMETER bad argument, ERROR_BADKEY the object holds no key,
// ERROR_OUTOFMEMORY out of memory, else the registry's own code.

#include "pageobjects/services/CKvSarnBaseStorage.h"

class CKvRegStorage : public CKvSarnBaseStorage {
public:
    CKvRegStorage() = default;
    // Closes a key this object opened or created; a root key is never closed.
    ~CKvRegStorage() override;
    CKvRegStorage(const CKvRegStorage&) = delete;
    CKvRegStorage& operator=(const CKvRegStorage&) = delete;

    // "HKEY_CURRENT_USER" (any case) selects HKEY_CURRENT_USER; any other name, and null,
    // HKEY_LOCAL_MACHINE. A key held before is closed first.
    void SetRoot(const wchar_t* rootName) override;
    // *out = a new storage object over subkey opened (created) with KEY_ALL_ACCESS; the caller owns
    // it. ERROR_INVALID_PARAMETER for a null or empty subkey or null out (*out untouched);
    // otherwise *out is reset first and stays empty on failure.
    [[nodiscard]] LONG OpenKey(const wchar_t* subkey, std::unique_ptr<CKvSarnBaseStorage>* out) override;
    [[nodiscard]] LONG CreateKey(const wchar_t* subkey, std::unique_ptr<CKvSarnBaseStorage>* out) override;
    // 0 when no key is held; on a RegCloseKey error the key is kept and the error returned.
    [[nodiscard]] LONG CloseKey() override;
    [[nodiscard]] LONG DeleteKey(const wchar_t* subkey) override;
    // ObfuscatedRegQueryValue below subkey (null: the key itself); obfuscated == 1 reads a "KVRG"
    // record. ERROR_INVALID_PARAMETER for data without size.
    [[nodiscard]] LONG ReadValue(const wchar_t* subkey, const wchar_t* valueName, DWORD* type, void* data,
                                 DWORD* size, int obfuscated) override;
    // ObfuscatedRegSetValue (the key is created when needed). ERROR_INVALID_PARAMETER for null data
    // or size 0.
    [[nodiscard]] LONG WriteValue(const wchar_t* subkey, const wchar_t* valueName, DWORD type, const void* data,
                                  DWORD size, int obfuscated) override;
    [[nodiscard]] LONG DeleteValue(const wchar_t* subkey, const wchar_t* valueName) override;
    // RegQueryInfoKeyW of subkey into whichever outputs are given.
    [[nodiscard]] LONG QueryKeyInfo(const wchar_t* subkey, DWORD* subKeyCount, DWORD* longestSubKeyName,
                                    DWORD* valueCount, DWORD* longestValueName, DWORD* longestValueData) override;
    // names is emptied first (also on failure), then receives the sub-key (value) names in the
    // registry's order. 0 also for an empty key; an index that cannot be read is skipped.
    [[nodiscard]] LONG EnumSubKeys(const wchar_t* subkey, std::vector<std::wstring>& names) override;
    [[nodiscard]] LONG EnumValues(const wchar_t* subkey, std::vector<std::wstring>& names) override;

    [[nodiscard]] HKEY Key() const { return m_key; }

private:
    CKvRegStorage(HKEY key, bool owned) : m_key(key), m_owned(owned) {}
    enum class Listing { SubKeys, Values };
    [[nodiscard]] LONG OpenOrCreate(const wchar_t* subkey, std::unique_ptr<CKvSarnBaseStorage>* out, bool create);
    [[nodiscard]] LONG List(const wchar_t* subkey, std::vector<std::wstring>& names, Listing what);

    HKEY m_key = nullptr;
    bool m_owned = false;
};
