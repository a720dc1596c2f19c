#pragma once
// Helpers shared by the registry tests of the core library.

#include <windows.h>
#include <winternl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/base/ScopedResource.h"

namespace Fundor::testing {

inline std::string Hex(const void* data, std::size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        text.push_back(digits[bytes[i] >> 4]);
        text.push_back(digits[bytes[i] & 15]);
    }
    return text;
}

inline std::vector<std::uint8_t> FromHex(const std::string& text)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

// The "KVRG" record of REG_DWORD 1 under the registry key, computed independently.
inline const char kDwordOneRecordHex[] =
    "4B5652470100000004000000040000009AF4A79CB73EDD672DF489C32672B18E1859A1C4";

struct RawValue {
    LONG status = ERROR_SUCCESS;
    DWORD type = REG_NONE;
    std::vector<std::uint8_t> bytes;
};

// The value exactly as stored (wide registry call, so string data is what the registry holds).
inline RawValue ReadRaw(HKEY key, const wchar_t* name)
{
    RawValue value;
    DWORD size = 0;
    value.status = ::RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size);
    if (value.status != ERROR_SUCCESS) return value;
    value.bytes.resize(size);
    value.status = ::RegQueryValueExW(key, name, nullptr, &value.type, value.bytes.data(), &size);
    value.bytes.resize(size);
    return value;
}

// The narrow bytes of a value as the ANSI registry calls return them.
inline RawValue ReadRawA(HKEY key, const char* name)
{
    RawValue value;
    DWORD size = 0;
    value.status = ::RegQueryValueExA(key, name, nullptr, &value.type, nullptr, &size);
    if (value.status != ERROR_SUCCESS) return value;
    value.bytes.resize(size);
    value.status = ::RegQueryValueExA(key, name, nullptr, &value.type, value.bytes.data(), &size);
    value.bytes.resize(size);
    return value;
}

inline ScopedRegKey CreateKey(HKEY parent, const wchar_t* path, REGSAM access = KEY_ALL_ACCESS)
{
    ScopedRegKey key;
    ::RegCreateKeyExW(parent, path, 0, nullptr, 0, access, nullptr, key.put(), nullptr);
    return key;
}

inline bool KeyExists(HKEY parent, const wchar_t* path, REGSAM view = 0)
{
    ScopedRegKey key;
    return ::RegOpenKeyExW(parent, path, 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

// A real handle to HKEY_LOCAL_MACHINE's root. The isolation fixture redirects the predefined
// handle to a scratch key below HKEY_CURRENT_USER, where both registry views coincide; the
// view tests need the machine's "Software" key, which has a separate 32-bit view. They work
// below it under unique names only and remove them again.
inline ScopedRegKey OpenRealMachineRoot()
{
    using NtOpenKeyFn = LONG(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES);
    auto ntOpenKey = reinterpret_cast<NtOpenKeyFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtOpenKey")));
    ScopedRegKey root;
    if (ntOpenKey == nullptr) return root;
    wchar_t path[] = L"\\Registry\\Machine";
    UNICODE_STRING name = {static_cast<USHORT>(sizeof(path) - sizeof(wchar_t)), static_cast<USHORT>(sizeof(path)),
                           path};
    OBJECT_ATTRIBUTES attributes = {};
    attributes.Length = sizeof(attributes);
    attributes.ObjectName = &name;
    attributes.Attributes = OBJ_CASE_INSENSITIVE;
    HANDLE handle = nullptr;
    if (ntOpenKey(&handle, KEY_ALL_ACCESS, &attributes) >= 0) {
        root.reset(static_cast<HKEY>(handle));
    }
    return root;
}

// Removes a key tree in both views when the test ends.
class ViewKeyCleanup {
public:
    ViewKeyCleanup(HKEY root, std::wstring path) : m_root(root), m_path(std::move(path)) {}
    ~ViewKeyCleanup()
    {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            ScopedRegKey key;
            if (::RegOpenKeyExW(m_root, m_path.c_str(), 0, KEY_ALL_ACCESS | view, key.put()) == ERROR_SUCCESS) {
                ::RegDeleteTreeW(key.get(), nullptr);
            }
            ::RegDeleteKeyExW(m_root, m_path.c_str(), view, 0);
        }
    }
    ViewKeyCleanup(const ViewKeyCleanup&) = delete;
    ViewKeyCleanup& operator=(const ViewKeyCleanup&) = delete;

private:
    HKEY m_root;
    std::wstring m_path;
};

struct EveryoneEntry {
    bool found = false;
    ACCESS_MASK mask = 0;
    BYTE flags = 0;
};

// The access-allowed entry for Everyone (S-1-1-0) in the key's access list, if any.
inline EveryoneEntry FindEveryoneEntry(HKEY key)
{
    EveryoneEntry entry;
    DWORD size = 0;
    if (::RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size) != ERROR_INSUFFICIENT_BUFFER) {
        return entry;
    }
    std::vector<std::uint8_t> descriptor(size);
    if (::RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.data(), &size) != ERROR_SUCCESS) {
        return entry;
    }
    BOOL present = FALSE, defaulted = FALSE;
    PACL list = nullptr;
    if (!::GetSecurityDescriptorDacl(descriptor.data(), &present, &list, &defaulted) || !present || !list) {
        return entry;
    }
    std::uint8_t everyone[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(everyone);
    ::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &sidSize);
    for (DWORD index = 0; index < list->AceCount; ++index) {
        void* ace = nullptr;
        if (!::GetAce(list, index, &ace)) continue;
        auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && ::EqualSid(&allowed->SidStart, everyone)) {
            entry = {true, allowed->Mask, allowed->Header.AceFlags};
            return entry;
        }
    }
    return entry;
}

inline EveryoneEntry FindEveryoneEntry(HKEY parent, const wchar_t* path)
{
    ScopedRegKey key;
    if (::RegOpenKeyExW(parent, path, 0, READ_CONTROL, key.put()) != ERROR_SUCCESS) return {};
    return FindEveryoneEntry(key.get());
}

// Gives key an empty access list, so that nobody but its owner (who keeps READ_CONTROL and
// WRITE_DAC) can open it; UnblockKey gives it a usable list again for the clean-up.
inline LONG BlockKey(HKEY key)
{
    SECURITY_DESCRIPTOR descriptor;
    ACL empty;
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ::InitializeAcl(&empty, sizeof(empty), ACL_REVISION);
    ::SetSecurityDescriptorDacl(&descriptor, TRUE, &empty, FALSE);
    return ::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, &descriptor);
}

inline LONG UnblockKey(HKEY parent, const wchar_t* path)
{
    ScopedRegKey key;
    LONG status = ::RegOpenKeyExW(parent, path, 0, WRITE_DAC, key.put());
    if (status != ERROR_SUCCESS) return status;
    SECURITY_DESCRIPTOR descriptor;
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);  // null list: full access
    return ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &descriptor);
}

}  // namespace Fundor::testing
