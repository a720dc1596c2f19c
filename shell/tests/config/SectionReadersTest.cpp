#include "core/testsupport/RegistryIsolation.h"
#include "shell/config/CAgentUICfg.h"
#include "shell/tests/config/ShellConfigTestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

using Fundor::testing::RegistryIsolatedTest;
using Fundor::testing::ScratchFolder;

// UI language "de", default "en-us". Elements of a language exist only where a case needs them.
constexpr char kSections[] = R"(<qrnuicfg>
  <htmldialog><help>
    <en-us width="300" height="200" close="1" scroll="0"/>
    <de width="310" height="210" close="0" scroll="1"/>
  </help></htmldialog>
  <sarn_alert>
    <fonts><de>
      <title codepage="1252" point_size="12" face_name="Segoe"/>
      <description codepage="1252" point_size="9" face_name="Desc"/>
      <actiontitle codepage="1252" point_size="10" face_name="ActT"/>
      <action codepage="1250" point_size="11" face_name="Act"/>
    </de></fonts>
    <virus><en-us width="400"/></virus>
    <scan><de width="420" details_height="90"/></scan>
  </sarn_alert>
  <kvdialog><fonts><en-us>
    <title codepage="1252" point_size="14" face_name="DlgTitle"/>
    <dialog codepage="1252" point_size="8" face_name="Dlg"/>
  </en-us></fonts></kvdialog>
  <splash><fonts><de><copyright codepage="1252" point_size="7" face_name="Small" width="90" height="20"/></de></fonts></splash>
  <moren_alert><de><alertparams><alert_1234 width="480"/></alertparams><p2 width="444"/></de></moren_alert>
</qrnuicfg>
)";

class SectionReadersTest : public RegistryIsolatedTest {
protected:
    SectionReadersTest()
    {
        shelltest::SetMappedLanguage(1031);
        m_file = m_scratch.File(L"qrnuicfg.dat");
        shelltest::WriteTextFile(m_file, kSections);
    }

    ScratchFolder m_scratch;
    std::wstring m_file;
};

TEST_F(SectionReadersTest, LanguagePathsPreferTheUiLanguageElementAtTheBase)
{
    CAgentUICfg config;
    ASSERT_EQ(0u, config.Load(m_file.c_str(), L"en-us", 0));
    wchar_t path[CAgentUICfg::kLanguagePathCapacity];
    ASSERT_EQ(0u, config.BuildLanguagePath(L"*/a/b", L"s", path, CAgentUICfg::kLanguagePathCapacity));
    EXPECT_STREQ(L"*/a/b[en-us and not(de)]/en-us/s | */a/b/de/s", path);
    ASSERT_EQ(0u, config.BuildLanguagePath(L"*/a/b", nullptr, path, CAgentUICfg::kLanguagePathCapacity));
    EXPECT_STREQ(L"*/a/b[en-us and not(de)]/en-us | */a/b/de", path);
    ASSERT_EQ(0u, config.SetAlternateLanguage(L"fr"));
    ASSERT_EQ(0u, config.BuildAlternateLanguagePath(L"*/a", L"s", path, CAgentUICfg::kLanguagePathCapacity));
    EXPECT_STREQ(L"*/a[en-us and not(fr)]/en-us/s | */a/fr/s", path);
    wchar_t tag[3];
    EXPECT_EQ(122u, config.GetAlternateLanguage(tag, 2));
    EXPECT_EQ(0u, config.GetAlternateLanguage(tag, 3));
    EXPECT_STREQ(L"fr", tag);
    EXPECT_EQ(122u, config.BuildLanguagePath(std::wstring(600, L'b').c_str(), L"s", path,
                                             CAgentUICfg::kLanguagePathCapacity));
    EXPECT_EQ(L'\0', path[0]);

    shelltest::SetMappedLanguage(1064);  // no row: the default tag alone
    ASSERT_EQ(0u, config.Load(m_file.c_str(), L"en-us", 0));
    ASSERT_EQ(0u, config.BuildLanguagePath(L"*/a/b", L"s", path, CAgentUICfg::kLanguagePathCapacity));
    EXPECT_STREQ(L"*/a/b/en-us/s", path);
    ASSERT_EQ(0u, config.BuildLanguagePath(L"*/a/b", nullptr, path, CAgentUICfg::kLanguagePathCapacity));
    EXPECT_STREQ(L"*/a/b/en-us", path);
}

TEST_F(SectionReadersTest, DialogAlertAndSplashReaders)
{
    CAgentUICfg config;
    DWORD info[4] = {};
    EXPECT_EQ(6u, config.GetHtmlDialogInfo(L"help", info));
    DWORD width = 0;
    DWORD height = 0;
    EXPECT_EQ(13u, config.GetSizeByPath(L"*/x", &width, &height));
    ASSERT_EQ(0u, config.Load(m_file.c_str(), L"en-us", 0));

    EXPECT_EQ(87u, config.GetHtmlDialogInfo(L"", info));
    EXPECT_EQ(0u, config.GetHtmlDialogInfo(L"help", info));
    EXPECT_EQ((std::array<DWORD, 4>{310, 210, 0, 1}), (std::array<DWORD, 4>{info[0], info[1], info[2], info[3]}));

    KvAlertFonts alert = {};
    ASSERT_EQ(0u, config.GetAlertFonts(&alert));
    EXPECT_STREQ(L"Segoe", alert.title->faceName);
    EXPECT_EQ(24u, alert.title->size);
    EXPECT_EQ(1250u, alert.action->codePage);
    EXPECT_EQ(11u, alert.action->pointSize);
    CAgentUICfg::FreeAlertFonts(&alert);
    EXPECT_EQ(nullptr, alert.title);

    KvAlertFontSet set = {};
    ASSERT_EQ(0u, config.GetAlertFontSet(&set));
    EXPECT_EQ(64u, set.size);
    EXPECT_STREQ(L"Desc", set.description->faceName);
    EXPECT_STREQ(L"Arial", set.button->faceName);  // missing: the built-in font
    EXPECT_EQ(9u, set.button->pointSize);
    EXPECT_EQ(10u, set.notificationTitle->pointSize);
    EXPECT_EQ(1252u, set.option->codePage);
    CAgentUICfg::FreeAlertFontSet(&set);

    KvDialogFonts dialog = {};
    ASSERT_EQ(0u, config.GetDialogFonts(&dialog));  // only en-us has them
    EXPECT_STREQ(L"DlgTitle", dialog.title->faceName);
    EXPECT_STREQ(L"Dlg", dialog.dialog->faceName);
    CAgentUICfg::FreeDialogFonts(&dialog);

    EXPECT_EQ(0u, config.GetAlertWidth(L"virus", &width));
    EXPECT_EQ(400u, width);
    DWORD values[2] = {};
    EXPECT_EQ(0u, config.GetAlertWidthAndDetailsHeight(L"scan", values));
    EXPECT_EQ(420u, values[0]);
    EXPECT_EQ(90u, values[1]);

    EXPECT_EQ(0u, config.GetMorenAlertWidth(L"{1234}", 0, &width));
    EXPECT_EQ(480u, width);
    EXPECT_EQ(0u, config.GetMorenAlertWidth(L"{999}", 2, &width));
    EXPECT_EQ(444u, width);
    EXPECT_EQ(0u, config.GetMorenAlertWidth(nullptr, 1, &width));
    EXPECT_EQ(525u, width);

    KvFontRecord font = {};
    EXPECT_EQ(0u, config.GetSplashFont(&font));
    EXPECT_STREQ(L"Small", font.faceName);
    CAgentUICfg::FreeFontRecord(&font);
    EXPECT_NE(0u, config.GetWowScreenFont(&font));
    EXPECT_EQ(nullptr, font.faceName);
    EXPECT_EQ(0u, config.GetSectionFontAndSize(L"splash", L"copyright", &width, &height, &font));
    EXPECT_EQ(90u, width);
    EXPECT_EQ(20u, height);
    CAgentUICfg::FreeFontRecord(&font);

    EXPECT_EQ(0u, config.GetSizeByPath(L"*/sarn_alert/scan/de", &width, &height));
    EXPECT_EQ(420u, width);
    EXPECT_EQ(0u, height);
}

}  // namespace
