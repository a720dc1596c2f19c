// Another process of the user that means harm, against a running host: junk in the parameters of
// the window's private messages and of the system messages it handles, posted and sent, and its
// window's user data overwritten, while the host's page waits on the surrogate program (COM's
// modal loop), while the host waits in its own loop, and inside the move loop. The host stays up,
// navigates to nothing it was not asked by its own, logs what it ignored, and closes normally.

#include "core/testsupport/Narrow.h"
#include "tests/e2e/support/HostControl.h"
#include "tests/e2e/support/SuiteInstall.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

using HostControl::Process;

SuiteInstall::Layout g_layout;

constexpr UINT kShellInit = 0x8001;
constexpr UINT kShellNavigate = 0x8003;
constexpr UINT kShellGetCurrentUrl = 0x8004;
constexpr UINT kShellClose = 0x47B;
constexpr WPARAM kZoomTimerId = 0x101010;
constexpr wchar_t kPageKey[] = L"Software\\Tervane\\OrdwellHostileRun";
constexpr wchar_t kBrowserWindowClass[] = L"OrdwellKvBrwsr2Page";
constexpr DWORD kTimeout = 60000;

enum class Phase { SurrogateWait, Idle, MoveLoop };
enum Delivery : unsigned { kPost = 1, kSend = 2, kPostAndSend = 3 };

// Pointers that are good in this process and mean nothing in the host.
struct OwnData {
    wchar_t text[32] = L"not the host's";
    MINMAXINFO minMax{};
    COPYDATASTRUCT copy{7, sizeof(text), text};
} g_own;

// One row: a message with each of its wParams, posted and/or sent; every row goes to the host in
// every phase.
struct HostileMessage {
    UINT message;
    std::vector<WPARAM> wParams;
    LPARAM lParam;
    unsigned deliveries;
};

std::vector<HostileMessage> HostileTable()
{
    const WPARAM own = reinterpret_cast<WPARAM>(&g_own);
    const std::vector<WPARAM> junk = {0, 1, 0xDEAD, ~WPARAM{0}, WPARAM{0xFFFF800000001000ull}, own};
    return {
        {kShellNavigate, junk, 0xDEAD, kPostAndSend},
        {kShellGetCurrentUrl, junk, -1, kPostAndSend},
        {kShellInit, junk, 0xDEAD, kPostAndSend},
        // The page keeps its window: a close, however asked, is refused.
        {kShellClose, junk, -1, kPostAndSend},
        {WM_CLOSE, junk, 0xDEAD, kPostAndSend},
        // A tick with the zoom timer's id; with a procedure address the system does not call it.
        {WM_TIMER, {kZoomTimerId}, 0, kPost},
        {WM_TIMER, {kZoomTimerId}, 0xDEAD, kPost},
        {WM_DISPLAYCHANGE, {0, 0xDEAD}, -1, kPostAndSend},
        {WM_SETICON, {ICON_BIG, ICON_SMALL, 0xDEAD}, 0xDEAD, kPostAndSend},
        // The session goes on.
        {WM_ENDSESSION, {FALSE}, static_cast<LPARAM>(0xDEAD), kPostAndSend},
        // Messages with pointers: the system refuses to post them and copies what a send points to.
        {WM_GETMINMAXINFO, {0}, 0xDEAD, kPost},
        {WM_GETMINMAXINFO, {0}, reinterpret_cast<LPARAM>(&g_own.minMax), kSend},
        {WM_COPYDATA, {0}, 0xDEAD, kPost},
        {WM_COPYDATA, {0}, reinterpret_cast<LPARAM>(&g_own.copy), kSend},
    };
}

// What the host's log gains at least from one phase's messages: a line for each pointer message it
// ignored. Sends reach the window in every loop. Posted ones: the window sees them in the move
// loop, the host's own loop drops them before; COM's modal loop (measured under Wine) serves sent
// messages only and leaves posted ones to the host's loop, after the page's script.
std::size_t IgnoredPointerMessages(Phase phase)
{
    std::size_t count = 0;
    for (const HostileMessage& row : HostileTable()) {
        if (row.message != kShellNavigate && row.message != kShellGetCurrentUrl) continue;
        const std::size_t ways = ((row.deliveries & kSend) != 0 ? 1u : 0u) +
                                 ((row.deliveries & kPost) != 0 && phase != Phase::SurrogateWait ? 1u : 0u);
        count += ways * row.wParams.size();
    }
    return count;
}

bool WaitFor(const std::function<bool()>& condition, DWORD milliseconds)
{
    const ULONGLONG end = GetTickCount64() + milliseconds;
    while (!condition()) {
        if (GetTickCount64() >= end) return condition();
        Sleep(20);
    }
    return true;
}

std::wstring PageState()
{
    wchar_t text[128] = {};
    DWORD size = sizeof(text);
    if (RegGetValueW(HKEY_CURRENT_USER, kPageKey, L"state", RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
        return L"";
    }
    return text;
}

bool InMoveLoop(DWORD thread)
{
    GUITHREADINFO info{sizeof(info)};
    return GetGUIThreadInfo(thread, &info) && (info.flags & GUI_INMOVESIZE) != 0;
}

using Fundor::testing::Narrow;

class HostileMessages : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        g_layout = SuiteInstall::DefaultLayout(SuiteInstall::ThisProgramFolder());
        const std::wstring failure = SuiteInstall::Install(g_layout);
        ASSERT_TRUE(failure.empty()) << Narrow(failure);
        // The test pages beside the product's UI DLL, where the URL library finds page DLLs.
        ASSERT_TRUE(CopyFileW((SuiteInstall::ThisProgramFolder() + L"\\resources\\hostrun\\hostpages.dll").c_str(),
                              PagesPath().c_str(), FALSE));
    }
    static void TearDownTestSuite()
    {
        SuiteInstall::EndInstalledPrograms();
        DeleteFileW(PagesPath().c_str());
    }
    static std::wstring PagesPath() { return g_layout.productDir + L"\\hostpages.dll"; }

    void SetUp() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, kPageKey);
        SuiteInstall::ClearOrdwellLogs();
        SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_LOG", m_pageLog.c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_LOG", nullptr);
        DeleteFileW(m_pageLog.c_str());
        RegDeleteTreeW(HKEY_CURRENT_USER, kPageKey);
    }

    // Every message of the table, each junk value posted and sent as its row says; the window's
    // user data overwritten first. Then waits until the host logged the pointer messages ignored.
    // False when they did not come or the host's window is gone.
    [[nodiscard]] bool Attack(const Process& host, HWND window, Phase phase, const char* name)
    {
        SCOPED_TRACE(name);
        const std::size_t before = Ignored(host);
        for (const LONG_PTR data : {LONG_PTR{0xDEAD}, LONG_PTR{-1}, reinterpret_cast<LONG_PTR>(&g_own)}) {
            SetWindowLongPtrW(window, GWLP_USERDATA, data);
        }
        for (const HostileMessage& row : HostileTable()) {
            for (const WPARAM wParam : row.wParams) {
                if ((row.deliveries & kPost) != 0) (void)PostMessageW(window, row.message, wParam, row.lParam);
                DWORD_PTR result = 0;
                if ((row.deliveries & kSend) != 0) {
                    (void)SendMessageTimeoutW(window, row.message, wParam, row.lParam, SMTO_ABORTIFHUNG, 5000, &result);
                }
            }
        }
        const std::size_t expected = before + IgnoredPointerMessages(phase);
        const bool logged = WaitFor([&] { return Ignored(host) >= expected; }, 30000);
        EXPECT_TRUE(logged) << Ignored(host) - before << " of " << expected - before << " ignored";
        const bool alive = IsWindow(window) && !host.Wait(0).has_value();
        EXPECT_TRUE(alive) << "the host or its window ended";
        return logged && alive;
    }
    static std::size_t Ignored(const Process& host)
    {
        return SuiteInstall::OrdwellLogLinesOf(host.id(), L" ignored").size();
    }
    std::vector<std::string> PageRecords(const Process& host, const std::string& text) const
    {
        return SuiteInstall::PageRecordLines(m_pageLog, host.id(), text);
    }

    std::wstring m_pageLog = SuiteInstall::ThisProgramFolder() + L"\\hostile-pages.log";
};

TEST_F(HostileMessages, JunkInEveryLoopNeitherEndsTheHostNorReachesItsPage)
{
    const std::wstring hostId = L"hostile-" + std::to_wstring(GetCurrentProcessId());
    const std::wstring program = SuiteInstall::ProgramPath(g_layout);
    const Process host(program, L"/id:" + hostId + L" /body:sarn://hostpages.dll::waits.html");
    ASSERT_TRUE(host.valid());

    // While the page's script waits on the surrogate program, inside the start-up navigation.
    HWND window = nullptr;
    ASSERT_TRUE(WaitFor([&] { return PageState().rfind(L"called ", 0) == 0; }, kTimeout)) << Narrow(PageState());
    ASSERT_NE(nullptr, window = HostControl::FindHostWindow(hostId));
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    ASSERT_TRUE(Attack(host, window, Phase::SurrogateWait, "while the page waits on the surrogate program"));
    EXPECT_NE(L"done", PageState()) << "the junk was not served inside the page's wait";
    const std::wstring stop = L"yes";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, kPageKey, L"stop", REG_SZ, stop.c_str(),
                                             static_cast<DWORD>((stop.size() + 1) * sizeof(wchar_t))));
    ASSERT_TRUE(WaitFor([&] { return PageState() == L"done"; }, kTimeout));
    ASSERT_EQ(window, HostControl::WaitUntilShown(hostId, kTimeout));

    // In the host's own loop.
    ASSERT_TRUE(Attack(host, window, Phase::Idle, "while the host is idle"));

    // Inside the move loop, which a click posted into the page's drag band starts.
    const HWND page = FindWindowExW(window, nullptr, kBrowserWindowClass, nullptr);
    ASSERT_NE(nullptr, page);
    EXPECT_TRUE(PostMessageW(page, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(40, 10)));
    ASSERT_TRUE(WaitFor([&] { return InMoveLoop(thread); }, kTimeout)) << "no move loop";
    ASSERT_TRUE(Attack(host, window, Phase::MoveLoop, "inside the move loop"));
    EXPECT_TRUE(InMoveLoop(thread)) << "the junk was not served inside the move loop";
    EXPECT_TRUE(PostMessageW(window, WM_LBUTTONUP, 0, 0));
    EXPECT_TRUE(WaitFor([&] { return !InMoveLoop(thread); }, kTimeout));

    // The browser saw only the page it was started on, and was never asked for its URL.
    const std::vector<std::string> navigations = PageRecords(host, " navigate url=");
    ASSERT_EQ(1u, navigations.size());
    EXPECT_NE(std::string::npos, navigations[0].find("url=sarn://hostpages.dll::waits.html"));
    EXPECT_TRUE(PageRecords(host, " current_url ").empty());
    for (const std::string& line : PageRecords(host, "surrogate calls: ")) std::cout << line << std::endl;
    std::cout << Ignored(host) << " pointer messages ignored" << std::endl;

    // Titles far longer than a window keeps, sent from this process: the host's thread may look as
    // if it were inside another process's send for good after that (Wine), which must not keep
    // the host from showing the pages handed to it.
    for (const std::size_t characters : {std::size_t{1} << 16, std::size_t{1} << 20, std::size_t{1} << 24}) {
        const std::wstring title(characters, L'T');
        DWORD_PTR result = 0;
        (void)SendMessageTimeoutW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(title.c_str()), SMTO_NORMAL, 10000,
                                  &result);
    }
    ASSERT_EQ(std::nullopt, host.Wait(0)) << "the long titles ended the host";

    // A page that lets the window close, handed over by a second start; the close request, junk in
    // its parameters, ends the host with 0.
    EXPECT_EQ(std::optional<DWORD>(0),
              Fundor::testing::RunProgram(program, L"/id:" + hostId + L" /body:sarn://qrnuild.dll::welcome.html",
                                          kTimeout));
    EXPECT_TRUE(WaitFor([&] { return !PageRecords(host, " page resource=welcome.html").empty(); }, kTimeout));
    EXPECT_TRUE(PostMessageW(window, kShellClose, 0xDEAD, -1));
    EXPECT_EQ(std::optional<DWORD>(0), host.Wait(kTimeout));
    if (!host.Wait(0).has_value()) host.Kill(1);
}

}  // namespace
