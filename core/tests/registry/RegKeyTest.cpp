#include "core/registry/CObfuscatedRegKey.h"
#include "core/registry/CObfuscatedRegKeyImpl.h"
#include "core/registry/CRegKey.h"
#include "core/registry/ObfuscatedRegistry.h"
#include "core/registry/ObfuscatedValueBlob.h"
#include "core/tests/registry/RegistryTestSupport.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace Fundor {
namespace {

using testing::Hex;
using testing::ReadRaw;

// {4B5E1A27-0C3D-4E8F-9A6B-7C8D9E0F1A2B}
constexpr GUID kSampleGuid = {0x4B5E1A27, 0x0C3D, 0x4E8F, {0x9A, 0x6B, 0x7C, 0x8D, 0x9E, 0x0F, 0x1A, 0x2B}};

// Raw reads answer fixed bytes: data that the registry itself would not hand out.
class FixedValueImpl : public internal::CRegKeyImpl {
public:
    FixedValueImpl(DWORD type, std::vector<std::uint8_t> bytes) : m_type(type), m_bytes(std::move(bytes)) {}

    LONG QueryValue(const wchar_t*, DWORD* type, void* data, DWORD* size) override
    {
        if (type != nullptr) *type = m_type;
        const DWORD room = *size;
        *size = static_cast<DWORD>(m_bytes.size());
        if (data == nullptr) return ERROR_SUCCESS;
        if (m_bytes.size() > room) return ERROR_MORE_DATA;
        std::memcpy(data, m_bytes.data(), m_bytes.size());
        return ERROR_SUCCESS;
    }

private:
    DWORD m_type;
    std::vector<std::uint8_t> m_bytes;
};

class RegKeyTest : public testing::RegistryIsolatedTest {
protected:
    static constexpr const wchar_t* kPath = L"Software\\Tervane\\Keys";

    ScopedRegKey RawKey() { return testing::CreateKey(HKEY_CURRENT_USER, kPath); }
};

TEST_F(RegKeyTest, TypedValuesRoundTripThroughPlainAndObfuscatedKeys)
{
    const wchar_t list[] = L"alpha\0beta\0";
    const std::uint8_t binary[] = {9, 8, 7, 0, 6};
    for (bool obfuscated : {false, true}) {
        std::unique_ptr<CRegKey> key = obfuscated ? std::make_unique<CObfuscatedRegKey>() : std::make_unique<CRegKey>();
        ASSERT_EQ(0, key->Create(HKEY_CURRENT_USER, kPath));
        ASSERT_EQ(0, key->SetDWORDValue(L"Dword", 0xA1B2C3D4));
        ASSERT_EQ(0, key->SetQWORDValue(L"Qword", 0x1122334455667788ull));
        ASSERT_EQ(0, key->SetStringValue(L"Text", L"Tervane QRN"));
        ASSERT_EQ(0, key->SetStringValue(L"Expand", L"%TEMP%\\qrn", REG_EXPAND_SZ));
        ASSERT_EQ(0, key->SetMultiStringValue(L"List", list));
        ASSERT_EQ(0, key->SetBinaryValue(L"Binary", binary, sizeof(binary)));
        ASSERT_EQ(0, key->SetGUIDValue(L"Guid", kSampleGuid));

        DWORD dword = 0;
        ULONGLONG qword = 0;
        std::wstring text;
        GUID guid = {};
        EXPECT_EQ(0, key->QueryDWORDValue(L"Dword", dword));
        EXPECT_EQ(0xA1B2C3D4u, dword);
        EXPECT_EQ(0, key->QueryQWORDValue(L"Qword", qword));
        EXPECT_EQ(0x1122334455667788ull, qword);
        EXPECT_EQ(0, key->QueryStringValue(L"Text", text));
        EXPECT_EQ(L"Tervane QRN", text);
        EXPECT_EQ(0, key->QueryStringValue(L"Expand", text));
        EXPECT_EQ(L"%TEMP%\\qrn", text);
        wchar_t listBack[32] = {};
        DWORD characters = 32;
        EXPECT_EQ(0, key->QueryMultiStringValue(L"List", listBack, &characters));
        EXPECT_EQ(12u, characters);
        EXPECT_EQ(0, std::memcmp(list, listBack, sizeof(list)));
        std::uint8_t binaryBack[8] = {};
        DWORD size = sizeof(binaryBack);
        EXPECT_EQ(0, key->QueryBinaryValue(L"Binary", binaryBack, &size));
        EXPECT_EQ(Hex(binary, sizeof(binary)), Hex(binaryBack, size));
        EXPECT_EQ(0, key->QueryGUIDValue(L"Guid", guid));
        EXPECT_TRUE(IsEqualGUID(kSampleGuid, guid));
        EXPECT_EQ(0, key->QueryStringValue(L"Guid", text));
        EXPECT_EQ(L"{4B5E1A27-0C3D-4E8F-9A6B-7C8D9E0F1A2B}", text);

        // Typed reads check the (decoded) type.
        EXPECT_EQ(ERROR_INVALID_DATA, key->QueryDWORDValue(L"Text", dword));
        EXPECT_EQ(ERROR_INVALID_DATA, key->QueryQWORDValue(L"Dword", qword));
        EXPECT_EQ(ERROR_INVALID_DATA, key->QueryStringValue(L"Dword", text));
        EXPECT_EQ(ERROR_INVALID_DATA, key->QueryGUIDValue(L"Text", guid));
        EXPECT_TRUE(IsEqualGUID(GUID{}, guid));
        size = sizeof(binaryBack);
        EXPECT_EQ(ERROR_INVALID_DATA, key->QueryBinaryValue(L"Dword", binaryBack, &size));
        characters = 32;
        EXPECT_EQ(ERROR_INVALID_DATA, key->QueryMultiStringValue(L"Text", listBack, &characters));
        characters = 1;
        EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, key->QueryMultiStringValue(L"List", listBack, &characters));
        EXPECT_EQ(0xA1B2C3D4u, dword);

        // What the registry holds: the plain type, or a record.
        ScopedRegKey raw = RawKey();
        const auto stored = ReadRaw(raw.get(), L"Dword");
        if (obfuscated) {
            EXPECT_EQ(static_cast<DWORD>(REG_BINARY), stored.type);
            EXPECT_EQ("4B565247", Hex(stored.bytes.data(), 4));
        } else {
            EXPECT_EQ(static_cast<DWORD>(REG_DWORD), stored.type);
            EXPECT_EQ("D4C3B2A1", Hex(stored.bytes.data(), stored.bytes.size()));
        }
        key->Close();
        ASSERT_EQ(ERROR_SUCCESS, ::RegDeleteTreeW(HKEY_CURRENT_USER, kPath));
    }
}

TEST_F(RegKeyTest, ObfuscatedKeyReadsTheAnsiWritersDwordAndKeepsNonAnsiTextAsUtf8)
{
    const DWORD one = 1;
    ASSERT_EQ(0, ObfuscatedRegSetValue(HKEY_CURRENT_USER, kPath, L"FromFunctions", REG_DWORD, &one, 4, 1));
    CObfuscatedRegKey key;
    ASSERT_EQ(0, key.Open(HKEY_CURRENT_USER, kPath, KEY_ALL_ACCESS));
    DWORD value = 0;
    ASSERT_EQ(0, key.QueryDWORDValue(L"FromFunctions", value));
    EXPECT_EQ(1u, value);
    ASSERT_EQ(0, key.SetDWORDValue(L"FromKey", 1));
    ScopedRegKey raw = RawKey();
    const auto record = ReadRaw(raw.get(), L"FromKey");
    EXPECT_EQ(testing::kDwordOneRecordHex, Hex(record.bytes.data(), record.bytes.size()));

    // Text outside code page 1252 survives the round trip and is UTF-8 inside the record.
    const wchar_t text[] = L"\u041F\u0440\u0438\u0432\u0435\u0442 \u4E16\u754C \u20AC";
    ASSERT_EQ(0, key.SetStringValue(L"World", text));
    std::wstring back;
    ASSERT_EQ(0, key.QueryStringValue(L"World", back));
    EXPECT_EQ(text, back);
    const auto stored = ReadRaw(raw.get(), L"World");
    char decoded[64] = {};
    DWORD size = sizeof(decoded);
    ASSERT_EQ(0, DecodeObfuscatedValue(stored.bytes.data(), static_cast<DWORD>(stored.bytes.size()), nullptr, decoded, &size));
    EXPECT_EQ(std::string("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82 \xE4\xB8\x96\xE7\x95\x8C \xE2\x82\xAC") + '\0',
              std::string(decoded, size));

    const wchar_t list[] = L"\u4E16\0\u20AC\u041F\0";
    ASSERT_EQ(0, key.SetMultiStringValue(L"WorldList", list));
    wchar_t listBack[8] = {};
    DWORD characters = 8;
    ASSERT_EQ(0, key.QueryMultiStringValue(L"WorldList", listBack, &characters));
    EXPECT_EQ(6u, characters);
    EXPECT_EQ(0, std::memcmp(list, listBack, sizeof(list)));

    // Raw reads: the second decode of the same record works; a size-only read gives UTF-16 bytes.
    DWORD type = 0;
    DWORD bytes = 0;
    ASSERT_EQ(0, key.QueryValue(L"World", &type, nullptr, &bytes));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(sizeof(text), bytes);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.QueryValue(L"World", nullptr, nullptr, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.QueryValue(L"World", &type, listBack, nullptr));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.SetValue(L"Empty", REG_BINARY, &one, 0));

    // A plain value is not a record.
    ASSERT_EQ(0, ::RegSetValueExW(raw.get(), L"Plain", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4));
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryDWORDValue(L"Plain", value));
}

TEST_F(RegKeyTest, QueryStringValueReportsSizesAndNeverWritesPastTheBuffer)
{
    ScopedRegKey raw = RawKey();
    ASSERT_EQ(0, ::RegSetValueExW(raw.get(), L"Text", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"hello"), 12));
    ASSERT_EQ(0, ::RegSetValueExW(raw.get(), L"Empty", 0, REG_SZ, nullptr, 0));
    ASSERT_EQ(0, ::RegSetValueExW(raw.get(), L"Odd", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"ab"), 5));

    CRegKey key;
    ASSERT_EQ(0, key.Open(HKEY_CURRENT_USER, kPath, KEY_READ));
    DWORD characters = 0;
    EXPECT_EQ(0, key.QueryStringValue(L"Text", nullptr, &characters));
    EXPECT_EQ(6u, characters);
    wchar_t exact[6] = {};
    characters = 6;
    EXPECT_EQ(0, key.QueryStringValue(L"Text", exact, &characters));
    EXPECT_STREQ(L"hello", exact);
    EXPECT_EQ(6u, characters);
    wchar_t shortBuffer[5] = {};
    characters = 5;
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryStringValue(L"Text", shortBuffer, &characters));
    EXPECT_EQ(6u, characters);

    // A zero-byte value is an empty string: never written into a buffer without room.
    wchar_t guarded[2] = {L'#', L'#'};
    characters = 0;
    EXPECT_EQ(ERROR_MORE_DATA, key.QueryStringValue(L"Empty", guarded, &characters));
    EXPECT_EQ(1u, characters);
    EXPECT_EQ(L'#', guarded[0]);
    characters = 1;
    EXPECT_EQ(0, key.QueryStringValue(L"Empty", guarded, &characters));
    EXPECT_EQ(L'\0', guarded[0]);
    EXPECT_EQ(L'#', guarded[1]);
    std::wstring text = L"old";
    EXPECT_EQ(0, key.QueryStringValue(L"Empty", text));
    EXPECT_EQ(L"", text);

    // Malformed plain strings are refused rather than read past their end. (Wine's registry adds
    // a missing terminator itself; the raw read of the fake below does not.)
    wchar_t buffer[8] = {};
    characters = 8;
    EXPECT_EQ(ERROR_INVALID_DATA, key.QueryStringValue(L"Odd", buffer, &characters));
    FixedValueImpl unterminated(REG_SZ, {'a', 0, 'b', 0, 'c', 0});
    ASSERT_EQ(0, unterminated.Open(HKEY_CURRENT_USER, kPath, KEY_READ));
    characters = 8;
    EXPECT_EQ(ERROR_INVALID_DATA, unterminated.QueryStringValue(L"Any", buffer, &characters));
    FixedValueImpl unterminatedList(REG_MULTI_SZ, {'a', 0, 0, 0, 'b', 0});
    ASSERT_EQ(0, unterminatedList.Open(HKEY_CURRENT_USER, kPath, KEY_READ));
    characters = 8;
    EXPECT_EQ(ERROR_INVALID_DATA, unterminatedList.QueryMultiStringValue(L"Any", buffer, &characters));
    FixedValueImpl shortDword(REG_DWORD, {1, 0});
    ASSERT_EQ(0, shortDword.Open(HKEY_CURRENT_USER, kPath, KEY_READ));
    DWORD dword = 7;
    EXPECT_EQ(ERROR_INVALID_DATA, shortDword.QueryDWORDValue(L"Any", dword));
    EXPECT_EQ(7u, dword);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.QueryStringValue(L"Missing", text));

    CRegKey closed;
    characters = 8;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, closed.QueryStringValue(L"Text", buffer, &characters));
    DWORD value = 0;
    EXPECT_EQ(ERROR_INVALID_PARAMETER, closed.QueryDWORDValue(L"Text", value));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, closed.DeleteSubKey(L"x"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, closed.Flush());
}

TEST_F(RegKeyTest, OpenAndCreateReplaceTheKeyOnlyOnSuccess)
{
    CRegKey key;
    DWORD disposition = 0;
    ASSERT_EQ(0, key.Create(HKEY_CURRENT_USER, kPath, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                            &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
    const HKEY first = key.Handle();
    ASSERT_NE(nullptr, first);

    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.Open(HKEY_CURRENT_USER, L"Software\\Nowhere", KEY_READ));
    EXPECT_EQ(first, key.Handle());
    ASSERT_EQ(0, key.SetDWORDValue(L"StillOpen", 5));
    DWORD value = 0;
    EXPECT_EQ(0, key.QueryDWORDValue(L"StillOpen", value));
    EXPECT_EQ(5u, value);

    ASSERT_EQ(0, key.Create(HKEY_CURRENT_USER, kPath, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                            &disposition));
    EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);

    // Detach hands the handle over; Attach takes one.
    HKEY detached = key.Detach();
    EXPECT_EQ(nullptr, key.Handle());
    EXPECT_EQ(ERROR_INVALID_PARAMETER, key.Flush());
    key.Attach(detached);
    EXPECT_EQ(0, key.QueryDWORDValue(L"StillOpen", value));

    // Destroying a CRegKey closes the shared implementation.
    auto shared = std::make_shared<internal::CRegKeyImpl>();
    {
        CRegKey holder(shared);
        ASSERT_EQ(0, holder.Open(HKEY_CURRENT_USER, kPath, KEY_READ));
        EXPECT_NE(nullptr, shared->Handle());
    }
    EXPECT_EQ(nullptr, shared->Handle());

    // Delete-on-close empties the key when it is closed.
    ScopedRegKey child = testing::CreateKey(HKEY_CURRENT_USER, L"Software\\Tervane\\Keys\\Child");
    child.reset();
    ASSERT_EQ(0, key.Open(HKEY_CURRENT_USER, kPath, KEY_ALL_ACCESS));
    key.Close();
    EXPECT_TRUE(testing::KeyExists(HKEY_CURRENT_USER, L"Software\\Tervane\\Keys\\Child"));
    ASSERT_EQ(0, key.Open(HKEY_CURRENT_USER, kPath, KEY_ALL_ACCESS));
    internal::CRegKeyImpl impl;
    ASSERT_EQ(0, impl.Open(HKEY_CURRENT_USER, kPath, KEY_ALL_ACCESS));
    impl.SetDeleteOnClose(true);
    EXPECT_TRUE(impl.GetDeleteOnClose());
    impl.Close();
    EXPECT_FALSE(impl.GetDeleteOnClose());
    EXPECT_FALSE(testing::KeyExists(HKEY_CURRENT_USER, L"Software\\Tervane\\Keys\\Child"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.QueryDWORDValue(L"StillOpen", value));
}

TEST_F(RegKeyTest, CreateInThe32BitViewMakesDeleteSubKeyUseThatView)
{
    ScopedRegKey machine = testing::OpenRealMachineRoot();
    ASSERT_TRUE(machine);
    const std::wstring unique = testing::UniqueName(L"OrdwellDelete");
    const std::wstring path = L"Software\\" + unique;
    const std::wstring twin32 = L"Software\\Wow6432Node\\" + unique;
    testing::ViewKeyCleanup cleanup(machine.get(), path);
    ASSERT_TRUE(testing::CreateKey(machine.get(), path.c_str(), KEY_ALL_ACCESS | KEY_WOW64_32KEY));
    ASSERT_TRUE(testing::CreateKey(machine.get(), path.c_str(), KEY_ALL_ACCESS | KEY_WOW64_64KEY));
    ASSERT_TRUE(testing::KeyExists(machine.get(), twin32.c_str(), KEY_WOW64_64KEY));

    // Keys above the redirected "Software" branch: the view they were created with decides
    // which twin goes.
    CRegKey key32;
    ASSERT_EQ(0, key32.Create(machine.get(), L"", nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | KEY_WOW64_32KEY));
    ASSERT_EQ(0, key32.DeleteSubKey(path.c_str()));
    EXPECT_FALSE(testing::KeyExists(machine.get(), twin32.c_str(), KEY_WOW64_64KEY));
    EXPECT_TRUE(testing::KeyExists(machine.get(), path.c_str(), KEY_WOW64_64KEY));

    CRegKey key64;
    ASSERT_EQ(0, key64.Create(machine.get(), L"", nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | KEY_WOW64_64KEY));
    ASSERT_EQ(0, key64.DeleteSubKey(path.c_str()));
    EXPECT_FALSE(testing::KeyExists(machine.get(), path.c_str(), KEY_WOW64_64KEY));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key32.DeleteSubKey(path.c_str()));
}

TEST_F(RegKeyTest, RecurseDeleteKeyRemovesATreeAndRefusesAnEmptyName)
{
    for (const wchar_t* path : {L"Software\\Tervane\\Keys\\Tree\\a\\b\\c", L"Software\\Tervane\\Keys\\Tree\\d",
                                L"Software\\Tervane\\Keys\\Keep"}) {
        ASSERT_TRUE(testing::CreateKey(HKEY_CURRENT_USER, path));
    }
    ScopedRegKey tree = testing::CreateKey(HKEY_CURRENT_USER, L"Software\\Tervane\\Keys\\Tree\\a");
    const DWORD one = 1;
    ASSERT_EQ(0, ::RegSetValueExW(tree.get(), L"V", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4));
    tree.reset();

    for (bool obfuscated : {false, true}) {
        std::unique_ptr<CRegKey> key = obfuscated ? std::make_unique<CObfuscatedRegKey>() : std::make_unique<CRegKey>();
        ASSERT_EQ(0, key->Open(HKEY_CURRENT_USER, kPath, KEY_ALL_ACCESS));
        // An empty name would name the key itself: nothing is touched.
        EXPECT_EQ(ERROR_INVALID_PARAMETER, key->RecurseDeleteKey(nullptr));
        EXPECT_EQ(ERROR_INVALID_PARAMETER, key->RecurseDeleteKey(L""));
        EXPECT_EQ(ERROR_INVALID_PARAMETER, key->DeleteSubKey(L""));
        EXPECT_EQ(ERROR_INVALID_PARAMETER, key->DeleteValue(nullptr));
        EXPECT_TRUE(testing::KeyExists(HKEY_CURRENT_USER, L"Software\\Tervane\\Keys\\Keep"));
    }
    ASSERT_TRUE(testing::KeyExists(HKEY_CURRENT_USER, L"Software\\Tervane\\Keys\\Tree\\a\\b\\c"));

    CRegKey key;
    ASSERT_EQ(0, key.Open(HKEY_CURRENT_USER, kPath, KEY_ALL_ACCESS));
    EXPECT_EQ(0, key.RecurseDeleteKey(L"Tree"));
    EXPECT_FALSE(testing::KeyExists(HKEY_CURRENT_USER, L"Software\\Tervane\\Keys\\Tree"));
    EXPECT_TRUE(testing::KeyExists(HKEY_CURRENT_USER, L"Software\\Tervane\\Keys\\Keep"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, key.RecurseDeleteKey(L"Tree"));
}

}  // namespace
}  // namespace Fundor
