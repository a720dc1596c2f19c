#pragma once
// Where the suite is installed: the server path registered for a CLSID, the suite's common-files
// folder and the product install folder. Plain functions; nothing here logs or throws. Also
// compiled into the URL-notification library, so this group needs nothing but the core library.
//
// Registry values are read from HKLM in the 64-bit view as plain values through the obfuscated
// value store, and only REG_SZ counts.

#include <windows.h>

// Key and value names shared with the utility-library binding.
inline constexpr wchar_t kProductKey[] = L"SOFTWARE\\Tervane\\QRN";
inline constexpr wchar_t kCommonFilesDirValue[] = L"CommonFiles Dir";
inline constexpr wchar_t kInstallDirValue[] = L"Install Dir";
// A server registered in the product install folder.
inline constexpr wchar_t kProductServerClsid[] = L"{7323885B-407F-4839-9695-96F545FF6286}";

// The server path registered under HKEY_CLASSES_ROOT "CLSID\{clsid}\InprocServer32", else
// "...\LocalServer32" (each tried in the default, the 64-bit and the 32-bit view; the first key
// that opens is the one read). Braces are added when clsid lacks them. Only a REG_SZ or
// REG_EXPAND_SZ default value counts (the latter is expanded); at most outCount - 1 characters
// are read and out is always terminated. A path that both begins and ends with a double quote
// (and is longer than 2 characters) loses both quotes.
// Nonzero when out holds a non-empty path. With out given and outCount >= 1, out is emptied first
// and stays empty on every failure.
[[nodiscard]] int _ModulePathFromCLSID(const wchar_t* clsid, wchar_t* out, int outCount);

// The suite's common-files folder: HKLM "SOFTWARE\Tervane\QRN" "CommonFiles Dir", else the shell's
// common program-files folder + "\Tervane\Platform". trailingBackslash nonzero: the text ends in
// exactly one added backslash when it had none; zero: a trailing backslash is removed. A text in
// double quotes loses them. 0 on success; ERROR_INVALID_PARAMETER null out or outCount 0;
// ERROR_NO_DATA no shell folder; ERROR_PATH_NOT_FOUND the text came out empty;
// ERROR_INSUFFICIENT_BUFFER the text does not fit outCount characters. On failure out (when given)
// is emptied.
[[nodiscard]] DWORD GetCommonFilesDir(wchar_t* out, DWORD outCount, int trailingBackslash);

// The product install folder: HKLM "SOFTWARE\Tervane\QRN" "Install Dir", else the folder of
// the server registered for {7323885B-407F-4839-9695-96F545FF6286} (with its backslash), else
// the shell's program-files folder + "\Tervane\QRN". Otherwise as GetCommonFilesDir.
[[nodiscard]] DWORD GetProductInstallDir(wchar_t* out, DWORD outCount, int trailingBackslash);

// ObfuscatedRegQueryValue in the 64-bit view: an enciphered "KVRG" value when obfuscated is 1,
// else a plain one. ERROR_INVALID_PARAMETER for data without size, ERROR_BADKEY for a
// null root; else the reader's code.
// size in bytes as for ObfuscatedRegQueryValue; string data is not terminated beyond what the
// value holds.
[[nodiscard]] DWORD ReadRegValueEx(HKEY root, const wchar_t* subkey, const wchar_t* valueName, DWORD* type,
                                   void* data, DWORD* size, int obfuscated);

// Copies src with its terminator when it fits dstCount characters and returns its length. 0, with
// dst untouched and last error ERROR_INSUFFICIENT_BUFFER, when it does not fit; 0 with last error
// ERROR_INVALID_PARAMETER for a null argument or dstCount 0. src and dst may be the same buffer.
[[nodiscard]] int CopyPathToBuffer(const wchar_t* src, wchar_t* dst, DWORD dstCount);

// 520, whatever the argument.
[[nodiscard]] DWORD GetMaxPathBytes(const void* ignored);
