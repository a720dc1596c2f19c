#include "pageobjects/services/_SplitRegPath.h"

#include <cwchar>

bool _SplitRegPath(const wchar_t* path, wchar_t* subkey, HKEY* root) noexcept
{
    if (subkey == nullptr || root == nullptr) return false;
    subkey[0] = L'\0';
    if (path == nullptr || *path == L'\0') return false;
    const wchar_t* slash = wcschr(path, L'\\');
    if (slash == nullptr || slash[1] == L'\0') return false;

    struct RootName {
        const wchar_t* name;
        HKEY key;
    };
    static const RootName kRoots[] = {
        {L"HKCR", HKEY_CLASSES_ROOT},   {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
        {L"HKCU", HKEY_CURRENT_USER},   {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
        {L"HKCC", HKEY_CURRENT_CONFIG}, {L"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
        {L"HKLM", HKEY_LOCAL_MACHINE},  {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
        {L"HKU", HKEY_USERS},           {L"HKEY_USERS", HKEY_USERS},
    };
    const size_t prefix = static_cast<size_t>(slash - path);
    const wchar_t* rest = path;
    HKEY found = HKEY_LOCAL_MACHINE;
    for (const RootName& candidate : kRoots) {
        if (wcslen(candidate.name) == prefix && _wcsnicmp(path, candidate.name, prefix) == 0) {
            found = candidate.key;
            rest = slash + 1;
            break;
        }
    }
    const size_t length = wcslen(rest);
    if (length >= kSplitRegPathSubkeyCharacters) return false;
    wmemcpy(subkey, rest, length + 1);
    *root = found;
    return true;
}
