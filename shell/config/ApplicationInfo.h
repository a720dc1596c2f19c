#pragma once
// An application's resource-DLL, UI-DLL and help-file paths, as the suite records them under
// HKLM "SOFTWARE\Tervane\QRN\Settings\ApplicationInfo\<application code>" (64-bit view).

#include <windows.h>

inline constexpr wchar_t kApplicationInfoKey[] = L"SOFTWARE\\Tervane\\QRN\\Settings\\ApplicationInfo";

// Which value GetApplicationInfoValue reads: "ResDll", "HelpFile", any other number "UIDll".
inline constexpr DWORD kApplicationInfoResDll = 0;
inline constexpr DWORD kApplicationInfoUIDll = 1;
inline constexpr DWORD kApplicationInfoHelpFile = 2;

// Reads the string value into buffer (capacity in characters). On success the buffer holds the
// value, always terminated. ERROR_INVALID_PARAMETER null code or buffer or capacity 0;
// ERROR_FILE_NOT_FOUND no such key or value; ERROR_INVALID_DATA the value is not a string;
// ERROR_INSUFFICIENT_BUFFER or ERROR_MORE_DATA the value does not fit with its terminator; else the
// registry's code. On failure the buffer (when given) is emptied.
[[nodiscard]] DWORD GetApplicationInfoValue(const wchar_t* applicationCode, wchar_t* buffer, DWORD capacity,
                                            DWORD which);
