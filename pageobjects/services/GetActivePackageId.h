#pragma once
// The active package of the installed suite, as HKLM "SOFTWARE\Tervane\QRN\Packages" names it
// (64-bit view). No window code: the page services and the main window both use it.

#include <windows.h>

// The number held by "activeuipackages", else (when that yields 0) by "activepackages"; 0 when
// neither holds a single package number. Never fails, never throws.
[[nodiscard]] DWORD GetActivePackageId() noexcept;

// The decimal number at the start of the Packages value valueName (REG_SZ or REG_EXPAND_SZ of at
// most 260 characters, as _wtol reads it). 0 when the key or value is missing or unreadable, has
// another type, or holds a list of packages (a ';').
[[nodiscard]] DWORD GetPackagesNumber(const wchar_t* valueName) noexcept;
