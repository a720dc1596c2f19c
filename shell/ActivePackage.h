#pragma once
// The active package: the decimal number in HKLM "SOFTWARE\Tervane\QRN\Packages" (64-bit view).

#include <windows.h>

// The number held by valueName: REG_SZ or REG_EXPAND_SZ of at most 260 characters, even length and
// terminated, read as a leading decimal number. 0 when missing, unreadable, of another type, or
// holding a list (a ';').
[[nodiscard]] DWORD GetPackagesNumber(const wchar_t* valueName);
// "activeuipackages", else (when that gives 0) "activepackages".
[[nodiscard]] DWORD GetActivePackageId();
