#include "core/registry/ObfuscatedValueBlob.h"

#include "core/registry/Md5Digest.h"
#include "core/registry/ObfuscationCipher.h"

#include <cstring>
#include <memory>
#include <new>

namespace Fundor {
namespace {

constexpr std::size_t kMagicOffset = 0;
constexpr std::size_t kVersionOffset = 4;
constexpr std::size_t kLengthOffset = 8;
constexpr std::size_t kTypeOffset = 12;
constexpr std::size_t kDigestOffset = 16;

void PutU32(std::uint8_t* at, std::uint32_t value)
{
    for (int k = 0; k < 4; ++k) {
        at[k] = static_cast<std::uint8_t>(value >> (8 * k));
    }
}

std::uint32_t GetU32(const std::uint8_t* at)
{
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

}  // namespace

LONG EncodeObfuscatedValue(const void* data, DWORD n, DWORD type, void* out, DWORD room)
{
    if (static_cast<std::uint64_t>(room) < static_cast<std::uint64_t>(n) + kObfuscatedValueHeaderSize) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    if (out == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    auto* record = static_cast<std::uint8_t*>(out);
    ObfuscationCipher cipher(kRegistryCipherKey, kCipherKeyLength, 1);
    if (!cipher.Encipher(static_cast<const std::uint8_t*>(data), record + kObfuscatedValueHeaderSize, n)) {
        return 6000;
    }
    std::memcpy(record + kMagicOffset, kObfuscatedValueMagic, sizeof(kObfuscatedValueMagic));
    PutU32(record + kVersionOffset, kObfuscatedValueVersion);
    PutU32(record + kLengthOffset, n);
    PutU32(record + kTypeOffset, type);
    std::memset(record + kDigestOffset, 0, kMd5Length);
    std::uint8_t digest[kMd5Length];
    if (Md5Digest(record, static_cast<std::size_t>(n) + kObfuscatedValueHeaderSize, digest, kMd5Length) != 0) {
        return 6000;
    }
    std::memcpy(record + kDigestOffset, digest, kMd5Length);
    return ERROR_SUCCESS;
}

LONG DecodeObfuscatedValue(const void* record, DWORD length, DWORD* type, void* data, DWORD* size)
{
    if (length < kObfuscatedValueHeaderSize) {
        return ERROR_INVALID_DATA;
    }
    if (record == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(record);
    // The digest covers the record with its own field zeroed: check a copy so that the caller's
    // record stays intact for a second decode.
    std::unique_ptr<std::uint8_t[]> copy(new (std::nothrow) std::uint8_t[length]);
    if (!copy) {
        return ERROR_OUTOFMEMORY;
    }
    std::memcpy(copy.get(), bytes, length);
    std::memset(copy.get() + kDigestOffset, 0, kMd5Length);
    const std::uint32_t n = GetU32(bytes + kLengthOffset);
    if (Md5Compare(copy.get(), length, bytes + kDigestOffset) != 0 ||
        static_cast<std::uint64_t>(length) != static_cast<std::uint64_t>(n) + kObfuscatedValueHeaderSize ||
        std::memcmp(bytes + kMagicOffset, kObfuscatedValueMagic, sizeof(kObfuscatedValueMagic)) != 0) {
        return ERROR_INVALID_DATA;
    }
    if (type != nullptr) {
        *type = GetU32(bytes + kTypeOffset);
    }
    if (size == nullptr) {
        return ERROR_SUCCESS;
    }
    const DWORD room = *size;
    *size = n;
    if (data == nullptr) {
        return ERROR_SUCCESS;
    }
    if (n > room) {
        return ERROR_MORE_DATA;
    }
    ObfuscationCipher cipher(kRegistryCipherKey, kCipherKeyLength, 1);
    if (!cipher.Decipher(bytes + kObfuscatedValueHeaderSize, static_cast<std::uint8_t*>(data), n)) {
        return 6001;
    }
    return ERROR_SUCCESS;
}

}  // namespace Fundor
