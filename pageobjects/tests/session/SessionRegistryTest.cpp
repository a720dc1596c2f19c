#include "pageobjects/tests/session/SessionTestSupport.h"

#include "core/registry/ObfuscatedRegistry.h"
#include "core/testsupport/RegistryIsolation.h"
#include "pageobjects/objects/SessionRegistryValues.h"

#include <cstring>

namespace {

using namespace SessionTesting;

class SessionRegistry : public Fundor::testing::RegistryIsolatedTest {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override { CoUninitialize(); }

    std::vector<BYTE> Raw(HKEY root, const wchar_t* path, const wchar_t* name, DWORD* type)
    {
        std::vector<BYTE> bytes(4096);
        DWORD size = static_cast<DWORD>(bytes.size());
        const LONG status = RegGetValueW(root, path, name, RRF_RT_ANY | RRF_NOEXPAND, type, bytes.data(), &size);
        bytes.resize(status == ERROR_SUCCESS ? size : 0);
        return bytes;
    }
    long Set(const wchar_t* path, const wchar_t* name, const VARIANT& value, bool enciphered = false)
    {
        Variant p(path), n(name), o = Variant::Bool(enciphered);
        return session.Number(L"KvRegSetValue", {&p.v, &n.v, &value, &o.v});
    }
    Variant Query(const wchar_t* path, const wchar_t* name, bool enciphered = false)
    {
        Variant p(path), n(name), o = Variant::Bool(enciphered), result;
        EXPECT_EQ(S_OK, session.Call(L"kvregqueryvalue", {&p.v, &n.v, &o.v}, &result.v));
        return result;
    }

    Session session;
};

TEST_F(SessionRegistry, PlainValuesRoundTripWithWideNamesAndPaths)
{
    // Text outside any ANSI code page in the key path, the value name and the data.
    const std::wstring path = L"HKCU\\Software\\Ordwell\\\u03A9\u0416\u4E2D";
    const std::wstring name = L"n\u00E4me\u0436";
    Variant text(L"t\u00EAxt \u03A9\u4E2D");
    EXPECT_EQ(0, Set(path.c_str(), name.c_str(), text.v));
    Variant number(-7L);
    EXPECT_EQ(0, Set(L"HKEY_CURRENT_USER\\Software\\Ordwell", L"count", number.v));

    DWORD type = 0;
    const std::vector<BYTE> raw = Raw(HKEY_CURRENT_USER, L"Software\\Ordwell\\\u03A9\u0416\u4E2D", name.c_str(), &type);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    const std::wstring stored(L"t\u00EAxt \u03A9\u4E2D");
    ASSERT_EQ((stored.size() + 1) * sizeof(wchar_t), raw.size());
    EXPECT_EQ(0, memcmp(raw.data(), stored.c_str(), raw.size()));

    Variant back = Query(path.c_str(), name.c_str());
    ASSERT_EQ(VT_BSTR, back.v.vt);
    EXPECT_EQ(stored, back.v.bstrVal);
    Variant dword = Query(L"hkcu\\Software\\Ordwell", L"count");
    ASSERT_EQ(VT_I4, dword.v.vt);
    EXPECT_EQ(-7, dword.v.lVal);
    // A first part that names no root is a path below HKLM.
    EXPECT_EQ(0, Set(L"SOFTWARE\\Tervane\\QRN", L"plain", text.v));
    EXPECT_FALSE(Raw(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN", L"plain", &type).empty());
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
}

TEST_F(SessionRegistry, EncipheredValuesAreRecordsTheSuitesReadersRead)
{
    Variant text(L"secret value");
    EXPECT_EQ(0, Set(L"HKLM\\SOFTWARE\\Tervane\\QRN\\Settings", L"hidden", text.v, true));
    DWORD type = 0;
    const std::vector<BYTE> raw = Raw(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN\\Settings", L"hidden", &type);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    ASSERT_EQ(32u + 13u, raw.size());  // header, then the ANSI text with its terminator
    const BYTE header[] = {0x4B, 0x56, 0x52, 0x47, 0x01, 0x00, 0x00, 0x00, 13, 0, 0, 0, 0x01, 0x00, 0x00, 0x00};
    EXPECT_EQ(0, memcmp(raw.data(), header, sizeof(header)));
    EXPECT_NE(0, memcmp(raw.data() + 32, "secret value", 12));

    // The core library's reader of such records agrees, and so does the page's own read.
    wchar_t plain[64] = {};
    DWORD size = sizeof(plain);
    DWORD plainType = 0;
    ASSERT_EQ(ERROR_SUCCESS, Fundor::ObfuscatedRegQueryValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN\\Settings",
                                                             L"hidden", &plainType, plain, &size,
                                                             Fundor::kObfuscatedValueEnciphered));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), plainType);
    EXPECT_STREQ(L"secret value", plain);
    Variant back = Query(L"HKLM\\SOFTWARE\\Tervane\\QRN\\Settings", L"hidden", true);
    ASSERT_EQ(VT_BSTR, back.v.vt);
    EXPECT_STREQ(L"secret value", back.v.bstrVal);
    // Read plainly it is binary, which a page does not get.
    EXPECT_EQ(VT_EMPTY, Query(L"HKLM\\SOFTWARE\\Tervane\\QRN\\Settings", L"hidden").v.vt);
}

TEST_F(SessionRegistry, ListsSkipEmptyStringsAndBadValuesOrPathsAreRefused)
{
    std::vector<Variant> elements;
    elements.emplace_back(L"first");
    elements.emplace_back(L"");
    elements.emplace_back(L"second");
    Variant list = ArrayOf(std::move(elements));
    EXPECT_EQ(0, Set(L"HKCU\\Software\\Ordwell", L"list", list.v));
    DWORD type = 0;
    const std::vector<BYTE> raw = Raw(HKEY_CURRENT_USER, L"Software\\Ordwell", L"list", &type);
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
    const wchar_t expected[] = L"first\0second\0";  // and the array's own closing zero
    ASSERT_EQ(sizeof(expected), raw.size());
    EXPECT_EQ(0, memcmp(raw.data(), expected, sizeof(expected)));
    Variant back = Query(L"HKCU\\Software\\Ordwell", L"list");
    EXPECT_EQ((std::vector<std::wstring>{L"first", L"second"}), StringsOf(back.v));

    // Nothing to store: only empty strings, a number in a SAFEARRAY, an unsupported type.
    std::vector<Variant> empties;
    empties.emplace_back(L"");
    Variant onlyEmpty = ArrayOf(std::move(empties));
    EXPECT_EQ(87, Set(L"HKCU\\Software\\Ordwell", L"empty", onlyEmpty.v));
    std::vector<Variant> mixed;
    mixed.emplace_back(L"a");
    mixed.emplace_back(3L);
    Variant withNumber = ArrayOf(std::move(mixed));
    EXPECT_EQ(87, Set(L"HKCU\\Software\\Ordwell", L"mixed", withNumber.v));
    Variant flag = Variant::Bool(true);
    EXPECT_EQ(87, Set(L"HKCU\\Software\\Ordwell", L"flag", flag.v));
    EXPECT_TRUE(Raw(HKEY_CURRENT_USER, L"Software\\Ordwell", L"empty", &type).empty());
    EXPECT_TRUE(Raw(HKEY_CURRENT_USER, L"Software\\Ordwell", L"mixed", &type).empty());

    // A path without a subkey, and one whose subkey would not fit, are bad paths: nothing is
    // written to a shorter key.
    Variant text(L"x");
    EXPECT_EQ(-2147024809, Set(L"HKCU", L"v", text.v));
    std::wstring longSubkey = L"Software";
    while (longSubkey.size() < 300) longSubkey += L"\\segment";
    EXPECT_EQ(-2147024809, Set((L"HKCU\\" + longSubkey).c_str(), L"v", text.v));
    HKEY shorter = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExW(HKEY_CURRENT_USER, longSubkey.substr(0, 259).c_str(), 0, KEY_READ,
                                                  &shorter));
    EXPECT_EQ(VT_EMPTY, Query(L"HKCU", L"v").v.vt);
    Variant old(5L);
    EXPECT_EQ(E_POINTER, session.typed->KvRegQueryValue(nullptr, nullptr, VARIANT_FALSE, nullptr));
    EXPECT_EQ(S_OK, session.typed->KvRegQueryValue(nullptr, nullptr, VARIANT_FALSE, &old.v));
    EXPECT_EQ(VT_EMPTY, old.v.vt);
}

TEST(SessionRegistryData, StringWalksStayWithinTheDataRead)
{
    // Data as another program may leave it: no terminators at all. A byte past the data
    // holds text that must not appear.
    const wchar_t block[] = {L'a', L'b', L'\0', L'c', L'd', L'X', L'Y', L'\0'};
    const auto* bytes = reinterpret_cast<const BYTE*>(block);
    Variant single;
    ASSERT_EQ(S_OK, RegistryDataToVariant(REG_SZ, bytes + 6, 4, &single.v));  // "cd", no zero
    ASSERT_EQ(VT_BSTR, single.v.vt);
    EXPECT_STREQ(L"cd", single.v.bstrVal);
    Variant multi;
    ASSERT_EQ(S_OK, RegistryDataToVariant(REG_MULTI_SZ, bytes, 10, &multi.v));  // "ab\0cd", no final zero
    EXPECT_EQ((std::vector<std::wstring>{L"ab", L"cd"}), StringsOf(multi.v));
    Variant stops;
    ASSERT_EQ(S_OK, RegistryDataToVariant(REG_MULTI_SZ, bytes, 5, &stops.v));  // an odd byte count
    EXPECT_EQ((std::vector<std::wstring>{L"ab"}), StringsOf(stops.v));
    Variant shortDword;
    ASSERT_EQ(S_OK, RegistryDataToVariant(REG_DWORD, bytes, 2, &shortDword.v));
    EXPECT_EQ(VT_EMPTY, shortDword.v.vt);
    Variant binary;
    ASSERT_EQ(S_OK, RegistryDataToVariant(REG_BINARY, bytes, 4, &binary.v));
    EXPECT_EQ(VT_EMPTY, binary.v.vt);
}

}  // namespace
