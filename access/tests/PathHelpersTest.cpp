#include "access/PathHelpers.h"
#include "access/tests/VelmoFakes.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <knownfolders.h>

using namespace VelmoTesting;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;

namespace {

struct Sources {
    std::shared_ptr<FakeShlObjAPI> shell = std::make_shared<FakeShlObjAPI>();
    std::shared_ptr<MockOSInfo> osInfo = std::make_shared<::testing::NiceMock<MockOSInfo>>();
    std::shared_ptr<MockRegistryAPI> registry = std::make_shared<::testing::NiceMock<MockRegistryAPI>>();
    std::shared_ptr<FakeSystemInfoAPI> system = std::make_shared<FakeSystemInfoAPI>(PROCESSOR_ARCHITECTURE_AMD64);

    Velmo::PathHelpers Make() { return Velmo::PathHelpers(shell, osInfo, registry, system); }
};

std::wstring Expanded(Velmo::PathHelpers& helpers, std::wstring text)
{
    EXPECT_TRUE(helpers.expand(text));
    return text;
}

}  // namespace

TEST(PathHelpers, KnownFolderMacrosAskForTheirOwnFolderWithFlags0AndNoToken)
{
    const std::pair<const wchar_t*, KNOWNFOLDERID> table[] = {
        {L"Profile", FOLDERID_Profile},
        {L"Desktop", FOLDERID_Desktop},
        {L"Documents", FOLDERID_Documents},
        {L"LocalAppDataLow", FOLDERID_LocalAppDataLow},
        {L"LocalAppData", FOLDERID_LocalAppData},
        {L"RoamingAppData", FOLDERID_RoamingAppData},
        {L"ProgramData", FOLDERID_ProgramData},
        {L"ProgramFiles", FOLDERID_ProgramFiles},
        {L"ProgramFilesX64", FOLDERID_ProgramFilesX64},
        {L"ProgramFilesX86", FOLDERID_ProgramFilesX86},
        {L"ProgramFilesCommon", FOLDERID_ProgramFilesCommon},
        {L"ProgramFilesCommonX64", FOLDERID_ProgramFilesCommonX64},
        {L"ProgramFilesCommonX86", FOLDERID_ProgramFilesCommonX86},
    };
    Sources sources;
    for (const auto& [name, id] : table) {
        sources.shell->folders.emplace_back(id, std::wstring(L"K:\\") + name);
    }
    Velmo::PathHelpers helpers = sources.Make();
    for (const auto& [name, id] : table) {
        const std::wstring macro = std::wstring(L"$(FOLDERID_") + name + L")";
        EXPECT_EQ(std::wstring(L"K:\\") + name + L"\\x", Expanded(helpers, macro + L"\\x")) << macro;
    }
    EXPECT_EQ(13, sources.shell->calls);
    EXPECT_EQ(0u, sources.shell->lastFlags);
    EXPECT_EQ(nullptr, sources.shell->lastToken);

    // A folder the shell cannot give expands to nothing.
    Sources failing;
    Velmo::PathHelpers empty = failing.Make();
    EXPECT_EQ(L"\\Corvane.dll", Expanded(empty, L"$(FOLDERID_ProgramFilesCommon)\\Corvane.dll"));
}

TEST(PathHelpers, PlatformComesFromTheNativeArchitecture)
{
    const std::pair<WORD, const wchar_t*> cases[] = {
        {PROCESSOR_ARCHITECTURE_INTEL, L"win32"},
        {PROCESSOR_ARCHITECTURE_AMD64, L"x64"},
        {PROCESSOR_ARCHITECTURE_ARM64, L"PlatformUnknown"},
        {PROCESSOR_ARCHITECTURE_IA64, L"PlatformUnknown"},
        {PROCESSOR_ARCHITECTURE_UNKNOWN, L"PlatformUnknown"},
    };
    for (const auto& [architecture, text] : cases) {
        Sources sources;
        sources.system->architecture = architecture;
        Velmo::PathHelpers helpers = sources.Make();
        EXPECT_EQ(std::wstring(L"bin\\") + text + L"\\", Expanded(helpers, L"bin\\$(OS.Platform)\\")) << architecture;
    }
    EXPECT_STREQ(L"", Velmo::internal::PlatformText(3));
    EXPECT_STREQ(L"", Velmo::internal::PlatformText(0xFFFFFFFF));

    // The default source tells what this machine's Windows runs on (x64 here).
    SYSTEM_INFO native{};
    GetNativeSystemInfo(&native);
    ASSERT_EQ(PROCESSOR_ARCHITECTURE_AMD64, native.wProcessorArchitecture);
    Velmo::PathHelpers real;
    EXPECT_EQ(L"x64", Expanded(real, L"$(OS.Platform)"));
}

TEST(PathHelpers, BrannockFolderReadsTheValueOfTheProcessKind)
{
    for (const bool wow64 : {false, true}) {
        Sources sources;
        const wchar_t* valueName = wow64 ? L"Install Dir32" : L"Install Dir";
        EXPECT_CALL(*sources.osInfo, IsWow64()).WillRepeatedly(Return(wow64));
        EXPECT_CALL(*sources.registry, readString(std::wstring(L"SOFTWARE\\TERVANE\\BRANN"), std::wstring(valueName), _))
            .WillOnce(DoAll(SetArgReferee<2>(std::wstring(L"C:\\Brann")), Return(Velmo::MODULE_STATUS_SUCCESS)));
        Velmo::PathHelpers helpers = sources.Make();
        EXPECT_EQ(L"C:\\Brann\\Corvane.dll", Expanded(helpers, L"$(Brannock.InstallDir)\\Corvane.dll"));
    }

    // A failed read is an empty value, even when the fake wrote something.
    Sources failing;
    EXPECT_CALL(*failing.registry, readString(_, _, _))
        .WillOnce(DoAll(SetArgReferee<2>(std::wstring(L"C:\\Stale")), Return(Velmo::MODULE_STATUS_UNSUCCESSFUL)));
    Velmo::PathHelpers helpers = failing.Make();
    EXPECT_EQ(L"", Expanded(helpers, L"$(Brannock.InstallDir)"));
}

TEST(PathHelpers, ProgramMacrosSplitTheProgramPath)
{
    Sources sources;
    Velmo::PathHelpers helpers = sources.Make();
    const std::wstring path = ProgramPath();
    const std::wstring folder = ProgramFolderWithSeparator();
    ASSERT_GT(folder.size(), 3u);
    EXPECT_EQ(path, Expanded(helpers, L"$(App.Path)"));
    EXPECT_EQ(folder, Expanded(helpers, L"$(App.Folder)"));
    EXPECT_EQ(L"access_tests.exe", Expanded(helpers, L"$(App.Binary)"));
    EXPECT_EQ(L"access_tests", Expanded(helpers, L"$(App.Name)"));
    EXPECT_EQ(folder + L"Corvane.dll", Expanded(helpers, L"$(App.Folder)Corvane.dll"));
    EXPECT_EQ(L"$access_tests.log", Expanded(helpers, L"$$(App.Name).log"));
    EXPECT_EQ(L"access_tests-x64-access_tests.exe", Expanded(helpers, L"$(App.Name)-$(OS.Platform)-$(App.Binary)"));
}

TEST(PathHelpers, TextThatIsNotAMacroOfTheTableStaysAsWritten)
{
    Sources sources;
    Velmo::PathHelpers helpers = sources.Make();
    for (const wchar_t* text : {L"", L"C:\\plain\\folder", L"$(app.folder)x", L"$(APP.FOLDER)", L"$(App.Folder",
                                L"$App.Folder)", L"$()", L"$( App.Folder)", L"$(Unknown.Macro)\\x", L"(App.Folder)",
                                L"$(FOLDERID_Windows)"}) {
        EXPECT_EQ(text, Expanded(helpers, text));
    }
    // The innermost well-formed macro is the one replaced.
    EXPECT_EQ(L"$(App.x64)", Expanded(helpers, L"$(App.$(OS.Platform))"));

    // A value is never scanned again.
    EXPECT_CALL(*sources.registry, readString(_, _, _))
        .WillOnce(DoAll(SetArgReferee<2>(std::wstring(L"$(App.Name)")), Return(Velmo::MODULE_STATUS_SUCCESS)));
    EXPECT_EQ(L"$(App.Name)\\$(Nope)", Expanded(helpers, L"$(Brannock.InstallDir)\\$(Nope)"));
}

class PathHelpersDefaults : public Fundor::testing::RegistryIsolatedTest {};

TEST_F(PathHelpersDefaults, EmptySourcesAreReplacedByTheRealOnes)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TERVANE\\BRANN", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    const std::wstring folder = L"C:\\Program Files\\Tervane\\Brann";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"Install Dir", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                                            static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t))));
    RegCloseKey(key);

    Velmo::PathHelpers helpers(nullptr, nullptr, nullptr);
    EXPECT_EQ(folder, Expanded(helpers, L"$(Brannock.InstallDir)"));
    EXPECT_EQ(L"x64", Expanded(helpers, L"$(OS.Platform)"));
    EXPECT_EQ(ProgramPath(), Expanded(helpers, L"$(App.Path)"));

    PWSTR expected = nullptr;
    ASSERT_EQ(S_OK, SHGetKnownFolderPath(FOLDERID_ProgramFilesCommon, 0, nullptr, &expected));
    const std::wstring common = expected;
    CoTaskMemFree(expected);
    EXPECT_EQ(common + L"\\Tervane", Expanded(helpers, L"$(FOLDERID_ProgramFilesCommon)\\Tervane"));

    for (const wchar_t* macro : {L"$(FOLDERID_Profile)", L"$(FOLDERID_Desktop)", L"$(FOLDERID_Documents)",
                                 L"$(FOLDERID_LocalAppData)", L"$(FOLDERID_RoamingAppData)", L"$(FOLDERID_ProgramData)",
                                 L"$(FOLDERID_ProgramFiles)", L"$(FOLDERID_ProgramFilesX64)",
                                 L"$(FOLDERID_ProgramFilesX86)", L"$(FOLDERID_ProgramFilesCommonX64)",
                                 L"$(FOLDERID_ProgramFilesCommonX86)", L"$(FOLDERID_LocalAppDataLow)"}) {
        const std::wstring value = Expanded(helpers, macro);
        EXPECT_EQ(std::wstring::npos, value.find(L"$(")) << macro;
        EXPECT_EQ(L':', value.size() > 1 ? value[1] : L'?') << macro << L" gave " << value;
    }
}
