#pragma once
// Reading and writing "KVRG" records through the ANSI registry calls: the steps that the ANSI
// value functions (thread code page) and the obfuscated key class (UTF-8) share.
// All functions may throw std::bad_alloc; the callers report it with their own code.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Fundor::internal {

// Raw bytes and type of a value (RegQueryValueExA), first with firstReadBytes of room, again at
// the reported size when larger. 0 or the registry's error (bytes and type then unspecified).
[[nodiscard]] LONG ReadValueA(HKEY key, const char* name, DWORD& type, std::vector<std::uint8_t>& bytes,
                              std::size_t firstReadBytes);

// Hands plain value bytes of the given type to a caller's (data, in/out size); with toWide,
// string types are converted from codePage to UTF-16 first (size then in UTF-16 bytes).
// ERROR_MORE_DATA with the needed *size when data is too small; data null reports the size only.
[[nodiscard]] LONG DeliverValue(DWORD type, const std::uint8_t* bytes, std::size_t count, bool toWide,
                                UINT codePage, void* data, DWORD* size);

// Reads a value stored as a record. ERROR_INVALID_PARAMETER without size and type, or with data
// but no size; ERROR_INVALID_DATA when the raw value is not REG_BINARY or the record is malformed;
// the decode's codes otherwise.
// type receives the plain type as soon as the record checks out, even when the read fails later.
[[nodiscard]] LONG QueryEncipheredValueA(HKEY key, const char* name, DWORD* type, void* data, DWORD* size,
                                         std::size_t firstReadBytes, bool toWide, UINT codePage);

// Writes data as a REG_BINARY record keeping the caller's type. With fromWide, string types are
// UTF-16 of size bytes, converted to codePage first. ERROR_INVALID_PARAMETER without data or with
// size 0.
[[nodiscard]] LONG SetEncipheredValueA(HKEY key, const char* name, DWORD type, const void* data, DWORD size,
                                       bool fromWide, UINT codePage);

}  // namespace Fundor::internal
