#include "core/testsupport/RegistryIsolation.h"
#include "shell/config/CAgentUICfg.h"
#include "shell/tests/config/ShellConfigTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

using Fundor::testing::RegistryIsolatedTest;
using Fundor::testing::ScratchFolder;
using shelltest::BinFile;
using shelltest::SetMappedLanguage;
using shelltest::UiCfgLog;
using shelltest::WriteTextFile;

// en-us is complete; de has a lores font but no lores pages, and hires pages but no hires font.
constexpr char kConfiguration[] = R"(<?xml version="1.0" encoding="utf-8"?>
<qrnuicfg>
  <sarn_ordwell>
    <en-us>
      <hires>
        <font codepage="1252" point_size="9" face_name="Tahoma"/>
        <abouto.html width="640x" height="480" position="2"/>
        <main.html WIDTH="800" Height="600" POSITION="1"/>
        <posonly.html position="5"/>
        <negative.html width="-5" height="300" position="1"/>
        <zero.html width="400" height="0" position="1"/>
      </hires>
      <lores>
        <font codepage="1250" point_size="8" face_name="Verdana"/>
        <abouto.html width="500" height="400" position="3"/>
      </lores>
    </en-us>
    <de>
      <hires>
        <abouto.html width="700" height="500" position="4"/>
        <noposition.html width="710" height="510"/>
      </hires>
      <lores>
        <font codepage="1252" point_size="10" face_name="Arial"/>
      </lores>
    </de>
  </sarn_ordwell>
</qrnuicfg>
)";

KvScreenSize g_screen = {1024, 768};
KvScreenSize FakeScreen() { return g_screen; }

struct Layout {
    DWORD code = 0;
    DWORD width = 0;
    DWORD height = 0;
    DWORD position = 99;
    std::wstring face;
    DWORD pointSize = 0;
    DWORD codePage = 0;
};

Layout Read(CAgentUICfg& config, const wchar_t* page)
{
    Layout layout;
    KvFontRecord font = {};
    layout.code = config.GetOrdwellFontAndDimInfo(page, &layout.width, &layout.height, &layout.position, &font);
    layout.face = font.faceName != nullptr ? font.faceName : L"";
    layout.pointSize = font.pointSize;
    layout.codePage = font.codePage;
    CAgentUICfg::FreeFontRecord(&font);
    EXPECT_EQ(nullptr, font.faceName);
    return layout;
}

class AgentUICfgTest : public RegistryIsolatedTest {
protected:
    AgentUICfgTest() : m_file(m_scratch.File(L"qrnuicfg.dat")), m_log(m_scratch.File(L"kvuicfg.log"))
    {
        WriteTextFile(m_file, kConfiguration);
        g_screen = {1024, 768};
    }

    ScratchFolder m_scratch;
    std::wstring m_file;
    UiCfgLog m_log;
};

TEST_F(AgentUICfgTest, FallbackDllBesideTheProgramServesWhenTheClassIsNotRegistered)
{
    CAgentUICfg config(&FakeScreen);
    ASSERT_EQ(0u, config.Load(m_file.c_str(), L"en-us", 0));
    EXPECT_TRUE(config.IsLoaded());
    EXPECT_TRUE(config.LoadedThroughFallbackDll());
    EXPECT_STREQ(L"en-us", config.UiLanguageTag());
    const Layout layout = Read(config, L"abouto.html");
    EXPECT_EQ(0u, layout.code);
    EXPECT_EQ(640u, layout.width);  // "640x" reads as its leading number
    EXPECT_EQ(480u, layout.height);
    EXPECT_EQ(2u, layout.position);
    EXPECT_EQ(L"Tahoma", layout.face);
    EXPECT_EQ(9u, layout.pointSize);
    EXPECT_EQ(1252u, layout.codePage);

    const auto lines = m_log.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ("DllGetClassObject", lines[0]);
    std::wstring dll = BinFile(L"KvUiCfg.dll");
    const std::string expectedOpen = "open " + std::string(m_file.begin(), m_file.end()) + " by " +
                                     std::string(dll.begin(), dll.end()) + " -> 0x00000000";
    EXPECT_EQ(expectedOpen, lines[1]);
    EXPECT_EQ("select */sarn_ordwell/en-us/hires/font -> 0x00000000", lines[2]);

    config.Close();
    EXPECT_FALSE(config.IsLoaded());
    EXPECT_FALSE(config.LoadedThroughFallbackDll());
    EXPECT_EQ(nullptr, config.UiLanguageTag());
}

TEST_F(AgentUICfgTest, LoadRefusesBadArgumentsAndFilesThatDoNotOpen)
{
    CAgentUICfg config(&FakeScreen);
    EXPECT_EQ(87u, config.Load(nullptr, L"en-us", 0));
    EXPECT_EQ(87u, config.Load(m_file.c_str(), L"", 0));
    EXPECT_EQ(87u, config.Load(m_file.c_str(), nullptr, 0));
    // An empty path goes to the component, which opens nothing.
    EXPECT_EQ(5u, config.Load(L"", L"en-us", 0));
    const auto lines = m_log.Lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [](const std::string& line) { return line.rfind("open  by ", 0) == 0; }));
    EXPECT_EQ(5u, config.Load(m_scratch.File(L"missing.dat").c_str(), L"en-us", 0));
    EXPECT_FALSE(config.IsLoaded());
    DWORD width = 0;
    DWORD height = 0;
    KvFontRecord font = {};
    EXPECT_EQ(6u, config.GetOrdwellFontAndDimInfo(L"abouto.html", &width, &height, nullptr, &font));
    EXPECT_EQ(87u, config.GetOrdwellFontAndDimInfo(nullptr, &width, &height, nullptr, &font));

    // A second load of a loaded object starts over.
    ASSERT_EQ(0u, config.Load(m_file.c_str(), L"en-us", 0));
    ASSERT_EQ(0u, config.Load(m_file.c_str(), L"en-us", 0));
    EXPECT_EQ(800u, Read(config, L"main.html").width);
}

TEST_F(AgentUICfgTest, ScreenClassFollowsTheScreenSize)
{
    CAgentUICfg config(&FakeScreen);
    ASSERT_EQ(0u, config.Load(m_file.c_str(), L"en-us", 0));
    const struct {
        KvScreenSize screen;
        DWORD width;
        const wchar_t* face;
    } cases[] = {{{1024, 768}, 640, L"Tahoma"},
                 {{1920, 1080}, 640, L"Tahoma"},
                 {{1023, 768}, 500, L"Verdana"},
                 {{1024, 767}, 500, L"Verdana"},
                 {{640, 480}, 500, L"Verdana"}};
    for (const auto& c : cases) {
        g_screen = c.screen;
        const Layout layout = Read(config, L"abouto.html");
        EXPECT_EQ(0u, layout.code) << c.screen.cx << "x" << c.screen.cy;
        EXPECT_EQ(c.width, layout.width) << c.screen.cx << "x" << c.screen.cy;
        EXPECT_EQ(c.face, layout.face) << c.screen.cx << "x" << c.screen.cy;
    }
}

TEST_F(AgentUICfgTest, MissingLanguageElementsFallBackToTheDefaultLanguageSeparately)
{
    SetMappedLanguage(1031);
    CAgentUICfg config(&FakeScreen);
    ASSERT_EQ(0u, config.Load(m_file.c_str(), L"en-us", 0));
    EXPECT_STREQ(L"de", config.UiLanguageTag());

    // hires: the font only in en-us, the page in de.
    Layout layout = Read(config, L"abouto.html");
    EXPECT_EQ(0u, layout.code);
    EXPECT_EQ(L"Tahoma", layout.face);
    EXPECT_EQ(700u, layout.width);
    EXPECT_EQ(500u, layout.height);
    EXPECT_EQ(4u, layout.position);
    // A page missing in de comes from en-us.
    layout = Read(config, L"main.html");
    EXPECT_EQ(800u, layout.width);
    EXPECT_EQ(1u, layout.position);
    // A de page without a position reads en-us as well, which has no such page: de's size stays.
    layout = Read(config, L"noposition.html");
    EXPECT_NE(0u, layout.code);
    EXPECT_EQ(710u, layout.width);
    EXPECT_EQ(510u, layout.height);
    EXPECT_EQ(99u, layout.position);
    // lores: the font in de, the page only in en-us.
    g_screen = {800, 600};
    layout = Read(config, L"abouto.html");
    EXPECT_EQ(L"Arial", layout.face);
    EXPECT_EQ(10u, layout.pointSize);
    EXPECT_EQ(500u, layout.width);
    EXPECT_EQ(3u, layout.position);
}

TEST_F(AgentUICfgTest, LanguageWithoutRowUsesTheDefaultTag)
{
    SetMappedLanguage(1064);
    CAgentUICfg config(&FakeScreen);
    ASSERT_EQ(0u, config.Load(m_file.c_str(), L"en-us", 0));
    EXPECT_EQ(nullptr, config.UiLanguageTag());
    wchar_t alternate[16];
    EXPECT_EQ(6u, config.GetAlternateLanguage(alternate, 16));
    const Layout layout = Read(config, L"main.html");
    EXPECT_EQ(0u, layout.code);
    EXPECT_EQ(800u, layout.width);  // attribute names in capitals match
    EXPECT_EQ(600u, layout.height);
    EXPECT_EQ(L"Tahoma", layout.face);
}

TEST_F(AgentUICfgTest, PartialAndUnusableSizesLeaveTheHostDefaults)
{
    CAgentUICfg config(&FakeScreen);
    ASSERT_EQ(0u, config.Load(m_file.c_str(), L"en-us", 0));
    // Position alone succeeds with no size read.
    Layout layout = Read(config, L"posonly.html");
    EXPECT_EQ(0u, layout.code);
    EXPECT_EQ(0u, layout.width);
    EXPECT_EQ(0u, layout.height);
    EXPECT_EQ(5u, layout.position);
    // Without a position pointer a missing size is the result.
    DWORD width = 0;
    DWORD height = 0;
    KvFontRecord font = {};
    EXPECT_NE(0u, config.GetShellFontAndDimInfo(L"posonly.html", &width, &height, &font));
    CAgentUICfg::FreeFontRecord(&font);
    // A negative width or a zero height is no size.
    for (const wchar_t* page : {L"negative.html", L"zero.html"}) {
        layout = Read(config, page);
        EXPECT_EQ(0u, layout.width) << page;
        EXPECT_EQ(0u, layout.height) << page;
        EXPECT_EQ(1u, layout.position) << page;
    }
    // A record that already holds a face name is refused.
    wchar_t face[] = L"x";
    font.faceName = face;
    EXPECT_EQ(87u, config.GetOrdwellFontAndDimInfo(L"abouto.html", &width, &height, nullptr, &font));
}

TEST_F(AgentUICfgTest, NoFontElementMeansNoSizeIsRead)
{
    WriteTextFile(m_file, R"(<c><sarn_ordwell><en-us><hires><abouto.html width="640" height="480" position="2"/>
        </hires></en-us></sarn_ordwell></c>)");
    CAgentUICfg config(&FakeScreen);
    ASSERT_EQ(0u, config.Load(m_file.c_str(), L"en-us", 0));
    const Layout layout = Read(config, L"abouto.html");
    EXPECT_NE(0u, layout.code);
    EXPECT_EQ(0u, layout.width);
    EXPECT_EQ(99u, layout.position);
    EXPECT_EQ(L"", layout.face);
}

TEST_F(AgentUICfgTest, HostilePageNamesGiveTheDefaultsWithoutACrash)
{
    CAgentUICfg config(&FakeScreen);
    ASSERT_EQ(0u, config.Load(m_file.c_str(), L"en-us", 0));
    for (const wchar_t* page : {L"1abc.html", L"about o.html", L"a|b", L"abouto.html]", L"\"x\""}) {
        const Layout layout = Read(config, page);
        EXPECT_NE(0u, layout.code) << page;
        EXPECT_EQ(0u, layout.width) << page;
        EXPECT_EQ(99u, layout.position) << page;
    }
    const std::wstring longName(3000, L'a');
    const Layout layout = Read(config, longName.c_str());
    EXPECT_EQ(122u, layout.code);
    EXPECT_EQ(0u, layout.width);
    EXPECT_EQ(99u, layout.position);
    // The longest name that still fits: 259 characters with "*/sarn_ordwell/en-us/hires/".
    const std::wstring fitting = std::wstring(259 - 27 - 5, L'p') + L".html";
    EXPECT_NE(122u, Read(config, fitting.c_str()).code);
    EXPECT_EQ(122u, Read(config, (fitting + L"x").c_str()).code);
}

TEST_F(AgentUICfgTest, AttributeValuesAreCutTo260Characters)
{
    const std::string face(300, 'F');
    WriteTextFile(m_file, "<c><sarn_ordwell><en-us><hires><font codepage=\"1252\" point_size=\"9\" face_name=\"" + face +
                              "\"/></hires></en-us></sarn_ordwell></c>");
    CAgentUICfg config(&FakeScreen);
    ASSERT_EQ(0u, config.Load(m_file.c_str(), L"en-us", 0));
    KvFontRecord font = {};
    EXPECT_EQ(0u, config.ReadFont(L"*/sarn_ordwell/en-us/hires/font", &font));
    ASSERT_NE(nullptr, font.faceName);
    EXPECT_EQ(std::wstring(260, L'F'), font.faceName);
    CAgentUICfg::FreeFontRecord(&font);
}

}  // namespace
