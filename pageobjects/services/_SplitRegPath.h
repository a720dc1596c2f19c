#pragma once
// Splits a registry path "ROOT\sub\key" into a predefined root and the subkey.

#include <windows.h>

inline constexpr DWORD kSplitRegPathSubkeyCharacters = 260;

// True for a path with a backslash and something after it. The part before the first backslash
// is matched without case against HKCR, HKEY_CLASSES_ROOT, HKCU, HKEY_CURRENT_USER, HKCC,
// HKEY_CURRENT_CONFIG, HKLM, HKEY_LOCAL_MACHINE, HKU and HKEY_USERS: on a match subkey receives
// the rest, otherwise the whole path with the root HKEY_LOCAL_MACHINE. subkey holds
// kSplitRegPathSubkeyCharacters characters; false (subkey empty, *root untouched) for a null or
// empty path, a path without a backslash or nothing after it, or a subkey that does not fit.
[[nodiscard]] bool _SplitRegPath(const wchar_t* path, wchar_t* subkey, HKEY* root) noexcept;
