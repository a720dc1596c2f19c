#include "core/registry/Md5Digest.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

namespace Fundor {
namespace {

struct AlgorithmCloser {
    BCRYPT_ALG_HANDLE handle = nullptr;
    ~AlgorithmCloser()
    {
        if (handle != nullptr) ::BCryptCloseAlgorithmProvider(handle, 0);
    }
};

struct HashCloser {
    BCRYPT_HASH_HANDLE handle = nullptr;
    ~HashCloser()
    {
        if (handle != nullptr) ::BCryptDestroyHash(handle);
    }
};

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

int Md5Digest(const void* data, std::size_t length, std::uint8_t* out, std::size_t outLength)
{
    if (data == nullptr || out == nullptr || length == 0 || outLength != kMd5Length ||
        length > 0xFFFFFFFFu) {
        return -1;
    }
    AlgorithmCloser algorithm;
    if (!Succeeded(::BCryptOpenAlgorithmProvider(&algorithm.handle, BCRYPT_MD5_ALGORITHM, nullptr, 0))) {
        return -1;
    }
    HashCloser hash;
    if (!Succeeded(::BCryptCreateHash(algorithm.handle, &hash.handle, nullptr, 0, nullptr, 0, 0))) {
        return -1;
    }
    // BCryptHashData takes a non-const pointer but does not write through it.
    if (!Succeeded(::BCryptHashData(hash.handle, static_cast<PUCHAR>(const_cast<void*>(data)),
                                    static_cast<ULONG>(length), 0))) {
        return -1;
    }
    std::uint8_t digest[kMd5Length];
    if (!Succeeded(::BCryptFinishHash(hash.handle, digest, kMd5Length, 0))) {
        return -1;
    }
    std::memcpy(out, digest, kMd5Length);
    return 0;
}

int Md5Compare(const void* data, std::size_t length, const std::uint8_t* expected)
{
    if (expected == nullptr) {
        return -1;
    }
    std::uint8_t digest[kMd5Length];
    if (Md5Digest(data, length, digest, kMd5Length) != 0) {
        return -1;
    }
    return std::memcmp(digest, expected, kMd5Length) == 0 ? 0 : -1;
}

}  // namespace Fundor
