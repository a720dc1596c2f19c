#include "core/registry/ObfuscatedRegistry.h"

#include "core/registry/RegistryTextConversion.h"

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

// Converts the names to the ANSI code page, opens (or creates) the key, and runs the value
// operation on it; the key is closed when the call returns.
template <typename Operation>
LONG WithValueKey(HKEY root, const wchar_t* subKey, const wchar_t* valueName, bool create, REGSAM access,
                  DWORD flags, Operation&& operation)
{
    try {
        AnsiNames names;
        LONG status = ConvertNames(subKey, valueName, names);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        AnsiRegKey key;
        status = create ? key.Create(root, names.subKey.c_str(), nullptr, flags, access)
                        : key.Open(root, names.subKey.c_str(), access);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        return operation(key, names.valueName.c_str());
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

}  // namespace

LONG ObfuscatedRegQueryValue(HKEY root, const wchar_t* subKey, const wchar_t* valueName, DWORD* type, void* data,
                             DWORD* size, DWORD flags)
{
    return WithValueKey(root, subKey, valueName, false, KEY_READ | ViewAccess(flags), flags,
                        [&](AnsiRegKey& key, const char* name) {
                            return AsMoreData(key.QueryValue(name, type, data, size, flags, true));
                        });
}

LONG ObfuscatedRegSetValue(HKEY root, const wchar_t* subKey, const wchar_t* valueName, DWORD type, const void* data,
                           DWORD size, DWORD flags)
{
    return WithValueKey(root, subKey, valueName, true, KEY_ALL_ACCESS | ViewAccess(flags), flags,
                        [&](AnsiRegKey& key, const char* name) {
                            return AsMoreData(key.SetValue(name, type, data, size, flags, true));
                        });
}

LONG ObfuscatedRegDeleteValue(HKEY root, const wchar_t* subKey, const wchar_t* valueName, DWORD flags)
{
    return WithValueKey(root, subKey, valueName, false, KEY_WRITE | ViewAccess(flags), flags,
                        [](AnsiRegKey& key, const char* name) { return ::RegDeleteValueA(key.Handle(), name); });
}

}  // namespace Fundor
