// A hostile page in an installed host: its script (hostile.html of hostilepages.dll) throws what
// attackers throw at every method of the three page objects, by name, and records each call's
// outcome in the browser stand-in's record. The host runs in "fake" mode, so the uninstaller shim
// is in the page and its forwarded calls cross to the surrogate program. The page's table marks
// the calls that must fail; this side checks that every call was made, that none of those
// reported success, that the host lives on and closes with 0, and that an unsigned program the
// launch spellings aim at never ran.

#include "core/base/ScopedResource.h"
#include "core/testsupport/Narrow.h"
#include "tests/e2e/support/HostControl.h"
#include "tests/e2e/support/SuiteInstall.h"

#include <gtest/gtest.h>
#include <oleauto.h>
#include <windows.h>

#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

SuiteInstall::Layout g_layout;

constexpr wchar_t kPageKey[] = L"Software\\Tervane\\OrdwellHostile";
// Where the launch spellings aim: the unsigned recorder as REC.EXE and a batch file that starts it.
constexpr wchar_t kScratch[] = L"C:\\x";
constexpr DWORD kPageTimeoutMs = 240000;

using Fundor::testing::Narrow;

std::vector<std::string> FileLines(const std::wstring& path)
{
    std::vector<std::string> lines;
    std::ifstream file(Narrow(path));
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// "row <n> <object>.<method> attack=<0|1> success=<zero|value|none> forward=<0|1> <outcome>"
struct Row {
    int index = -1;
    std::string object;
    std::string method;
    bool attack = false;
    std::string success;
    bool forward = false;
    std::string outcome;  // "value <typeof> <text>" or "error <hex>"
    std::string line;
};

std::optional<Row> ParseRow(const std::string& text)
{
    std::istringstream in(text);
    Row row;
    std::string word, call, attack, success, forward;
    if (!(in >> word >> row.index >> call >> attack >> success >> forward) || word != "row") return std::nullopt;
    const std::size_t dot = call.find('.');
    if (dot == std::string::npos || attack.rfind("attack=", 0) != 0 || success.rfind("success=", 0) != 0 ||
        forward.rfind("forward=", 0) != 0) {
        return std::nullopt;
    }
    row.object = call.substr(0, dot);
    row.method = call.substr(dot + 1);
    row.attack = attack == "attack=1";
    row.success = success.substr(8);
    row.forward = forward == "forward=1";
    std::getline(in >> std::ws, row.outcome);
    row.line = text;
    return row;
}

// What the method answers when it did what it was asked: a result of 0, or a value that is there.
bool Succeeded(const Row& row)
{
    if (row.success == "zero") return row.outcome == "value number 0";
    if (row.success == "value") {
        return row.outcome.rfind("value ", 0) == 0 && row.outcome != "value undefined undefined" &&
               row.outcome != "value object null" && row.outcome != "value string 0:";
    }
    return false;
}

struct PageRun {
    DWORD pid = 0;
    bool finished = false;
    long declaredRows = -1;
    std::vector<Row> rows;
    std::vector<std::string> unparsed;
    std::vector<std::string> scriptErrors;
    bool aliveAfter = false;
    std::optional<DWORD> exitCode;
    std::vector<std::string> surrogate;  // "<pid> <text>"
    std::vector<std::string> starts;     // the recorder's lines
    std::vector<std::wstring> logs;      // the browser stand-in's and the surrogate's records
};

// The names a page can call on an interface of a type library embedded in the installed program:
// its functions and those it inherits, without IUnknown's and IDispatch's (restricted).
std::set<std::string> TypeLibraryNames(int resource, REFIID iid)
{
    std::set<std::string> names;
    const std::wstring path = SuiteInstall::ProgramPath(g_layout) + L"\\" + std::to_wstring(resource);
    ITypeLib* library = nullptr;
    if (FAILED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library))) return names;
    ITypeInfo* info = nullptr;
    if (SUCCEEDED(library->GetTypeInfoOfGuid(iid, &info))) {
        TYPEATTR* attributes = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attributes))) {
            for (UINT index = 0; index < attributes->cFuncs; ++index) {
                FUNCDESC* function = nullptr;
                if (FAILED(info->GetFuncDesc(index, &function))) continue;
                if ((function->wFuncFlags & FUNCFLAG_FRESTRICTED) != 0) {
                    info->ReleaseFuncDesc(function);
                    continue;
                }
                BSTR name = nullptr;
                if (SUCCEEDED(info->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr))) {
                    names.insert(Narrow(name));
                }
                SysFreeString(name);
                info->ReleaseFuncDesc(function);
            }
            info->ReleaseTypeAttr(attributes);
        }
        info->Release();
    }
    library->Release();
    return names;
}

class WholeProgramHostile : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_layout = SuiteInstall::DefaultLayout(SuiteInstall::ThisProgramFolder());
        const std::wstring failure = SuiteInstall::Install(g_layout);
        ASSERT_TRUE(failure.empty()) << Narrow(failure);
        const std::wstring pages = SuiteInstall::ThisProgramFolder() + L"\\e2epages\\hostilepages.dll";
        ASSERT_TRUE(CopyFileW(pages.c_str(), (g_layout.productDir + L"\\hostilepages.dll").c_str(), FALSE))
            << GetLastError();
        RemoveScratch();
        ASSERT_TRUE(CreateDirectoryW(kScratch, nullptr)) << GetLastError();
        const std::wstring recorder = SuiteInstall::ThisProgramFolder() + L"\\OrdwellStartRecorder.exe";
        ASSERT_TRUE(CopyFileW(recorder.c_str(), (std::wstring(kScratch) + L"\\REC.EXE").c_str(), FALSE));
        const std::string batch = "@\"C:\\x\\REC.EXE\" from-batch\r\n";
        const Fundor::ScopedHandle file(CreateFileW((std::wstring(kScratch) + L"\\run.bat").c_str(), GENERIC_WRITE, 0,
                                                    nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(file.valid() &&
                    WriteFile(file.get(), batch.data(), static_cast<DWORD>(batch.size()), &written, nullptr));
    }
    static void TearDownTestSuite()
    {
        SuiteInstall::EndInstalledPrograms();
        RemoveScratch();
        RegDeleteTreeW(HKEY_CURRENT_USER, kPageKey);
        RegDeleteKeyW(HKEY_CURRENT_USER, kPageKey);
    }
    static void RemoveScratch()
    {
        for (const wchar_t* name : {L"REC.EXE", L"run.bat", L"starts.log"}) {
            DeleteFileW((std::wstring(kScratch) + L"\\" + name).c_str());
        }
        RemoveDirectoryW(kScratch);
    }

    // Starts a host on the page with the given table, waits until the page has made its calls,
    // then closes the host.
    static PageRun RunPage(const wchar_t* part)
    {
        PageRun run;
        SuiteInstall::EndInstalledPrograms();
        RegDeleteTreeW(HKEY_CURRENT_USER, kPageKey);
        const std::wstring partText = part;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegSetKeyValueW(HKEY_CURRENT_USER, kPageKey, L"part", REG_SZ, partText.c_str(),
                                  static_cast<DWORD>((partText.size() + 1) * sizeof(wchar_t))));
        DeleteFileW((std::wstring(kScratch) + L"\\starts.log").c_str());
        const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"-" + partText;
        const std::wstring pageLog = SuiteInstall::ThisProgramFolder() + L"\\hostile-pages-" + tag + L".log";
        const std::wstring surrogateLog = SuiteInstall::ThisProgramFolder() + L"\\hostile-surrogate-" + tag + L".log";
        DeleteFileW(pageLog.c_str());
        DeleteFileW(surrogateLog.c_str());
        // Inherited by the host, and by the surrogate program COM starts for it.
        SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_LOG", pageLog.c_str());
        SetEnvironmentVariableW(L"ORDWELL_SURROGATE_LOG", surrogateLog.c_str());

        const std::wstring hostId = L"hostile-" + tag;
        const HostControl::Process host(SuiteInstall::ProgramPath(g_layout),
                                        L"/id:" + hostId + L" /body:sarn://hostilepages.dll::hostile.html /mode:fake "
                                                           L"/simulate:uninstall_survey /ngmdata:survey");
        SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_LOG", nullptr);
        SetEnvironmentVariableW(L"ORDWELL_SURROGATE_LOG", nullptr);
        EXPECT_TRUE(host.valid());
        if (!host.valid()) return run;
        run.pid = host.id();

        const ULONGLONG began = GetTickCount64();
        std::vector<std::string> done;
        while (done.empty() && GetTickCount64() - began < kPageTimeoutMs &&
               WaitForSingleObject(host.handle(), 200) == WAIT_TIMEOUT) {
            done = SuiteInstall::PageRecordLines(pageLog, run.pid, " page_log text=done ");
        }
        run.finished = !done.empty();
        std::cout << Narrow(partText) << ": the page ran for " << (GetTickCount64() - began) << " ms" << std::endl;
        if (run.finished) {
            const std::size_t rows = done[0].rfind("rows=");
            if (rows != std::string::npos) run.declaredRows = std::stol(done[0].substr(rows + 5));
        }
        // Programs the page had started write their record meanwhile.
        Sleep(3000);
        run.aliveAfter = WaitForSingleObject(host.handle(), 0) == WAIT_TIMEOUT;
        const std::string marker = " page_log text=";
        for (const std::string& line : SuiteInstall::PageRecordLines(pageLog, run.pid, " page_log text=row ")) {
            const std::optional<Row> row = ParseRow(line.substr(line.find(marker) + marker.size()));
            if (row) {
                run.rows.push_back(*row);
            } else {
                run.unparsed.push_back(line);
            }
        }
        run.scriptErrors = SuiteInstall::PageRecordLines(pageLog, run.pid, " script_error ");
        if (run.aliveAfter) {
            EXPECT_TRUE(HostControl::RequestClose(hostId));
            run.exitCode = host.Wait(30000);
        } else {
            run.exitCode = host.Wait(0);
        }
        if (!run.exitCode) host.Kill(0xDEAD);
        // The surrogate program ends once the host has released what it made there.
        SuiteInstall::EndInstalledPrograms();
        run.surrogate = FileLines(surrogateLog);
        run.starts = FileLines(std::wstring(kScratch) + L"\\starts.log");
        run.logs = {pageLog, surrogateLog};
        return run;
    }

    // The rows that reported success although the table marks them as attacks.
    static std::vector<std::string> AttacksThatSucceeded(const PageRun& run)
    {
        std::vector<std::string> found;
        for (const Row& row : run.rows) {
            if (row.attack && Succeeded(row)) found.push_back(row.line);
        }
        return found;
    }

    // The records stay in the build's bin folder for a look when the test failed.
    void KeepLogsOnFailure(const PageRun& run) const
    {
        if (HasFailure()) {
            for (const std::wstring& log : run.logs) std::cout << "records kept: " << Narrow(log) << std::endl;
            return;
        }
        for (const std::wstring& log : run.logs) DeleteFileW(log.c_str());
    }

    static void ExpectWholeRun(const PageRun& run)
    {
        EXPECT_TRUE(run.finished) << "the page did not finish its calls";
        EXPECT_GT(run.declaredRows, 0);
        EXPECT_EQ(static_cast<std::size_t>(run.declaredRows), run.rows.size());
        for (std::size_t index = 0; index < run.rows.size(); ++index) {
            EXPECT_EQ(static_cast<int>(index), run.rows[index].index) << run.rows[index].line;
        }
        EXPECT_TRUE(run.unparsed.empty()) << run.unparsed.size() << " record lines not understood, first: "
                                          << (run.unparsed.empty() ? "" : run.unparsed[0]);
        EXPECT_TRUE(run.scriptErrors.empty()) << (run.scriptErrors.empty() ? "" : run.scriptErrors[0]);
        EXPECT_TRUE(run.aliveAfter) << "the host ended during the page's calls";
        EXPECT_EQ(std::optional<DWORD>(0), run.exitCode);
    }
};

TEST_F(WholeProgramHostile, EveryPageObjectMethodTakesHostileArgumentsAndReportsTheirFailures)
{
    const PageRun run = RunPage(L"objects");
    ExpectWholeRun(run);
    std::cout << run.rows.size() << " calls" << std::endl;

    // Every name of the type libraries was called by the page (the session manager's restart
    // and shut-down excepted: they end the prefix's session), and the platform object's one.
    std::map<std::string, std::set<std::string>> called;
    for (const Row& row : run.rows) called[row.object].insert(row.method);
    const IID sessionInterface = {0xE92BCC3F, 0xEF21, 0x4C12, {0x9F, 0x0A, 0x89, 0x15, 0x90, 0x72, 0x0E, 0xCD}};
    const IID uninstallerInterface = {0x48AE31CB, 0xF62A, 0x467D, {0xBB, 0x5C, 0x0B, 0x79, 0x8D, 0x1F, 0xD4, 0x08}};
    std::set<std::string> sessionNames = TypeLibraryNames(1, sessionInterface);
    ASSERT_EQ(34u, sessionNames.size());
    sessionNames.erase("RestartComputer");
    sessionNames.erase("ShutdownComputer");
    EXPECT_EQ(sessionNames, called["KvDispSessionMgr2"]);
    const std::set<std::string> uninstallerNames = TypeLibraryNames(2, uninstallerInterface);
    ASSERT_EQ(36u, uninstallerNames.size());
    EXPECT_EQ(uninstallerNames, called["FakeUninstShim"]);
    EXPECT_EQ(std::set<std::string>{"GetProperty"}, called["PlatformDspObj"]);

    const std::vector<std::string> succeeded = AttacksThatSucceeded(run);
    EXPECT_TRUE(succeeded.empty()) << succeeded.size() << " attacks reported success, first: "
                                   << (succeeded.empty() ? "" : succeeded[0]);
    for (const std::string& line : succeeded) std::cout << "attack reported success: " << line << std::endl;

    // Each forwarded call reached the uninstaller in the surrogate program, whole: the long text
    // and the text with a zero inside arrived as they were sent.
    std::map<std::string, int> forwardedCalls;
    for (const Row& row : run.rows) {
        if (row.forward && row.outcome.rfind("value ", 0) == 0) ++forwardedCalls[row.method];
    }
    EXPECT_EQ(11u, forwardedCalls.size());
    const std::string host = std::to_string(run.pid) + " ";
    for (const auto& [method, count] : forwardedCalls) {
        int arrived = 0, longText = 0, cutText = 0;
        for (const std::string& line : run.surrogate) {
            if (line.rfind(host, 0) == 0) continue;
            const std::string text = line.substr(line.find(' ') + 1);
            arrived += text == "uninstaller " + method ? 1 : 0;
            const std::string second = method == "Method09" ? " empty" : " i4:2";
            longText += text == "arguments " + method + " bstr(10001):" + std::string(32, 'x') + second ? 1 : 0;
            cutText += text == "arguments " + method + " bstr(3):a\\u0000b" + second ? 1 : 0;
        }
        EXPECT_EQ(count, arrived) << method;
        EXPECT_EQ(1, longText) << method;
        EXPECT_EQ(1, cutText) << method;
    }
    KeepLogsOnFailure(run);
}

TEST_F(WholeProgramHostile, LaunchSpellingsOfAnUnsignedProgramStartNothing)
{
    const PageRun run = RunPage(L"launch");
    ExpectWholeRun(run);
    EXPECT_EQ(81u, run.rows.size()) << "27 spellings through three launch methods";
    const std::vector<std::string> succeeded = AttacksThatSucceeded(run);
    EXPECT_TRUE(succeeded.empty()) << succeeded.size() << " launches reported success";
    for (const std::string& line : succeeded) std::cout << "launch reported success: " << line << std::endl;
    EXPECT_EQ(0u, run.starts.size()) << "the unsigned recorder ran";
    for (const std::string& line : run.starts) std::cout << "recorder started: " << line << std::endl;
    KeepLogsOnFailure(run);
}

}  // namespace
