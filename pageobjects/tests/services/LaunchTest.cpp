#include "KvUtilTestSupport.h"
#include "RegistryIsolation.h"
#include "ServicesTestSupport.h"
#include "qrncmn.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <optional>
#include <string>

namespace {

using namespace ServicesTesting;
using Fundor::testing::ScratchFolder;

// Waits for the updater stand-in's record; empty when none came within `tenths` tenths of a second.
std::wstring WaitForRecord(const std::wstring& log, int tenths = 300)
{
    for (int waited = 0; waited < tenths; ++waited) {
        if (GetFileAttributesW(log.c_str()) != INVALID_FILE_ATTRIBUTES) return KvUtilTesting::ReadWholeFile(log);
        Sleep(100);
    }
    return {};
}

std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH] = {};
    GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    return full;
}

std::wstring UnsignedUpdater()
{
    return FullPath(TrustTesting::ProgramFolder() + L"\\..\\standins-unsigned\\kvupdate\\KvUpdate.exe");
}

std::wstring FileUrl(std::wstring path)
{
    for (wchar_t& c : path)
        if (c == L'\\') c = L'/';
    return L"file:///" + path;
}

// The arguments as the started program's C runtime splits them.
std::vector<std::wstring> Split(const std::wstring& arguments)
{
    int count = 0;
    wchar_t** argv = CommandLineToArgvW((L"program " + arguments).c_str(), &count);
    std::vector<std::wstring> split;
    for (int i = 1; i < count; ++i) split.emplace_back(argv[i]);
    LocalFree(argv);
    return split;
}

// The real machine registry (trust checks need it) with the updater, the utility library and the
// validation service of the test PKI in place. The product keys these tests write are removed
// before and after.
class Launch : public KvUtilTesting::RealKvUtilBinding {
protected:
    static constexpr const wchar_t* kTestScheme = L"SOFTWARE\\Classes\\h6test";
    static constexpr const wchar_t* kOwnedTrees[] = {
        L"SOFTWARE\\Tervane\\QRN\\AppInfo", L"SOFTWARE\\Tervane\\QRN\\Settings\\Links",
        L"SOFTWARE\\Tervane\\QRN\\overrides", L"SOFTWARE\\Tervane\\QRN\\plugins",
        L"SOFTWARE\\Tervane\\QRN\\Packages", L"SOFTWARE\\Tervane\\Volatile", kTestScheme};

    void SetUp() override
    {
        RealKvUtilBinding::SetUp();
        RemoveOwnedTrees();
        m_log = m_records.File(L"kvupdate.log");
        SetEnvironmentVariableW(L"ORDWELL_KVUPDATE_LOG", m_log.c_str());
        m_installDir.Set(KvUtilTesting::SignedKvUtilFolder());
        m_updater = KvUtilTesting::SignedKvUpdateFolder() + L"\\KvUpdate.exe";
        Trust({KvUtilTesting::SignedKvUtilFolder() + L"\\KvUtil.dll", m_updater});
        RegisterUpdaterServer(L"\"" + KvUtilTesting::SignedKvUpdateFolder() + L"\\KvUpdateHost.exe\"");
    }
    void TearDown() override
    {
        RemoveOwnedTrees();
        RealKvUtilBinding::TearDown();
    }
    static void RemoveOwnedTrees()
    {
        for (const wchar_t* tree : kOwnedTrees) {
            RegDeleteTreeW(HKEY_LOCAL_MACHINE, tree);
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, tree, KEY_WOW64_64KEY, 0);
        }
    }
    // The arguments the updater was started with; nullopt when it did not start. The record is
    // removed, so the next start makes a new one.
    std::optional<std::wstring> TakeUpdaterArguments(int tenths = 300)
    {
        const std::wstring record = WaitForRecord(m_log, tenths);
        DeleteFileW(m_log.c_str());
        const std::size_t lineEnd = record.find(L'\n');
        if (lineEnd == std::wstring::npos) return std::nullopt;
        EXPECT_EQ(0, _wcsicmp(m_updater.c_str(), record.substr(0, lineEnd).c_str())) << Narrow(record);
        return record.substr(lineEnd + 1);
    }

    ScratchFolder m_records;
    std::wstring m_log;
    std::wstring m_updater;
};

TEST_F(Launch, OpenBrowserHandsTheExpandedLinkToTheUpdaterAsOneArgument)
{
    const std::wstring substitute = L"SOFTWARE\\Tervane\\QRN\\AppInfo\\Substitute";
    SetString(substitute, L"domain", L"example.test");
    SetString(substitute, L"lang", L"de");
    SetString(substitute + L"\\QueryParams", L"affid", L"77");
    SetString(substitute + L"\\QueryParams", L"lang", L"de");
    SetString(L"SOFTWARE\\Tervane\\QRN\\Settings\\Links", L"support", L"https://%domain%/base?lang=%lang%");
    SetDword(L"Software\\Tervane\\QRN\\overrides\\Partner", L"priority", 5);
    SetString(L"Software\\Tervane\\QRN\\overrides\\Partner\\Settings\\Links", L"support",
              L"https://%domain%/support?lang=%lang%");

    ASSERT_EQ(0u, KvOpenBrowser(L"substlink:support", L"x=1"));
    const std::wstring arguments = TakeUpdaterArguments().value_or(L"<not started>");
    EXPECT_EQ(L"\"/link:https://example.test/support?lang=de&affid=77&x=1\"", arguments) << Narrow(arguments);
    EXPECT_EQ(std::vector<std::wstring>{L"/link:https://example.test/support?lang=de&affid=77&x=1"}, Split(arguments));

    // A page query on a link that has no query yet starts one.
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyExW(HKEY_LOCAL_MACHINE, (substitute + L"\\QueryParams").c_str(), KEY_WOW64_64KEY, 0));
    SetString(L"Software\\Tervane\\QRN\\overrides\\Partner\\Settings\\Links", L"plain", L"https://%domain%/plain");
    ASSERT_EQ(0u, KvOpenBrowser(L"substlink:plain", L"x=1"));
    EXPECT_EQ(std::vector<std::wstring>{L"/link:https://example.test/plain?x=1"},
              Split(TakeUpdaterArguments().value_or(L"<not started>")));

    // A failed expansion opens nothing.
    EXPECT_EQ(87u, KvOpenBrowser(L"substlink:extURL::support", L"x=1"));
    EXPECT_EQ(87u, KvOpenBrowser(L"", L"x=1"));
    EXPECT_EQ(std::nullopt, TakeUpdaterArguments(10));
}

TEST_F(Launch, AWebLinkCannotAddArgumentsAndTextInOurCommandLineDoesNotStopTheUpdater)
{
    // Only this program's image name may say it is the updater: put the name into its command
    // line for the time of the call.
    wchar_t* line = GetCommandLineW();
    const std::wstring saved = line;
    const wchar_t marker[] = L" kvupdate.exe";
    ASSERT_GT(saved.size(), wcslen(marker));
    wmemcpy(line + saved.size() - wcslen(marker), marker, wcslen(marker));
    const DWORD result = KvShellExecute(L"https://x.test/a\" --evil x\t\\");
    wmemcpy(line, saved.c_str(), saved.size());
    ASSERT_EQ(0u, result);
    const std::wstring arguments = TakeUpdaterArguments().value_or(L"<not started>");
    EXPECT_EQ(L"\"/link:https://x.test/a%22%20--evil%20x%09\\\\\"", arguments) << Narrow(arguments);
    EXPECT_EQ(std::vector<std::wstring>{L"/link:https://x.test/a%22%20--evil%20x%09\\"}, Split(arguments));
}

TEST_F(Launch, AProgramTargetStartsOnlyWhenTrusted)
{
    const std::wstring untrusted = UnsignedUpdater();
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(untrusted.c_str())) << Narrow(untrusted);
    EXPECT_EQ(5u, KvShellExecute(FileUrl(untrusted).c_str()));
    EXPECT_EQ(5u, KvOpenBrowserAsIs(untrusted.c_str()));
    EXPECT_EQ(5u, KvShellExecute((L"\\\\?\\" + untrusted).c_str()));
    EXPECT_EQ(std::nullopt, TakeUpdaterArguments(15));

    // The maker-signed (trusted) program starts, without arguments.
    ASSERT_EQ(0u, KvShellExecute(FileUrl(m_updater).c_str()));
    EXPECT_EQ(std::optional<std::wstring>(L""), TakeUpdaterArguments());
}

TEST_F(Launch, TheSchemesProgramReceivesTheUrlAsOneArgument)
{
    // The shell reads associations from the machine's classes, not from a redirected root.
    const std::wstring recorder = UnsignedUpdater();
    SetString(kTestScheme, nullptr, L"URL:h6test");
    SetString(kTestScheme, L"URL Protocol", L"");
    SetString(std::wstring(kTestScheme) + L"\\shell\\open\\command", nullptr, L"\"" + recorder + L"\" \"%1\"");
    ScratchFolder records;
    const std::wstring log = records.File(L"scheme.log");
    SetEnvironmentVariableW(L"ORDWELL_KVUPDATE_LOG", log.c_str());
    const DWORD result = KvShellExecute(L"h6test:abc\" --evil x");
    const std::wstring record = WaitForRecord(log);
    SetEnvironmentVariableW(L"ORDWELL_KVUPDATE_LOG", nullptr);
    ASSERT_EQ(0u, result);
    const std::size_t lineEnd = record.find(L'\n');
    ASSERT_NE(std::wstring::npos, lineEnd) << Narrow(record);
    EXPECT_EQ(0, _wcsicmp(recorder.c_str(), record.substr(0, lineEnd).c_str())) << Narrow(record);
    EXPECT_EQ(std::vector<std::wstring>{L"h6test:abc%22%20--evil%20x"}, Split(record.substr(lineEnd + 1)))
        << Narrow(record);
}

struct ExitWindowsCall {
    UINT flags = 0;
    DWORD reason = 99;
    BOOL privilegeEnabled = FALSE;
    int calls = 0;
    BOOL answer = TRUE;
    DWORD error = 0;
} g_exitWindows;

BOOL WINAPI FakeExitWindows(UINT flags, DWORD reason)
{
    ++g_exitWindows.calls;
    g_exitWindows.flags = flags;
    g_exitWindows.reason = reason;
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        PRIVILEGE_SET wanted = {};
        wanted.PrivilegeCount = 1;
        LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &wanted.Privilege[0].Luid);
        PrivilegeCheck(token, &wanted, &g_exitWindows.privilegeEnabled);
        CloseHandle(token);
    }
    SetLastError(g_exitWindows.error);
    return g_exitWindows.answer;
}

TEST(ExitWindows, RestartAndShutDownReportWhatTheSystemAnswered)
{
    g_exitWindows = {};
    EXPECT_EQ(0u, KvExitWindowsWith(kKvRestartFlags, &FakeExitWindows));
    EXPECT_EQ(0x12u, g_exitWindows.flags);
    EXPECT_EQ(0u, g_exitWindows.reason);
    EXPECT_TRUE(g_exitWindows.privilegeEnabled);

    g_exitWindows.answer = FALSE;
    g_exitWindows.error = ERROR_SHUTDOWN_IN_PROGRESS;
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHUTDOWN_IN_PROGRESS), KvExitWindowsWith(kKvShutdownFlags, &FakeExitWindows));
    EXPECT_EQ(0x18u, g_exitWindows.flags);
    EXPECT_EQ(2, g_exitWindows.calls);

    long code = 0;
    EXPECT_EQ(0u, KvGetOSVersionCode(&code));
    EXPECT_EQ(17, code);  // the test prefix reports Windows 10
    EXPECT_EQ(87u, KvGetOSVersionCode(nullptr));
}

}  // namespace
