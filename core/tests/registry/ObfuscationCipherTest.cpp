#include "core/registry/Md5Digest.h"
#include "core/registry/ObfuscationCipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace Fundor {
namespace {

std::string Hex(const std::uint8_t* data, std::size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < n; ++i) {
        text.push_back(digits[data[i] >> 4]);
        text.push_back(digits[data[i] & 15]);
    }
    return text;
}

TEST(Md5Digest, MatchesTheReferenceVectorsAndRefusesBadArguments)
{
    std::uint8_t digest[16] = {};
    ASSERT_EQ(0, Md5Digest("abc", 3, digest, 16));
    EXPECT_EQ("900150983CD24FB0D6963F7D28E17F72", Hex(digest, 16));
    const char* quick = "The quick brown fox jumps over the lazy dog";
    ASSERT_EQ(0, Md5Digest(quick, std::strlen(quick), digest, 16));
    EXPECT_EQ("9E107D9D372BB6826BD81D3542A419D6", Hex(digest, 16));
    EXPECT_EQ(0, Md5Compare(quick, std::strlen(quick), digest));
    digest[15] ^= 1;
    EXPECT_EQ(-1, Md5Compare(quick, std::strlen(quick), digest));

    EXPECT_EQ(-1, Md5Digest(nullptr, 3, digest, 16));
    EXPECT_EQ(-1, Md5Digest("abc", 0, digest, 16));
    EXPECT_EQ(-1, Md5Digest("abc", 3, nullptr, 16));
    EXPECT_EQ(-1, Md5Digest("abc", 3, digest, 15));
}

TEST(ObfuscationCipher, RegistryKeyOneRoundGivesTheKnownBytes)
{
    // Data bytes of the reference REG_DWORD 1 record: 01 00 00 00 under the registry key.
    const std::uint8_t plain[4] = {1, 0, 0, 0};
    std::uint8_t out[4] = {};
    ObfuscationCipher cipher(kRegistryCipherKey, kCipherKeyLength, 1);
    ASSERT_TRUE(cipher.Encipher(plain, out, 4));
    EXPECT_EQ("1859A1C4", Hex(out, 4));
    // The ini key's reference for the DWORD 1.
    ObfuscationCipher iniCipher(kIniCipherKey, kCipherKeyLength, 1);
    ASSERT_TRUE(iniCipher.Encipher(plain, out, 4));
    EXPECT_EQ("93419618", Hex(out, 4));
}

TEST(ObfuscationCipher, RoundTripsForEveryRoundCountAndOnlyUnderTheSameKeyAndRounds)
{
    std::vector<std::uint8_t> plain(300);
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<std::uint8_t>(i * 7 + 3);
    for (int rounds = 1; rounds <= 8; ++rounds) {
        std::vector<std::uint8_t> sealed(plain.size()), opened(plain.size());
        ObfuscationCipher encipher(kRegistryCipherKey, kCipherKeyLength, rounds);
        ASSERT_TRUE(encipher.Encipher(plain.data(), sealed.data(), plain.size()));
        EXPECT_NE(plain, sealed);
        ObfuscationCipher decipher(kRegistryCipherKey, kCipherKeyLength, rounds);
        ASSERT_TRUE(decipher.Decipher(sealed.data(), opened.data(), sealed.size()));
        EXPECT_EQ(plain, opened) << "rounds " << rounds;

        ObfuscationCipher otherKey(kIniCipherKey, kCipherKeyLength, rounds);
        ASSERT_TRUE(otherKey.Decipher(sealed.data(), opened.data(), sealed.size()));
        EXPECT_NE(plain, opened) << "rounds " << rounds;
        ObfuscationCipher otherRounds(kRegistryCipherKey, kCipherKeyLength, rounds + 1);
        ASSERT_TRUE(otherRounds.Decipher(sealed.data(), opened.data(), sealed.size()));
        EXPECT_NE(plain, opened) << "rounds " << rounds;
    }
}

TEST(ObfuscationCipher, WorksInPlaceUsesTheDefaultKeyAndRefusesEmptyInput)
{
    std::uint8_t data[5] = {'h', 'e', 'l', 'l', 'o'};
    ObfuscationCipher sealing(nullptr, 0, 0);
    ASSERT_TRUE(sealing.Encipher(data, data, 5));
    std::uint8_t viaDefault[5] = {'h', 'e', 'l', 'l', 'o'};
    ObfuscationCipher explicitDefault(kDefaultCipherKey, kCipherKeyLength, 1);
    ASSERT_TRUE(explicitDefault.Encipher(viaDefault, viaDefault, 5));
    EXPECT_EQ(0, std::memcmp(data, viaDefault, 5));
    ObfuscationCipher opening(kDefaultCipherKey, -3, 1);
    ASSERT_TRUE(opening.Decipher(data, data, 5));
    EXPECT_EQ(0, std::memcmp(data, "hello", 5));

    ObfuscationCipher cipher(kRegistryCipherKey, kCipherKeyLength, 1);
    std::uint8_t byte = 0;
    EXPECT_FALSE(cipher.Encipher(&byte, &byte, 0));
    EXPECT_FALSE(cipher.Encipher(nullptr, &byte, 1));
    EXPECT_FALSE(cipher.Decipher(&byte, nullptr, 1));
}

}  // namespace
}  // namespace Fundor
