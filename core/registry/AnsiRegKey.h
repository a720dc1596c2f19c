#pragma once
// The key record of the obfuscated value functions: one registry key reached through the ANSI
// registry calls, with the status of its last open or create.

#include <windows.h>

#include "core/base/ScopedResource.h"

namespace Fundor {

// Value flags shared by AnsiRegKey and the obfuscated value functions.
inline constexpr DWORD kObfuscatedValueEnciphered = 1;  // the value is a "KVRG" record
inline constexpr DWORD kOpenNewKeyToEveryone = 2;       // a newly created key gets an Everyone entry
inline constexpr DWORD kOpenKeyToEveryone = 4;          // also an existing key, with its sub-keys
inline constexpr DWORD kRegistryView32 = 8;             // KEY_WOW64_32KEY (wins over 16)
inline constexpr DWORD kRegistryView64 = 16;            // KEY_WOW64_64KEY

class AnsiRegKey {
public:
    // Closed: no key, status ERROR_INVALID_HANDLE.
    AnsiRegKey() = default;
    ~AnsiRegKey() = default;
    AnsiRegKey(const AnsiRegKey&) = delete;
    AnsiRegKey& operator=(const AnsiRegKey&) = delete;

    // Closes an open key; status becomes ERROR_INVALID_HANDLE.
    void Close();

    // Closes, then RegOpenKeyExA. The result is also kept as the status.
    [[nodiscard]] LONG Open(HKEY parent, const char* subKey, REGSAM access);

    // Closes, then RegCreateKeyExA (no class, options 0, no security attributes). On success the
    // disposition is written when given, and when access has any bit of KEY_ALL_ACCESS and
    // flags hold kOpenKeyToEveryone, or kOpenNewKeyToEveryone for a newly created key, the key's
    // access list gets an Everyone entry (an existing key's sub-keys too). The result of that
    // rewrite is not reported: the create status is returned and kept.
    [[nodiscard]] LONG Create(HKEY parent, const char* subKey, DWORD* disposition, DWORD flags, REGSAM access);

    // Reads a value. flags & kObfuscatedValueEnciphered: the value is a "KVRG" record, which is
    // checked and deciphered. wide: string data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is
    // converted from the ANSI code page to UTF-16 (always terminated); *size is then in UTF-16
    // bytes. ERROR_MORE_DATA with the needed *size when data is too small (data then unspecified);
    // with data null and size given, only the size (and type) is reported. With a status other
    // than 0 the status is returned at once.
    [[nodiscard]] LONG QueryValue(const char* name, DWORD* type, void* data, DWORD* size, DWORD flags, bool wide);

    // Writes a value. wide: string data is UTF-16 of size bytes (read up to the first zero or
    // size / 2 characters, a missing terminator is added) and is stored as ANSI text.
    // Enciphered: stored as a REG_BINARY "KVRG" record keeping the caller's type; no data or
    // size 0 gives ERROR_INVALID_PARAMETER.
    [[nodiscard]] LONG SetValue(const char* name, DWORD type, const void* data, DWORD size, DWORD flags, bool wide);

    [[nodiscard]] HKEY Handle() const { return m_key.get(); }
    [[nodiscard]] LONG Status() const { return m_status; }

private:
    ScopedRegKey m_key;
    LONG m_status = ERROR_INVALID_HANDLE;
};

}  // namespace Fundor
