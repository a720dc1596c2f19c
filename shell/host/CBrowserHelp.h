#pragma once
// Owns the browser object of the browser-control library for the main window: creates the control,
// hands each new page the page objects by name, navigates, forwards keyboard messages, gives the
// object up.

#include "shell/host/CNAVMSGDATA.h"
#include "shell/host/KvBrowser2.h"

#include <windows.h>

#include <functional>

// Page objects by type: 1 "KvDispSessionMgr2", 2 "PlatformDspObj", 3 "FakeUninstShim".
class IPageObjectSource {
public:
    virtual ~IPageObjectSource() = default;
    [[nodiscard]] virtual HRESULT GetDispatch(DWORD type, IDispatch** object) = 0;
};

// Makes a browser object: 0 with *browser set (one reference for the caller), else a Win32 code.
using BrowserObjectFactory = std::function<DWORD(IKvBrowser2** browser)>;

class CBrowserHelp {
public:
    CBrowserHelp(IPageObjectSource& pageObjects, BrowserObjectFactory factory) noexcept;
    // Gives the browser object up.
    virtual ~CBrowserHelp();
    CBrowserHelp(const CBrowserHelp&) = delete;
    CBrowserHelp& operator=(const CBrowserHelp&) = delete;

    // 0 with the control created in parent, or -1.
    [[nodiscard]] int _CreateBrowser(HWND parent);
    // 0 when the record's URL was handed to the control (whatever the navigation's result), else -1.
    [[nodiscard]] int Navigate(CNAVMSGDATA* record);
    // Non-zero when the control consumed the message.
    [[nodiscard]] int TranslateAccelerator(MSG* message);
    void _AddObjectToPage(DWORD type, const wchar_t* name);
    // Shut down, close and drop the object; nothing when none is held.
    void ReleaseBrowser() noexcept;

    [[nodiscard]] IKvBrowser2* Browser() const noexcept { return m_browser; }

private:
    IPageObjectSource& m_pageObjects;
    BrowserObjectFactory m_factory;
    IKvBrowser2* m_browser = nullptr;
};
