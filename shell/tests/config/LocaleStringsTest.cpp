#include "core/testsupport/RegistryIsolation.h"
#include "shell/config/ApplicationInfo.h"
#include "shell/config/CKvSARNLocale2.h"
#include "shell/tests/config/ShellConfigTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Fundor::testing::RegistryIsolatedTest;
using shelltest::BinFile;
using shelltest::SetRegistryString;

const std::wstring kQrnKey = std::wstring(kApplicationInfoKey) + L"\\qrn";

class LocaleStringsTest : public RegistryIsolatedTest {
protected:
    // Points application "qrn" at the resource DLLs of folder ("" or "oem\").
    void UseResources(const std::wstring& folder)
    {
        SetRegistryString(HKEY_LOCAL_MACHINE, kQrnKey, L"ResDll", BinFile(L"resources\\locale\\" + folder + L"qrnres.dll"));
        SetRegistryString(HKEY_LOCAL_MACHINE, kQrnKey, L"UIDll", BinFile(L"resources\\locale\\" + folder + L"qrnui.dll"));
    }

    std::wstring Load(UINT id, const wchar_t* tokens = nullptr, std::initializer_list<const wchar_t*> texts = {})
    {
        wchar_t buffer[512];
        m_code = m_locale.LoadResString(id, buffer, 512, tokens, texts.begin(), texts.size());
        return buffer;
    }

    std::wstring LoadPkg(DWORD package, DWORD id)
    {
        wchar_t buffer[512];
        m_code = m_locale.LoadPkgString(package, id, buffer, 512);
        return buffer;
    }

    CKvSARNLocale2 m_locale;
    DWORD m_code = 0;
};

TEST_F(LocaleStringsTest, TokensAreReplacedFromACountedList)
{
    UseResources(L"");
    ASSERT_EQ(0u, m_locale.Initialize(nullptr, 0));
    EXPECT_FALSE(m_locale.HasOemResourceDll());
    EXPECT_EQ(L"Tervane", Load(35030));
    EXPECT_EQ(0u, m_code);

    EXPECT_EQ(L"Welcome to Ordwell, Ann. Ordwell keeps you safe.", Load(40001, L"%PRODUCT%,%USER%", {L"Ordwell", L"Ann"}));
    EXPECT_EQ(0u, m_code);
    // A token's own replacement is not searched again for that token.
    EXPECT_EQ(L"Welcome to Ordwell, %USER%%USER%. Ordwell keeps you safe.",
              Load(40001, L"%PRODUCT%,%USER%", {L"Ordwell", L"%USER%%USER%"}));
    EXPECT_EQ(L"", Load(40001, L"%PRODUCT%,%USER%", {L"Ordwell"}));
    EXPECT_EQ(13u, m_code);
    EXPECT_EQ(L"", Load(40001, L"%PRODUCT%", {L"a", L"b"}));
    EXPECT_EQ(13u, m_code);
    EXPECT_EQ(L"", Load(40001, L"%PRODUCT%,%USER", {L"a", L"b"}));
    EXPECT_EQ(13u, m_code);
    // A single '%' is no token list at all.
    EXPECT_EQ(L"Welcome to %PRODUCT%, %USER%. %PRODUCT% keeps you safe.", Load(40001, L"%PRODUCT", {}));
    EXPECT_EQ(0u, m_code);
    // The company token with one blank is removed.
    EXPECT_EQ(L" Ordwell", Load(40002, L"%COMPANY_NAME_NEUTRAL%,%PRODUCT%", {L" ", L"Ordwell"}));
    EXPECT_EQ(L"Tervane Ordwell", Load(40002, L"%COMPANY_NAME_NEUTRAL%,%PRODUCT%", {L"Tervane", L"Ordwell"}));

    wchar_t small[7];
    EXPECT_EQ(122u, m_locale.LoadResString(35030, small, 7));
    EXPECT_EQ(L'\0', small[0]);
    EXPECT_EQ(0u, m_locale.LoadResString(35030, small, 8));
    EXPECT_STREQ(L"Tervane", small);
    EXPECT_EQ(L"", Load(39999));
    EXPECT_EQ(1168u, m_code);
}

TEST_F(LocaleStringsTest, PackageStringsUseTheBaseAndFallBackToThePlainId)
{
    UseResources(L"");
    ASSERT_EQ(0u, m_locale.Initialize(nullptr, 0));
    EXPECT_EQ(L"Tervane Ordwell", LoadPkg(0, 86094));  // string 20558, company name filled in
    EXPECT_EQ(0u, m_code);
    EXPECT_EQ(L"Ordwell Premier", LoadPkg(5, 86094));  // base 1000 + 1
    EXPECT_EQ(L"Tervane Ordwell", LoadPkg(6, 86094));  // 2001 does not exist
    EXPECT_EQ(0u, m_code);
    EXPECT_EQ(L"Tervane Ordwell", LoadPkg(99, 86094));  // no base string
    EXPECT_EQ(L"", LoadPkg(7, 86094));                   // 65535 + 1 is no string number
    EXPECT_EQ(13u, m_code);
    EXPECT_EQ(L"Ordwell", LoadPkg(5, 30001));            // a plain id ignores the package

    wchar_t buffer[64];
    const wchar_t* const blank[] = {L" "};
    EXPECT_EQ(0u, m_locale.LoadPkgString(0, 40002, buffer, 64, L"%PRODUCT%", blank, 1));
    EXPECT_STREQ(L"Tervane  ", buffer);
    EXPECT_EQ(122u, m_locale.LoadPkgString(0, 86094, buffer, 15));
    EXPECT_EQ(0u, m_locale.LoadPkgString(0, 86094, buffer, 16));
}

TEST_F(LocaleStringsTest, OemDllsInTheUiLanguageFolderTakePrecedence)
{
    UseResources(L"oem\\");
    ASSERT_EQ(0u, m_locale.Initialize(nullptr, 0));
    EXPECT_TRUE(m_locale.HasOemResourceDll());
    EXPECT_TRUE(m_locale.HasOemUiDll());
    EXPECT_EQ(L"Oemco", Load(35030));
    EXPECT_EQ(L"Oemco welcomes Ann to Ordwell.", Load(40001, L"%PRODUCT%,%USER%", {L"Ordwell", L"Ann"}));
    EXPECT_EQ(L"Ordwell", Load(30001));                 // not in the OEM DLL
    EXPECT_EQ(L"Oemco Ordwell", LoadPkg(0, 86094));     // product name with the OEM company

    DWORD error = 0;
    const HANDLE oemIcon = m_locale.LoadImage(MAKEINTRESOURCEW(100), IMAGE_ICON, 0, 0, 0, &error);
    ASSERT_NE(nullptr, oemIcon);
    ICONINFO info = {};
    ASSERT_TRUE(::GetIconInfo(static_cast<HICON>(oemIcon), &info));
    BITMAP bitmap = {};
    ::GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    EXPECT_EQ(48, bitmap.bmWidth);
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
    ::DestroyIcon(static_cast<HICON>(oemIcon));

    // Another UI language has no OEM folder here.
    shelltest::SetMappedLanguage(1036);
    ASSERT_EQ(0u, m_locale.Initialize(nullptr, 0));
    EXPECT_FALSE(m_locale.HasOemResourceDll());
    EXPECT_EQ(L"Tervane", Load(35030));
}

TEST_F(LocaleStringsTest, ImagesComeFromTheUiDll)
{
    UseResources(L"");
    ASSERT_EQ(0u, m_locale.Initialize(nullptr, 0));
    DWORD error = 0;
    const HANDLE icon = m_locale.LoadImage(MAKEINTRESOURCEW(100), IMAGE_ICON, 0, 0, 0, &error);
    ASSERT_NE(nullptr, icon);
    ICONINFO info = {};
    ASSERT_TRUE(::GetIconInfo(static_cast<HICON>(icon), &info));
    BITMAP bitmap = {};
    ::GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    EXPECT_EQ(16, bitmap.bmWidth);
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
    ::DestroyIcon(static_cast<HICON>(icon));

    EXPECT_EQ(nullptr, m_locale.LoadImage(MAKEINTRESOURCEW(999), IMAGE_ICON, 0, 0, 0, &error));
    EXPECT_NE(0u, error);
}

TEST_F(LocaleStringsTest, InitializeAndLoadFailures)
{
    wchar_t buffer[64];
    EXPECT_EQ(575u, m_locale.LoadResString(35030, buffer, 64));
    EXPECT_EQ(2u, m_locale.Initialize(nullptr, 0));  // no application info
    EXPECT_FALSE(m_locale.IsInitialized());
    UseResources(L"");
    EXPECT_EQ(3u, m_locale.Initialize(L"qrnres.dll", 0));
    EXPECT_EQ(87u, m_locale.LoadResString(35030, nullptr, 64));

    // An explicit path serves both DLLs.
    const std::wstring resources = BinFile(L"resources\\locale\\qrnres.dll");
    ASSERT_EQ(0u, m_locale.Initialize(resources.c_str(), 1));
    EXPECT_EQ(resources, m_locale.UiDllPath());
    EXPECT_EQ(0u, m_locale.LoadResString(35030, buffer, 64));
    EXPECT_STREQ(L"Tervane", buffer);

    ASSERT_EQ(0u, m_locale.Initialize(nullptr, 2));
    EXPECT_EQ(50u, m_locale.LoadResString(35030, buffer, 64));

    SetRegistryString(HKEY_LOCAL_MACHINE, kQrnKey, L"ResDll", BinFile(L"resources\\locale\\missing.dll"));
    ASSERT_EQ(0u, m_locale.Initialize(nullptr, 0));
    EXPECT_EQ(126u, m_locale.LoadResString(35030, buffer, 64));
}

TEST_F(LocaleStringsTest, ApplicationInfoValuesAreBoundedAndTerminated)
{
    SetRegistryString(HKEY_LOCAL_MACHINE, kQrnKey, L"HelpFile", L"C:\\help\\qrn.chm");
    SetRegistryString(HKEY_LOCAL_MACHINE, kQrnKey, L"UIDll", L"0123456789");
    SetRegistryString(HKEY_LOCAL_MACHINE, kQrnKey, L"ResDll", L"1", REG_MULTI_SZ);
    wchar_t buffer[64];
    EXPECT_EQ(0u, GetApplicationInfoValue(L"qrn", buffer, 64, kApplicationInfoHelpFile));
    EXPECT_STREQ(L"C:\\help\\qrn.chm", buffer);
    EXPECT_EQ(0u, GetApplicationInfoValue(L"qrn", buffer, 11, 7));  // any other number: "UIDll"
    EXPECT_STREQ(L"0123456789", buffer);
    EXPECT_NE(0u, GetApplicationInfoValue(L"qrn", buffer, 10, kApplicationInfoUIDll));
    EXPECT_EQ(L'\0', buffer[0]);
    EXPECT_EQ(13u, GetApplicationInfoValue(L"qrn", buffer, 64, kApplicationInfoResDll));
    EXPECT_EQ(2u, GetApplicationInfoValue(L"other", buffer, 64, kApplicationInfoResDll));
    EXPECT_EQ(87u, GetApplicationInfoValue(L"qrn", nullptr, 64, kApplicationInfoResDll));

    // A value stored without its terminator still comes back terminated.
    Fundor::ScopedRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kQrnKey.c_str(), 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                                             key.put()));
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), L"HelpFile", 0, REG_SZ,
                                              reinterpret_cast<const BYTE*>(L"abcdXXXX"), 4 * sizeof(wchar_t)));
    wmemset(buffer, L'#', 64);
    EXPECT_EQ(0u, GetApplicationInfoValue(L"qrn", buffer, 64, kApplicationInfoHelpFile));
    EXPECT_STREQ(L"abcd", buffer);
}

}  // namespace
