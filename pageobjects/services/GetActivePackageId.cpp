#include "pageobjects/services/GetActivePackageId.h"

#include "core/base/ScopedResource.h"

#include <cstdlib>
#include <cwchar>

namespace {
constexpr wchar_t kPackagesKey[] = L"SOFTWARE\\Tervane\\QRN\\Packages";
constexpr DWORD kMaximumCharacters = 260;
}  // namespace

DWORD GetPackagesNumber(const wchar_t* valueName) noexcept
{
    if (valueName == nullptr) return 0;
    Fundor::ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPackagesKey, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS)
        return 0;
    // One spare character so that a value filling the whole buffer is still terminated here.
    wchar_t text[kMaximumCharacters + 1] = {};
    DWORD type = REG_NONE;
    DWORD size = kMaximumCharacters * sizeof(wchar_t);
    if (RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS)
        return 0;
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size % sizeof(wchar_t) != 0) return 0;
    const DWORD characters = size / sizeof(wchar_t);
    if (characters == 0 || wmemchr(text, L'\0', characters) == nullptr) return 0;
    if (wcschr(text, L';') != nullptr) return 0;
    return static_cast<DWORD>(_wtol(text));
}

DWORD GetActivePackageId() noexcept
{
    const DWORD ui = GetPackagesNumber(L"activeuipackages");
    return ui != 0 ? ui : GetPackagesNumber(L"activepackages");
}
