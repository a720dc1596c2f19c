// Ordwell.exe run as a whole with the signed browser-control, utility and bus stand-ins and the URL
// library, seen from outside: its named objects, window and title, the bus subscriptions, the
// hand-over of a second start, and how it can be closed from another process.

#include "shell/host/HandOverChannel.h"
#include "shell/tests/hostrun/HostRunSupport.h"

#include <gtest/gtest.h>
#include <aclapi.h>
#include <sddl.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using namespace HostRun;

constexpr UINT kShellClose = 0x47B;
constexpr UINT kShellExternalDestroy = 0x8002;
constexpr UINT kShellNavigate = 0x8003;
constexpr UINT kShellGetCurrentUrl = 0x8004;
constexpr DWORD kStartTimeout = 30000;

class HostRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_environment.Ready()); }

    // Starts a host and waits until its page ran and its window shows.
    struct RunningHost {
        std::wstring id;
        Process process;
        HWND window = nullptr;
    };
    RunningHost Start(const std::wstring& page)
    {
        RunningHost host;
        host.id = UniqueHostId(L"run");
        host.process = Process(OrdwellPath(), HostArguments(host.id, page));
        EXPECT_TRUE(host.process.valid());
        const DWORD pid = host.process.id();
        EXPECT_TRUE(WaitUntil(
            [&] {
                host.window = FindProcessWindow(pid, host.id);
                return host.window != nullptr && IsWindowVisible(host.window) &&
                       !LinesOf(m_environment.BrowserLog(), pid, {L" page resource=" + page}).empty();
            },
            kStartTimeout))
            << "the host did not show " << std::string(page.begin(), page.end());
        return host;
    }
    std::vector<std::wstring> BrowserLines(const RunningHost& host, std::initializer_list<std::wstring> texts) const
    {
        return LinesOf(m_environment.BrowserLog(), host.process.id(), texts);
    }
    // A send from this process, as any other process of the user could make it.
    static bool Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
    {
        DWORD_PTR result = 0;
        return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG, 5000, &result) != 0;
    }
    // Runs a second start and waits for its own exit code.
    static std::optional<DWORD> SecondStart(const std::wstring& id, const std::wstring& body)
    {
        Process second(OrdwellPath(), L"/id:" + id + L" /body:" + body);
        return second.Wait(kStartTimeout);
    }

    HostRunEnvironment m_environment;
};

std::wstring EventListOf(const std::wstring& name)
{
    HANDLE event = OpenEventW(READ_CONTROL, FALSE, name.c_str());
    if (event == nullptr) return L"<no event>";
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring text = L"<unreadable>";
    if (GetSecurityInfo(event, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                        &descriptor) == ERROR_SUCCESS) {
        wchar_t* sddl = nullptr;
        if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                 DACL_SECURITY_INFORMATION, &sddl, nullptr)) {
            text = sddl;
            LocalFree(sddl);
        }
        LocalFree(descriptor);
    }
    CloseHandle(event);
    return text;
}

std::optional<std::wstring> HandOverValue(const std::wstring& hostId)
{
    wchar_t text[2100] = {};
    DWORD size = sizeof(text);
    if (RegGetValueW(HKEY_CURRENT_USER, kHandOverKey, HandOverValueName(HostEventNameOf(hostId.c_str())).c_str(),
                     RRF_RT_ANY, nullptr, text, &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(text);
}

// One host through its whole life: what it made, what it shows, the hand-overs it takes and
// refuses, the close requests its page refuses, and the close its next page allows.
TEST_F(HostRun, RunningHostTakesHandOversAndClosesOnlyWhenItsPageAllows)
{
    RunningHost host = Start(L"locked.html");
    ASSERT_NE(nullptr, host.window);
    const DWORD pid = host.process.id();

    // Named objects: the host event with its list, the exit event named by the ID.
    EXPECT_EQ(L"D:(D;;SDWD;;;WD)(A;;GA;;;WD)", EventListOf(host.id));
    HANDLE exitEvent = OpenEventW(SYNCHRONIZE, FALSE, (L"F0230C9FDB504518A1CC2EF2EDD4FE77_" + host.id).c_str());
    EXPECT_NE(nullptr, exitEvent);
    if (exitEvent != nullptr) CloseHandle(exitEvent);

    // The window: class named by the ID, title from the product's strings, 700 x 620 centred in
    // the 1024 x 768 work area (the configuration names the page with a position only).
    RECT rectangle{};
    GetWindowRect(host.window, &rectangle);
    EXPECT_EQ(700, rectangle.right - rectangle.left);
    EXPECT_EQ(620, rectangle.bottom - rectangle.top);
    EXPECT_EQ(162, rectangle.left);
    EXPECT_EQ(74, rectangle.top);
    wchar_t title[260] = {};
    GetWindowTextW(host.window, title, 260);
    EXPECT_STREQ(L"Tervane Ordwell", title);

    // The URL library turned the page's short name into the page DLL beside the UI DLL.
    const auto handled = BrowserLines(host, {L" handler code=1 result=0 url=sarn://", L"::locked.html"});
    ASSERT_EQ(1u, handled.size());
    EXPECT_NE(std::wstring::npos, handled[0].find(L" url=sarn://" + BinFolder().substr(0, 3))) << handled[0];

    // The bus: one subscription for each of the two close events.
    EXPECT_EQ(1u, LinesOf(m_environment.BusLog(), pid, {L" subscribe ", L" name=Nbr.Uninstall.Start"}).size());
    EXPECT_EQ(1u, LinesOf(m_environment.BusLog(), pid, {L" subscribe ", L" name=UiContainer.Destroyed"}).size());

    // The page says "closeBtnEnabled" false: a close and the close request are refused.
    EXPECT_TRUE(Send(host.window, WM_CLOSE));
    EXPECT_TRUE(Send(host.window, kShellClose));
    EXPECT_EQ(2u, BrowserLines(host, {L" property result=0x00000000 name=closeBtnEnabled type=11"}).size());
    // Pointer messages from another process are not served: the host stays up.
    EXPECT_TRUE(Send(host.window, kShellNavigate, 0x12345678, 0));
    EXPECT_TRUE(Send(host.window, kShellGetCurrentUrl, 0x1234, 0));
    EXPECT_TRUE(IsWindow(host.window));
    EXPECT_TRUE(host.process.Running());
    EXPECT_TRUE(BrowserLines(host, {L" current_url "}).empty());

    // Hand-overs: a foreign scheme is refused, a full-length URL and a non-ANSI one arrive whole.
    EXPECT_EQ(std::optional<DWORD>(0), SecondStart(host.id, L"https://example.invalid/"));
    const std::wstring longUrl = [] {
        std::wstring url = L"sarn://hostpages.dll::locked.html?pad=";
        url.append(2083 - url.size(), L'p');
        return url;
    }();
    EXPECT_EQ(std::optional<DWORD>(0), SecondStart(host.id, longUrl));
    const std::wstring wideUrl = L"sarn://hostpages.dll::locked.html?q=\x4E2D\x6587";
    EXPECT_EQ(std::optional<DWORD>(0), SecondStart(host.id, wideUrl));
    EXPECT_TRUE(WaitUntil([&] { return !BrowserLines(host, {L" navigate url=" + wideUrl}).empty(); }, 10000));
    EXPECT_EQ(1u, BrowserLines(host, {L" navigate url=" + longUrl}).size());
    EXPECT_TRUE(BrowserLines(host, {L" navigate url=https:"}).empty());
    EXPECT_EQ(std::nullopt, HandOverValue(host.id));

    // The page that allows closing: the next close ends the host.
    EXPECT_EQ(std::optional<DWORD>(0), SecondStart(host.id, L"sarn://hostpages.dll::unlocked.html"));
    EXPECT_TRUE(WaitUntil([&] { return !BrowserLines(host, {L" page resource=unlocked.html"}).empty(); }, 10000));
    EXPECT_TRUE(Send(host.window, WM_CLOSE));
    EXPECT_EQ(std::optional<DWORD>(0), host.process.Wait(15000));
    EXPECT_EQ(L"<no event>", EventListOf(host.id));
}

// Close requests from another process on pages that say nothing and on the uninstall page, and the
// configured size and corner of a page.
TEST_F(HostRun, OutsideCloseRequestsEndTheHostWithExitCodeZero)
{
    {
        // No "closeBtnEnabled": the close request is accepted. The page's configured size and
        // corner: 640 x 480 at the bottom right of the work area less the taskbar (1024 x 767).
        RunningHost host = Start(L"sized.html");
        ASSERT_NE(nullptr, host.window);
        RECT rectangle{};
        GetWindowRect(host.window, &rectangle);
        EXPECT_EQ(384, rectangle.left);
        EXPECT_EQ(287, rectangle.top);
        EXPECT_EQ(640, rectangle.right - rectangle.left);
        EXPECT_EQ(480, rectangle.bottom - rectangle.top);
        EXPECT_TRUE(Send(host.window, kShellClose));
        EXPECT_EQ(std::optional<DWORD>(0), host.process.Wait(15000));
    }
    {
        // The uninstall page subscribes to nothing; a destroy needs no page's consent.
        RunningHost host = Start(L"uninstall.html");
        ASSERT_NE(nullptr, host.window);
        EXPECT_TRUE(LinesOf(m_environment.BusLog(), host.process.id(), {L" subscribe "}).empty());
        EXPECT_TRUE(Send(host.window, kShellExternalDestroy));
        EXPECT_EQ(std::optional<DWORD>(0), host.process.Wait(15000));
    }
    {
        // A page that forbids closing cannot stop a destroy.
        RunningHost host = Start(L"locked.html");
        ASSERT_NE(nullptr, host.window);
        EXPECT_TRUE(Send(host.window, kShellExternalDestroy));
        EXPECT_EQ(std::optional<DWORD>(0), host.process.Wait(15000));
    }
}

// Close requests that arrive while the page is still being shown: the page's own close (its script
// runs inside the navigation, and the close first shows the report page), and a destroy from
// outside while the page's script waits for the report page. The page's script finishes, the report
// page follows it, and only then is the window destroyed; the host ends with 0.
TEST_F(HostRun, CloseDuringANavigationWaitsForItsEnd)
{
    for (const bool fromOutside : {false, true}) {
        const std::wstring id = UniqueHostId(L"selfclose");
        Process host(OrdwellPath(), HostArguments(id, L"selfclose.html"));
        ASSERT_TRUE(host.valid());
        const DWORD pid = host.id();
        const std::wstring& log = m_environment.BrowserLog();
        if (fromOutside) {
            HWND window = nullptr;
            ASSERT_TRUE(WaitUntil(
                [&] {
                    window = FindProcessWindow(pid, id);
                    return window != nullptr && !LinesOf(log, pid, {L" navigate_queued "}).empty();
                },
                kStartTimeout));
            EXPECT_TRUE(PostMessageW(window, kShellExternalDestroy, 0, 0));
        }
        EXPECT_EQ(std::optional<DWORD>(0), host.Wait(kStartTimeout)) << fromOutside;

        // The order of what the control saw.
        const std::vector<std::wstring> lines = LinesOf(log, pid, {L""});
        const auto at = [&](const std::wstring& text) {
            const auto found = std::find_if(lines.begin(), lines.end(),
                                            [&](const std::wstring& line) { return line.find(text) != std::wstring::npos; });
            return found == lines.end() ? -1 : static_cast<int>(found - lines.begin());
        };
        const int asked = at(L" page_log text=close asked: 0");
        const int scriptEnd = at(L" script block=0 result=0x00000000");
        const int report = at(L" navigate url=sarn://qrnjsres.dll::report.html");
        const int detached = at(L" subscriber_remove ");
        const int shutdown = at(L" shutdown");
        EXPECT_NE(-1, asked) << fromOutside;
        EXPECT_LT(asked, scriptEnd) << fromOutside;
        EXPECT_LT(scriptEnd, report) << fromOutside;
        EXPECT_LT(report, detached) << fromOutside;
        EXPECT_LT(detached, shutdown) << fromOutside;
        EXPECT_EQ(2u, LinesOf(log, pid, {L" navigate_result "}).size()) << fromOutside;
    }
}

// The two bus events, injected into the host's bus as another client would publish them.
TEST_F(HostRun, BusEventsCloseOnlyForThisSessionsWindow)
{
    DWORD session = 0;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    ASSERT_EQ(1u, session);  // the prefix runs everything in session 1
    {
        RunningHost host = Start(L"plain.html");
        ASSERT_NE(nullptr, host.window);
        const DWORD pid = host.process.id();
        // Another session's sender, and a window id that only begins like ours: both ignored.
        EXPECT_EQ(std::optional<DWORD>(1), InjectBusMessage(pid, L"UiContainer.Destroyed",
                                                            L"Vistrel.Window.for.Session.1", 2));
        EXPECT_EQ(std::optional<DWORD>(1), InjectBusMessage(pid, L"UiContainer.Destroyed",
                                                            L"Vistrel.Window.for.Session.12", 1));
        Sleep(500);
        EXPECT_TRUE(host.process.Running());
        EXPECT_TRUE(IsWindow(host.window));
        // An unknown sender session (0) naming our window closes it.
        EXPECT_EQ(std::optional<DWORD>(1), InjectBusMessage(pid, L"UiContainer.Destroyed",
                                                            L"Vistrel.Window.for.Session.1", 0));
        EXPECT_EQ(std::optional<DWORD>(0), host.process.Wait(15000));
    }
    {
        RunningHost host = Start(L"plain.html");
        ASSERT_NE(nullptr, host.window);
        EXPECT_EQ(std::optional<DWORD>(1), InjectBusMessage(host.process.id(), L"UiContainer.Destroyed",
                                                            L"closed: Vistrel.Window.for.Session.1;", 1));
        EXPECT_EQ(std::optional<DWORD>(0), host.process.Wait(15000));
    }
    {
        RunningHost host = Start(L"plain.html");
        ASSERT_NE(nullptr, host.window);
        EXPECT_EQ(std::optional<DWORD>(1), InjectBusMessage(host.process.id(), L"Nbr.Uninstall.Start", L"", 2));
        EXPECT_EQ(std::optional<DWORD>(0), host.process.Wait(15000));
    }
}

// The page's zoom is not ready for longer than the window waits: it shows at the tenth tick.
TEST_F(HostRun, WindowShowsAtTheTenthPendingZoomTick)
{
    SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_ZOOM_PENDING", L"50");
    RunningHost host = Start(L"plain.html");
    SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_ZOOM_PENDING", nullptr);
    ASSERT_NE(nullptr, host.window);
    // Shown, and no zoom asked after the tenth.
    Sleep(600);
    const auto zooms = BrowserLines(host, {L" zoom value=100 "});
    EXPECT_EQ(10u, zooms.size());
    for (const std::wstring& line : zooms) EXPECT_NE(std::wstring::npos, line.find(L"result=0x80040100"));
    EXPECT_TRUE(IsWindowVisible(host.window));
    EXPECT_TRUE(Send(host.window, kShellExternalDestroy));
    EXPECT_EQ(std::optional<DWORD>(0), host.process.Wait(15000));
}

// The network module's process-wide object is part of the program (its initialiser runs at start).
TEST(HostProgramImage, HoldsTheNetworkModulesObject)
{
    // The program's debug information, which describes everything linked into it, is kept beside
    // it (Ordwell.exe.debug).
    std::string bytes;
    for (const std::wstring& path : {OrdwellPath(), OrdwellPath() + L".debug"}) {
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        std::string one(GetFileSize(file, nullptr), '\0');
        DWORD read = 0;
        ReadFile(file, one.data(), static_cast<DWORD>(one.size()), &read, nullptr);
        CloseHandle(file);
        bytes += one;
    }
    // The exit event's name prefix is a text of that object's settings alone.
    EXPECT_NE(std::string::npos, bytes.find("KvPlatformNetExitEvent"));
}

}  // namespace
