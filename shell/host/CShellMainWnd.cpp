#include "shell/host/CShellMainWnd.h"

#include "classlib/KvComBoundary.h"
#include "core/Logging/Logging.h"
#include "core/base/ScopedComValues.h"
#include "pageobjects/services/GetActivePackageId.h"
#include "shell/host/CKvShellModule.h"
#include "shell/host/ShellWindowHelpers.h"

#include <exception>
#include <utility>

namespace {

constexpr wchar_t kSource[] = L"CShellMainWnd.cpp";
constexpr UINT kCompanyNameString = 35030;
constexpr UINT kTitleString = 86094;
constexpr UINT kTitleStringLogged = 20558;
constexpr int kTitleCharacters = 260;
constexpr int kDragBandBottom = 30;

BrowserObjectFactory ModuleBrowserFactory(CKvShellModule& module)
{
    return [&module](IKvBrowser2** browser) -> DWORD {
        KvBrwsr2Lib* library = module.GetBrowserLib();
        return library != nullptr ? library->GetBrwObject2(browser) : ERROR_CALL_NOT_IMPLEMENTED;
    };
}

// Holds a counter raised for its lifetime, however the scope is left.
class RaisedCount {
public:
    explicit RaisedCount(unsigned& count) noexcept : m_count(count) { ++m_count; }
    ~RaisedCount() { --m_count; }
    RaisedCount(const RaisedCount&) = delete;
    RaisedCount& operator=(const RaisedCount&) = delete;

private:
    unsigned& m_count;
};

}  // namespace

CShellMainWnd::CShellMainWnd(CKvShellModule& module, BrowserObjectFactory factory, IDisplayEnvironment* display)
    : CWinDPIAware(display),
      CBrowserHelp(module, factory ? std::move(factory) : ModuleBrowserFactory(module)),
      m_module(module)
{
    const KvCommandRecord* record = module.CommandRecord();
    m_classInfo.className = record != nullptr ? record->hostId : L"AB80AD1E41A445efAB585BDC60B29776";
}

CShellMainWnd::~CShellMainWnd() = default;

HWND CShellMainWnd::Create(HWND parent, SIZE clientSize, const wchar_t* title, DWORD style, DWORD exStyle)
{
    (void)SetDPIAwareSize(clientSize, style);
    const RECT rect = ScaledWindowRect(style);
    return CKvWindowImpl::Create(parent, rect, title, style, exStyle, nullptr, nullptr);
}

void CShellMainWnd::StartZoomTimer()
{
    if (m_hWnd == nullptr) return;  // closed while its first page was shown
    m_zoomRetries = 0;
    m_zoomTimerRunning = ::SetTimer(m_hWnd, kZoomTimerId, kZoomTimerPeriodMs, nullptr) != 0;
}

void CShellMainWnd::StopZoomTimer() noexcept
{
    m_zoomTimerRunning = false;
    ::KillTimer(m_hWnd, kZoomTimerId);
}

LRESULT CShellMainWnd::OnCreate(UINT, WPARAM, LPARAM, BOOL&)
{
    m_module.ModuleAddRef(8);
    m_holdsModuleReference = true;
    m_module.SetMainWindowHandle(m_hWnd);
    if (_CreateBrowser(m_hWnd) != 0) {
        // A refused creation need not be followed by WM_DESTROY: undo here.
        m_module.SetMainWindowHandle(nullptr);
        m_holdsModuleReference = false;
        m_module.ModuleRelease(8);
        return -1;
    }
    void* listener = nullptr;
    if (SUCCEEDED(Browser()->QueryInterface(IID_IKvBrowserWndProcListner, &listener)) && listener != nullptr) {
        // The reference the query added: the listener side has no counting slots of its own.
        const auto queried = Fundor::AdoptComPtr(Browser());
        static_cast<IKvBrowserWndProcListner*>(listener)->AddSubscriber(this);
    }
    return 0;
}

LRESULT CShellMainWnd::OnDestroy(UINT, WPARAM, LPARAM, BOOL&)
{
    ETWLOG(ETWLogging::kLevelNormal, kSource, L"CShellMainWnd::OnDestroy", L"Destroy child windows");
    if (Browser() != nullptr) static_cast<IKvBrowserWndProcListner*>(Browser())->RemoveSubscriber(this);
    m_module.SetMainWindowHandle(nullptr);
    if (m_holdsModuleReference) {
        m_holdsModuleReference = false;
        m_module.ModuleRelease(8);
    }
    m_module.ReleaseGlobalObjects();
    StopZoomTimer();
    return 0;
}

LRESULT CShellMainWnd::OnClose(UINT, WPARAM, LPARAM, BOOL&)
{
    if (Browser() != nullptr) {
        Fundor::ScopedVariant value;
        const HRESULT hr = Operations()->GetPageProperty(L"closeBtnEnabled", value.put());
        const bool allowed = PageAllowsClose(hr, value.get());
        if (!allowed) {
            ETWLOG(ETWLogging::kLevelNormal, kSource, L"CShellMainWnd::OnClose",
                   L"Some action is in progress and can not be disrupted, so closing window is not allowed now.");
            return 0;
        }
    }
    DestroyNowOrAfterNavigation();
    return 0;
}

LRESULT CShellMainWnd::OnGetMinMaxInfo(UINT, WPARAM, LPARAM lParam, BOOL&)
{
    auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
    if (info != nullptr) {
        const RECT rect = ScaledWindowRect(kFrameStyle);
        info->ptMaxSize.x = rect.right - rect.left;
        info->ptMaxSize.y = rect.bottom - rect.top;
    }
    return 0;
}

LRESULT CShellMainWnd::OnExternalDestroy(UINT, WPARAM, LPARAM, BOOL&)
{
    ETWLOG(ETWLogging::kLevelWarning, kSource, L"CShellMainWnd::OnExternalDestroy",
           L"An external source has asked to destroy the main frame window");
    DestroyNowOrAfterNavigation();
    return 0;
}

void CShellMainWnd::DestroyNowOrAfterNavigation()
{
    // A page's script runs inside the control's navigation and may pump messages (a call to another
    // process, a wait for the report page). Destroying the control under its own navigation would
    // pull the page from under the running script: the window goes once the navigation returns.
    if (m_navigationDepth > 0) {
        ETWLOG(ETWLogging::kLevelNormal, kSource, L"CShellMainWnd::DestroyNowOrAfterNavigation",
               L"A navigation is in progress; the window is destroyed when it ends");
        m_destroyAfterNavigation = true;
        return;
    }
    DestroyWindow();
}

LRESULT CShellMainWnd::OnInit(UINT, WPARAM, LPARAM, BOOL&)
{
    IHostUiSettings& settings = m_module.UiSettings();
    wchar_t company[kTitleCharacters] = {};
    wchar_t title[kTitleCharacters] = {};
    DWORD result = settings.LoadResString(kCompanyNameString, company, kTitleCharacters);
    if (result != ERROR_SUCCESS) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CShellMainWnd::OnInit", L"LoadString(%d...) failed, lRetVal = %u",
               static_cast<int>(kCompanyNameString), result);
    }
    result = settings.LoadPkgString(GetActivePackageId(), kTitleString, title, kTitleCharacters, company);
    if (result != ERROR_SUCCESS) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CShellMainWnd::OnInit", L"LoadString(%d...) failed, lRetVal = %u",
               static_cast<int>(kTitleStringLogged), result);
    }
    title[kTitleCharacters - 1] = L'\0';
    ::SetWindowTextW(m_hWnd, title);
    return static_cast<LRESULT>(result);
}

LRESULT CShellMainWnd::OnNavigate(UINT, WPARAM wParam, LPARAM, BOOL&)
{
    const wchar_t* const function = L"CShellMainWnd::OnNavigate";
    // Decided by the pointer this thread's sender registered alone: whether the platform says the
    // thread is inside another process's send is no help (it can say so for good after a send from
    // another process went wrong), and a foreign send never carries a registered pointer.
    if (!TakeRegisteredPointer(WM_SHELL_NAVIGATE, wParam)) {
        ETWLOG(ETWLogging::kLevelError, kSource, function,
               L"Navigation request not sent by this thread's sender ignored (wParam %p)",
               reinterpret_cast<void*>(wParam));
        return 0;
    }
    ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Content frame navigation triggered");
    auto* record = reinterpret_cast<CNAVMSGDATA*>(wParam);
    if (record == nullptr) {
        ETWLOG(ETWLogging::kLevelCritical, kSource, function,
               L"HELP!! Message data is NULL. Cannot set event. Somebody is waiting so application is probably hung");
        return 0;
    }
    {
        // However the navigation ends, it no longer holds a close back, and its sender is released.
        const RaisedCount navigating(m_navigationDepth);
        try {
            (void)Navigate(record);
        } catch (const std::exception& error) {
            ETWLOG(ETWLogging::kLevelError, kSource, function, L"The navigation failed: %hs", error.what());
        } catch (...) {
            ETWLOG(ETWLogging::kLevelError, kSource, function, L"The navigation failed");
        }
    }
    record->SignalDone();
    if (m_navigationDepth == 0 && m_destroyAfterNavigation) {
        m_destroyAfterNavigation = false;
        DestroyWindow();
    }
    return 0;
}

LRESULT CShellMainWnd::OnCloseRequest(UINT, WPARAM, LPARAM, BOOL&)
{
    ::SendMessageW(m_hWnd, WM_CLOSE, 0, 0);
    return 0;
}

LRESULT CShellMainWnd::OnGetCurrNavURL(UINT, WPARAM wParam, LPARAM, BOOL&)
{
    if (!TakeRegisteredPointer(WM_SHELL_GET_CURRENT_URL, wParam)) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CShellMainWnd::OnGetCurrNavURL",
               L"URL request not sent by this thread's sender ignored (wParam %p)", reinterpret_cast<void*>(wParam));
        return 0;
    }
    auto* url = reinterpret_cast<BSTR*>(wParam);
    if (url == nullptr || Browser() == nullptr) return 0;
    const HRESULT hr = Operations()->GetCurrentUrl(url);
    if (SUCCEEDED(hr)) {
        ETWLOG(ETWLogging::kLevelNormal, kSource, L"CShellMainWnd::OnGetCurrNavURL",
               L"The current URL in the content frame: %s", *url != nullptr ? *url : L"");
    } else {
        ETWLOG(ETWLogging::kLevelWarning, kSource, L"CShellMainWnd::OnGetCurrNavURL",
               L"Failed to get URL to current page in content frame. Error: 0x%x", hr);
    }
    return 0;
}

LRESULT CShellMainWnd::OnTimer(UINT, WPARAM wParam, LPARAM, BOOL&)
{
    // Any process can post a tick with this id: only the running timer's ticks count.
    if (wParam != kZoomTimerId || !m_zoomTimerRunning) return 0;
    const HRESULT hr = Browser() != nullptr ? Zoom(Operations()) : E_INVALIDARG;
    if (hr == E_PENDING) {
        ++m_zoomRetries;
        if (m_zoomRetries < kZoomPendingTicks) return 0;
    }
    StopZoomTimer();
    ::ShowWindow(m_hWnd, SW_SHOW);
    return 0;
}

void CShellMainWnd::PlaceWindow()
{
    RECT window{};
    ::GetWindowRect(m_hWnd, &window);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    if (m_position == 0) {
        if (m_module.UiSettings().IsVistrelEnabled()) {
            const int x = (::GetSystemMetrics(SM_CXSCREEN) - width) / 2;
            const int y = (::GetSystemMetrics(SM_CYSCREEN) - height) / 2;
            ::SetWindowPos(m_hWnd, HWND_TOP, x, y, 0, 0, SWP_NOSIZE);
            (void)ForceForegroundWindow(m_hWnd, TRUE);
            return;
        }
        MONITORINFO monitor{sizeof(monitor)};
        if (!::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor)) return;
        const RECT& work = monitor.rcWork;
        int left = (work.left + work.right) / 2 - width / 2;
        int top = (work.top + work.bottom) / 2 - height / 2;
        if (left + width > work.right) left = work.right - width;
        if (top + height > work.bottom) top = work.bottom - height;
        if (left < work.left) left = work.left;
        if (top < work.top) top = work.top;
        ::SetWindowPos(m_hWnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return;
    }
    if (m_position > 4) return;
    RECT work{};
    if (!GetDesktopWorkArea(Display(), &work)) return;
    const int left = (m_position == 1 || m_position == 3) ? work.left : work.right - width;
    const int top = (m_position == 1 || m_position == 2) ? work.top : work.bottom - height;
    ::SetWindowPos(m_hWnd, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

LRESULT CShellMainWnd::OnSize(UINT, WPARAM wParam, LPARAM, BOOL&)
{
    if (wParam != SIZE_RESTORED) return 0;
    PlaceWindow();
    (void)Resize(Operations());
    return 0;
}

LRESULT CShellMainWnd::OnDisplayChange(UINT, WPARAM, LPARAM, BOOL&)
{
    (void)SetDPIAwareSize(RequestedSize(), kFrameStyle);
    const RECT rect = ScaledWindowRect(kFrameStyle);
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (Browser() != nullptr) (void)Zoom(Operations());
    return 0;
}

LRESULT STDMETHODCALLTYPE CShellMainWnd::OnBrowserMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // The browser control calls in from its own message handling: nothing may be thrown back.
    // The control reads no result (always 0).
    (void)KvComBoundary(kSource, L"CShellMainWnd::OnBrowserMessage", [&] {
        if (message != WM_LBUTTONDOWN || window == nullptr) return S_FALSE;
        const int y = static_cast<short>(HIWORD(static_cast<DWORD>(lParam)));
        if (y < 0 || y > kDragBandBottom) return S_FALSE;
        HWND top = window;
        for (HWND parent = ::GetParent(top); parent != nullptr; parent = ::GetParent(top)) top = parent;
        ::SendMessageW(top, WM_NCLBUTTONDOWN, HTCAPTION, lParam);
        ::PostMessageW(window, WM_LBUTTONUP, wParam, lParam);
        return S_OK;
    });
    return 0;
}

LRESULT CShellMainWnd::OnEndSession(UINT, WPARAM wParam, LPARAM lParam, BOOL&)
{
    if (wParam == FALSE) return 0;  // another program refused: the session goes on
    ETWLOG(ETWLogging::kLevelWarning, kSource, L"CShellMainWnd::OnEndSession",
           L"The session is ending (0x%x): closing the main frame window", static_cast<unsigned>(lParam));
    if (::IsWindow(m_hWnd)) DestroyWindow();
    return 0;
}
