#pragma once
// The host's one top-level window: a frameless popup holding the browser control. It answers the
// private messages of the module and the page objects, places and scales itself, stays hidden until
// the page's zoom is applied, lets the page be dragged by its top, and asks the page before closing.

#include "classlib/KvWindowImpl.h"
#include "shell/host/CBrowserHelp.h"
#include "shell/host/CKvRefCount.h"
#include "shell/host/CWinDPIAware.h"
#include "shell/host/ShellMessages.h"

class CKvShellModule;

class CShellMainWnd : public CKvWindowImpl<CShellMainWnd, CKvWinTraits<kFrameStyle, 0>>,
                      public CKvRefCount,
                      public CWinDPIAware,
                      public CBrowserHelp,
                      public IKvBrowserSubscriber {
public:
    // The window class is named by the module's host ID. factory makes the browser object (the
    // module's browser binding when empty); display: the system's when null.
    explicit CShellMainWnd(CKvShellModule& module, BrowserObjectFactory factory = {},
                           IDisplayEnvironment* display = nullptr);
    ~CShellMainWnd() override;

    KV_BEGIN_MSG_MAP(CShellMainWnd)
        KV_MESSAGE_HANDLER(WM_CREATE, OnCreate)
        KV_MESSAGE_HANDLER(WM_DESTROY, OnDestroy)
        KV_MESSAGE_HANDLER(WM_CLOSE, OnClose)
        KV_MESSAGE_HANDLER(WM_GETMINMAXINFO, OnGetMinMaxInfo)
        KV_MESSAGE_HANDLER(WM_SHELL_EXTERNAL_DESTROY, OnExternalDestroy)
        KV_MESSAGE_HANDLER(WM_SHELL_INIT, OnInit)
        KV_MESSAGE_HANDLER(WM_SHELL_NAVIGATE, OnNavigate)
        KV_MESSAGE_HANDLER(WM_SHELL_CLOSE, OnCloseRequest)
        KV_MESSAGE_HANDLER(WM_SHELL_GET_CURRENT_URL, OnGetCurrNavURL)
        KV_MESSAGE_HANDLER(WM_TIMER, OnTimer)
        KV_MESSAGE_HANDLER(WM_SIZE, OnSize)
        KV_MESSAGE_HANDLER(WM_DISPLAYCHANGE, OnDisplayChange)
        KV_MESSAGE_HANDLER(WM_ENDSESSION, OnEndSession)
    KV_END_MSG_MAP()

    // Scales the client size for the display and creates the window; null on failure.
    HWND Create(HWND parent, SIZE clientSize, const wchar_t* title, DWORD style, DWORD exStyle);
    void SetPosition(unsigned position) noexcept { m_position = position; }
    void StartZoomTimer();

    // IKvBrowserSubscriber: messages of the control's windows (the drag band).
    LRESULT STDMETHODCALLTYPE OnBrowserMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    [[nodiscard]] unsigned ZoomRetries() const noexcept { return m_zoomRetries; }

    LRESULT OnCreate(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnDestroy(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnClose(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnGetMinMaxInfo(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnExternalDestroy(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnInit(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnNavigate(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnCloseRequest(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnGetCurrNavURL(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnTimer(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnSize(UINT, WPARAM, LPARAM, BOOL&);
    LRESULT OnDisplayChange(UINT, WPARAM, LPARAM, BOOL&);
    // The session ends (restart, shut-down, log-off): the process may be ended as soon as this
    // returns, so the window is torn down here, without asking the page.
    LRESULT OnEndSession(UINT, WPARAM, LPARAM, BOOL&);

private:
    [[nodiscard]] IKvBrowserOperations* Operations() const noexcept { return Browser(); }
    void PlaceWindow();
    void StopZoomTimer() noexcept;
    // Destroys the window, or marks it to be destroyed when the navigation under way returns.
    void DestroyNowOrAfterNavigation();

    CKvShellModule& m_module;
    unsigned m_zoomRetries = 0;
    bool m_zoomTimerRunning = false;
    unsigned m_position = 0;
    // The module reference of this window, taken at WM_CREATE; dropped once, whether the window is
    // destroyed or its creation is refused.
    bool m_holdsModuleReference = false;
    unsigned m_navigationDepth = 0;
    bool m_destroyAfterNavigation = false;
};
