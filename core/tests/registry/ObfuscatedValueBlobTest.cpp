#include "core/registry/Md5Digest.h"
#include "core/registry/ObfuscatedValueBlob.h"
#include "core/tests/registry/RegistryTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace Fundor {
namespace {

using testing::FromHex;
using testing::Hex;
using testing::kDwordOneRecordHex;

// Recomputes the digest of a record whose header was changed on purpose.
void Reseal(std::vector<std::uint8_t>& record)
{
    std::memset(record.data() + 16, 0, 16);
    std::uint8_t digest[16];
    ASSERT_EQ(0, Md5Digest(record.data(), record.size(), digest, 16));
    std::memcpy(record.data() + 16, digest, 16);
}

LONG Decode(const std::vector<std::uint8_t>& record, DWORD* type, void* data, DWORD* size)
{
    return DecodeObfuscatedValue(record.data(), static_cast<DWORD>(record.size()), type, data, size);
}

TEST(ObfuscatedValueBlob, EncodesTheReferenceRecordAndRefusesShortRoomAndEmptyData)
{
    const DWORD one = 1;
    std::vector<std::uint8_t> record(36, 0xCC);
    ASSERT_EQ(0, EncodeObfuscatedValue(&one, 4, REG_DWORD, record.data(), 36));
    EXPECT_EQ(kDwordOneRecordHex, Hex(record.data(), record.size()));

    std::vector<std::uint8_t> untouched(36, 0xCC);
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, EncodeObfuscatedValue(&one, 4, REG_DWORD, untouched.data(), 35));
    EXPECT_EQ(std::vector<std::uint8_t>(36, 0xCC), untouched);
    EXPECT_EQ(6000, EncodeObfuscatedValue(&one, 0, REG_DWORD, untouched.data(), 36));
    EXPECT_EQ(6000, EncodeObfuscatedValue(nullptr, 4, REG_DWORD, untouched.data(), 36));
}

TEST(ObfuscatedValueBlob, DecodingLeavesTheRecordIntactSoASecondPassSucceeds)
{
    const std::vector<std::uint8_t> original = FromHex(kDwordOneRecordHex);
    std::vector<std::uint8_t> record = original;

    // First pass: type and length only.
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(0, Decode(record, &type, nullptr, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(4u, size);
    EXPECT_EQ(original, record);

    // Second pass on the same buffer: the digest is still there.
    DWORD value = 0;
    size = sizeof(value);
    ASSERT_EQ(0, Decode(record, nullptr, &value, &size));
    EXPECT_EQ(1u, value);
    EXPECT_EQ(original, record);

    // Too little room: 234, the needed size, data untouched. Type alone needs no size.
    std::uint8_t small[3] = {7, 7, 7};
    size = sizeof(small);
    EXPECT_EQ(ERROR_MORE_DATA, Decode(record, nullptr, small, &size));
    EXPECT_EQ(4u, size);
    EXPECT_EQ(7, small[0]);
    type = 0;
    EXPECT_EQ(0, Decode(record, &type, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
}

TEST(ObfuscatedValueBlob, RefusesDamagedRecordsButNotAnotherVersion)
{
    const std::vector<std::uint8_t> good = FromHex(kDwordOneRecordHex);
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);

    std::vector<std::uint8_t> shortRecord(good.begin(), good.begin() + 31);
    EXPECT_EQ(ERROR_INVALID_DATA, Decode(shortRecord, &type, &value, &size));

    std::vector<std::uint8_t> flipped = good;
    flipped[33] ^= 0x01;
    EXPECT_EQ(ERROR_INVALID_DATA, Decode(flipped, &type, &value, &size));

    std::vector<std::uint8_t> longer = good;
    longer.push_back(0);
    EXPECT_EQ(ERROR_INVALID_DATA, Decode(longer, &type, &value, &size));
    Reseal(longer);  // a sound digest does not make up for N disagreeing with the length
    EXPECT_EQ(ERROR_INVALID_DATA, Decode(longer, &type, &value, &size));

    std::vector<std::uint8_t> otherMagic = good;
    otherMagic[3] = 'H';
    Reseal(otherMagic);
    EXPECT_EQ(ERROR_INVALID_DATA, Decode(otherMagic, &type, &value, &size));
    EXPECT_EQ(0u, type);
    EXPECT_EQ(0u, value);

    std::vector<std::uint8_t> versionTwo = good;
    versionTwo[4] = 2;
    Reseal(versionTwo);
    ASSERT_EQ(0, Decode(versionTwo, &type, &value, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(1u, value);

    // A sealed record without data: its size can be asked, its data cannot be deciphered.
    std::vector<std::uint8_t> empty(good.begin(), good.begin() + 32);
    std::memset(empty.data() + 8, 0, 4);
    Reseal(empty);
    size = 99;
    EXPECT_EQ(0, Decode(empty, nullptr, nullptr, &size));
    EXPECT_EQ(0u, size);
    size = sizeof(value);
    EXPECT_EQ(6001, Decode(empty, nullptr, &value, &size));
}

}  // namespace
}  // namespace Fundor
