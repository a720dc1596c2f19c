#include "ObfuscatedRegistry.h"

#include "RegistryTextConversion.h"

#include <new>
#include <string>

namespace Fundor {
namespace {

REGSAM ViewAccess(DWORD flags)
{
    if ((flags & kRegistryView32) != 0) {
        return KEY_WOW64_32KEY;
    }
    if ((flags & kRegistryView64) != 0) {
        return KEY_WOW64_64KEY;
    }
    return 0;
}

// Callers of the value functions learn about a short buffer as 234 only.
LONG AsMoreData(LONG status)
{
    return status == ERROR_INSUFFICIENT_BUFFER ? ERROR_MORE_DATA : status;
}

struct AnsiNames {
    std::string subKey;
    std::string valueName;
};

LONG ConvertNames(const wchar_t* subKey, const wchar_t* valueName, AnsiNames& names)
{
    const LONG status = internal::WideNameToAnsi(subKey, names.subKey);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return internal::WideNameToAnsi(valueName, names.valueName);
}

}  // namespace

LONG ObfuscatedRegQueryValue(HKEY root, const wchar_t* subKey, const wchar_t* valueName, DWORD* type, void* data,
                             DWORD* size, DWORD flags)
{
    try {
        AnsiNames names;
        LONG status = ConvertNames(subKey, valueName, names);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        AnsiRegKey key;
        status = key.Open(root, names.subKey.c_str(), KEY_READ | ViewAccess(flags));
        if (status != ERROR_SUCCESS) {
            return status;
        }
        return AsMoreData(key.QueryValue(names.valueName.c_str(), type, data, size, flags, true));
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG ObfuscatedRegSetValue(HKEY root, const wchar_t* subKey, const wchar_t* valueName, DWORD type, const void* data,
                           DWORD size, DWORD flags)
{
    try {
        AnsiNames names;
        LONG status = ConvertNames(subKey, valueName, names);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        AnsiRegKey key;
        status = key.Create(root, names.subKey.c_str(), nullptr, flags, KEY_ALL_ACCESS | ViewAccess(flags));
        if (status != ERROR_SUCCESS) {
            return status;
        }
        return AsMoreData(key.SetValue(names.valueName.c_str(), type, data, size, flags, true));
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG ObfuscatedRegDeleteValue(HKEY root, const wchar_t* subKey, const wchar_t* valueName, DWORD flags)
{
    try {
        AnsiNames names;
        LONG status = ConvertNames(subKey, valueName, names);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        AnsiRegKey key;
        status = key.Open(root, names.subKey.c_str(), KEY_WRITE | ViewAccess(flags));
        if (status != ERROR_SUCCESS) {
            return status;
        }
        return ::RegDeleteValueA(key.Handle(), names.valueName.c_str());
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

}  // namespace Fundor
