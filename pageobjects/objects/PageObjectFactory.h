#pragma once
// The page objects that the host hands every page by name, as the host module creates them, and
// what the page objects need of the host in return.

#include <windows.h>
#include <oaidl.h>

// Each creator returns S_OK and the object's IDispatch with one reference, or a failure with
// *object null.
[[nodiscard]] HRESULT CreateSessionManager(IDispatch** object) noexcept;            // "KvDispSessionMgr2"
[[nodiscard]] HRESULT CreatePlatformDispatch(IDispatch** object) noexcept;          // "PlatformDspObj"
// The uninstaller shim of the "fake" mode, given the simulate and ngmdata option values.
[[nodiscard]] HRESULT CreateFakeUninstaller(const wchar_t* simulate, const wchar_t* ngmdata,
                                            IDispatch** object) noexcept;           // "FakeUninstShim"

// The host module's side, as the page objects reach it. The host sets it before it creates the
// page objects and clears it when its window is gone; page objects read it on the UI thread.
struct IKvShellHostAccess {
    // The main frame window, or null when there is none.
    virtual HWND STDMETHODCALLTYPE GetMainWindowHandle() = 0;
    // TRUE when the start-up check answered that the user is no administrator; FALSE when it
    // found an administrator or could not tell.
    virtual BOOL STDMETHODCALLTYPE IsNotAdministrator() = 0;
};
void SetShellHostAccess(IKvShellHostAccess* host) noexcept;
[[nodiscard]] IKvShellHostAccess* GetShellHostAccess() noexcept;
