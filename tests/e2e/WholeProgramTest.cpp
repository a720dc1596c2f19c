// Ordwell.exe installed as a suite install lays it out, with every outside module a stand-in,
// driven from outside: second starts at once against one host, many hosts at once, hosts ended
// hard, close requests at awkward moments, missing, untrusted and tampered modules, the file
// logger under load, and the host's memory over many hand-overs.

#include "core/testsupport/EnvironmentNumber.h"
#include "core/testsupport/Narrow.h"
#include "core/testsupport/UniqueHostId.h"
#include "tests/e2e/support/HostControl.h"
#include "tests/e2e/support/SuiteInstall.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

using Fundor::testing::EnvironmentNumber;
using Fundor::testing::Narrow;
using Fundor::testing::UniqueHostId;
using HostControl::Process;

SuiteInstall::Layout g_layout;

std::wstring PageUrl(const wchar_t* page) { return std::wstring(L"sarn://qrnuild.dll::") + page; }

Process StartHost(const std::wstring& hostId, const std::wstring& body)
{
    return Process(SuiteInstall::ProgramPath(g_layout), L"/id:" + hostId + L" /body:" + body);
}

// The browser stand-in's records, one UTF-8 line each.
class PageLog {
public:
    PageLog() : m_path(SuiteInstall::PrefixTempFolder() + L"\\" + UniqueHostId(L"pages") + L".log")
    {
        SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_LOG", m_path.c_str());
    }
    ~PageLog()
    {
        SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_LOG", nullptr);
        DeleteFileW(m_path.c_str());
    }
    // The lines of one process that contain the text.
    [[nodiscard]] std::vector<std::string> Lines(DWORD pid, const std::string& text) const
    {
        return SuiteInstall::PageRecordLines(m_path, pid, text);
    }

private:
    std::wstring m_path;
};

class WholeProgram : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_layout = SuiteInstall::DefaultLayout(SuiteInstall::ThisProgramFolder());
        const std::wstring failure = SuiteInstall::Install(g_layout);
        ASSERT_TRUE(failure.empty()) << std::string(failure.begin(), failure.end());
    }
    static void TearDownTestSuite() { SuiteInstall::EndInstalledPrograms(); }
    void SetUp() override { SuiteInstall::ClearOrdwellLogs(); }

    // Starts a host, waits until it shows; fails the test when it does not.
    static Process ShownHost(const std::wstring& hostId, const std::wstring& body)
    {
        Process host = StartHost(hostId, body);
        EXPECT_TRUE(host.valid());
        EXPECT_NE(nullptr, HostControl::WaitUntilShown(hostId, 60000)) << "host " << Narrow(hostId);
        return host;
    }
    static void CloseAndExpectZero(const Process& host, const std::wstring& hostId)
    {
        EXPECT_TRUE(HostControl::RequestClose(hostId));
        EXPECT_EQ(std::optional<DWORD>(0), host.Wait(30000));
    }
};

class WholeProgramLoad : public WholeProgram {};
class WholeProgramHosts : public WholeProgram {};
class WholeProgramFaults : public WholeProgram {};
class WholeProgramMemory : public WholeProgram {};

// Second starts at once against one host: every start ends with 0, the host lives on and shows
// last a page that was handed over, no hand-over value stays behind, and the file logger holds
// every record of every process once, as whole lines.
TEST_F(WholeProgramLoad, SecondStartsAtOnceAgainstOneRunningHost)
{
    const unsigned starts = EnvironmentNumber(L"ORDWELL_E2E_STARTS", 100);
    const PageLog pages;
    const std::wstring hostId = UniqueHostId(L"load");
    const Process host = ShownHost(hostId, PageUrl(L"welcome.html"));
    ASSERT_TRUE(host.valid());

    const ULONGLONG began = GetTickCount64();
    std::vector<Process> seconds;
    std::set<std::string> handedOver;
    for (unsigned i = 0; i < starts; ++i) {
        const std::wstring body = PageUrl(L"handover.html") + L"?start=" + std::to_wstring(i);
        handedOver.insert(Narrow(body));
        seconds.push_back(StartHost(hostId, body));
        ASSERT_TRUE(seconds.back().valid()) << i;
    }
    std::set<DWORD> secondIds;
    for (const Process& second : seconds) {
        EXPECT_EQ(std::optional<DWORD>(0), second.Wait(90000)) << "second start " << second.id();
        secondIds.insert(second.id());
    }
    std::cout << starts << " second starts ended in " << (GetTickCount64() - began) << " ms" << std::endl;

    // The host takes the last value over and deletes it.
    const ULONGLONG end = GetTickCount64() + 20000;
    while (HostControl::HandOverValue(hostId) && GetTickCount64() < end) Sleep(100);
    Sleep(1000);
    EXPECT_EQ(std::nullopt, HostControl::HandOverValue(hostId));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(host.handle(), 0)) << "the host ended";

    const std::vector<std::string> navigations = pages.Lines(host.id(), " navigate url=");
    ASSERT_GE(navigations.size(), 2u);
    const std::string last = navigations.back().substr(navigations.back().find("url=") + 4);
    EXPECT_EQ(1u, handedOver.count(last)) << last;
    EXPECT_LE(navigations.size(), starts + 1);
    CloseAndExpectZero(host, hostId);

    // The file logger: whole lines only; each second start said once that it handed over, the
    // host once that it started and once that it ended.
    static const std::wregex shape(LR"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d [AP]M\$ -- \((Normal|Warning|Information|Error|Critical)\)\$ +\[PID: *(\d+) TID: *\d+\]\$ .*$)");
    std::map<DWORD, unsigned> handOverLines;
    unsigned fresh = 0, exiting = 0;
    for (const std::wstring& line : SuiteInstall::ReadOrdwellLogLines()) {
        std::wsmatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << Narrow(line);
        const DWORD pid = std::stoul(match[2].str());
        if (line.find(L"already exists. Setting that event") != std::wstring::npos) ++handOverLines[pid];
        if (pid == host.id() && line.find(L"Fresh Activation: SARN Shell") != std::wstring::npos) ++fresh;
        if (pid == host.id() && line.find(L"EXITING Application: SARN Shell") != std::wstring::npos) ++exiting;
    }
    EXPECT_EQ(1u, fresh);
    EXPECT_EQ(1u, exiting);
    EXPECT_EQ(secondIds.size(), handOverLines.size());
    for (const auto& [pid, count] : handOverLines) {
        EXPECT_EQ(1u, secondIds.count(pid)) << pid;
        EXPECT_EQ(1u, count) << pid;
    }
}

// Hosts with different IDs at once: each runs as a first host, shows, and closes with 0.
TEST_F(WholeProgramHosts, ManyHostsWithDifferentIdsRunOnceEach)
{
    const unsigned count = EnvironmentNumber(L"ORDWELL_E2E_HOSTS", 50);
    std::vector<std::wstring> ids;
    std::vector<Process> hosts;
    const ULONGLONG began = GetTickCount64();
    for (unsigned i = 0; i < count; ++i) {
        ids.push_back(UniqueHostId(L"many"));
        hosts.push_back(StartHost(ids.back(), PageUrl(L"welcome.html")));
        ASSERT_TRUE(hosts.back().valid());
    }
    for (unsigned i = 0; i < count; ++i) {
        EXPECT_NE(nullptr, HostControl::WaitUntilShown(ids[i], 90000)) << i;
    }
    std::cout << count << " hosts shown in " << (GetTickCount64() - began) << " ms" << std::endl;
    for (unsigned i = 0; i < count; ++i) CloseAndExpectZero(hosts[i], ids[i]);
    for (const Process& host : hosts) {
        EXPECT_EQ(1u, SuiteInstall::OrdwellLogLinesOf(host.id(), L"Fresh Activation: SARN Shell").size()) << host.id();
        EXPECT_TRUE(SuiteInstall::OrdwellLogLinesOf(host.id(), L"already exists").empty()) << host.id();
    }
}

// A host ended hard leaves nothing that blocks the next start, which runs as the first host.
// A close request while the host starts, and a bus close event while it navigates, end it with 0.
TEST_F(WholeProgramFaults, HardEndsAndCloseRequestsAtAwkwardMoments)
{
    const std::wstring hostId = UniqueHostId(L"fault");
    {
        const Process killed = ShownHost(hostId, PageUrl(L"welcome.html"));
        killed.Kill(0xDEAD);
        const Process next = ShownHost(hostId, PageUrl(L"welcome.html"));
        EXPECT_EQ(1u, SuiteInstall::OrdwellLogLinesOf(next.id(), L"Fresh Activation: SARN Shell").size());
        CloseAndExpectZero(next, hostId);
    }
    {
        // As soon as the window exists, before it is shown.
        const std::wstring early = UniqueHostId(L"early");
        const Process host = StartHost(early, PageUrl(L"welcome.html"));
        const ULONGLONG end = GetTickCount64() + 60000;
        HWND window = nullptr;
        while ((window = HostControl::FindHostWindow(early)) == nullptr && GetTickCount64() < end) Sleep(5);
        ASSERT_NE(nullptr, window);
        PostMessageW(window, HostControl::kCloseMessage, 0, 0);
        EXPECT_EQ(std::optional<DWORD>(0), host.Wait(30000));
    }
    {
        // The bus event "Nbr.Uninstall.Start" sent into the host while a hand-over navigates.
        const std::wstring busId = UniqueHostId(L"bus");
        const Process host = ShownHost(busId, PageUrl(L"welcome.html"));
        const std::wstring inject = L"Software\\Tervane\\CorvaneStandIn\\Inject\\" + std::to_wstring(host.id());
        const std::wstring name = L"Nbr.Uninstall.Start";
        ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, inject.c_str(), L"name", REG_SZ, name.c_str(),
                                                 static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t))));
        const std::wstring suffix = std::to_wstring(host.id());
        HANDLE delivered = OpenEventW(SYNCHRONIZE, FALSE, (L"CorvaneStandIn.Delivered." + suffix).c_str());
        HANDLE trigger = OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"CorvaneStandIn.Inject." + suffix).c_str());
        ASSERT_NE(nullptr, delivered);
        ASSERT_NE(nullptr, trigger);
        // The host takes the page over as the second start ends; the event arrives meanwhile.
        const Process second = StartHost(busId, PageUrl(L"handover.html"));
        EXPECT_EQ(std::optional<DWORD>(0), second.Wait(30000));
        SetEvent(trigger);
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(delivered, 30000));
        EXPECT_EQ(std::optional<DWORD>(0), host.Wait(30000));
        CloseHandle(delivered);
        CloseHandle(trigger);
        RegDeleteTreeW(HKEY_CURRENT_USER, inject.c_str());
    }
}

// Replaces an installed file for one start, and puts it back.
class ReplacedFile {
public:
    ReplacedFile(std::wstring path, const std::wstring& replacement) : m_path(std::move(path))
    {
        m_saved = m_path + L".saved";
        EXPECT_TRUE(MoveFileExW(m_path.c_str(), m_saved.c_str(), MOVEFILE_REPLACE_EXISTING)) << GetLastError();
        if (!replacement.empty()) {
            EXPECT_TRUE(CopyFileW(replacement.c_str(), m_path.c_str(), FALSE));
        }
    }
    ~ReplacedFile() { MoveFileExW(m_saved.c_str(), m_path.c_str(), MOVEFILE_REPLACE_EXISTING); }
    ReplacedFile(const ReplacedFile&) = delete;
    ReplacedFile& operator=(const ReplacedFile&) = delete;
    [[nodiscard]] const std::wstring& saved() const { return m_saved; }

private:
    std::wstring m_path;
    std::wstring m_saved;
};

// Missing or untrusted (an unsigned build the validation service does not vouch for) outside
// modules end start-up with the documented code and log line; the URL handler is optional. A
// tampered copy of the validation service is refused, and with it everything it would vouch for.
TEST_F(WholeProgramFaults, MissingUntrustedAndTamperedModules)
{
    const std::wstring unsignedDir = SuiteInstall::ThisProgramFolder() + L"\\..\\standins-unsigned";
    struct Case {
        std::wstring installed;
        std::wstring unsignedBuild;
        DWORD exitCode;
        const wchar_t* logText;
    };
    const Case cases[] = {
        {SuiteInstall::KvUtilFolder(g_layout) + L"\\KvUtil.dll", unsignedDir + L"\\kvutil-full\\KvUtil.dll", 0x80004005,
         L"There was an error initializing KVUTIL library. ERROR: 0x"},
        {g_layout.productDir + L"\\KvBrwsr2.dll", unsignedDir + L"\\KvBrwsr2.dll", 0,
         L"There was an error Initializing the browser control"},
    };
    const std::vector<std::wstring> trusted = SuiteInstall::TrustedFiles(g_layout);
    for (const Case& item : cases) {
        for (bool missing : {true, false}) {
            SuiteInstall::ClearOrdwellLogs();
            std::vector<std::wstring> list;
            std::copy_if(trusted.begin(), trusted.end(), std::back_inserter(list),
                         [&](const std::wstring& path) { return path != item.installed; });
            ASSERT_TRUE(SuiteInstall::SetTrustedFiles(list));
            {
                const ReplacedFile replaced(item.installed, missing ? std::wstring() : item.unsignedBuild);
                const Process host = StartHost(UniqueHostId(L"module"), PageUrl(L"welcome.html"));
                EXPECT_EQ(std::optional<DWORD>(item.exitCode), host.Wait(60000)) << Narrow(item.installed);
                EXPECT_EQ(1u, SuiteInstall::OrdwellLogLinesOf(host.id(), item.logText).size())
                    << Narrow(item.installed) << " " << missing;
            }
            ASSERT_TRUE(SuiteInstall::SetTrustedFiles(trusted));
        }
    }
    {
        // Without the URL handler the host starts all the same, and no URL is rewritten.
        const PageLog pages;
        const std::wstring hostId = UniqueHostId(L"nohandler");
        const ReplacedFile replaced(g_layout.productDir + L"\\Tessil.dll", L"");
        const Process host = ShownHost(hostId, PageUrl(L"welcome.html"));
        EXPECT_EQ(1u, pages.Lines(host.id(), "init flags=6 handler=no").size());
        EXPECT_TRUE(pages.Lines(host.id(), "handler code=1").empty());
        CloseAndExpectZero(host, hostId);
    }
    {
        const std::wstring service = g_layout.halvornDir + L"\\qdxnroa.dll";
        const ReplacedFile replaced(service, g_layout.halvornDir + L"\\qdxnroa.dll.saved");
        // One byte of the code changed behind the signature.
        HANDLE file = CreateFileW(service.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        BYTE byte = 0;
        DWORD done = 0;
        SetFilePointer(file, 0x600, nullptr, FILE_BEGIN);
        ASSERT_TRUE(ReadFile(file, &byte, 1, &done, nullptr));
        byte ^= 0x5A;
        SetFilePointer(file, 0x600, nullptr, FILE_BEGIN);
        ASSERT_TRUE(WriteFile(file, &byte, 1, &done, nullptr));
        CloseHandle(file);
        const Process host = StartHost(UniqueHostId(L"tampered"), PageUrl(L"welcome.html"));
        EXPECT_EQ(std::optional<DWORD>(0x80004005), host.Wait(60000));
    }
    // Everything back in place: a host starts again.
    const std::wstring hostId = UniqueHostId(L"restored");
    const Process host = ShownHost(hostId, PageUrl(L"welcome.html"));
    CloseAndExpectZero(host, hostId);
}

// A host taking many hand-overs, each page calling the page objects, keeps its private bytes and
// handle count within 5% of their values after the first tenth (the first 100 of 1,000). A short
// run measures first after 20 at the earliest: the first pages still warm the host up (several
// megabytes come with the first calls of the page objects, sometimes only after a few pages).
TEST_F(WholeProgramMemory, ManyHandOversKeepMemoryAndHandlesLevel)
{
    const unsigned total = EnvironmentNumber(L"ORDWELL_E2E_HANDOVERS", 1000);
    const unsigned baselineAt = std::max(std::min(20u, std::max(1u, total / 2)), total / 10);
    const std::wstring hostId = UniqueHostId(L"memory");
    const Process host = ShownHost(hostId, PageUrl(L"welcome.html"));
    ASSERT_TRUE(host.valid());
    HostControl::Figures baseline;
    const ULONGLONG began = GetTickCount64();
    for (unsigned i = 1; i <= total; ++i) {
        const wchar_t* page = i % 2 == 0 ? L"welcome.html" : L"handover.html";
        const Process second = StartHost(hostId, PageUrl(page) + L"?n=" + std::to_wstring(i));
        ASSERT_EQ(std::optional<DWORD>(0), second.Wait(30000)) << i;
        const ULONGLONG end = GetTickCount64() + 10000;
        while (HostControl::HandOverValue(hostId) && GetTickCount64() < end) Sleep(5);
        ASSERT_EQ(std::nullopt, HostControl::HandOverValue(hostId)) << "hand-over " << i << " was not taken";
        if (i == baselineAt) {
            Sleep(500);
            const std::optional<HostControl::Figures> figures = HostControl::Measure(host.handle(), L"/id:" + hostId);
            ASSERT_TRUE(figures);
            baseline = *figures;
        }
    }
    Sleep(500);
    const std::optional<HostControl::Figures> last = HostControl::Measure(host.handle(), L"/id:" + hostId);
    ASSERT_TRUE(last);
    std::cout << total << " hand-overs in " << (GetTickCount64() - began) << " ms; after " << baselineAt
              << ": private bytes " << baseline.privateBytes << ", handles " << baseline.handles << "; after "
              << total << ": private bytes " << last->privateBytes << ", handles " << last->handles << std::endl;
    ASSERT_GT(baseline.privateBytes, 0u) << "no memory figure could be read";
    ASSERT_GT(baseline.handles, 0u) << "no handle count could be read: GetProcessHandleCount answered 0 and "
                                       "the system handle table could not be read";
    EXPECT_NEAR(static_cast<double>(last->privateBytes), baseline.privateBytes, baseline.privateBytes * 0.05);
    EXPECT_NEAR(static_cast<double>(last->handles), baseline.handles, baseline.handles * 0.05);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(host.handle(), 0));
    CloseAndExpectZero(host, hostId);
}

}  // namespace
