#include "ActivePackage.h"

#include "ScopedResource.h"

#include <cwchar>
#include <cstdlib>

DWORD GetPackagesNumber(const wchar_t* valueName)
{
    Fundor::ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN\\Packages", 0, KEY_READ | KEY_WOW64_64KEY,
                        key.put()) != ERROR_SUCCESS) {
        return 0;
    }
    wchar_t text[260] = {};
    DWORD size = sizeof(text);
    DWORD type = 0;
    if (::RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS) {
        return 0;
    }
    if ((type != REG_SZ && type != REG_EXPAND_SZ) || size % sizeof(wchar_t) != 0 || size < sizeof(wchar_t) ||
        text[size / sizeof(wchar_t) - 1] != L'\0') {
        return 0;
    }
    if (std::wcschr(text, L';') != nullptr) return 0;
    return static_cast<DWORD>(std::wcstol(text, nullptr, 10));
}

DWORD GetActivePackageId()
{
    const DWORD package = GetPackagesNumber(L"activeuipackages");
    return package != 0 ? package : GetPackagesNumber(L"activepackages");
}
