#include "access/tests/KvUtilTestSupport.h"
#include "access/tests/LaunchTestSupport.h"
#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/EnvironmentBlock.h"
#include "core/testsupport/ProgramFolder.h"
#include "core/testsupport/RegistryIsolation.h"
#include "pageobjects/services/qrncmn.h"
#include "pageobjects/tests/services/ServicesTestSupport.h"

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <utility>

namespace {

using namespace ServicesTesting;
using LaunchTesting::TakeRecord;
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

std::wstring UnsignedUpdater() { return KvUtilTesting::UnsignedKvUpdate(); }

std::wstring FileUrl(std::wstring path)
{
    std::wstring url = L"file:///";
    for (const wchar_t c : path) {
        if (c == L'\\') url += L'/';
        else if (c == L' ') url += L"%20";
        else url += c;
    }
    return url;
}

std::wstring ForwardSlashes(std::wstring path)
{
    for (wchar_t& c : path)
        if (c == L'\\') c = L'/';
    return path;
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

void WriteBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream file{std::filesystem::path(path), std::ios::binary};
    file << bytes;
}

// The real machine registry (trust checks need it) with the updater, the utility library and the
// validation service of the test PKI in place. The product keys these tests write are removed
// before and after.
class Launch : public KvUtilTesting::RealKvUtilBinding {
protected:
    static constexpr const wchar_t* kTestScheme = L"SOFTWARE\\Classes\\h6test";
    static constexpr const wchar_t* kTestType = L"SOFTWARE\\Classes\\.h6doc";
    static constexpr const wchar_t* kTestTypeClass = L"SOFTWARE\\Classes\\h6test.document";
    static constexpr const wchar_t* kBareScheme = L"SOFTWARE\\Classes\\h6bare";  // a protocol without a program
    static constexpr const wchar_t* kOwnedTrees[] = {
        L"SOFTWARE\\Tervane\\QRN\\AppInfo", L"SOFTWARE\\Tervane\\QRN\\Settings\\Links",
        L"SOFTWARE\\Tervane\\QRN\\overrides", L"SOFTWARE\\Tervane\\QRN\\plugins",
        L"SOFTWARE\\Tervane\\QRN\\Packages", L"SOFTWARE\\Tervane\\Volatile", kTestScheme, kTestType, kTestTypeClass,
        kBareScheme};

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
        const auto record = TakeRecord(m_log, tenths);
        if (!record) return std::nullopt;
        EXPECT_EQ(0, _wcsicmp(m_updater.c_str(), record->first.c_str())) << Narrow(record->first);
        return record->second;
    }
    // The recorder stand-in as the program of the test scheme "h6test:" or of the test file type
    // ".h6doc".
    void RegisterRecorderFor(const std::wstring& classKey)
    {
        SetString(classKey + L"\\shell\\open\\command", nullptr, L"\"" + UnsignedUpdater() + L"\" \"%1\"");
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

TEST_F(Launch, NoSpellingOfAnUnsignedProgramStartsItAndATrustedOneStartsByItsRealName)
{
    // Copies of the unsigned stand-in record a start into the file ORDWELL_KVUPDATE_LOG names
    // when they start: each row names its own.
    ScratchFolder folder;
    const std::wstring rec = folder.File(L"REC.EXE");
    const std::wstring longName = folder.File(L"recorder with a long name.exe");
    ASSERT_TRUE(CopyFileW(UnsignedUpdater().c_str(), rec.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(UnsignedUpdater().c_str(), longName.c_str(), FALSE));
    WriteBytes(folder.File(L"run.bat"), "@echo ran>\"%ORDWELL_KVUPDATE_LOG%\"\r\n");
    WriteBytes(folder.File(L"open.url"), "[InternetShortcut]\r\nURL=" + Narrow(FileUrl(rec)) + "\r\n");
    WriteBytes(folder.File(L"x.txt"), "text");
    wchar_t shortName[MAX_PATH] = {};
    ASSERT_NE(0u, GetShortPathNameW(longName.c_str(), shortName, MAX_PATH));

    struct Row {
        std::wstring target;
        DWORD result;
    };
    const Row rows[] = {
        {rec, 5},
        {FileUrl(rec), 5},
        {rec + L".", 5},                        // the shell strips trailing dots and blanks
        {rec + L". ", 5},
        {FileUrl(rec) + L".", 5},
        {folder.File(L"run.bat."), 5},
        {folder.File(L"REC"), 2},               // the shell would search the extensions
        {folder.File(L"rec.exe"), 5},
        {folder.File(L"REC.EXE --switch"), 5},  // the ".exe" split
        {folder.File(L"REC.EXE::$DATA"), 87},
        {folder.File(L"x.txt:evil.exe"), 87},
        {ForwardSlashes(rec), 5},
        {L"\\\\?\\" + rec, 5},
        {L"\\\\?\\" + rec + L".", 2},           // no normalisation there: no such file
        {L"\\\\.\\" + rec, 87},
        {L"\\\\?\\GLOBALROOT\\" + rec, 87},
        {L"\\\\h6server\\share\\REC.EXE", 3},       // shares: Wine reaches none
        {L"\\\\?\\UNC\\h6server\\share\\REC.EXE", 3},
        {L"//h6server/share/REC.EXE", 3},
        {L"file://h6server/share/REC.EXE", 3},
        {L"file://localhost/" + ForwardSlashes(rec), 5},
        {FileUrl(folder.File(L"REC%2EEXE")), 5},
        {folder.File(L"REC%2EEXE"), 2},
        {shortName, 5},
        {folder.File(L"open.url"), 5},
        {L"REC.EXE", 87},                       // relative and on the search path (below)
        {L"REC", 87},
        {L"shell:::{20D04FE0-3AEA-1069-A2D8-08002B30309D}\\" + rec, 5},  // the shell's own names
        {L"shell:System\\..\\..\\" + folder.File(L"run.bat").substr(3), 31},
    };
    const std::wstring savedPath = _wgetenv(L"PATH") != nullptr ? _wgetenv(L"PATH") : L"";
    wchar_t savedFolder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, savedFolder);
    SetCurrentDirectoryW(folder.Path().c_str());
    SetEnvironmentVariableW(L"PATH", (folder.Path() + L";" + savedPath).c_str());
    std::vector<std::wstring> logs;
    for (const Row& row : rows) {
        for (const bool expanded : {false, true}) {
            logs.push_back(m_records.File((L"row" + std::to_wstring(logs.size()) + L".log").c_str()));
            SetEnvironmentVariableW(L"ORDWELL_KVUPDATE_LOG", logs.back().c_str());
            const DWORD result = expanded ? KvOpenBrowser(row.target.c_str(), L"") : KvOpenBrowserAsIs(row.target.c_str());
            EXPECT_EQ(row.result, result) << Narrow(row.target) << (expanded ? " (OpenBrowser)" : "");
        }
    }
    SetCurrentDirectoryW(savedFolder);
    SetEnvironmentVariableW(L"PATH", savedPath.c_str());

    // The trusted updater by a spelling the shell would normalise starts by its real name, and
    // by the time its record is there the others would have written theirs.
    SetEnvironmentVariableW(L"ORDWELL_KVUPDATE_LOG", m_log.c_str());
    ASSERT_EQ(0u, KvOpenBrowserAsIs((m_updater + L". ").c_str()));
    EXPECT_EQ(std::optional<std::wstring>(L""), TakeUpdaterArguments());
    Sleep(2000);
    for (std::size_t i = 0; i < logs.size(); ++i) {
        EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(logs[i].c_str()))
            << "started: " << Narrow(rows[i / 2].target) << (i % 2 ? " (OpenBrowser)" : "");
    }
}

TEST_F(Launch, TheTextBehindAProgramReachesItAsExactlyOneArgument)
{
    std::wstring upperCase = m_updater;
    upperCase.replace(upperCase.size() - 4, 4, L".EXE");
    struct Row {
        std::wstring text;
        std::wstring argument;
    };
    const Row rows[] = {
        {m_updater + L" /silent \"x y\" --evil", L"/silent%20%22x%20y%22%20--evil"},
        {upperCase + L" -install\t/quiet", L"-install%09/quiet"},
        {m_updater + L" a\\", L"a\\"},
    };
    for (const Row& row : rows) {
        ASSERT_EQ(0u, KvOpenBrowserAsIs(row.text.c_str())) << Narrow(row.text);
        EXPECT_EQ(std::vector<std::wstring>{row.argument}, Split(TakeUpdaterArguments().value_or(L"<not started>")))
            << Narrow(row.text);
    }
}

TEST_F(Launch, AProgramStartsAsTheFileThatWasCheckedThoughALinkIsRePointedInBetween)
{
    LaunchTesting::RePointableUpdater updater(m_updater, UnsignedUpdater());
    // Trusted under both of its names, so only the re-pointing can bring in the planted file.
    Trust({KvUtilTesting::SignedKvUtilFolder() + L"\\KvUtil.dll", m_updater, updater.checked, updater.viaLink});
    {
        LaunchTesting::ShellStartSpy spy([&] { updater.RePoint(); });
        ASSERT_EQ(0u, KvOpenBrowserAsIs(updater.viaLink.c_str()));
        ASSERT_EQ(1u, spy.files().size());
        EXPECT_EQ(0, _wcsicmp(updater.checked.c_str(), spy.files()[0].c_str())) << Narrow(spy.files()[0]);
    }
    const auto record = TakeRecord(m_log);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(0, _wcsicmp(updater.checked.c_str(), record->first.c_str())) << Narrow(record->first);
}

TEST_F(Launch, ADocumentsProgramReceivesThePathOfTheFileThatExists)
{
    SetString(kTestType, nullptr, L"h6test.document");
    RegisterRecorderFor(kTestTypeClass);
    ScratchFolder folder;
    const std::wstring document = folder.File(L"my doc.h6doc");
    WriteBytes(document, "document");
    for (const std::wstring& target : {FileUrl(document), document, FileUrl(document + L".")}) {
        ASSERT_EQ(0u, KvOpenBrowserAsIs(target.c_str())) << Narrow(target);
        const auto record = TakeRecord(m_log);
        ASSERT_TRUE(record.has_value()) << Narrow(target);
        EXPECT_EQ(0, _wcsicmp(UnsignedUpdater().c_str(), record->first.c_str()));
        const std::vector<std::wstring> arguments = Split(record->second);
        ASSERT_EQ(1u, arguments.size()) << Narrow(record->second);
        EXPECT_EQ(0, _wcsicmp(LaunchTesting::ResolvedPath(document).c_str(), arguments[0].c_str()))
            << Narrow(arguments[0]);
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(arguments[0].c_str()));
    }
    // A path is no URL: nothing in it is decoded.
    EXPECT_EQ(2u, KvOpenBrowserAsIs(folder.File(L"my%20doc.h6doc").c_str()));
    // A document that another program is writing still opens; a program being written does not.
    Fundor::ScopedHandle writer(CreateFileW(document.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_EQ(0u, KvOpenBrowserAsIs(document.c_str()));
    EXPECT_TRUE(TakeRecord(m_log).has_value());
    Fundor::ScopedHandle programWriter(CreateFileW(m_updater.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                   nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(programWriter);
    EXPECT_EQ(5u, KvOpenBrowserAsIs(m_updater.c_str()));
}

// Run by the test below in a process of its own: an overflow in the shell ends the process.
// Writes the results of its calls to the file ORDWELL_LAUNCH_REPORT names.
TEST(LaunchChild, DISABLED_OverLongUrls)
{
    const wchar_t* report = _wgetenv(L"ORDWELL_LAUNCH_REPORT");
    ASSERT_NE(nullptr, report);
    const std::wstring url2083 = L"h6test:" + std::wstring(2083 - 7, L'a');
    const DWORD results[] = {
        KvOpenBrowserAsIs(url2083.c_str()),
        KvOpenBrowserAsIs((url2083 + L"a").c_str()),
        KvOpenBrowserAsIs((L"C:\\" + std::wstring(2100, L'a')).c_str()),
        KvOpenBrowser((L"h6none:" + std::wstring(10000 - 7, L'a')).c_str(), L""),
        KvOpenBrowser(url2083.substr(0, 2000).c_str(), std::wstring(83, L'q').c_str()),
        KvOpenBrowserAsIs((L"h6bare:" + std::wstring(1000, L'a')).c_str()),
    };
    std::ofstream file{std::filesystem::path(report)};
    for (const DWORD result : results) file << result << ' ';
}

TEST_F(Launch, UrlsOverTheLimitAreRefusedBeforeTheShellAndTheProcessLives)
{
    RegisterRecorderFor(kTestScheme);
    SetString(kBareScheme, L"URL Protocol", L"");
    const std::wstring report = m_records.File(L"child.txt");
    const Fundor::testing::ChildOptions reportTo = {
        .environment = Fundor::testing::EnvironmentBlock({{L"ORDWELL_LAUNCH_REPORT", report}})};
    EXPECT_EQ(std::optional<DWORD>(0),
              Fundor::testing::RunProgram(Fundor::testing::ThisProgramPath(),
                                          Fundor::testing::SingleTestArguments(L"LaunchChild.DISABLED_OverLongUrls"),
                                          60000, reportTo));
    std::ifstream file{std::filesystem::path(report)};
    std::string results;
    std::getline(file, results);
    // 2,083 characters reach the scheme's program; one more, a path of 2,103 and an expanded
    // URL of 10,000 or of 2,084 with its query do not, nor 1,007 that the shell would resolve.
    EXPECT_EQ("0 87 87 87 87 87 ", results);
    const auto record = TakeRecord(m_log);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(std::vector<std::wstring>{L"h6test:" + std::wstring(2083 - 7, L'a')}, Split(record->second));
    EXPECT_EQ(std::nullopt, TakeRecord(m_log, 15));
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
