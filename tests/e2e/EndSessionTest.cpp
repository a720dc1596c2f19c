// A page asks the platform object to restart or shut down the computer, for real: ExitWindowsEx
// ends the Wine session of the prefix this program runs in (a prefix of its own: every windowed
// program in it is asked to end). The host's window gets WM_QUERYENDSESSION and WM_ENDSESSION,
// the host ends with 0, and this program, a windowless bystander, lives on.

#include "core/testsupport/Narrow.h"
#include "tests/e2e/support/HostControl.h"
#include "tests/e2e/support/SuiteInstall.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

using HostControl::Process;

SuiteInstall::Layout g_layout;

using Fundor::testing::Narrow;

bool Holds(const std::vector<std::wstring>& lines, const wchar_t* text)
{
    for (const std::wstring& line : lines) {
        if (line.find(text) != std::wstring::npos) return true;
    }
    return false;
}

class EndSession : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_layout = SuiteInstall::DefaultLayout(SuiteInstall::ThisProgramFolder());
        const std::wstring failure = SuiteInstall::Install(g_layout);
        ASSERT_TRUE(failure.empty()) << Narrow(failure);
    }
    static void TearDownTestSuite() { SuiteInstall::EndInstalledPrograms(); }

    // Starts a host on the welcome page, hands the given page over by a second start and returns
    // what the host and its page did.
    struct Outcome {
        std::optional<DWORD> secondStart;
        std::optional<DWORD> host;
        std::vector<std::string> pageAnswers;
        std::vector<std::wstring> hostLog;
        ULONGLONG endedAfterMs = 0;
    };
    static Outcome HandOver(const wchar_t* hostId, const wchar_t* page, const char* method)
    {
        Outcome outcome;
        SuiteInstall::ClearOrdwellLogs();
        const std::wstring pageLog = SuiteInstall::ThisProgramFolder() + L"\\endsession-" + hostId + L".log";
        DeleteFileW(pageLog.c_str());
        SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_LOG", pageLog.c_str());
        const std::wstring program = SuiteInstall::ProgramPath(g_layout);
        const Process host(program, std::wstring(L"/id:") + hostId + L" /body:sarn://qrnuild.dll::welcome.html");
        EXPECT_TRUE(host.valid());
        EXPECT_NE(nullptr, HostControl::WaitUntilShown(hostId, 60000));
        const ULONGLONG began = GetTickCount64();
        outcome.secondStart = Fundor::testing::RunProgram(
            program, std::wstring(L"/id:") + hostId + L" /body:sarn://qrnuild.dll::" + page, 60000);
        if (host.valid()) outcome.host = host.Wait(60000);
        outcome.endedAfterMs = GetTickCount64() - began;
        if (host.valid() && !outcome.host) host.Kill(1);
        outcome.pageAnswers =
            SuiteInstall::PageRecordLines(pageLog, host.id(), std::string("page_write text=") + method + ":");
        outcome.hostLog = SuiteInstall::OrdwellLogLinesOf(host.id());
        SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_LOG", nullptr);
        DeleteFileW(pageLog.c_str());

        std::cout << Narrow(page) << ": second start " << (outcome.secondStart ? std::to_string(*outcome.secondStart) : "-")
                  << ", host exit code " << (outcome.host ? std::to_string(*outcome.host) : "did not end") << " after "
                  << outcome.endedAfterMs << " ms" << std::endl;
        for (const std::string& line : outcome.pageAnswers) std::cout << "  page: " << line << std::endl;
        for (const std::wstring& line : outcome.hostLog) {
            if (line.find(L"session is ending") != std::wstring::npos || line.find(L"EXITING") != std::wstring::npos ||
                line.find(L"returned - ") != std::wstring::npos) {
                std::cout << "  log: " << Narrow(line) << std::endl;
            }
        }
        return outcome;
    }
};

// Restart (EWX_REBOOT | EWX_FORCEIFHUNG) and shut-down (EWX_POWEROFF | EWX_FORCEIFHUNG): the
// call answers 0 to the page, the host's window hears that the session ends and the host ends
// with 0; this program and the prefix's server live on for the second round.
TEST_F(EndSession, RestartAndShutDownEndTheHostThroughItsWindow)
{
    struct Round {
        const wchar_t* hostId;
        const wchar_t* page;
        const char* method;
    };
    const Round rounds[] = {{L"endsession-restart", L"restart.html", "RestartComputer"},
                            {L"endsession-shutdown", L"shutdown.html", "ShutdownComputer"}};
    for (const Round& round : rounds) {
        SCOPED_TRACE(round.method);
        const Outcome outcome = HandOver(round.hostId, round.page, round.method);
        EXPECT_EQ(std::optional<DWORD>(0), outcome.secondStart);
        EXPECT_EQ(std::optional<DWORD>(0), outcome.host);
        ASSERT_EQ(1u, outcome.pageAnswers.size());
        EXPECT_NE(std::string::npos, outcome.pageAnswers[0].find(std::string(round.method) + ": 0"))
            << outcome.pageAnswers[0];
        EXPECT_TRUE(Holds(outcome.hostLog, L"The session is ending")) << "no WM_ENDSESSION";
        EXPECT_TRUE(Holds(outcome.hostLog, L"Fresh Activation: SARN Shell"));
        EXPECT_EQ(nullptr, HostControl::FindHostWindow(round.hostId));
    }
}

}  // namespace
