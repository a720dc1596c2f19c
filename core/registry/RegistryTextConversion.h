#pragma once
// Conversions of registry string data between UTF-16 and 8-bit text (the thread's ANSI code page
// or UTF-8), shared by the ANSI value functions and the obfuscated key class.
//
// Registry data is untrusted: every conversion is bounded by the given count and never relies on
// a terminator being present; the results are always terminated.

#include <windows.h>

#include <cstddef>
#include <string>

namespace Fundor::internal {

// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ.
[[nodiscard]] bool IsRegistryStringType(DWORD type);

// 8-bit text of `bytes` bytes to UTF-16, appended to out (cleared first).
// REG_SZ / REG_EXPAND_SZ: the text up to its first zero or the end, then one zero.
// REG_MULTI_SZ: each string up to its zero or the end, until an empty string or the end, each
// with its zero, then one final zero.
// 0, or the conversion's error. Throws std::bad_alloc.
[[nodiscard]] LONG NarrowRegistryTextToWide(UINT codePage, DWORD type, const char* text, std::size_t bytes,
                                            std::wstring& out);

// The reverse: UTF-16 text of `characters` characters to 8-bit text, with the same layout.
[[nodiscard]] LONG WideRegistryTextToNarrow(UINT codePage, DWORD type, const wchar_t* text,
                                            std::size_t characters, std::string& out);

// A wide name (value name or key path) in the thread's ANSI code page; null gives "".
// 0 or the conversion's error. Throws std::bad_alloc.
[[nodiscard]] LONG WideNameToAnsi(const wchar_t* name, std::string& out);

// Hands count bytes to a caller's (data, in/out size) pair: *size = count always; with data,
// ERROR_MORE_DATA when count exceeds the caller's room (data untouched), else the bytes are copied.
[[nodiscard]] LONG CopyToCallerBuffer(const void* bytes, std::size_t count, void* data, DWORD* size);

}  // namespace Fundor::internal
