// DPI sizing, the main window over a recording browser, the hand-over reader, the bus handlers and
// the wait loop.

#include "access/message/Message.h"
#include "shell/host/CShellMainWnd.h"
#include "shell/host/CWinDPIAware.h"
#include "shell/tests/host/HostTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

using HostTesting::FakeBrowser;
using HostTesting::ParsedModule;
using HostTesting::PumpFor;

namespace {

class FakeDisplay final : public IDisplayEnvironment {
public:
    int LogPixelsX() override { return dpi; }
    bool DesktopClientRect(RECT* rect) override
    {
        *rect = desktop;
        return true;
    }
    void QueryTaskbar(APPBARDATA* data) override
    {
        if (!answers) return;
        data->uEdge = edge;
        data->rc = taskbar;
    }
    int dpi = 96;
    RECT desktop{0, 0, 1920, 1080};
    bool answers = true;
    UINT edge = ABE_BOTTOM;
    RECT taskbar{0, 1040, 1920, 1080};
};

TEST(HostDpiSizing, ScaleFitAndWorkAreaByTaskbarEdge)
{
    FakeDisplay display;
    CWinDPIAware sizing(&display);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), sizing.SetDPIAwareSize(SIZE{0, 620}, WS_POPUP));

    // Fits at 96 DPI: the requested size, zoom 100.
    ASSERT_EQ(0u, sizing.SetDPIAwareSize(SIZE{700, 620}, WS_POPUP));
    EXPECT_EQ(700, sizing.ScaledSize().cx);
    EXPECT_EQ(620, sizing.ScaledSize().cy);
    EXPECT_EQ(100u, sizing.ZoomPercent());

    // 144 DPI on a 1920 x 1040 work area: 150 %, 1050 x 930.
    display.dpi = 144;
    ASSERT_EQ(0u, sizing.SetDPIAwareSize(SIZE{700, 620}, WS_POPUP));
    EXPECT_EQ(150u, sizing.ZoomPercent());
    EXPECT_EQ(1050, sizing.ScaledSize().cx);
    EXPECT_EQ(930, sizing.ScaledSize().cy);

    // Too tall for the work area at 96 DPI: shrunk so that the height fits exactly.
    display.dpi = 96;
    ASSERT_EQ(0u, sizing.SetDPIAwareSize(SIZE{700, 2080}, WS_POPUP));
    EXPECT_EQ(50u, sizing.ZoomPercent());
    EXPECT_EQ(1040, sizing.ScaledSize().cy);
    EXPECT_EQ(350, sizing.ScaledSize().cx);

    // No device context: taken as 96.
    display.dpi = 0;
    ASSERT_EQ(0u, sizing.SetDPIAwareSize(SIZE{700, 620}, WS_POPUP));
    EXPECT_EQ(100u, sizing.ZoomPercent());

    RECT area{};
    display.edge = ABE_LEFT;
    display.taskbar = RECT{0, 0, 48, 1080};
    ASSERT_TRUE(GetDesktopWorkArea(display, &area));
    EXPECT_EQ(48, area.left);
    EXPECT_EQ(1920, area.right);
    display.edge = ABE_TOP;
    display.taskbar = RECT{0, 0, 1920, 30};
    ASSERT_TRUE(GetDesktopWorkArea(display, &area));
    EXPECT_EQ(30, area.top);
    display.edge = ABE_RIGHT;
    display.taskbar = RECT{1870, 0, 1920, 1080};
    ASSERT_TRUE(GetDesktopWorkArea(display, &area));
    EXPECT_EQ(1870, area.right);
    display.answers = false;
    ASSERT_TRUE(GetDesktopWorkArea(display, &area));
    EXPECT_EQ((RECT{0, 0, 1860, 1020}).right, area.right);
    EXPECT_EQ(1020, area.bottom);
}

// The main window of a module parsed from the line, over a recording browser.
struct WindowUnderTest {
    explicit WindowUnderTest(const std::wstring& arguments = L"")
        : parsed(L"/id:" + Fundor::testing::UniqueName(L"hostwnd") + L" /body:sarn://x.dll::a.html " + arguments)
    {
        window = new CShellMainWnd(
            *parsed.module,
            [this](IKvBrowser2** out) -> DWORD {
                if (failCreation) return ERROR_FUNCTION_FAILED;
                *out = &browser;
                return 0;
            },
            &display);
        window->AddRef();
    }
    ~WindowUnderTest()
    {
        if (window->Handle() != nullptr) DestroyWindow(window->Handle());
        window->Release();
    }
    HWND Create()
    {
        return window->Create(nullptr, SIZE{700, 620}, L"48392EA030474ca9B38DC55EE5D820AA", kMainWindowStyle,
                              kMainWindowExStyle);
    }
    FakeDisplay display;
    FakeBrowser browser;
    bool failCreation = false;
    ParsedModule parsed;
    CShellMainWnd* window = nullptr;
};

TEST(HostMainWindow, CreationSubscribesNavigatesAndDestructionReleasesTheHost)
{
    WindowUnderTest test;
    const HWND handle = test.Create();
    ASSERT_NE(nullptr, handle);
    wchar_t className[300] = {};
    GetClassNameW(handle, className, 300);
    EXPECT_STREQ(test.parsed.module->CommandRecord()->hostId, className);
    EXPECT_FALSE(IsWindowVisible(handle));
    EXPECT_EQ(handle, test.browser.createdIn);
    EXPECT_TRUE(test.browser.Called(L"init"));
    EXPECT_EQ(test.window, static_cast<CShellMainWnd*>(test.browser.subscriber));
    EXPECT_EQ(1u, test.browser.references);  // the query's reference was given back
    EXPECT_EQ(1, test.parsed.module->ReferenceCount());
    EXPECT_EQ(handle, test.parsed.module->GetMainWindowHandle());

    // A navigation offers the page objects (none exist here), navigates and signals the record.
    test.browser.navigateResult = E_FAIL;
    CNAVMSGDATA* record = CreateNavMsgData(L"sarn://x.dll::b.html");
    ASSERT_NE(nullptr, record);
    record->AddRef();
    EXPECT_EQ(0, SendNavigateMessage(handle, record));
    EXPECT_TRUE(test.browser.Called(L"navigate sarn://x.dll::b.html"));
    EXPECT_FALSE(test.browser.Called(L"add KvDispSessionMgr2"));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(record->DoneEvent(), 0));
    record->Release();
    record->Release();

    // The current URL goes to the sender's string.
    BSTR url = nullptr;
    SendGetCurrentUrlMessage(handle, &url);
    ASSERT_NE(nullptr, url);
    EXPECT_STREQ(L"sarn://page.dll::now.html", url);
    SysFreeString(url);

    // From another thread, pointer messages are refused: nothing is read or written.
    test.browser.calls.clear();
    HostTesting::RunOnOtherThreadPumping([handle] {
        SendMessageW(handle, WM_SHELL_NAVIGATE, 0x1234, 0);
        SendMessageW(handle, WM_SHELL_GET_CURRENT_URL, 0x5678, 0);
    });
    EXPECT_TRUE(test.browser.calls.empty());

    EXPECT_TRUE(DestroyWindow(handle));
    EXPECT_TRUE(test.browser.Called(L"unsubscribe"));
    EXPECT_EQ(0, test.parsed.module->ReferenceCount());
    EXPECT_TRUE(test.parsed.module->ExitRequested());
    EXPECT_EQ(nullptr, test.parsed.module->GetMainWindowHandle());
}

// A pointer message is served only with the pointer this thread's sender registered for its send,
// and once: not when it is posted (any process can post it) and a nested loop dispatches it, not
// from a plain send or another thread, and not when the pointer is delivered again later.
TEST(HostMainWindow, PointerMessagesServeOnlyThePointerThisThreadsSenderRegistered)
{
    using Deliver = std::function<void(HWND window, UINT message, WPARAM pointer)>;
    const Deliver posted = [](HWND window, UINT message, WPARAM pointer) {
        PostMessageW(window, message, pointer, 0);
        PumpFor(60);
    };
    const Deliver sender = [](HWND window, UINT message, WPARAM pointer) {
        if (message == WM_SHELL_NAVIGATE) {
            SendNavigateMessage(window, reinterpret_cast<CNAVMSGDATA*>(pointer));
        } else {
            SendGetCurrentUrlMessage(window, reinterpret_cast<BSTR*>(pointer));
        }
    };
    const struct {
        const char* how;
        Deliver deliver;
        int served;
    } cases[] = {
        {"posted, dispatched by a nested loop", posted, 0},
        {"plain send from this thread",
         [](HWND window, UINT message, WPARAM pointer) { SendMessageW(window, message, pointer, 0); }, 0},
        {"send from another thread",
         [](HWND window, UINT message, WPARAM pointer) {
             HostTesting::RunOnOtherThreadPumping([&] { SendMessageW(window, message, pointer, 0); });
         },
         0},
        {"this thread's sender", sender, 1},
        {"this thread's sender, then posted again",
         [&](HWND window, UINT message, WPARAM pointer) {
             sender(window, message, pointer);
             posted(window, message, pointer);
         },
         1},
    };
    WindowUnderTest test;
    const HWND handle = test.Create();
    ASSERT_NE(nullptr, handle);
    int number = 0;
    for (const auto& delivery : cases) {
        SCOPED_TRACE(delivery.how);
        const std::wstring url = L"sarn://x.dll::page" + std::to_wstring(++number) + L".html";
        CNAVMSGDATA* record = CreateNavMsgData(url.c_str());
        ASSERT_NE(nullptr, record);
        delivery.deliver(handle, WM_SHELL_NAVIGATE, reinterpret_cast<WPARAM>(record));
        EXPECT_EQ(delivery.served, test.browser.Count(L"navigate " + url));
        EXPECT_EQ(delivery.served > 0, WaitForSingleObject(record->DoneEvent(), 0) == WAIT_OBJECT_0);
        record->Release();

        test.browser.calls.clear();
        BSTR current = nullptr;
        delivery.deliver(handle, WM_SHELL_GET_CURRENT_URL, reinterpret_cast<WPARAM>(&current));
        EXPECT_EQ(delivery.served, test.browser.Count(L"url"));
        EXPECT_EQ(delivery.served > 0 ? L"sarn://page.dll::now.html" : L"", std::wstring(current ? current : L""));
        SysFreeString(current);
    }

    // A page's script navigates while it is shown (the session manager's close does): the nested
    // send is served, the record of the navigation under way is not served a second time.
    CNAVMSGDATA* outer = CreateNavMsgData(L"sarn://x.dll::outer.html");
    CNAVMSGDATA* inner = CreateNavMsgData(L"sarn://x.dll::inner.html");
    ASSERT_NE(nullptr, outer);
    ASSERT_NE(nullptr, inner);
    bool entered = false;
    test.browser.duringNavigate = [&](const wchar_t*) {
        if (std::exchange(entered, true)) return;
        posted(handle, WM_SHELL_NAVIGATE, reinterpret_cast<WPARAM>(outer));
        SendNavigateMessage(handle, inner);
    };
    SendNavigateMessage(handle, outer);
    EXPECT_EQ(1, test.browser.Count(L"navigate sarn://x.dll::outer.html"));
    EXPECT_EQ(1, test.browser.Count(L"navigate sarn://x.dll::inner.html"));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(outer->DoneEvent(), 0));
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(inner->DoneEvent(), 0));
    outer->Release();
    inner->Release();
}

// A navigation that throws (a faulty control) stays inside the window and holds no close back:
// its sender is released, a close asked during it happens as it unwinds, a later close closes.
TEST(HostMainWindow, NavigationThatThrowsLeavesTheWindowClosable)
{
    const struct {
        const char* thrown;
        std::function<void()> raise;
    } faults[] = {
        {"std::runtime_error", [] { throw std::runtime_error("the control failed"); }},
        {"std::bad_alloc", [] { throw std::bad_alloc(); }},
        {"no std::exception", [] { throw 42; }},
    };
    for (const auto& fault : faults) {
        for (const bool closeDuring : {false, true}) {
            SCOPED_TRACE(std::string(fault.thrown) + (closeDuring ? ", close asked during it" : ", close after"));
            WindowUnderTest test;
            const HWND handle = test.Create();
            ASSERT_NE(nullptr, handle);
            test.browser.duringNavigate = [&](const wchar_t*) {
                if (closeDuring) SendMessageW(handle, WM_SHELL_CLOSE, 0, 0);
                fault.raise();
            };
            CNAVMSGDATA* record = CreateNavMsgData(L"sarn://x.dll::fails.html");
            ASSERT_NE(nullptr, record);
            EXPECT_EQ(0, SendNavigateMessage(handle, record));
            EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(record->DoneEvent(), 0));
            record->Release();
            if (!closeDuring) {
                EXPECT_TRUE(IsWindow(handle));
                SendMessageW(handle, WM_CLOSE, 0, 0);
            }
            EXPECT_FALSE(IsWindow(handle));
            EXPECT_TRUE(test.parsed.module->ExitRequested());
        }
    }
}

TEST(HostMainWindow, FailedBrowserCreationFailsTheWindow)
{
    WindowUnderTest test;
    test.failCreation = true;
    EXPECT_EQ(nullptr, test.Create());
    EXPECT_EQ(0, test.parsed.module->ReferenceCount());
}

TEST(HostMainWindow, CloseAsksThePageUnlessDestroyedFromOutside)
{
    WindowUnderTest test;
    HWND handle = test.Create();
    ASSERT_NE(nullptr, handle);
    test.browser.closeButton.vt = VT_BOOL;
    test.browser.closeButton.boolVal = VARIANT_FALSE;
    SendMessageW(handle, WM_CLOSE, 0, 0);
    SendMessageW(handle, WM_SHELL_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(handle));
    EXPECT_TRUE(test.browser.Called(L"property closeBtnEnabled"));

    // A failing property query closes.
    test.browser.propertyResult = E_FAIL;
    SendMessageW(handle, WM_SHELL_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(handle));

    // Not reported (empty): closes.
    WindowUnderTest empty;
    handle = empty.Create();
    ASSERT_NE(nullptr, handle);
    SendMessageW(handle, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(handle));

    // Destroy from outside: the page is not asked.
    WindowUnderTest external;
    handle = external.Create();
    ASSERT_NE(nullptr, handle);
    external.browser.closeButton.vt = VT_BOOL;
    external.browser.closeButton.boolVal = VARIANT_FALSE;
    SendMessageW(handle, WM_SHELL_EXTERNAL_DESTROY, 0, 0);
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_FALSE(external.browser.Called(L"property closeBtnEnabled"));
}

TEST(HostMainWindow, TitleIsTheSecondStringWithTheCompanyAndStartsEmpty)
{
    WindowUnderTest test;
    const HWND handle = test.Create();
    ASSERT_NE(nullptr, handle);
    test.parsed.settings->company = L"Tervane";
    test.parsed.settings->titleFormat = L"%COMPANY_NAME_NEUTRAL% Suite";
    EXPECT_EQ(0, SendMessageW(handle, WM_SHELL_INIT, 0, 0));
    wchar_t title[300] = {};
    GetWindowTextW(handle, title, 300);
    EXPECT_STREQ(L"Tervane Suite", title);

    // Strings that fail leave an empty title, never the previous or uninitialised text.
    test.parsed.settings->company.clear();
    test.parsed.settings->titleFormat.clear();
    EXPECT_EQ(ERROR_RESOURCE_NAME_NOT_FOUND, SendMessageW(handle, WM_SHELL_INIT, 0, 0));
    GetWindowTextW(handle, title, 300);
    EXPECT_STREQ(L"", title);
}

TEST(HostMainWindow, ZoomTimerShowsTheWindowAtTheTenthPendingTick)
{
    WindowUnderTest pending;
    const HWND handle = pending.Create();
    ASSERT_NE(nullptr, handle);
    pending.browser.webBrowserResult = E_PENDING;
    pending.window->StartZoomTimer();
    PumpFor(1500);  // about 7 ticks
    EXPECT_FALSE(IsWindowVisible(handle));
    PumpFor(1300);
    EXPECT_TRUE(IsWindowVisible(handle));
    EXPECT_EQ(10u, pending.window->ZoomRetries());
    EXPECT_EQ(10, pending.browser.webBrowserRequests);

    // Success without a web browser object is a failure: shown at the first tick, no retry.
    WindowUnderTest nullObject;
    const HWND second = nullObject.Create();
    ASSERT_NE(nullptr, second);
    nullObject.window->StartZoomTimer();
    PumpFor(500);
    EXPECT_TRUE(IsWindowVisible(second));
    EXPECT_EQ(1, nullObject.browser.webBrowserRequests);
    EXPECT_EQ(0u, nullObject.window->ZoomRetries());
}

// Any process can post a tick with the zoom timer's id: only ticks of the running timer count, so a
// window hidden before its zoom is set, or hidden again later, stays hidden.
TEST(HostMainWindow, ZoomTicksCountOnlyWhileTheZoomTimerRuns)
{
    WindowUnderTest test;
    const HWND handle = test.Create();
    ASSERT_NE(nullptr, handle);
    PostMessageW(handle, WM_TIMER, kZoomTimerId, 0);
    PumpFor(100);
    EXPECT_FALSE(IsWindowVisible(handle));
    EXPECT_EQ(0, test.browser.webBrowserRequests);

    test.window->StartZoomTimer();
    for (int wait = 0; wait < 100 && !IsWindowVisible(handle); ++wait) PumpFor(50);
    ASSERT_TRUE(IsWindowVisible(handle));
    EXPECT_EQ(1, test.browser.webBrowserRequests);
    ShowWindow(handle, SW_HIDE);  // as the close behind the report page does
    PostMessageW(handle, WM_TIMER, kZoomTimerId, 0);
    PumpFor(100);
    EXPECT_FALSE(IsWindowVisible(handle));
    EXPECT_EQ(1, test.browser.webBrowserRequests);
}

TEST(HostMainWindow, CornerPositionsFollowTheWorkAreaAndADisplayChangeRescales)
{
    for (unsigned position : {1u, 2u, 3u, 4u}) {
        WindowUnderTest test;
        test.display.desktop = RECT{0, 0, 1024, 768};
        test.display.edge = ABE_BOTTOM;
        test.display.taskbar = RECT{0, 738, 1024, 768};
        test.window->SetPosition(position);
        const HWND handle = test.Create();
        ASSERT_NE(nullptr, handle);
        RECT rect{};
        GetWindowRect(handle, &rect);
        EXPECT_EQ(700, rect.right - rect.left);
        EXPECT_EQ(position == 1 || position == 3 ? 0 : 1024 - 700, rect.left) << position;
        EXPECT_EQ(position <= 2 ? 0 : 738 - 620, rect.top) << position;
        EXPECT_GE(test.browser.fits, 1);
    }

    // A display change rescales from the size first asked for and applies the zoom once.
    WindowUnderTest test;
    test.display.desktop = RECT{0, 0, 1920, 1080};
    const HWND handle = test.Create();
    ASSERT_NE(nullptr, handle);
    test.display.dpi = 144;
    SendMessageW(handle, WM_DISPLAYCHANGE, 32, MAKELPARAM(1920, 1080));
    RECT rect{};
    GetWindowRect(handle, &rect);
    EXPECT_EQ(1050, rect.right - rect.left);
    EXPECT_EQ(930, rect.bottom - rect.top);
    EXPECT_EQ(150u, test.window->ZoomPercent());
    EXPECT_EQ(1, test.browser.webBrowserRequests);
}

// A plain window that counts what reaches it, for the module's senders.
class Recorder {
public:
    Recorder()
    {
        m_className = Fundor::testing::UniqueName(L"hostrec");
        WNDCLASSEXW description{sizeof(description)};
        description.lpfnWndProc = &Recorder::Procedure;
        description.hInstance = GetModuleHandleW(nullptr);
        description.lpszClassName = m_className.c_str();
        RegisterClassExW(&description);
        handle = CreateWindowExW(0, m_className.c_str(), L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(handle, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
    ~Recorder() { DestroyWindow(handle); }
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        auto* self = reinterpret_cast<Recorder*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self != nullptr) {
            if (message == WM_CLOSE) {
                ++self->closes;
                return 0;
            }
            if (message == WM_SHELL_NAVIGATE) {
                self->navigations.push_back(wParam != 0 ? reinterpret_cast<CNAVMSGDATA*>(wParam)->Url() : L"<null>");
                return 0;
            }
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    HWND handle = nullptr;
    int closes = 0;
    std::vector<std::wstring> navigations;

private:
    std::wstring m_className;
};

TEST(HostBusHandlers, CloseIsPostedOnlyForThisSessionsWindow)
{
    ParsedModule parsed(L"/id:bus");
    Recorder window;
    parsed.module->SetMainWindowHandle(window.handle);
    auto message = [](const wchar_t* data) { return Velmo::CreateMessage(L"UiContainer.Destroyed", L"t", data); };
    std::thread([&] {
        parsed.module->OnUiContainerDestroyed(message(L"Vistrel.Window.for.Session.12"));
        parsed.module->OnUiContainerDestroyed(message(L"Vistrel.Window.for.Session.2"));
    }).join();
    PumpFor(100);
    EXPECT_EQ(0, window.closes);
    std::thread([&] { parsed.module->OnUiContainerDestroyed(message(L"Vistrel.Window.for.Session.1")); }).join();
    PumpFor(100);
    EXPECT_EQ(1, window.closes);
    parsed.settings->windowId.clear();  // no session id: nothing matches
    std::thread([&] { parsed.module->OnUiContainerDestroyed(message(L"Vistrel.Window.for.Session.1")); }).join();
    PumpFor(100);
    EXPECT_EQ(1, window.closes);
    std::thread([&] { parsed.module->OnUninstallStart(Velmo::CreateMessage(L"Nbr.Uninstall.Start", L"t", L"")); })
        .join();
    PumpFor(100);
    EXPECT_EQ(2, window.closes);

    // Without a window the handlers do nothing.
    parsed.module->SetMainWindowHandle(nullptr);
    EXPECT_EQ(0u, parsed.module->OnUninstallStart(nullptr));
}

class HostHandOverRead : public Fundor::testing::RegistryIsolatedTest {
protected:
    // Writes the characters of text and nothing after them, as a writer that counts no terminator
    // and has no zero behind its text (the registry keeps a terminator only when one follows).
    void Write(const std::wstring& text, const std::wstring& hostEventName = L"handover")
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kHandOverKey, 0, nullptr, REG_OPTION_VOLATILE,
                                                 KEY_WRITE, nullptr, &key, nullptr));
        const std::wstring followed = text + L"x";
        RegSetValueExW(key, HandOverValueName(hostEventName).c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(followed.data()),
                       static_cast<DWORD>(text.size() * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    bool ValueExists(const std::wstring& hostEventName = L"handover")
    {
        return RegGetValueW(HKEY_CURRENT_USER, kHandOverKey, HandOverValueName(hostEventName).c_str(), RRF_RT_ANY,
                            nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }
};

TEST_F(HostHandOverRead, LongAndWideUrlsArriveOthersAreRefusedAndTheValueIsAlwaysGone)
{
    ParsedModule parsed(L"/id:handover?part");
    Recorder window;
    parsed.module->SetMainWindowHandle(window.handle);

    const std::wstring longUrl = L"SARN://Res.dll::" + std::wstring(2083 - 16, L'p');
    Write(longUrl);
    parsed.module->DoNavigation();
    EXPECT_FALSE(ValueExists());
    const std::wstring wide = L"sarn://res.dll::\x4E2D\x6587.html";
    Write(wide);
    // Another host's page is neither read nor removed.
    Write(L"sarn://res.dll::other.html", L"handover2");
    parsed.module->DoNavigation();
    ASSERT_EQ(2u, window.navigations.size());
    EXPECT_EQ(longUrl, window.navigations[0]);  // case kept
    EXPECT_EQ(wide, window.navigations[1]);
    EXPECT_TRUE(ValueExists(L"handover2"));

    Write(L"https://elsewhere.example/page");
    parsed.module->DoNavigation();
    EXPECT_FALSE(ValueExists());
    // Longer than a URL may be: with no terminator in the buffer's reach, or past the buffer.
    for (const std::size_t length : {std::size_t{2084}, std::size_t{2085}}) {
        Write(L"sarn://res.dll::" + std::wstring(length - 16, L'q'));
        parsed.module->DoNavigation();
        EXPECT_FALSE(ValueExists()) << length;
    }
    parsed.module->DoNavigation();  // nothing there
    EXPECT_EQ(2u, window.navigations.size());
}

TEST(HostWaitLoop, ExitEventEndsTheWaitAndPostedPointerMessagesAreDropped)
{
    ParsedModule parsed(L"/id:wait");
    Recorder window;
    EXPECT_EQ(static_cast<DWORD>(WAIT_FAILED), parsed.module->Wait(nullptr, 1, 0, nullptr));
    HANDLE handles[2] = {CreateEventW(nullptr, TRUE, FALSE, nullptr), CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    EXPECT_EQ(static_cast<DWORD>(WAIT_FAILED), parsed.module->Wait(handles, 0, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), parsed.module->Wait(handles, 2, 50, nullptr));

    PostMessageW(window.handle, WM_SHELL_NAVIGATE, 0xDEAD, 0);
    std::thread setter([&] {
        Sleep(200);
        SetEvent(handles[0]);
    });
    EXPECT_EQ(0u, parsed.module->Wait(handles, 2, 5000, nullptr));
    setter.join();
    EXPECT_TRUE(window.navigations.empty());
    CloseHandle(handles[0]);
    CloseHandle(handles[1]);
}

}  // namespace

// The session ends: the window goes without asking the page, and the module is told to exit. A
// refused end (another program said no) changes nothing.
TEST(HostMainWindow, EndingSessionClosesWithoutAskingThePage)
{
    WindowUnderTest test;
    const HWND handle = test.Create();
    ASSERT_NE(nullptr, handle);
    test.browser.closeButton.vt = VT_BOOL;
    test.browser.closeButton.boolVal = VARIANT_FALSE;
    EXPECT_EQ(TRUE, SendMessageW(handle, WM_QUERYENDSESSION, 0, 0));
    SendMessageW(handle, WM_ENDSESSION, FALSE, 0);
    EXPECT_TRUE(IsWindow(handle));
    EXPECT_GT(test.parsed.module->ReferenceCount(), 0);
    EXPECT_FALSE(test.parsed.module->ExitRequested());

    SendMessageW(handle, WM_ENDSESSION, TRUE, 0);
    EXPECT_FALSE(IsWindow(handle));
    EXPECT_FALSE(test.browser.Called(L"property closeBtnEnabled"));
    EXPECT_TRUE(test.browser.Called(L"unsubscribe"));
    EXPECT_EQ(0, test.parsed.module->ReferenceCount());
    EXPECT_TRUE(test.parsed.module->ExitRequested());
}
