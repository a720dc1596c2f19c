#pragma once
// The registry form of an enciphered value ("KVRG" record), stored as one REG_BINARY value:
//
//   offset 0   4 bytes  magic "KVRG"
//   offset 4   u32      version (written as 1, not examined when read)
//   offset 8   u32      N, the number of data bytes after the header
//   offset 12  u32      registry type of the plain data
//   offset 16  16 bytes MD5 of the whole record computed while these 16 bytes are zero
//   offset 32  N bytes  the plain data enciphered (registry key, one round, fresh cipher)
//
// The digest is not keyed, so a decoded record is untrusted input like any registry data.

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace Fundor {

inline constexpr char kObfuscatedValueMagic[4] = {'K', 'V', 'R', 'G'};
inline constexpr std::uint32_t kObfuscatedValueVersion = 1;
inline constexpr DWORD kObfuscatedValueHeaderSize = 32;

// Encodes n bytes of data of the given registry type into out[0 .. n + 32).
// 0; ERROR_INSUFFICIENT_BUFFER when room is below n + 32 (nothing written); ERROR_INVALID_PARAMETER
// when out is null; ERROR_ENCRYPTION_FAILED when the data cannot be enciphered (null data or
// n == 0).
[[nodiscard]] LONG EncodeObfuscatedValue(const void* data, DWORD n, DWORD type, void* out, DWORD room);

// Checks and deciphers a record of length bytes. The record is only read.
// - ERROR_INVALID_DATA when length is below 32, or the digest, the length (must be N + 32) or the
//   magic is wrong; ERROR_INVALID_PARAMETER when record is null; ERROR_OUTOFMEMORY when no scratch
//   copy can be allocated. Outs untouched then.
// - type (optional) receives the plain type.
// - size (optional, in/out): its input is the room of data; it receives N. With data also given:
//   ERROR_MORE_DATA when N exceeds the room (data untouched), ERROR_DECRYPTION_FAILED when
//   deciphering fails (N == 0), else data[0 .. N) holds the plain bytes. Without size nothing is
//   deciphered.
[[nodiscard]] LONG DecodeObfuscatedValue(const void* record, DWORD length, DWORD* type, void* data, DWORD* size);

}  // namespace Fundor
