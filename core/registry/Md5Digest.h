#pragma once
// MD5 (RFC 1321) of a buffer, computed by the platform's cryptography provider.

#include <cstddef>
#include <cstdint>

namespace Fundor {

inline constexpr std::size_t kMd5Length = 16;

// 0 and 16 bytes written to out; -1 when data or out is null, length is 0, outLength is not 16
// or the provider fails (out untouched then).
[[nodiscard]] int Md5Digest(const void* data, std::size_t length, std::uint8_t* out, std::size_t outLength);

// 0 when the digest of data equals the 16 expected bytes, -1 otherwise (also on any failure).
[[nodiscard]] int Md5Compare(const void* data, std::size_t length, const std::uint8_t* expected);

}  // namespace Fundor
