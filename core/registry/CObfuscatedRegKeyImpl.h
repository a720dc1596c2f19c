#pragma once
// A registry key whose every value is stored as an enciphered "KVRG" record (REG_BINARY) with
// UTF-8 text inside. Only the two raw value operations differ from the plain key; the typed
// operations reach them through the virtual table and so read and write records too.

#include "core/registry/CRegKeyImpl.h"

namespace Fundor {

class CObfuscatedRegKeyImpl : public internal::CRegKeyImpl {
public:
    CObfuscatedRegKeyImpl() = default;

    // Reads and deciphers the record. String types (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) come
    // back as UTF-16, always terminated; size in bytes, ERROR_MORE_DATA with the needed size when
    // data is too small, data null reports the size. ERROR_INVALID_PARAMETER without size and type
    // or with data but no size; ERROR_INVALID_DATA when the value is not a valid record.
    [[nodiscard]] LONG QueryValue(const wchar_t* name, DWORD* type, void* data, DWORD* size) override;

    // Stores the value as a record keeping its type. String types are UTF-16 of size bytes, read
    // up to the first zero or size / 2 characters, stored as UTF-8 with terminators.
    // ERROR_INVALID_PARAMETER without data or with size 0; ERROR_NOT_ENOUGH_MEMORY out of memory.
    [[nodiscard]] LONG SetValue(const wchar_t* name, DWORD type, const void* data, DWORD size) override;
};

}  // namespace Fundor
