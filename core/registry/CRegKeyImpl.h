#pragma once
// The registry key behind Fundor::CRegKey: one key reached through the wide registry calls.
// The typed operations reach the registry only through the object's own QueryValue and
// SetValue, so a derived implementation that replaces those two changes how every value is
// stored. The virtual slot order is fixed.
//
// Results are Win32 codes (0 success); "no key" (ERROR_INVALID_PARAMETER) means the handle is null.
// Out parameters are only written on success, except the in/out sizes, which receive the needed
// size with ERROR_MORE_DATA.

#include <windows.h>

#include <string>

#include "core/base/ScopedResource.h"

namespace Fundor::internal {

class CRegKeyImpl {
public:
    CRegKeyImpl() = default;
    CRegKeyImpl(const CRegKeyImpl&) = delete;
    CRegKeyImpl& operator=(const CRegKeyImpl&) = delete;

    // Closes the key (see Close).
    virtual ~CRegKeyImpl();  // 0

    // RegQueryValueExW: size in bytes, data null reports type and size only, ERROR_MORE_DATA with
    // the needed size when data is too small.
    [[nodiscard]] virtual LONG QueryValue(const wchar_t* name, DWORD* type, void* data, DWORD* size);  // 1
    // No data or size 0: ERROR_INVALID_PARAMETER; else RegSetValueExW.
    [[nodiscard]] virtual LONG SetValue(const wchar_t* name, DWORD type, const void* data, DWORD size);  // 2
    // The GUID as "{...}" text, REG_SZ.
    [[nodiscard]] virtual LONG SetGUIDValue(const wchar_t* name, REFGUID value);  // 3
    [[nodiscard]] virtual LONG SetBinaryValue(const wchar_t* name, const void* data, DWORD size);  // 4
    [[nodiscard]] virtual LONG SetDWORDValue(const wchar_t* name, DWORD value);  // 5
    [[nodiscard]] virtual LONG SetQWORDValue(const wchar_t* name, ULONGLONG value);  // 6
    // Null text: ERROR_INVALID_DATA. Written with its terminator as the given type.
    [[nodiscard]] virtual LONG SetStringValue(const wchar_t* name, const wchar_t* text, DWORD type);  // 7
    // text: strings each with its zero, ended by an empty string. Null: ERROR_INVALID_DATA.
    [[nodiscard]] virtual LONG SetMultiStringValue(const wchar_t* name, const wchar_t* text);  // 8
    // value is cleared first; ERROR_INVALID_DATA unless the value is "{...}" text that names a
    // GUID.
    [[nodiscard]] virtual LONG QueryGUIDValue(const wchar_t* name, GUID& value);  // 9
    // ERROR_INVALID_DATA unless REG_BINARY (also when the value would not fit). size as for
    // QueryValue.
    [[nodiscard]] virtual LONG QueryBinaryValue(const wchar_t* name, void* data, DWORD* size);  // 10
    // ERROR_INVALID_DATA unless REG_DWORD of 4 bytes.
    [[nodiscard]] virtual LONG QueryDWORDValue(const wchar_t* name, DWORD& value);  // 11
    // ERROR_INVALID_DATA unless REG_QWORD of 8 bytes.
    [[nodiscard]] virtual LONG QueryQWORDValue(const wchar_t* name, ULONGLONG& value);  // 12
    // The text up to its terminator. ERROR_OUTOFMEMORY when out of memory.
    [[nodiscard]] virtual LONG QueryStringValue(const wchar_t* name, std::wstring& value);  // 13
    // characters: in, the room of buffer; out, the characters with the terminator (the needed
    // count with ERROR_MORE_DATA). Buffer null: the count only. ERROR_INVALID_DATA unless REG_SZ or
    // REG_EXPAND_SZ, for an odd byte count or a missing terminator. An empty value gives an empty
    // string (count 1).
    [[nodiscard]] virtual LONG QueryStringValue(const wchar_t* name, wchar_t* buffer, DWORD* characters);  // 14
    // As above for REG_MULTI_SZ; a buffer below 2 characters gives ERROR_INSUFFICIENT_BUFFER; the
    // data must end with two zeros (or be a single zero).
    [[nodiscard]] virtual LONG QueryMultiStringValue(const wchar_t* name, wchar_t* buffer, DWORD* characters);  // 15
    [[nodiscard]] virtual LONG GetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor,
                                              DWORD* size);  // 16
    [[nodiscard]] virtual LONG SetKeySecurity(SECURITY_INFORMATION information,
                                              PSECURITY_DESCRIPTOR descriptor);  // 17
    // RegCreateKeyExW; disposition (optional) is written even when the call fails. On success the
    // old key is closed and replaced; on failure the old key stays open. Null subKey:
    // ERROR_INVALID_PARAMETER.
    [[nodiscard]] virtual LONG Create(HKEY parent, const wchar_t* subKey, wchar_t* keyClass, DWORD options,
                                      REGSAM access, LPSECURITY_ATTRIBUTES security,
                                      DWORD* disposition);  // 18
    // RegOpenKeyExW; as Create for the old key.
    [[nodiscard]] virtual LONG Open(HKEY parent, const wchar_t* subKey, REGSAM access);  // 19
    // With delete-on-close, the key's values and sub-keys are removed first. 0 without a key.
    virtual LONG Close();  // 20
    [[nodiscard]] virtual LONG Flush();  // 21
    // Hands the handle to the caller without closing it.
    [[nodiscard]] virtual HKEY Detach();  // 22
    // Takes the handle. A key still held is not closed: Close or Detach it first.
    virtual void Attach(HKEY key);  // 23
    // RegEnumKeyExW; lastWrite optional.
    [[nodiscard]] virtual LONG EnumKey(DWORD index, wchar_t* name, DWORD* nameCharacters,
                                       FILETIME* lastWrite);  // 24
    [[nodiscard]] virtual LONG NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event,
                                                    BOOL asynchronous);  // 25
    // Deletes an empty sub-key in the view the key was opened or created with. Null or empty
    // name: ERROR_INVALID_PARAMETER.
    [[nodiscard]] virtual LONG DeleteSubKey(const wchar_t* name);  // 26
    // Deletes a sub-key with everything below it. Null or empty name: ERROR_INVALID_PARAMETER,
    // nothing touched.
    [[nodiscard]] virtual LONG RecurseDeleteKey(const wchar_t* name);  // 27
    // Null name: ERROR_INVALID_PARAMETER (an empty name is the default value).
    [[nodiscard]] virtual LONG DeleteValue(const wchar_t* name);  // 28
    // Adds an Everyone GENERIC_ALL entry (inherited) to the key's access list, and with recurse
    // sets the same list on every sub-key that can be opened. 0 without doing anything off NT;
    // ERROR_FILE_NOT_FOUND when the security functions cannot be bound; ERROR_OUTOFMEMORY out of
    // memory.
    [[nodiscard]] virtual LONG SetKeyPermissions(bool recurse);  // 29
    virtual void SetDeleteOnClose(bool deleteOnClose);  // 30
    [[nodiscard]] virtual bool GetDeleteOnClose();  // 31

    [[nodiscard]] HKEY Handle() const { return m_key.get(); }
    // KEY_WOW64_32KEY / KEY_WOW64_64KEY bits of the access the key was opened or created with.
    [[nodiscard]] REGSAM ViewBits() const { return m_viewBits; }

private:
    // Closes the held key and keeps key, opened or created with access.
    void Replace(HKEY key, REGSAM access);
    template <typename Value>
    [[nodiscard]] LONG QueryFixedSizeValue(const wchar_t* name, DWORD expectedType, Value& value);

    ScopedRegKey m_key;
    REGSAM m_viewBits = 0;
    bool m_deleteOnClose = false;
};

}  // namespace Fundor::internal
