#pragma once
// The registry key object of the core library: a thin handle whose operations all forward to an
// implementation held under shared ownership (see CRegKeyImpl.h for what each one does).
// Destroying a CRegKey closes the key, even when another holder shares the implementation.
// The virtual slot order is fixed.

#include <windows.h>

#include <memory>
#include <string>

#include "core/registry/CRegKeyImpl.h"

namespace Fundor {

class CRegKey {
public:
    // A new plain implementation.
    CRegKey();
    // Shares impl; an empty pointer gets a new plain implementation.
    explicit CRegKey(std::shared_ptr<internal::CRegKeyImpl> impl);
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    // Closes, then releases the implementation.
    virtual ~CRegKey();  // 0

    [[nodiscard]] virtual LONG QueryValue(const wchar_t* name, DWORD* type, void* data, DWORD* size);  // 1
    [[nodiscard]] virtual LONG SetValue(const wchar_t* name, DWORD type, const void* data, DWORD size);  // 2
    [[nodiscard]] virtual LONG SetGUIDValue(const wchar_t* name, REFGUID value);  // 3
    [[nodiscard]] virtual LONG SetBinaryValue(const wchar_t* name, const void* data, DWORD size);  // 4
    [[nodiscard]] virtual LONG SetDWORDValue(const wchar_t* name, DWORD value);  // 5
    [[nodiscard]] virtual LONG SetQWORDValue(const wchar_t* name, ULONGLONG value);  // 6
    [[nodiscard]] virtual LONG SetStringValue(const wchar_t* name, const wchar_t* text,
                                              DWORD type = REG_SZ);  // 7
    [[nodiscard]] virtual LONG SetMultiStringValue(const wchar_t* name, const wchar_t* text);  // 8
    [[nodiscard]] virtual LONG QueryGUIDValue(const wchar_t* name, GUID& value);  // 9
    [[nodiscard]] virtual LONG QueryBinaryValue(const wchar_t* name, void* data, DWORD* size);  // 10
    [[nodiscard]] virtual LONG QueryDWORDValue(const wchar_t* name, DWORD& value);  // 11
    [[nodiscard]] virtual LONG QueryQWORDValue(const wchar_t* name, ULONGLONG& value);  // 12
    [[nodiscard]] virtual LONG QueryStringValue(const wchar_t* name, std::wstring& value);  // 13
    [[nodiscard]] virtual LONG QueryStringValue(const wchar_t* name, wchar_t* buffer, DWORD* characters);  // 14
    [[nodiscard]] virtual LONG QueryMultiStringValue(const wchar_t* name, wchar_t* buffer, DWORD* characters);  // 15
    [[nodiscard]] virtual LONG GetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor,
                                              DWORD* size);  // 16
    [[nodiscard]] virtual LONG SetKeySecurity(SECURITY_INFORMATION information,
                                              PSECURITY_DESCRIPTOR descriptor);  // 17
    [[nodiscard]] virtual LONG Create(HKEY parent, const wchar_t* subKey, wchar_t* keyClass = nullptr,
                                      DWORD options = REG_OPTION_NON_VOLATILE,
                                      REGSAM access = KEY_READ | KEY_WRITE,
                                      LPSECURITY_ATTRIBUTES security = nullptr,
                                      DWORD* disposition = nullptr);  // 18
    [[nodiscard]] virtual LONG Open(HKEY parent, const wchar_t* subKey,
                                    REGSAM access = KEY_READ | KEY_WRITE);  // 19
    [[nodiscard]] virtual LONG Flush();  // 20
    [[nodiscard]] virtual LONG EnumKey(DWORD index, wchar_t* name, DWORD* nameCharacters,
                                       FILETIME* lastWrite = nullptr);  // 21
    [[nodiscard]] virtual LONG NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event,
                                                    BOOL asynchronous = TRUE);  // 22
    [[nodiscard]] virtual LONG DeleteSubKey(const wchar_t* name);  // 23
    [[nodiscard]] virtual LONG RecurseDeleteKey(const wchar_t* name);  // 24
    [[nodiscard]] virtual LONG DeleteValue(const wchar_t* name);  // 25
    [[nodiscard]] virtual LONG SetKeyPermissions(bool recurse);  // 26

    void Attach(HKEY key);
    LONG Close();
    [[nodiscard]] HKEY Detach();
    // The implementation's handle (null while closed); still owned by the key.
    [[nodiscard]] HKEY Handle() const;

private:
    std::shared_ptr<internal::CRegKeyImpl> m_impl;
};

}  // namespace Fundor
