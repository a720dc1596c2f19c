#pragma once
// Single registry values, plain or stored as enciphered "KVRG" records, reached through the ANSI
// registry calls: names and paths are converted to the thread's ANSI code page, and string data
// (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is UTF-16 for the caller and ANSI text in the registry
// or inside the record.
//
// root: an open key or a predefined key. A null or empty subKey means root itself; a null or
// empty valueName the key's default value. flags: the kObfuscatedValue.../kOpen.../kRegistryView...
// bits of AnsiRegKey.h. Results are Win32 codes; the key opened for the call is always closed.

#include <windows.h>

#include "core/registry/AnsiRegKey.h"

namespace Fundor {

// Opens subKey with KEY_READ (and the view). size is in bytes (UTF-16 bytes for string types);
// with data null only type and size are reported. ERROR_MORE_DATA with the needed *size when data
// is too small. Enciphered: ERROR_INVALID_PARAMETER without size and type or with data but no
// size, ERROR_INVALID_DATA for a value that is not a valid record.
[[nodiscard]] LONG ObfuscatedRegQueryValue(HKEY root, const wchar_t* subKey, const wchar_t* valueName, DWORD* type,
                                           void* data, DWORD* size, DWORD flags);

// Creates or opens subKey with KEY_ALL_ACCESS (and the view), opens it to everyone for flags 2/4,
// and writes the value. String data is read up to its first zero or size / 2 characters.
// Enciphered: ERROR_INVALID_PARAMETER without data or with size 0.
[[nodiscard]] LONG ObfuscatedRegSetValue(HKEY root, const wchar_t* subKey, const wchar_t* valueName, DWORD type,
                                         const void* data, DWORD size, DWORD flags);

// Opens subKey with KEY_WRITE (and the view) and deletes the value; every code passes through.
[[nodiscard]] LONG ObfuscatedRegDeleteValue(HKEY root, const wchar_t* subKey, const wchar_t* valueName, DWORD flags);

}  // namespace Fundor
