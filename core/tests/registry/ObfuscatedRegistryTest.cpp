#include "core/registry/CObfuscatedRegKey.h"
#include "core/registry/ObfuscatedRegistry.h"
#include "core/registry/ObfuscatedValueBlob.h"
#include "core/tests/registry/RegistryTestSupport.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace Fundor {
namespace {

using testing::FromHex;
using testing::Hex;
using testing::kDwordOneRecordHex;
using testing::ReadRaw;
using testing::ReadRawA;

class ObfuscatedRegistryTest : public testing::RegistryIsolatedTest {
protected:
    const std::wstring m_path = L"Software\\Tervane\\QRN\\Test";

    // Reads a string value back as the caller sees it.
    std::wstring QueryText(const wchar_t* name, DWORD flags, DWORD* bytes = nullptr, DWORD* type = nullptr)
    {
        wchar_t buffer[128] = {};
        DWORD size = sizeof(buffer);
        DWORD valueType = 0;
        EXPECT_EQ(0, ObfuscatedRegQueryValue(HKEY_CURRENT_USER, m_path.c_str(), name, &valueType, buffer, &size, flags));
        if (bytes != nullptr) *bytes = size;
        if (type != nullptr) *type = valueType;
        return std::wstring(buffer, size / sizeof(wchar_t));
    }

    // Stores a hand-made record as the REG_BINARY value name.
    void StoreRecord(const char* name, const void* plain, DWORD n, DWORD type)
    {
        std::vector<std::uint8_t> record(n + 32);
        ASSERT_EQ(0, EncodeObfuscatedValue(plain, n, type, record.data(), static_cast<DWORD>(record.size())));
        StoreRaw(name, REG_BINARY, record.data(), static_cast<DWORD>(record.size()));
    }

    void StoreRaw(const char* name, DWORD type, const void* data, DWORD size)
    {
        ScopedRegKey key = testing::CreateKey(HKEY_CURRENT_USER, m_path.c_str());
        ASSERT_EQ(0, ::RegSetValueExA(key.get(), name, 0, type, static_cast<const BYTE*>(data), size));
    }
};

TEST_F(ObfuscatedRegistryTest, StoresTheReferenceRecordAndReadsItBack)
{
    const DWORD one = 1;
    ASSERT_EQ(0, ObfuscatedRegSetValue(HKEY_CURRENT_USER, m_path.c_str(), L"Enciphered", REG_DWORD, &one, 4, 1));
    ASSERT_EQ(0, ObfuscatedRegSetValue(HKEY_CURRENT_USER, m_path.c_str(), L"Plain", REG_DWORD, &one, 4, 0));

    ScopedRegKey key = testing::CreateKey(HKEY_CURRENT_USER, m_path.c_str());
    const auto enciphered = ReadRaw(key.get(), L"Enciphered");
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), enciphered.type);
    EXPECT_EQ(kDwordOneRecordHex, Hex(enciphered.bytes.data(), enciphered.bytes.size()));
    const auto plain = ReadRaw(key.get(), L"Plain");
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), plain.type);
    EXPECT_EQ("01000000", Hex(plain.bytes.data(), plain.bytes.size()));

    for (DWORD flags : {0u, 1u}) {
        DWORD type = 0;
        DWORD value = 0;
        DWORD size = sizeof(value);
        ASSERT_EQ(0, ObfuscatedRegQueryValue(HKEY_CURRENT_USER, m_path.c_str(), flags ? L"Enciphered" : L"Plain",
                                             &type, &value, &size, flags));
        EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
        EXPECT_EQ(1u, value);
        EXPECT_EQ(4u, size);
    }
    // The type alone, from the record header.
    DWORD type = 0;
    EXPECT_EQ(0, ObfuscatedRegQueryValue(HKEY_CURRENT_USER, m_path.c_str(), L"Enciphered", &type, nullptr, nullptr, 1));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
}

TEST_F(ObfuscatedRegistryTest, RoundTripsEveryKindOfValueInBothViews)
{
    ScopedRegKey machine = testing::OpenRealMachineRoot();
    ASSERT_TRUE(machine);
    const std::wstring unique = testing::UniqueName(L"OrdwellView");
    const std::wstring path = L"Software\\" + unique;
    const std::wstring redirected = L"Software\\Wow6432Node\\" + unique;
    testing::ViewKeyCleanup cleanup(machine.get(), path);

    const wchar_t text[] = L"C:\\Program Files\\Tervane";
    const wchar_t expandable[] = L"%CommonProgramFiles%\\Tervane";
    const wchar_t list[] = L"first\0second\0";  // with the array's own zero: ends in two zeros
    const std::uint8_t binary[] = {0, 1, 2, 0xFE, 0xFF};
    const ULONGLONG qword = 0x0102030405060708ull;
    struct Case {
        const wchar_t* name;
        DWORD type;
        const void* data;
        DWORD size;
    } cases[] = {
        {L"Text", REG_SZ, text, sizeof(text)},
        {L"Expandable", REG_EXPAND_SZ, expandable, sizeof(expandable)},
        {L"List", REG_MULTI_SZ, list, sizeof(list)},
        {L"Binary", REG_BINARY, binary, sizeof(binary)},
        {L"Qword", REG_QWORD, &qword, sizeof(qword)},
    };
    for (DWORD view : {8u, 16u, 24u}) {
        for (DWORD cipher : {0u, 1u}) {
            const DWORD flags = view | cipher;
            for (const Case& c : cases) {
                const std::wstring name = c.name + std::to_wstring(flags);
                ASSERT_EQ(0, ObfuscatedRegSetValue(machine.get(), path.c_str(), name.c_str(), c.type, c.data, c.size, flags));
                std::uint8_t buffer[128] = {};
                DWORD size = sizeof(buffer);
                DWORD type = 0;
                ASSERT_EQ(0, ObfuscatedRegQueryValue(machine.get(), path.c_str(), name.c_str(), &type, buffer, &size, flags));
                EXPECT_EQ(c.type, type) << "flags " << flags;
                ASSERT_EQ(c.size, size) << "flags " << flags << " type " << c.type;
                EXPECT_EQ(0, std::memcmp(c.data, buffer, size)) << "flags " << flags << " type " << c.type;

                // The value lies in the view asked for, and only there.
                const bool in32 = (flags & 8) != 0;
                ScopedRegKey direct32, direct64;
                ASSERT_EQ(0, ::RegOpenKeyExW(machine.get(), (in32 ? redirected : path).c_str(), 0,
                                             KEY_READ | KEY_WOW64_64KEY, direct32.put()));
                EXPECT_EQ(0, ReadRaw(direct32.get(), name.c_str()).status);
                if (::RegOpenKeyExW(machine.get(), (in32 ? path : redirected).c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                                    direct64.put()) == ERROR_SUCCESS) {
                    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadRaw(direct64.get(), name.c_str()).status);
                }
            }
        }
    }

    // The UTF-8 writer in each view.
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        const bool in32 = view == KEY_WOW64_32KEY;
        const std::wstring name = in32 ? L"Utf8In32" : L"Utf8In64";
        CObfuscatedRegKey key;
        ASSERT_EQ(0, key.Create(machine.get(), path.c_str(), nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | view));
        ASSERT_EQ(0, key.SetStringValue(name.c_str(), L"\u4E16\u754C"));
        std::wstring back;
        ASSERT_EQ(0, key.QueryStringValue(name.c_str(), back));
        EXPECT_EQ(L"\u4E16\u754C", back);
        ScopedRegKey direct, other;
        ASSERT_EQ(0, ::RegOpenKeyExW(machine.get(), (in32 ? redirected : path).c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                                     direct.put()));
        EXPECT_EQ(static_cast<DWORD>(REG_BINARY), ReadRaw(direct.get(), name.c_str()).type);
        ASSERT_EQ(0, ::RegOpenKeyExW(machine.get(), (in32 ? path : redirected).c_str(), 0, KEY_READ | KEY_WOW64_64KEY,
                                     other.put()));
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadRaw(other.get(), name.c_str()).status);
    }
}

TEST_F(ObfuscatedRegistryTest, ReadsTextWithExactShortAndSizeOnlyBuffers)
{
    const wchar_t text[] = L"hello";
    const wchar_t list[] = L"ab\0c\0";
    for (DWORD flags : {0u, 1u}) {
        ASSERT_EQ(0, ObfuscatedRegSetValue(HKEY_CURRENT_USER, m_path.c_str(), L"Text", REG_SZ, text, sizeof(text), flags));
        DWORD type = 0;
        DWORD size = 0;
        ASSERT_EQ(0, ObfuscatedRegQueryValue(HKEY_CURRENT_USER, m_path.c_str(), L"Text", &type, nullptr, &size, flags));
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
        EXPECT_EQ(12u, size);

        wchar_t exact[6] = {L'x', L'x', L'x', L'x', L'x', L'x'};
        size = sizeof(exact);
        ASSERT_EQ(0, ObfuscatedRegQueryValue(HKEY_CURRENT_USER, m_path.c_str(), L"Text", nullptr, exact, &size, flags));
        EXPECT_EQ(12u, size);
        EXPECT_STREQ(L"hello", exact);

        wchar_t shortBuffer[5] = {};
        size = sizeof(shortBuffer);
        EXPECT_EQ(ERROR_MORE_DATA,
                  ObfuscatedRegQueryValue(HKEY_CURRENT_USER, m_path.c_str(), L"Text", &type, shortBuffer, &size, flags));
        EXPECT_EQ(12u, size);

        ASSERT_EQ(0, ObfuscatedRegSetValue(HKEY_CURRENT_USER, m_path.c_str(), L"List", REG_MULTI_SZ, list, sizeof(list), flags));
        DWORD bytes = 0;
        EXPECT_EQ(std::wstring(L"ab\0c\0\0", 6), QueryText(L"List", flags, &bytes, &type));
        EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
        EXPECT_EQ(12u, bytes);

        // The stored ANSI form: one terminator per string and one after the list.
        ScopedRegKey key = testing::CreateKey(HKEY_CURRENT_USER, m_path.c_str());
        const auto stored = ReadRawA(key.get(), "List");
        std::vector<std::uint8_t> ansi = stored.bytes;
        if (flags != 0) {
            DWORD n = static_cast<DWORD>(ansi.size());
            ASSERT_EQ(0, DecodeObfuscatedValue(stored.bytes.data(), static_cast<DWORD>(stored.bytes.size()), nullptr,
                                               ansi.data(), &n));
            ansi.resize(n);
        }
        EXPECT_EQ("616200630000", Hex(ansi.data(), ansi.size())) << "flags " << flags;
    }
}

TEST_F(ObfuscatedRegistryTest, StringDataIsBoundedByItsSizeAndAlwaysTerminated)
{
    // Written without a terminator, or with more text than the size covers: the size wins.
    const wchar_t text[] = L"abcdef";
    for (DWORD flags : {0u, 1u}) {
        ASSERT_EQ(0, ObfuscatedRegSetValue(HKEY_CURRENT_USER, m_path.c_str(), L"Cut", REG_SZ, text, 6, flags));
        DWORD bytes = 0;
        EXPECT_EQ(std::wstring(L"abc\0", 4), QueryText(L"Cut", flags, &bytes));
        EXPECT_EQ(8u, bytes);
        ASSERT_EQ(0, ObfuscatedRegSetValue(HKEY_CURRENT_USER, m_path.c_str(), L"CutList", REG_MULTI_SZ, L"ab\0cd\0", 8, flags));
        EXPECT_EQ(std::wstring(L"ab\0c\0\0", 6), QueryText(L"CutList", flags));
    }

    // Records whose text lacks its terminators (the digest is not keyed: anyone can make one).
    StoreRecord("Open", "abc", 3, REG_SZ);
    DWORD bytes = 0;
    EXPECT_EQ(std::wstring(L"abc\0", 4), QueryText(L"Open", 1, &bytes));
    EXPECT_EQ(8u, bytes);
    StoreRecord("OpenList", "a\0bc", 4, REG_MULTI_SZ);
    EXPECT_EQ(std::wstring(L"a\0bc\0\0", 6), QueryText(L"OpenList", 1));
    StoreRecord("Trailing", "ab\0junk", 7, REG_EXPAND_SZ);
    DWORD type = 0;
    EXPECT_EQ(std::wstring(L"ab\0", 3), QueryText(L"Trailing", 1, &bytes, &type));
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), type);

    // A plain ANSI value without a terminator.
    StoreRaw("Raw", REG_SZ, "xyz", 3);
    EXPECT_EQ(std::wstring(L"xyz\0", 4), QueryText(L"Raw", 0));

    // Text in the thread's ANSI code page (1252 here), both plain and inside the record.
    const wchar_t accented[] = L"caf\u00E9";
    ASSERT_EQ(0, ObfuscatedRegSetValue(HKEY_CURRENT_USER, m_path.c_str(), L"Accented", REG_SZ, accented, sizeof(accented), 0));
    ASSERT_EQ(0, ObfuscatedRegSetValue(HKEY_CURRENT_USER, m_path.c_str(), L"AccentedRecord", REG_SZ, accented, sizeof(accented), 1));
    ScopedRegKey key = testing::CreateKey(HKEY_CURRENT_USER, m_path.c_str());
    const auto plain = ReadRawA(key.get(), "Accented");
    EXPECT_EQ("636166E900", Hex(plain.bytes.data(), plain.bytes.size()));
    const auto record = ReadRaw(key.get(), L"AccentedRecord");
    char decoded[8] = {};
    DWORD size = sizeof(decoded);
    ASSERT_EQ(0, DecodeObfuscatedValue(record.bytes.data(), static_cast<DWORD>(record.bytes.size()), nullptr, decoded, &size));
    EXPECT_EQ("636166E900", Hex(decoded, size));
    EXPECT_EQ(std::wstring(accented, 5), QueryText(L"AccentedRecord", 1));
}

TEST_F(ObfuscatedRegistryTest, RefusesMissingArgumentsForeignValuesAndDamagedRecords)
{
    const DWORD one = 1;
    ASSERT_EQ(0, ObfuscatedRegSetValue(HKEY_CURRENT_USER, m_path.c_str(), L"Value", REG_DWORD, &one, 4, 1));
    DWORD value = 0;
    DWORD type = 0;
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              ObfuscatedRegQueryValue(HKEY_CURRENT_USER, m_path.c_str(), L"Value", &type, &value, nullptr, 1));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              ObfuscatedRegQueryValue(HKEY_CURRENT_USER, m_path.c_str(), L"Value", nullptr, &value, nullptr, 1));
    EXPECT_EQ(0u, value);
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              ObfuscatedRegSetValue(HKEY_CURRENT_USER, m_path.c_str(), L"Empty", REG_BINARY, &one, 0, 1));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              ObfuscatedRegSetValue(HKEY_CURRENT_USER, m_path.c_str(), L"Empty", REG_BINARY, nullptr, 4, 1));

    DWORD size = sizeof(value);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              ObfuscatedRegQueryValue(HKEY_CURRENT_USER, m_path.c_str(), L"Missing", &type, &value, &size, 1));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              ObfuscatedRegQueryValue(HKEY_CURRENT_USER, L"Software\\Nowhere", L"Value", &type, &value, &size, 1));

    // A plain value read as enciphered.
    ASSERT_EQ(0, ObfuscatedRegSetValue(HKEY_CURRENT_USER, m_path.c_str(), L"Plain", REG_DWORD, &one, 4, 0));
    EXPECT_EQ(ERROR_INVALID_DATA,
              ObfuscatedRegQueryValue(HKEY_CURRENT_USER, m_path.c_str(), L"Plain", &type, &value, &size, 1));

    const std::vector<std::uint8_t> good = FromHex(kDwordOneRecordHex);
    std::vector<std::uint8_t> flipped = good;
    flipped[35] ^= 0x80;
    StoreRaw("Flipped", REG_BINARY, flipped.data(), static_cast<DWORD>(flipped.size()));
    StoreRaw("Short", REG_BINARY, good.data(), 31);
    for (const wchar_t* name : {L"Flipped", L"Short"}) {
        size = sizeof(value);
        EXPECT_EQ(ERROR_INVALID_DATA, ObfuscatedRegQueryValue(HKEY_CURRENT_USER, m_path.c_str(), name, &type, &value, &size, 1));
    }
    EXPECT_EQ(0u, value);

    // A record larger than the first read still decodes.
    std::vector<std::uint8_t> large(2000);
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(0, ObfuscatedRegSetValue(HKEY_CURRENT_USER, m_path.c_str(), L"Large", REG_BINARY, large.data(),
                                       static_cast<DWORD>(large.size()), 1));
    std::vector<std::uint8_t> back(2000);
    size = static_cast<DWORD>(back.size());
    ASSERT_EQ(0, ObfuscatedRegQueryValue(HKEY_CURRENT_USER, m_path.c_str(), L"Large", &type, back.data(), &size, 1));
    EXPECT_EQ(large, back);
}

TEST_F(ObfuscatedRegistryTest, DeletesValuesAndUsesTheRootAndDefaultValueForEmptyNames)
{
    const DWORD seven = 7;
    ASSERT_EQ(0, ObfuscatedRegSetValue(HKEY_CURRENT_USER, m_path.c_str(), L"Gone", REG_DWORD, &seven, 4, 0));
    EXPECT_EQ(0, ObfuscatedRegDeleteValue(HKEY_CURRENT_USER, m_path.c_str(), L"Gone", 0));
    ScopedRegKey key = testing::CreateKey(HKEY_CURRENT_USER, m_path.c_str());
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadRaw(key.get(), L"Gone").status);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ObfuscatedRegDeleteValue(HKEY_CURRENT_USER, m_path.c_str(), L"Gone", 0));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ObfuscatedRegDeleteValue(HKEY_CURRENT_USER, L"Software\\Nowhere", L"Gone", 0));

    // Null subkey: the given key itself; empty value name: its default value.
    ASSERT_EQ(0, ObfuscatedRegSetValue(key.get(), nullptr, L"", REG_DWORD, &seven, 4, 1));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), ReadRaw(key.get(), nullptr).type);
    DWORD value = 0;
    DWORD size = sizeof(value);
    ASSERT_EQ(0, ObfuscatedRegQueryValue(key.get(), L"", nullptr, nullptr, &value, &size, 1));
    EXPECT_EQ(7u, value);
    EXPECT_EQ(0, ObfuscatedRegDeleteValue(key.get(), nullptr, nullptr, 0));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadRaw(key.get(), nullptr).status);
}

}  // namespace
}  // namespace Fundor
