#include "pageobjects/tests/session/SessionTestSupport.h"

#include "core/base/ScopedResource.h"
#include "core/testsupport/RegistryIsolation.h"
#include "core/testsupport/RunnerLocks.h"
#include "pageobjects/services/KvReportWait.h"
#include "pageobjects/services/qrncmn.h"
#include "shell/host/CNAVMSGDATA.h"
#include "shell/host/ShellMessages.h"

namespace {

using namespace SessionTesting;

// A hidden top-level window standing for the host's main window: it records the report page it
// is sent and the system commands, and (when asked) calls back into the session manager from a
// 200 ms timer while the close waits.
struct MainWindowRecord {
    std::vector<std::wstring> navigations;
    std::vector<WPARAM> commands;
    int ticks = 0;
    int tickLimit = 0;
    bool quitOnFirstTick = false;
    ISessionMgr2* reenter = nullptr;
    long reenterResult = -1;
    // When asked, a navigation record sent by its sender is served as the host's window serves
    // it, and kept with a reference of the window's own.
    bool keepNavigation = false;
    CNAVMSGDATA* kept = nullptr;
};

MainWindowRecord* g_record = nullptr;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (g_record != nullptr) {
        if (message == WM_SHELL_NAVIGATE) {
            auto* navigation = reinterpret_cast<CNAVMSGDATA*>(wParam);
            g_record->navigations.emplace_back(navigation->Url());
            if (g_record->keepNavigation && g_record->kept == nullptr && TakeRegisteredPointer(message, wParam)) {
                navigation->AddRef();
                g_record->kept = navigation;
                navigation->SignalDone();
            }
            return 0;
        }
        if (message == WM_SYSCOMMAND) {
            g_record->commands.push_back(wParam);
            return 0;
        }
        if (message == WM_TIMER) {
            ++g_record->ticks;
            if (g_record->quitOnFirstTick && g_record->ticks == 1) PostQuitMessage(7);
            if (g_record->reenter != nullptr && g_record->ticks == 2) {
                VARIANT none;
                VariantInit(&none);
                (void)g_record->reenter->HandleSysCommand(none, SC_CLOSE, &g_record->reenterResult);
            }
            // A bounded stream, so that a wait that restarts on input still ends.
            if (g_record->ticks >= g_record->tickLimit) KillTimer(window, 1);
            return 0;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

class SessionWindow : public Fundor::testing::RegistryIsolatedTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        // "ordwellsync" is one event for the whole session: these tests hold the runner's lock on it.
        ASSERT_TRUE(Fundor::testing::HoldsRunnerLock(L"session_sync"));
        g_record = &record;
        m_className = Fundor::testing::UniqueName(L"SessionMain");
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = MainWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = m_className.c_str();
        ASSERT_NE(0, RegisterClassW(&windowClass));
        window = CreateWindowExW(0, m_className.c_str(), L"main", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100, nullptr,
                                 nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(nullptr, window);
    }
    void TearDown() override
    {
        DestroyWindow(window);
        UnregisterClassW(m_className.c_str(), GetModuleHandleW(nullptr));
        g_record = nullptr;
        CoUninitialize();
    }
    long SysCommand(Session& session, long command, ULONGLONG* elapsed = nullptr)
    {
        Variant none, number(command), result;
        const ULONGLONG start = GetTickCount64();
        EXPECT_EQ(S_OK, session.Call(L"HandleSysCommand", {&none.v, &number.v}, &result.v));
        if (elapsed != nullptr) *elapsed = GetTickCount64() - start;
        return result.v.vt == VT_I4 ? result.v.lVal : -1;
    }

    MainWindowRecord record;
    HWND window = nullptr;

private:
    std::wstring m_className;
};

TEST_F(SessionWindow, CommandsGoToTheMainWindowOnlyWhenThereIsOne)
{
    Session session;
    EXPECT_EQ(6, SysCommand(session, SC_MINIMIZE));  // no host
    FakeHost host(window);
    EXPECT_EQ(0, SysCommand(session, SC_MINIMIZE));
    EXPECT_EQ((std::vector<WPARAM>{SC_MINIMIZE}), record.commands);
    EXPECT_TRUE(record.navigations.empty());
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(E_POINTER, session.typed->HandleSysCommand(Variant().v, SC_MINIMIZE, nullptr));
}

TEST_F(SessionWindow, CloseShowsTheReportAndWaitsFiveSecondsInAllDespiteATimer)
{
    FakeHost host(window);
    Session session;
    record.tickLimit = 75;  // 15 s of input: a wait restarted by input would outlast the check
    record.reenter = session.typed.Get();
    ASSERT_NE(0u, SetTimer(window, 1, 200, nullptr));
    ULONGLONG elapsed = 0;
    EXPECT_EQ(0, SysCommand(session, SC_CLOSE, &elapsed));
    EXPECT_GE(elapsed, 4800u);
    EXPECT_LE(elapsed, 7000u);
    EXPECT_GE(record.ticks, 5);  // the page's timer ran during the wait
    EXPECT_EQ(170, record.reenterResult);  // a second close while one waits is refused
    EXPECT_EQ((std::vector<std::wstring>{L"sarn://qrnjsres.dll::report.html"}), record.navigations);
    EXPECT_EQ((std::vector<WPARAM>{SC_CLOSE}), record.commands);
    EXPECT_FALSE(IsWindowVisible(window));
}

TEST_F(SessionWindow, AQuitRequestEndsTheWaitAndStaysQueued)
{
    FakeHost host(window);
    Session session;
    record.quitOnFirstTick = true;
    record.tickLimit = 100;
    ASSERT_NE(0u, SetTimer(window, 1, 200, nullptr));
    ULONGLONG elapsed = 0;
    EXPECT_EQ(0, SysCommand(session, SC_CLOSE, &elapsed));
    EXPECT_LT(elapsed, 3000u);
    MSG message = {};
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(7u, message.wParam);
    // The sync event set by the page's side ends the wait at once too.
    record.quitOnFirstTick = false;
    HANDLE sync = CreateEventW(nullptr, TRUE, TRUE, L"ordwellsync");
    ASSERT_NE(nullptr, sync);
    ASSERT_TRUE(SetEvent(sync));
    EXPECT_EQ(0, SysCommand(session, SC_CLOSE, &elapsed));
    EXPECT_LT(elapsed, 3000u);
    CloseHandle(sync);
}

// Once the report page is sent, its record belongs to the window alone: the window that kept it
// holds its last reference.
TEST_F(SessionWindow, TheReportPagesRecordEndsWithTheWindowsLastReference)
{
    // Set before the wait: the page's side is done at once.
    Fundor::ScopedHandle sync(CreateEventW(nullptr, TRUE, TRUE, kKvReportSyncEvent));
    ASSERT_TRUE(sync);
    record.keepNavigation = true;
    bool waiting = true;
    KvShowReportAndWait(window, waiting);
    EXPECT_FALSE(waiting);
    ASSERT_NE(nullptr, record.kept) << "the report page was not sent to the window";
    EXPECT_STREQ(kKvReportPage, record.kept->Url());
    EXPECT_EQ(0u, record.kept->Release()) << "the sender kept a reference of its own";
}

TEST_F(SessionWindow, RestartShutdownAndAdministratorGoThroughTheHostAndTheSeam)
{
    static std::vector<UINT> asked;
    asked.clear();
    Session session;
    session.object->SetExitWindowsFunction([](UINT flags, DWORD) -> BOOL {
        asked.push_back(flags);
        if (flags == kKvShutdownFlags) SetLastError(ERROR_SHUTDOWN_IN_PROGRESS);
        return flags == kKvRestartFlags;
    });
    EXPECT_EQ(0, session.Number(L"RestartComputer"));
    EXPECT_EQ(static_cast<long>(ERROR_SHUTDOWN_IN_PROGRESS), session.Number(L"ShutdownComputer"));
    EXPECT_EQ((std::vector<UINT>{0x12, 0x18}), asked);
    EXPECT_EQ(E_INVALIDARG, session.typed->RestartComputer(nullptr));

    VARIANT_BOOL admin = VARIANT_FALSE;
    EXPECT_EQ(S_OK, session.typed->IsAdminUser(&admin));
    EXPECT_EQ(VARIANT_TRUE, admin);  // no host: not known, so admin
    {
        FakeHost notAdmin(window, TRUE);
        EXPECT_EQ(S_OK, session.typed->IsAdminUser(&admin));
        EXPECT_EQ(VARIANT_FALSE, admin);
    }
    FakeHost isAdmin(window, FALSE);
    EXPECT_EQ(S_OK, session.typed->IsAdminUser(&admin));
    EXPECT_EQ(VARIANT_TRUE, admin);
    EXPECT_EQ(E_INVALIDARG, session.typed->IsAdminUser(nullptr));
}

}  // namespace
