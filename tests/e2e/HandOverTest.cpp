// Hand-overs between starts of Ordwell.exe in a suite install, driven from outside: each host takes
// only the pages of its own ID (long IDs behind "?" included), nothing written for a dead host
// reaches its successor, starts racing a host's end never report a page as handed over that no host
// takes, and a handed-over page from a DLL in a folder of its own is shown only when that DLL is
// trusted, however the URL spells the DLL's path.

#include "core/ini/CObfuscatedIniReader.h"
#include "core/testsupport/EnvironmentNumber.h"
#include "core/testsupport/Narrow.h"
#include "core/testsupport/UniqueHostId.h"
#include "tests/e2e/support/HostControl.h"
#include "tests/e2e/support/SuiteInstall.h"

#include <gtest/gtest.h>
#include <sddl.h>
#include <windows.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <thread>
#include <string>
#include <utility>
#include <vector>

namespace {

using HostControl::Process;

SuiteInstall::Layout g_layout;

constexpr DWORD kEventAbort = 0x80004004;

using Fundor::testing::DebugFollowEnd;
using Fundor::testing::EnvironmentNumber;
using Fundor::testing::FollowDebugStrings;
using Fundor::testing::RunProgram;
using Fundor::testing::UniqueHostId;

using Fundor::testing::Narrow;
std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string MainPage(const std::string& query) { return "sarn://qrnuild.dll::main.html?" + query; }

Process StartOrdwell(const std::wstring& hostId, const std::string& body)
{
    std::wstring arguments = L"/id:" + hostId;
    if (!body.empty()) arguments += L" /body:" + Wide(body);
    return Process(SuiteInstall::ProgramPath(g_layout), arguments);
}

// The browser stand-in's records of every process started while it lives.
class PageLog {
public:
    PageLog() : m_path(SuiteInstall::PrefixTempFolder() + L"\\" + UniqueHostId(L"handover-pages") + L".log")
    {
        SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_LOG", m_path.c_str());
    }
    ~PageLog()
    {
        SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_LOG", nullptr);
        DeleteFileW(m_path.c_str());
    }
    PageLog(const PageLog&) = delete;
    PageLog& operator=(const PageLog&) = delete;

    // The URLs each process asked its browser control to show, in order.
    [[nodiscard]] std::map<DWORD, std::vector<std::string>> Navigations() const
    {
        std::map<DWORD, std::vector<std::string>> navigations;
        for (const std::string& line : AllLines()) {
            const std::size_t at = line.find(" navigate url=");
            if (line.rfind("pid=", 0) == 0 && at != std::string::npos) {
                navigations[std::stoul(line.substr(4))].push_back(line.substr(at + 14));
            }
        }
        return navigations;
    }
    // The processes that navigated to url.
    [[nodiscard]] std::vector<DWORD> ShownBy(const std::string& url) const
    {
        std::vector<DWORD> processes;
        for (const auto& [pid, urls] : Navigations()) {
            if (std::find(urls.begin(), urls.end(), url) != urls.end()) processes.push_back(pid);
        }
        return processes;
    }
    // Record lines that hold the text.
    [[nodiscard]] std::vector<std::string> LinesWith(const std::string& text) const
    {
        std::vector<std::string> found;
        for (const std::string& line : AllLines()) {
            if (line.find(text) != std::string::npos) found.push_back(line);
        }
        return found;
    }

private:
    [[nodiscard]] std::vector<std::string> AllLines() const
    {
        std::vector<std::string> lines;
        std::ifstream file(Narrow(m_path));
        std::string line;
        while (std::getline(file, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
        }
        return lines;
    }

    std::wstring m_path;
};

// A start whose end is awaited: it either exits, or it has become the host of its ID.
struct Racer {
    std::wstring hostId;
    std::string page;
    Process process;
    std::optional<DWORD> exitCode;
    bool becameHost = false;
};

// Waits until every racer has exited or is the process showing the host window of its ID.
void Resolve(std::vector<Racer>& racers, DWORD timeout)
{
    const ULONGLONG end = GetTickCount64() + timeout;
    for (;;) {
        bool open = false;
        for (Racer& racer : racers) {
            if (racer.exitCode || racer.becameHost) continue;
            racer.exitCode = racer.process.Wait(0);
            if (!racer.exitCode) {
                racer.becameHost = HostControl::HostProcessId(racer.hostId) == racer.process.id() &&
                                   HostControl::WaitUntilShown(racer.hostId, 0) != nullptr;
            }
            open = open || (!racer.exitCode && !racer.becameHost);
        }
        if (!open || GetTickCount64() >= end) return;
        Sleep(50);
    }
}

// A second start's page is either taken by a host and shown, or the start says it was not: with a
// failing exit code and a log line. A start that became the host shows its own page.
void ExpectNoPageLostWithSuccess(const std::vector<Racer>& racers, const PageLog& pages)
{
    static const wchar_t* const kNotHandedOver[] = {L"did not end in time", L"did not take the page",
                                                    L"was not free in", L"its place could not be taken",
                                                    L"Could not set the event of the Host",
                                                    L"Could not take the host token"};
    for (const Racer& racer : racers) {
        const std::vector<DWORD> shownBy = pages.ShownBy(racer.page);
        ASSERT_TRUE(racer.exitCode || racer.becameHost) << racer.page << " neither ended nor became the host";
        if (racer.becameHost) {
            EXPECT_EQ(1u, std::count(shownBy.begin(), shownBy.end(), racer.process.id())) << racer.page;
            continue;
        }
        EXPECT_NE(kEventAbort, *racer.exitCode) << racer.page;
        if (*racer.exitCode == 0) {
            EXPECT_FALSE(shownBy.empty()) << racer.page << " was reported handed over and no host showed it";
        } else {
            bool said = false;
            for (const wchar_t* text : kNotHandedOver) {
                said = said || !SuiteInstall::OrdwellLogLinesOf(racer.process.id(), text).empty();
            }
            EXPECT_TRUE(said) << racer.page << " failed with 0x" << std::hex << *racer.exitCode << " and no log line";
        }
    }
}

// Ends whatever host the ID has now.
void EndHostOf(const std::wstring& hostId)
{
    const DWORD pid = HostControl::HostProcessId(hostId);
    if (pid == 0) return;
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
    EXPECT_TRUE(HostControl::RequestClose(hostId));
    if (process != nullptr) {
        if (WaitForSingleObject(process, 30000) != WAIT_OBJECT_0) TerminateProcess(process, 0xDEAD);
        CloseHandle(process);
    }
}

// The file logger's settings for Ordwell.exe, read by each start: "Options" bit 1 also sends each
// record to a debugger; "Severity" is the lowest level written.
void SetLogSetting(const wchar_t* key, int value)
{
    Fundor::CObfuscatedIniReader ini;
    (void)ini.Load(SuiteInstall::OrdwellLogFolder() + L"\\log.ini");
    ASSERT_TRUE(ini.WriteInt(L"Config", key, value));
}
void SetLogOptions(int options) { SetLogSetting(L"Options", options); }

// Starts the program under this thread's debugger and lets it run until it sends a debug string
// holding text; calls atText while the program stands still there, then lets it go.
Process StartUntilDebugString(const std::wstring& arguments, const std::string& text,
                              const std::function<void()>& atText, DWORD timeout)
{
    Process start(SuiteInstall::ProgramPath(g_layout), arguments, {.flags = DEBUG_ONLY_THIS_PROCESS});
    if (!start.valid()) {
        ADD_FAILURE() << "the program did not start: " << GetLastError();
        return start;
    }
    const DebugFollowEnd end = FollowDebugStrings(start, timeout, [&](const std::string& said) {
        if (said.find(text) == std::string::npos) return true;
        atText();
        return false;
    });
    EXPECT_EQ(DebugFollowEnd::Stopped, end) << "the program never said " << text;
    return start;
}

class WholeProgramHandOver : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_layout = SuiteInstall::DefaultLayout(SuiteInstall::ThisProgramFolder());
        const std::wstring failure = SuiteInstall::Install(g_layout);
        ASSERT_TRUE(failure.empty()) << Narrow(failure);
    }
    static void TearDownTestSuite() { SuiteInstall::EndInstalledPrograms(); }
    void SetUp() override { SuiteInstall::ClearOrdwellLogs(); }

    static Process ShownHost(const std::wstring& hostId, const std::string& body)
    {
        Process host = StartOrdwell(hostId, body);
        EXPECT_TRUE(host.valid());
        EXPECT_NE(nullptr, HostControl::WaitUntilShown(hostId, 60000)) << Narrow(hostId);
        return host;
    }
    static void CloseAndExpectZero(const Process& host, const std::wstring& hostId)
    {
        EXPECT_TRUE(HostControl::RequestClose(hostId));
        EXPECT_EQ(std::optional<DWORD>(0), host.Wait(30000));
    }
};

// Two hosts of different IDs take second starts at once. Each shows every page of its own ID, once,
// and none of the other's; a third of the starts name their host through an ID behind "?", some
// too long for a window class of their own.
TEST_F(WholeProgramHandOver, EachHostShowsThePagesOfItsOwnIdOnly)
{
    const unsigned starts = EnvironmentNumber(L"ORDWELL_E2E_HANDOVER_STARTS", 12);
    const PageLog pages;
    const std::wstring ids[2] = {UniqueHostId(L"own-a"), UniqueHostId(L"own-b")};
    const std::string tags[2] = {"a", "b"};
    const Process hosts[2] = {ShownHost(ids[0], MainPage("first")), ShownHost(ids[1], MainPage("first"))};
    ASSERT_TRUE(hosts[0].valid() && hosts[1].valid());

    std::vector<Racer> seconds;
    for (unsigned i = 0; i < starts; ++i) {
        for (int h = 0; h < 2; ++h) {
            std::wstring id = ids[h];
            if (i % 3 == 1) id += L"?part";
            if (i % 3 == 2) id += L"?" + std::wstring(300, L'x');
            const std::string page = MainPage("host=" + tags[h] + "&n=" + std::to_string(i));
            seconds.push_back({id, page, StartOrdwell(id, page)});
            ASSERT_TRUE(seconds.back().process.valid());
        }
    }
    for (Racer& second : seconds) {
        EXPECT_EQ(std::optional<DWORD>(0), second.process.Wait(90000)) << second.page;
    }

    const auto navigations = pages.Navigations();
    for (int h = 0; h < 2; ++h) {
        const auto found = navigations.find(hosts[h].id());
        ASSERT_NE(found, navigations.end()) << tags[h];
        for (const std::string& url : found->second) {
            EXPECT_TRUE(url == MainPage("first") || url.find("?host=" + tags[h] + "&") != std::string::npos)
                << "host " << tags[h] << " showed " << url;
        }
        for (const Racer& second : seconds) {
            if (second.page.find("?host=" + tags[h] + "&") == std::string::npos) continue;
            EXPECT_EQ(1, std::count(found->second.begin(), found->second.end(), second.page)) << second.page;
        }
        EXPECT_EQ(std::nullopt, HostControl::HandOverValue(ids[h]));
        CloseAndExpectZero(hosts[h], ids[h]);
    }
}

// Pages handed to a host that reads nothing (its threads stopped) and is then killed: no start
// reports a page handed over that no host shows, and the host after it shows nothing more when a
// start without a page only wakes it.
TEST_F(WholeProgramHandOver, KilledHostLeavesNoPageForTheNextHost)
{
    const PageLog pages;
    const std::wstring id = UniqueHostId(L"killed");
    const Process first = ShownHost(id, MainPage("first"));
    ASSERT_TRUE(HostControl::SuspendProcess(first.id()));
    std::vector<Racer> seconds;
    for (int i = 0; i < 3; ++i) {
        const std::string page = MainPage("killed=" + std::to_string(i));
        seconds.push_back({id, page, StartOrdwell(id, page)});
        Sleep(300);
    }
    Sleep(1500);
    first.Kill(0xDEAD);
    Resolve(seconds, 90000);
    ExpectNoPageLostWithSuccess(seconds, pages);

    // The next host: one of the starts, or a new one when none took the place.
    if (HostControl::HostProcessId(id) == 0) StartOrdwell(id, MainPage("next")).Release();
    ASSERT_NE(nullptr, HostControl::WaitUntilShown(id, 60000));
    const DWORD next = HostControl::HostProcessId(id);
    Sleep(1000);
    const std::size_t shownBefore = pages.Navigations()[next].size();
    EXPECT_EQ(std::optional<DWORD>(0), RunProgram(SuiteInstall::ProgramPath(g_layout), L"/id:" + id, 60000));
    Sleep(1500);
    const std::vector<std::string> shown = pages.Navigations()[next];
    EXPECT_EQ(shownBefore, shown.size()) << "the next host showed " << shown.back();
    EXPECT_EQ(std::nullopt, HostControl::HandOverValue(id));
    EndHostOf(id);
}

// Starts that race a host's end. However it ends, a start never ends with 0x80004004 and never
// reports a page handed over that no host shows; a start that finds the host gone takes its place.
// - The host is told to close while starts arrive (rounds of it).
// - The host ends while another process keeps its event open: the event outlives the host.
// - A start's creation of the event is refused by the ending host's list, and the event is gone
//   when the start opens it (the start is held still in between).
TEST_F(WholeProgramHandOver, StartsRacingTheHostsEndLoseNoPage)
{
    enum class Ending { CloseRequest, EventHeldElsewhere, CreationRefusedThenGone };
    std::vector<Ending> rounds = {Ending::EventHeldElsewhere, Ending::CreationRefusedThenGone};
    rounds.insert(rounds.end(), EnvironmentNumber(L"ORDWELL_E2E_RACE_ROUNDS", 8), Ending::CloseRequest);
    const PageLog pages;
    int round = 0;
    for (const Ending ending : rounds) {
        SCOPED_TRACE("round " + std::to_string(round));
        const std::wstring id = UniqueHostId(L"race");
        const std::string prefix = "race=" + std::to_string(round++) + "&s=";
        std::vector<Racer> racers;
        // Owned until the round is resolved: the starts race the host's own end, not a kill.
        Process host;
        switch (ending) {
        case Ending::CloseRequest: {
            host = ShownHost(id, MainPage("host"));
            HWND window = HostControl::FindHostWindow(id);
            ASSERT_NE(nullptr, window);
            PostMessageW(window, HostControl::kCloseMessage, 0, 0);
            for (int s = 0; s < 2; ++s) {
                racers.push_back({id, MainPage(prefix + std::to_string(s)), Process()});
                racers.back().process = StartOrdwell(id, racers.back().page);
            }
            break;
        }
        case Ending::EventHeldElsewhere: {
            host = ShownHost(id, MainPage("host"));
            HANDLE held = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, id.c_str());
            ASSERT_NE(nullptr, held);
            HANDLE exitEvent =
                OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"F0230C9FDB504518A1CC2EF2EDD4FE77_" + id).c_str());
            ASSERT_NE(nullptr, exitEvent);
            SetEvent(exitEvent);
            CloseHandle(exitEvent);
            EXPECT_EQ(std::optional<DWORD>(0), host.Wait(30000));
            racers.push_back({id, MainPage(prefix + "0"), StartOrdwell(id, MainPage(prefix + "0"))});
            Sleep(2000);
            CloseHandle(held);
            break;
        }
        case Ending::CreationRefusedThenGone: {
            // This process holds the event with the host's list, as a host that is ending does.
            SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;SDWD;;;WD)(A;;GA;;;WD)", 1,
                                                                             &descriptor, nullptr));
            attributes.lpSecurityDescriptor = descriptor;
            HANDLE dying = CreateEventW(&attributes, FALSE, FALSE, id.c_str());
            LocalFree(descriptor);
            ASSERT_NE(nullptr, dying);
            SetLogOptions(21);
            const std::string page = MainPage(prefix + "0");
            Process start = StartUntilDebugString(L"/id:" + id + L" /body:" + Wide(page), "create event failed: 0x5",
                                                  [&] { CloseHandle(std::exchange(dying, nullptr)); }, 60000);
            SetLogOptions(20);
            if (dying != nullptr) CloseHandle(dying);
            racers.push_back({id, page, std::move(start)});
            break;
        }
        }
        Resolve(racers, 90000);
        ExpectNoPageLostWithSuccess(racers, pages);
        EndHostOf(id);
    }
}

// A host asked from outside to end, whose teardown is slow: a start that waited for it takes its
// place meanwhile. The old host's last reference, dropped once its successor has made its own exit
// event under the same name, leaves the successor running: it shows its page and stays.
TEST_F(WholeProgramHandOver, AnEndingHostLeavesItsSuccessorRunning)
{
    const PageLog pages;
    const std::wstring id = UniqueHostId(L"successor");
    const std::wstring exitEventName = L"F0230C9FDB504518A1CC2EF2EDD4FE77_" + id;
    SetLogOptions(21);
    SetLogSetting(L"Severity", 1);
    Process old;
    bool successorsEventSeen = false;
    // The old host runs under a debugger thread, which holds it still at its window's destruction
    // (after it gave its events up) until the successor has made its exit event.
    std::thread debugger([&] {
        old = StartUntilDebugString(L"/id:" + id + L" /body:" + Wide(MainPage("old")), "Destroy child windows",
                                    [&] {
                                        const ULONGLONG end = GetTickCount64() + 60000;
                                        while (!successorsEventSeen && GetTickCount64() < end) {
                                            HANDLE made = OpenEventW(SYNCHRONIZE, FALSE, exitEventName.c_str());
                                            successorsEventSeen = made != nullptr;
                                            if (made != nullptr) CloseHandle(made);
                                            Sleep(20);
                                        }
                                    },
                                    120000);
    });
    const bool oldShown = HostControl::WaitUntilShown(id, 60000) != nullptr;
    HANDLE exitEvent = OpenEventW(EVENT_MODIFY_STATE, FALSE, exitEventName.c_str());
    EXPECT_TRUE(oldShown && exitEvent != nullptr);
    Process successor;
    if (exitEvent != nullptr) {
        SetEvent(exitEvent);
        CloseHandle(exitEvent);
        successor = StartOrdwell(id, MainPage("successor"));
    }
    debugger.join();
    SetLogOptions(20);
    SetLogSetting(L"Severity", 3);
    ASSERT_TRUE(successor.valid());
    EXPECT_TRUE(successorsEventSeen) << "the successor never made its exit event";
    EXPECT_EQ(std::optional<DWORD>(0), old.Wait(30000));

    ASSERT_NE(nullptr, HostControl::WaitUntilShown(id, 60000)) << "the successor ended without showing its page";
    EXPECT_EQ(successor.id(), HostControl::HostProcessId(id));
    Sleep(1000);
    EXPECT_EQ(std::nullopt, successor.Wait(0)) << "the successor ended";
    const std::vector<DWORD> shownBy = pages.ShownBy(MainPage("successor"));
    EXPECT_EQ(1, std::count(shownBy.begin(), shownBy.end(), successor.id()));
    CloseAndExpectZero(successor, id);
}

// Pages handed over from DLLs in folders of their own: shown when the DLL is one the validation
// service vouches for, never when it is an unsigned copy that nobody vouches for, whatever the
// spelling; the URL library's own forms keep working beside them.
TEST_F(WholeProgramHandOver, ForeignDllPagesAreShownOnlyFromTrustedDlls)
{
    wchar_t temp[MAX_PATH] = {};
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
    const std::wstring folder = std::wstring(temp) + UniqueHostId(L"foreign");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((folder + L"\\sub").c_str(), nullptr));
    const std::wstring pagesDll = g_layout.productDir + L"\\qrnuild.dll";
    const std::wstring untrusted = folder + L"\\foreign.dll";
    const std::wstring trusted = folder + L"\\trusted.dll";
    ASSERT_TRUE(CopyFileW(pagesDll.c_str(), untrusted.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(pagesDll.c_str(), trusted.c_str(), FALSE));
    std::vector<std::wstring> vouched = SuiteInstall::TrustedFiles(g_layout);
    vouched.push_back(trusted);
    ASSERT_TRUE(SuiteInstall::SetTrustedFiles(vouched));

    // The DLL's path as the install folder's "@" form reaches it: up to the drive, then down.
    auto belowInstall = [](const std::wstring& path) {
        std::wstring up;
        for (wchar_t c : g_layout.productDir.substr(3)) up += c == L'\\' ? L"..\\" : L"";
        return L"@..\\" + up + path.substr(3);
    };
    auto slashes = [](std::wstring path) {
        std::replace(path.begin(), path.end(), L'\\', L'/');
        return path;
    };
    struct Spelling {
        const wchar_t* name;
        std::function<std::wstring(const std::wstring&)> url;  // from the DLL's full path
        // Whether the trusted copy shows through this spelling; not asked where the platform's own
        // reading of the path decides it (the file it names is checked either way).
        std::optional<bool> shownWhenTrusted;
    };
    const Spelling spellings[] = {
        {L"backslashes", [](const std::wstring& dll) { return L"sarn://" + dll; }, true},
        {L"slashes", [&](const std::wstring& dll) { return L"sarn://" + slashes(dll); }, true},
        {L"one slash skipped", [](const std::wstring& dll) { return L"sarn://\\" + dll; }, true},
        {L"scheme in capitals", [](const std::wstring& dll) { return L"SARN://" + dll; }, true},
        {L"dot-dot",
         [](const std::wstring& dll) {
             const std::size_t name = dll.rfind(L'\\') + 1;
             return L"sarn://" + dll.substr(0, name) + L"sub\\..\\" + dll.substr(name);
         },
         true},
        {L"trailing dot", [](const std::wstring& dll) { return L"sarn://" + dll + L"."; }, true},
        {L"long path prefix", [](const std::wstring& dll) { return L"sarn:////\\\\?\\" + dll; }, true},
        {L"install folder form", [&](const std::wstring& dll) { return L"sarn://" + belowInstall(dll); }, true},
        {L"three slashes", [](const std::wstring& dll) { return L"sarn:///" + dll; }, std::nullopt},
        {L"share",
         [](const std::wstring& dll) { return L"sarn:////\\\\localhost\\" + dll.substr(0, 1) + L"$" + dll.substr(2); },
         false},
        {L"share behind the long path prefix",
         [](const std::wstring& dll) {
             return L"sarn:////\\\\?\\UNC\\localhost\\" + dll.substr(0, 1) + L"$" + dll.substr(2);
         },
         false},
        {L"device path", [](const std::wstring& dll) { return L"sarn:////\\\\.\\" + dll; }, false},
        {L"stream", [](const std::wstring& dll) { return L"sarn://" + dll + L":page"; }, false},
    };

    const PageLog pages;
    const std::wstring id = UniqueHostId(L"foreign");
    const Process host = ShownHost(id, MainPage("first"));
    ASSERT_TRUE(host.valid());
    int n = 0;
    for (const Spelling& spelling : spellings) {
        for (const bool isTrusted : {false, true}) {
            const std::string query = "foreign=" + std::to_string(n++);
            const std::wstring url = spelling.url(isTrusted ? trusted : untrusted) + L"::main.html?" + Wide(query);
            EXPECT_EQ(std::optional<DWORD>(0),
                      RunProgram(SuiteInstall::ProgramPath(g_layout), L"/id:" + id + L" /body:" + url, 60000));
            // Shown: navigated, and the page read from the DLL (no page error).
            bool navigated = false;
            bool pageError = false;
            for (const std::string& line : pages.LinesWith(query)) {
                navigated = navigated || line.find(" navigate url=") != std::string::npos;
                pageError = pageError || line.find(" page_error ") != std::string::npos;
            }
            if (isTrusted && !spelling.shownWhenTrusted) continue;
            EXPECT_EQ(isTrusted && *spelling.shownWhenTrusted, navigated && !pageError)
                << Narrow(spelling.name) << (isTrusted ? " trusted: " : " untrusted: ") << Narrow(url);
        }
    }
    // A pipe of another process named as the DLL: refused before it is opened, so the pipe's server
    // never sees the host connect (on a share that would be a logon over the network).
    const std::wstring pipeName = L"\\\\.\\pipe\\" + UniqueHostId(L"foreign-pipe");
    HANDLE pipe = CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE, 1, 4096,
                                   4096, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
    OVERLAPPED connection{};
    connection.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_FALSE(ConnectNamedPipe(pipe, &connection));
    EXPECT_EQ(static_cast<DWORD>(ERROR_IO_PENDING), GetLastError());
    const std::string pipeQuery = "foreign=pipe";
    const std::wstring pipeUrl = L"sarn:////" + pipeName + L"::main.html?" + Wide(pipeQuery);
    EXPECT_EQ(std::optional<DWORD>(0),
              RunProgram(SuiteInstall::ProgramPath(g_layout), L"/id:" + id + L" /body:" + pipeUrl, 60000));
    Sleep(500);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(connection.hEvent, 0))
        << "the host connected to another process's pipe";
    EXPECT_TRUE(pages.LinesWith(pipeQuery).empty());
    CancelIo(pipe);
    CloseHandle(connection.hEvent);
    CloseHandle(pipe);

    // The suite's own forms beside them.
    for (const std::string& url : {MainPage("own=1"), std::string("sarn://@qrnuild.dll::main.html?own=2")}) {
        EXPECT_EQ(std::optional<DWORD>(0),
                  RunProgram(SuiteInstall::ProgramPath(g_layout), L"/id:" + id + L" /body:" + Wide(url), 60000));
        const std::vector<DWORD> shownBy = pages.ShownBy(url);
        EXPECT_EQ(1, std::count(shownBy.begin(), shownBy.end(), host.id())) << url;
    }
    CloseAndExpectZero(host, id);
    ASSERT_TRUE(SuiteInstall::SetTrustedFiles(SuiteInstall::TrustedFiles(g_layout)));
    DeleteFileW(untrusted.c_str());
    DeleteFileW(trusted.c_str());
    RemoveDirectoryW((folder + L"\\sub").c_str());
    RemoveDirectoryW(folder.c_str());
}

}  // namespace
