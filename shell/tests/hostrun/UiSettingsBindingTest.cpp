// The host's production UI settings over the real configuration, locale and Vistrel classes: a real
// "qrnuicfg.dat" read through the configuration component beside the program, the product's
// resource DLLs, and the sibling component's registry state.

#include "access/tests/TrustTestSupport.h"
#include "core/testsupport/RegistryIsolation.h"
#include "shell/host/IHostUiSettings.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

std::wstring BinFile(const wchar_t* relative) { return TrustTesting::ProgramFolder() + L"\\" + relative; }

void SetText(const wchar_t* subkey, const wchar_t* name, const std::wstring& text)
{
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, subkey, name, REG_SZ, text.c_str(),
                                             static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

using UiSettingsBinding = Fundor::testing::RegistryIsolatedTest;

TEST_F(UiSettingsBinding, PageSizesComeFromTheConfigurationFileAndAbsentOnesKeepTheDefaults)
{
    auto settings = CreateDefaultHostUiSettings();
    const std::wstring file = BinFile(L"resources\\hostrun\\qrnuicfg.dat");
    // The test screen is 1024 x 768: the "hires" elements answer.
    HostPageWindowSize size;
    size.position = 2;
    ASSERT_TRUE(settings->ReadPageWindowSize(file.c_str(), L"en-us", L"sarn_ordwell", L"sized.html", &size));
    EXPECT_EQ(640, size.width);
    EXPECT_EQ(480, size.height);
    EXPECT_EQ(4u, size.position);

    // A position without a size: the size stays to be defaulted, the position is taken.
    size = HostPageWindowSize{};
    size.position = 3;
    ASSERT_TRUE(settings->ReadPageWindowSize(file.c_str(), L"en-us", L"sarn_ordwell", L"locked.html", &size));
    EXPECT_EQ(0, size.width);
    EXPECT_EQ(0, size.height);
    EXPECT_EQ(0u, size.position);

    // A page the file does not name keeps the position the host already had.
    size = HostPageWindowSize{};
    size.position = 3;
    ASSERT_TRUE(settings->ReadPageWindowSize(file.c_str(), L"en-us", L"sarn_ordwell", L"other.html", &size));
    EXPECT_EQ(0, size.width);
    EXPECT_EQ(3u, size.position);

    // No file: nothing is read and the host keeps its defaults.
    size = HostPageWindowSize{};
    size.position = 1;
    const std::wstring missing = BinFile(L"resources\\hostrun\\missing\\qrnuicfg.dat");
    EXPECT_FALSE(settings->ReadPageWindowSize(missing.c_str(), L"en-us", L"sarn_ordwell", L"sized.html", &size));
    EXPECT_EQ(0, size.width);
    EXPECT_EQ(1u, size.position);
}

TEST_F(UiSettingsBinding, TitleStringsComeFromTheProductResourceDll)
{
    auto settings = CreateDefaultHostUiSettings();
    wchar_t text[260] = {};
    // Nothing is loaded before the locale is initialised.
    EXPECT_NE(0u, settings->LoadResString(35030, text, 260));

    const wchar_t* const key = L"SOFTWARE\\Tervane\\QRN\\Settings\\ApplicationInfo\\qrn";
    SetText(key, L"ResDll", BinFile(L"resources\\locale\\qrnres.dll"));
    SetText(key, L"UIDll", BinFile(L"resources\\locale\\qrnui.dll"));
    settings->InitializeLocale();
    ASSERT_EQ(0u, settings->LoadResString(35030, text, 260));
    EXPECT_STREQ(L"Tervane", text);
    // The title: string 86094 is 20558 without a package, with the company name put in.
    ASSERT_EQ(0u, settings->LoadPkgString(0, 86094, text, 260, L"Tervane"));
    EXPECT_STREQ(L"Tervane Ordwell", text);
    // A package with a base string: its own text, still with the company name where it has one.
    ASSERT_EQ(0u, settings->LoadPkgString(5, 86094, text, 260, L"Tervane"));
    EXPECT_STREQ(L"Ordwell Premier", text);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), settings->LoadPkgString(0, 86094, text, 8, L"Tervane"));
    EXPECT_NE(nullptr, settings->LoadAppIcon());
    // No MUI DLL here: the mapped language is the built-in one.
    EXPECT_EQ(MAKELCID(1033, SORT_DEFAULT), settings->UiLocale());
}

TEST_F(UiSettingsBinding, SiblingComponentStateComesFromItsRegistryKey)
{
    auto settings = CreateDefaultHostUiSettings();
    EXPECT_FALSE(settings->IsVistrelEnabled());
    SetText(L"SOFTWARE\\Tervane\\Vistrel", L"Install Dir", L"C:\\Vistrel\\");
    EXPECT_TRUE(settings->IsVistrelEnabled());
    const DWORD off = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\Vistrel", L"Enabled_Override", REG_DWORD, &off,
                              sizeof(off)));
    EXPECT_FALSE(settings->IsVistrelEnabled());
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    EXPECT_EQ(L"Vistrel.Window.for.Session." + std::to_wstring(session), settings->CurrentSessionWindowId());
}

}  // namespace
