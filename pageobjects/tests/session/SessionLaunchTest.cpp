#include "pageobjects/tests/session/SessionTestSupport.h"

#include "access/tests/LaunchTestSupport.h"
#include "core/testsupport/RegistryIsolation.h"
#include "pageobjects/tests/objects/PageObjectTestSupport.h"

#include <filesystem>

namespace {

using namespace SessionTesting;
using PageObjectTesting::TrustedFiles;

std::wstring SystemCommandProcessor()
{
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder) + L"\\cmd.exe";
}

bool AppearsWithin(const std::wstring& path, int tenths)
{
    for (int waited = 0; waited < tenths; ++waited) {
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        Sleep(100);
    }
    return false;
}

// The real machine registry: the validation service and App Paths are read there.
class SessionLaunch : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        m_appName = Fundor::testing::UniqueName(L"kvsm") + L".exe";
        m_appPathKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\" + m_appName;
    }
    void TearDown() override
    {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, m_appPathKey.c_str());
        CoUninitialize();
    }
    void RegisterAppPath(const std::wstring& program)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, m_appPathKey.c_str(), nullptr, REG_SZ,
                                                 program.c_str(), static_cast<DWORD>((program.size() + 1) * 2)));
    }
    long Open(const std::wstring& command, bool trusted)
    {
        Variant text(command.c_str()), flag = Variant::Bool(trusted);
        return session.Number(L"OpenNewHost", {&text.v, &flag.v});
    }

    Session session;
    Fundor::testing::ScratchFolder scratch;
    std::wstring m_appName;
    std::wstring m_appPathKey;
};

TEST_F(SessionLaunch, ABareNameIsCheckedAndStartedAsTheOneFileItResolvesTo)
{
    RegisterAppPath(SystemCommandProcessor());
    const std::wstring refused = scratch.File(L"refused.txt");
    const std::wstring started = scratch.File(L"started.txt");
    {
        TrustedFiles none({});
        EXPECT_EQ(5, Open(m_appName + L" /c echo x>\"" + refused + L"\"", false));
    }
    {
        // The service vouches for the full path that App Paths names, and that file starts.
        TrustedFiles trusted({SystemCommandProcessor()});
        EXPECT_EQ(0, Open(m_appName + L" /c echo x>\"" + started + L"\"", false));
    }
    EXPECT_TRUE(AppearsWithin(started, 100));
    EXPECT_FALSE(AppearsWithin(refused, 5));
    EXPECT_EQ(2, Open(L"no-such-program-" + m_appName + L" /c", true));
}

TEST_F(SessionLaunch, AQuotedProgramMayHoldBlanksAndOverLongCommandsAreRefused)
{
    const std::filesystem::path folder = std::filesystem::path(scratch.Path()) / L"with blank";
    std::filesystem::create_directories(folder);
    const std::wstring copy = (folder / L"cmd.exe").wstring();
    ASSERT_TRUE(CopyFileW(SystemCommandProcessor().c_str(), copy.c_str(), FALSE));
    const std::wstring quoted = scratch.File(L"quoted.txt");
    EXPECT_EQ(0, Open(L"\"" + copy + L"\"  /c echo x>\"" + quoted + L"\"", true));
    EXPECT_TRUE(AppearsWithin(quoted, 100));
    EXPECT_EQ(87, Open(L"\"" + copy + L" /c echo", true));  // no closing quote

    // Nothing is cut short and started: parameters of 260, a command of 520 characters.
    const std::wstring cut = scratch.File(L"cut.txt");
    const std::wstring tail = L" /c echo x>\"" + cut + L"\" & rem ";
    EXPECT_EQ(87, Open(L"cmd.exe" + tail + std::wstring(260 - tail.size() + 1, L'p'), true));
    EXPECT_EQ(87, Open(L"\"" + copy + L"\"" + tail + std::wstring(520, L'p'), true));
    EXPECT_FALSE(AppearsWithin(cut, 20));
    Variant none;
    EXPECT_EQ(87, session.Number(L"OpenNewHost", {&none.v, &none.v}));
    EXPECT_EQ(E_INVALIDARG, session.typed->OpenNewHost(nullptr, VARIANT_TRUE, nullptr));
}

TEST_F(SessionLaunch, AProgramStartsAsTheFileThatWasCheckedThoughALinkIsRePointedInBetween)
{
    const std::wstring bin = TrustTesting::ProgramFolder();
    LaunchTesting::RePointableUpdater updater(bin + L"\\kvupdate\\KvUpdate.exe",
                                              bin + L"\\..\\standins-unsigned\\kvupdate\\KvUpdate.exe");
    const std::wstring log = scratch.File(L"kvupdate.log");
    SetEnvironmentVariableW(L"ORDWELL_KVUPDATE_LOG", log.c_str());
    {
        // Trusted under both of its names, so only the re-pointing can bring in the planted file.
        TrustedFiles trusted({updater.checked, updater.viaLink});
        LaunchTesting::ShellStartSpy spy([&] { updater.RePoint(); });
        EXPECT_EQ(0, Open(updater.viaLink + L" -x", false));
        ASSERT_EQ(1u, spy.files().size());
        EXPECT_EQ(0, _wcsicmp(updater.checked.c_str(), spy.files()[0].c_str()));
    }
    const auto record = LaunchTesting::TakeRecord(log);
    SetEnvironmentVariableW(L"ORDWELL_KVUPDATE_LOG", nullptr);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(0, _wcsicmp(updater.checked.c_str(), record->first.c_str()));
    EXPECT_EQ(L"-x", record->second);
}

}  // namespace
