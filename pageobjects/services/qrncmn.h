#pragma once
// The page services behind the session manager: the suite's link names and templated URLs turned
// into concrete URLs and opened, restart and shut-down, and the operating-system code for pages.
// Plain functions; results are Win32 codes unless said; nothing throws out of them.
//
// Registry (HKLM, 64-bit view): "SOFTWARE\Tervane\QRN\AppInfo\Substitute" holds REG_SZ values
// whose names are tokens ("%name%" in a URL) and a subkey "QueryParams" of query parameters; the
// partner-customization hives' key "Links" holds the "substlink:" names.

#include <windows.h>

inline constexpr wchar_t kSubstituteKey[] = L"SOFTWARE\\Tervane\\QRN\\AppInfo\\Substitute";
inline constexpr wchar_t kVolatileSubstituteKey[] = L"SOFTWARE\\Tervane\\Volatile\\QRN\\Substitute";

// Expands url: a "substlink:" name (any case) is replaced by its "Links" value, then the Substitute
// tokens are replaced and the QueryParams appended. On success *out is a CoTaskMemAlloc string the
// caller frees with CoTaskMemFree; on any failure *out is null. ERROR_INVALID_PARAMETER null
// argument or an "extURL::" link; ERROR_INVALID_DATA a link value that is not text; the override
// hives' HRESULT when the link cannot be read; ERROR_NOT_ENOUGH_MEMORY no memory; else
// KvExpandEnvironmentStringEx's code.
[[nodiscard]] DWORD KvExpandSarnUrl(const wchar_t* url, wchar_t** out);

// Replaces the tokens of key (a registry path, "HKLM\..." style or relative to HKLM) in input, and
// appends key's QueryParams when appendQuery is non-zero. obfuscated non-zero reads the values as
// enciphered records. out may be null to ask for the size; *size is in characters with the
// terminator and always receives the size needed. ERROR_MORE_DATA when out is too small (out then
// holds an empty string). useVolatile non-zero first makes, once per boot, the volatile copy of the
// per-boot values; for a key other than the persistent Substitute key the volatile copy's tokens
// are then replaced first. ERROR_INVALID_PARAMETER null key, input or size (or a size query of 0
// for another key); ERROR_BADKEY a key path without root.
[[nodiscard]] DWORD KvExpandEnvironmentStringEx(const wchar_t* key, const wchar_t* input, int appendQuery,
                                                int obfuscated, wchar_t* out, DWORD* size, int useVolatile);

// Opens url. A URL over 2,083 characters is refused (ERROR_INVALID_PARAMETER) before anything
// starts. A web URL ("http://", "https://", any case) is handed to the maker's updater as its one
// argument "/link:<url>", unless this program is the updater. A local file (a fully qualified drive
// or UNC path, or a file URL) is first resolved to the one file that exists, and the decision is
// that file's: a file of a type the shell runs as code is started by its final path only when it
// passes the module trust check (ERROR_ACCESS_DENIED otherwise), held from the check until it has
// started; a document goes to the program of its type as one quoted argument (its final path, or
// its file URL for an HTML-like type). "<program>.exe <text>" (any case) starts the checked program
// with the text as one encoded argument. Any other URL goes to its scheme's program as one
// argument. The shell never receives the page's text as a name to resolve. ERROR_INVALID_PARAMETER
// null, empty or over-long url, a relative path, a device or stream name, or a file without
// extension; the resolution's error (ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND ...) when the file
// does not exist; the launcher's, the trust check's or the shell's code (2..32) otherwise;
// ERROR_NOT_ENOUGH_MEMORY when the shell reports no resources.
[[nodiscard]] DWORD KvShellExecute(const wchar_t* url);

// The session manager's OpenBrowser: KvExpandSarnUrl, then "&" + query when query is non-empty,
// then KvShellExecute. ERROR_INVALID_PARAMETER null or empty url; a failed expansion returns its
// code and opens nothing.
[[nodiscard]] DWORD KvOpenBrowser(const wchar_t* url, const wchar_t* query);
// The session manager's OpenBrowserAsIs: KvShellExecute without expansion; ERROR_INVALID_PARAMETER
// null or empty url.
[[nodiscard]] DWORD KvOpenBrowserAsIs(const wchar_t* url);

// Restart 0x12 (EWX_REBOOT | EWX_FORCEIFHUNG), shut down 0x18 (EWX_POWEROFF | EWX_FORCEIFHUNG).
inline constexpr UINT kKvRestartFlags = EWX_REBOOT | EWX_FORCEIFHUNG;
inline constexpr UINT kKvShutdownFlags = EWX_POWEROFF | EWX_FORCEIFHUNG;

// Enables the shutdown privilege (when the token allows it) and ends the session with
// ExitWindowsEx(flags, 0). 0 when the request was accepted, else ExitWindowsEx's error code;
// 16000 for an exception.
[[nodiscard]] DWORD KvExitWindows(UINT flags);

// The operating-system code pages use: 9 for Windows Vista, 11 for 7, 13 for 8, 15 for 8.1,
// 17 for 10 and later, 3 otherwise. 0; ERROR_INVALID_PARAMETER for a null code.
[[nodiscard]] DWORD KvGetOSVersionCode(long* code);

// KvExitWindows over a given ExitWindowsEx: the seam through which tests drive it (a real call
// ends the session). Production binds ::ExitWindowsEx.
using KvExitWindowsFunction = BOOL(WINAPI*)(UINT flags, DWORD reason);
[[nodiscard]] DWORD KvExitWindowsWith(UINT flags, KvExitWindowsFunction exitWindows);
