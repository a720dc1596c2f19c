// Tests that change what the whole Wine session sees: the display mode, and the component's class
// registration (the platform's object creation reads the machine's class registry, which a
// process's registry redirection does not cover). They run while no other test runs.

#include "core/base/ScopedResource.h"
#include "core/testsupport/RegistryIsolation.h"
#include "shell/config/CAgentUICfg.h"
#include "shell/tests/config/ShellConfigTestSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Fundor::testing::ScratchFolder;
using shelltest::BinFile;

constexpr wchar_t kClassKey[] = L"CLSID\\{2CF7C0ED-0BC8-4CA5-AB2E-798E15D6EDDB}";

constexpr char kConfiguration[] = R"(<qrnuicfg><sarn_ordwell><en-us>
  <hires><font codepage="1252" point_size="9" face_name="Tahoma"/><abouto.html width="640" height="480"/></hires>
  <lores><font codepage="1250" point_size="8" face_name="Verdana"/><abouto.html width="500" height="400"/></lores>
</en-us></sarn_ordwell></qrnuicfg>)";

DWORD ReadWidth(CAgentUICfg& config, std::wstring* face)
{
    DWORD width = 0;
    DWORD height = 0;
    KvFontRecord font = {};
    (void)config.GetOrdwellFontAndDimInfo(L"abouto.html", &width, &height, nullptr, &font);
    *face = font.faceName != nullptr ? font.faceName : L"";
    CAgentUICfg::FreeFontRecord(&font);
    return width;
}

// The class registered for the lifetime of the object, and gone afterwards.
class ClassRegistration {
public:
    explicit ClassRegistration(const std::wstring& server)
    {
        (void)::RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey);
        shelltest::SetRegistryString(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\InprocServer32", nullptr, server);
        shelltest::SetRegistryString(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\InprocServer32",
                                     L"ThreadingModel", L"Both");
    }
    ~ClassRegistration() { (void)::RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey); }
};

TEST(SessionWide, ComponentIsCreatedByClassWhenRegisteredElseThroughTheDllBesideTheProgram)
{
    ScratchFolder scratch;
    const std::wstring file = scratch.File(L"qrnuicfg.dat");
    shelltest::WriteTextFile(file, kConfiguration);
    (void)::RegDeleteTreeW(HKEY_CLASSES_ROOT, kClassKey);
    std::wstring face;
    {
        CAgentUICfg config;
        ASSERT_EQ(0u, config.Load(file.c_str(), L"en-us", 0));
        EXPECT_TRUE(config.LoadedThroughFallbackDll());
    }
    // A copy elsewhere, so that the stand-in's log tells which file served.
    const std::wstring copy = scratch.File(L"KvUiCfg.dll");
    ASSERT_TRUE(::CopyFileW(BinFile(L"KvUiCfg.dll").c_str(), copy.c_str(), FALSE));
    shelltest::UiCfgLog log(scratch.File(L"kvuicfg.log"));
    {
        ClassRegistration registration(copy);
        CAgentUICfg config([] { return KvScreenSize{1024, 768}; });
        ASSERT_EQ(0u, config.Load(file.c_str(), L"en-us", 0));
        EXPECT_FALSE(config.LoadedThroughFallbackDll());
        EXPECT_EQ(640u, ReadWidth(config, &face));
    }
    ::CoFreeUnusedLibrariesEx(0, 0);
    const auto lines = log.Lines();
    ASSERT_GE(lines.size(), 2u);
    const std::string expectedPrefix = "open " + std::string(file.begin(), file.end()) + " by " +
                                       std::string(copy.begin(), copy.end()) + " -> 0x00000000";
    EXPECT_EQ(expectedPrefix, lines[1]);
}

TEST(SessionWide, RealDisplayModeChoosesTheScreenClass)
{
    ScratchFolder scratch;
    const std::wstring file = scratch.File(L"qrnuicfg.dat");
    shelltest::WriteTextFile(file, kConfiguration);
    DEVMODEW original = {};
    original.dmSize = sizeof original;
    ASSERT_TRUE(::EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &original));
    CAgentUICfg config;  // the system's screen metrics
    ASSERT_EQ(0u, config.Load(file.c_str(), L"en-us", 0));

    DEVMODEW small = original;
    small.dmPelsWidth = 800;
    small.dmPelsHeight = 600;
    small.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    ASSERT_EQ(DISP_CHANGE_SUCCESSFUL, ::ChangeDisplaySettingsExW(nullptr, &small, nullptr, 0, nullptr));
    const KvScreenSize changed = CAgentUICfg::SystemScreenSize();
    std::wstring loresFace;
    const DWORD loresWidth = ReadWidth(config, &loresFace);
    DEVMODEW back = original;
    back.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    ASSERT_EQ(DISP_CHANGE_SUCCESSFUL, ::ChangeDisplaySettingsExW(nullptr, &back, nullptr, 0, nullptr));
    std::wstring hiresFace;
    const DWORD hiresWidth = ReadWidth(config, &hiresFace);

    EXPECT_EQ(800, changed.cx);
    EXPECT_EQ(600, changed.cy);
    EXPECT_EQ(500u, loresWidth);
    EXPECT_EQ(L"Verdana", loresFace);
    EXPECT_EQ(1024u, original.dmPelsWidth);
    EXPECT_EQ(640u, hiresWidth);
    EXPECT_EQ(L"Tahoma", hiresFace);
}

}  // namespace
