#include "core/registry/CRegKeyImpl.h"

#include "core/registry/RegistrySecurity.h"
#include "core/registry/SecurityFunctionTable.h"

#include <objbase.h>
#include <shlwapi.h>

#include <cwchar>
#include <new>
#include <vector>

namespace Fundor::internal {
namespace {

constexpr REGSAM kViewMask = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
// Access of the temporary key that a recursive delete walks.
constexpr REGSAM kRecurseDeleteAccess = 0x2001F;
// Registry key names are at most 255 characters.
constexpr DWORD kSubKeyNameChars = 256;
constexpr DWORD kGuidTextChars = 64;
// A value can change between the length query and the read; try a few times.
constexpr int kStringReadAttempts = 4;

using RegDeleteKeyExWFn = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);

// Looked up once per process; older systems only have RegDeleteKeyW.
RegDeleteKeyExWFn RegDeleteKeyExFunction()
{
    static const RegDeleteKeyExWFn function = [] {
        HMODULE advapi = ::GetModuleHandleW(L"Advapi32.dll");
        return advapi == nullptr ? nullptr
                                 : reinterpret_cast<RegDeleteKeyExWFn>(
                                       reinterpret_cast<void*>(::GetProcAddress(advapi, "RegDeleteKeyExW")));
    }();
    return function;
}

// Room in bytes for a character count, kept within a DWORD and even.
DWORD CharactersToBytes(DWORD characters)
{
    return characters > MAXDWORD / sizeof(wchar_t) ? (MAXDWORD & ~DWORD{1})
                                                   : characters * static_cast<DWORD>(sizeof(wchar_t));
}

// A typed read of a value of another type is a type error, also when the value would not have
// fit the caller's buffer (the type is reported with 234 too).
LONG TypedReadResult(LONG status, bool typeMatches)
{
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
        return status;
    }
    return typeMatches ? status : ERROR_INVALID_DATA;
}

}  // namespace

CRegKeyImpl::~CRegKeyImpl()
{
    CRegKeyImpl::Close();
}

void CRegKeyImpl::Replace(HKEY key, REGSAM access)
{
    Close();
    m_key.reset(key);
    m_viewBits = access & kViewMask;
    m_deleteOnClose = false;
}

LONG CRegKeyImpl::QueryValue(const wchar_t* name, DWORD* type, void* data, DWORD* size)
{
    return ::RegQueryValueExW(m_key.get(), name, nullptr, type, static_cast<BYTE*>(data), size);
}

LONG CRegKeyImpl::SetValue(const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    if (data == nullptr || size == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    return ::RegSetValueExW(m_key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
}

LONG CRegKeyImpl::SetGUIDValue(const wchar_t* name, REFGUID value)
{
    wchar_t text[kGuidTextChars];
    if (::StringFromGUID2(value, text, static_cast<int>(kGuidTextChars)) == 0) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    return SetStringValue(name, text, REG_SZ);
}

LONG CRegKeyImpl::SetBinaryValue(const wchar_t* name, const void* data, DWORD size)
{
    return SetValue(name, REG_BINARY, data, size);
}

LONG CRegKeyImpl::SetDWORDValue(const wchar_t* name, DWORD value)
{
    return SetValue(name, REG_DWORD, &value, sizeof(value));
}

LONG CRegKeyImpl::SetQWORDValue(const wchar_t* name, ULONGLONG value)
{
    return SetValue(name, REG_QWORD, &value, sizeof(value));
}

LONG CRegKeyImpl::SetStringValue(const wchar_t* name, const wchar_t* text, DWORD type)
{
    if (text == nullptr) {
        return ERROR_INVALID_DATA;
    }
    const std::size_t characters = std::wcslen(text) + 1;
    if (characters > MAXDWORD / sizeof(wchar_t)) {
        return ERROR_INVALID_PARAMETER;
    }
    return SetValue(name, type, text, static_cast<DWORD>(characters * sizeof(wchar_t)));
}

LONG CRegKeyImpl::SetMultiStringValue(const wchar_t* name, const wchar_t* text)
{
    if (text == nullptr) {
        return ERROR_INVALID_DATA;
    }
    const wchar_t* end = text;
    while (*end != L'\0') {
        end += std::wcslen(end) + 1;
    }
    const std::size_t characters = static_cast<std::size_t>(end - text) + 1;  // with the empty string
    if (characters > MAXDWORD / sizeof(wchar_t)) {
        return ERROR_INVALID_PARAMETER;
    }
    return SetValue(name, REG_MULTI_SZ, text, static_cast<DWORD>(characters * sizeof(wchar_t)));
}

LONG CRegKeyImpl::QueryGUIDValue(const wchar_t* name, GUID& value)
{
    value = GUID{};
    wchar_t text[kGuidTextChars] = {};
    DWORD characters = kGuidTextChars;
    const LONG status = QueryStringValue(name, text, &characters);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (text[0] != L'{') {
        return ERROR_INVALID_DATA;
    }
    GUID parsed{};
    if (FAILED(::CLSIDFromString(text, &parsed))) {
        return ERROR_INVALID_DATA;
    }
    value = parsed;
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryBinaryValue(const wchar_t* name, void* data, DWORD* size)
{
    if (!m_key) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD type = REG_NONE;
    const LONG status = QueryValue(name, &type, data, size);
    return TypedReadResult(status, type == REG_BINARY);
}

// Reads a fixed-size value of one registry type; a value of another type or size is malformed.
template <typename Value>
LONG CRegKeyImpl::QueryFixedSizeValue(const wchar_t* name, DWORD expectedType, Value& value)
{
    if (!m_key) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD type = REG_NONE;
    Value read = 0;
    DWORD size = sizeof(read);
    LONG status = QueryValue(name, &type, &read, &size);
    status = TypedReadResult(status, type == expectedType);
    if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && size != sizeof(read))) {
        return ERROR_INVALID_DATA;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    value = read;
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryDWORDValue(const wchar_t* name, DWORD& value)
{
    return QueryFixedSizeValue(name, REG_DWORD, value);
}

LONG CRegKeyImpl::QueryQWORDValue(const wchar_t* name, ULONGLONG& value)
{
    return QueryFixedSizeValue(name, REG_QWORD, value);
}

LONG CRegKeyImpl::QueryStringValue(const wchar_t* name, std::wstring& value)
{
    DWORD characters = 0;
    LONG status = QueryStringValue(name, nullptr, &characters);
    for (int attempt = 0; attempt < kStringReadAttempts && status == ERROR_SUCCESS; ++attempt) {
        std::vector<wchar_t> buffer;
        try {
            buffer.resize(characters);
        } catch (const std::bad_alloc&) {
            return ERROR_OUTOFMEMORY;
        }
        DWORD read = characters;
        status = QueryStringValue(name, buffer.data(), &read);
        if (status == ERROR_SUCCESS) {
            try {
                value.assign(buffer.data(), ::wcsnlen(buffer.data(), read));
            } catch (const std::bad_alloc&) {
                return ERROR_OUTOFMEMORY;
            }
            return ERROR_SUCCESS;
        }
        if (status == ERROR_MORE_DATA) {
            characters = read;  // the value grew in between
            status = ERROR_SUCCESS;
        }
    }
    return status == ERROR_SUCCESS ? ERROR_MORE_DATA : status;
}

LONG CRegKeyImpl::QueryStringValue(const wchar_t* name, wchar_t* buffer, DWORD* characters)
{
    if (!m_key || characters == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const DWORD room = *characters;
    DWORD type = REG_NONE;
    DWORD bytes = CharactersToBytes(room);
    LONG status = QueryValue(name, &type, buffer, &bytes);
    status = TypedReadResult(status, type == REG_SZ || type == REG_EXPAND_SZ);
    if (status == ERROR_MORE_DATA) {
        *characters = bytes / sizeof(wchar_t) + bytes % sizeof(wchar_t);
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (bytes == 0) {
        // An empty value is an empty string, which still needs its terminator.
        *characters = 1;
        if (buffer == nullptr) {
            return ERROR_SUCCESS;
        }
        if (room == 0) {
            return ERROR_MORE_DATA;
        }
        buffer[0] = L'\0';
        return ERROR_SUCCESS;
    }
    if (buffer != nullptr && (bytes % sizeof(wchar_t) != 0 || buffer[bytes / sizeof(wchar_t) - 1] != L'\0')) {
        return ERROR_INVALID_DATA;
    }
    *characters = bytes / sizeof(wchar_t) + bytes % sizeof(wchar_t);
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::QueryMultiStringValue(const wchar_t* name, wchar_t* buffer, DWORD* characters)
{
    if (characters == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (buffer != nullptr && *characters < 2) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    DWORD type = REG_NONE;
    DWORD bytes = CharactersToBytes(*characters);
    LONG status = QueryValue(name, &type, buffer, &bytes);
    status = TypedReadResult(status, type == REG_MULTI_SZ);
    if (status == ERROR_MORE_DATA) {
        *characters = bytes / sizeof(wchar_t) + bytes % sizeof(wchar_t);
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    const DWORD count = bytes / sizeof(wchar_t);
    if (buffer != nullptr && (bytes % sizeof(wchar_t) != 0 || count < 1 || buffer[count - 1] != L'\0' ||
                              (count >= 2 && buffer[count - 2] != L'\0'))) {
        return ERROR_INVALID_DATA;
    }
    *characters = count + bytes % sizeof(wchar_t);
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::GetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor, DWORD* size)
{
    if (!m_key || size == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return ::RegGetKeySecurity(m_key.get(), information, descriptor, size);
}

LONG CRegKeyImpl::SetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor)
{
    if (!m_key || descriptor == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return ::RegSetKeySecurity(m_key.get(), information, descriptor);
}

LONG CRegKeyImpl::Create(HKEY parent, const wchar_t* subKey, wchar_t* keyClass, DWORD options, REGSAM access,
                         LPSECURITY_ATTRIBUTES security, DWORD* disposition)
{
    if (subKey == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    HKEY created = nullptr;
    DWORD createdDisposition = 0;
    const LONG status = ::RegCreateKeyExW(parent, subKey, 0, keyClass, options, access, security, &created,
                                          &createdDisposition);
    if (disposition != nullptr) {
        *disposition = createdDisposition;
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    Replace(created, access);
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::Open(HKEY parent, const wchar_t* subKey, REGSAM access)
{
    HKEY opened = nullptr;
    const LONG status = ::RegOpenKeyExW(parent, subKey, 0, access, &opened);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    Replace(opened, access);
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::Close()
{
    if (m_key && m_deleteOnClose) {
        ::SHDeleteKeyW(m_key.get(), L"");
        m_deleteOnClose = false;
    }
    m_key.reset();
    m_viewBits = 0;
    return ERROR_SUCCESS;
}

LONG CRegKeyImpl::Flush()
{
    if (!m_key) {
        return ERROR_INVALID_PARAMETER;
    }
    return ::RegFlushKey(m_key.get());
}

HKEY CRegKeyImpl::Detach()
{
    m_viewBits = 0;
    m_deleteOnClose = false;
    return m_key.release();
}

void CRegKeyImpl::Attach(HKEY key)
{
    // The caller owns whatever was held before (see the header).
    (void)m_key.release();
    m_key.reset(key);
    m_viewBits = 0;
    m_deleteOnClose = false;
}

LONG CRegKeyImpl::EnumKey(DWORD index, wchar_t* name, DWORD* nameCharacters, FILETIME* lastWrite)
{
    if (!m_key) {
        return ERROR_INVALID_PARAMETER;
    }
    FILETIME ignored{};
    return ::RegEnumKeyExW(m_key.get(), index, name, nameCharacters, nullptr, nullptr, nullptr,
                           lastWrite != nullptr ? lastWrite : &ignored);
}

LONG CRegKeyImpl::NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous)
{
    if (!m_key) {
        return ERROR_INVALID_PARAMETER;
    }
    return ::RegNotifyChangeKeyValue(m_key.get(), watchSubtree, filter, event, asynchronous);
}

LONG CRegKeyImpl::DeleteSubKey(const wchar_t* name)
{
    if (!m_key || name == nullptr || name[0] == L'\0') {
        return ERROR_INVALID_PARAMETER;
    }
    if (const RegDeleteKeyExWFn deleteKeyEx = RegDeleteKeyExFunction()) {
        return deleteKeyEx(m_key.get(), name, m_viewBits, 0);
    }
    return ::RegDeleteKeyW(m_key.get(), name);
}

LONG CRegKeyImpl::RecurseDeleteKey(const wchar_t* name)
{
    // An empty name would make the walk below empty this key itself.
    if (!m_key || name == nullptr || name[0] == L'\0') {
        return ERROR_INVALID_PARAMETER;
    }
    CRegKeyImpl subKey;
    LONG status = subKey.Open(m_key.get(), name, m_viewBits | kRecurseDeleteAccess);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    for (;;) {
        wchar_t child[kSubKeyNameChars];
        DWORD childChars = kSubKeyNameChars;
        status = subKey.EnumKey(0, child, &childChars, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status == ERROR_SUCCESS) {
            status = subKey.RecurseDeleteKey(child);
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    subKey.Close();
    return DeleteSubKey(name);
}

LONG CRegKeyImpl::DeleteValue(const wchar_t* name)
{
    if (!m_key || name == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return ::RegDeleteValueW(m_key.get(), name);
}

LONG CRegKeyImpl::SetKeyPermissions(bool recurse)
{
    if (!m_key) {
        return ERROR_INVALID_PARAMETER;
    }
    SecurityFunctionTable functions;
    if (!functions.IsWindowsNt()) {
        return ERROR_SUCCESS;
    }
    if (!functions.Bind()) {
        return ERROR_FILE_NOT_FOUND;
    }
    return GrantEveryoneFullAccess(functions, m_key.get(),
                                   recurse ? EveryoneAccessScope::KeyAndSubKeys : EveryoneAccessScope::KeyOnly,
                                   ERROR_OUTOFMEMORY);
}

void CRegKeyImpl::SetDeleteOnClose(bool deleteOnClose)
{
    m_deleteOnClose = deleteOnClose;
}

bool CRegKeyImpl::GetDeleteOnClose()
{
    return m_deleteOnClose;
}

}  // namespace Fundor::internal
