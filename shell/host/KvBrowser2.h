#pragma once
// The browser-control library "KvBrwsr2.dll" as the host drives it: its exports and the browser
// object. Shared by the host and by the library that stands in for the maker's control.
//
// The browser object has two tables: a reference-counting one at offset 0 and the operations
// table behind it; the window-procedure listener is a third side of the same object. Slots that
// the host never calls are reserved and keep the numbering of the operations that it does call.

#include "core/base/UrlLimits.h"

#include <windows.h>
#include <oaidl.h>
#include <exdisp.h>

// {86580D10-09EA-41F0-86D5-D524EF226B0A}
inline constexpr GUID IID_IKvBrowserWndProcListner = {
    0x86580d10, 0x09ea, 0x41f0, {0x86, 0xd5, 0xd5, 0x24, 0xef, 0x22, 0x6b, 0x0a}};

// The host's side: called for messages of the control's windows.
struct IKvBrowserSubscriber {
    virtual LRESULT STDMETHODCALLTYPE OnBrowserMessage(HWND window, UINT message, WPARAM wParam,
                                                       LPARAM lParam) = 0;
};

// Slot 0 adds a subscriber, slot 1 removes it.
struct IKvBrowserWndProcListner {
    virtual HRESULT STDMETHODCALLTYPE AddSubscriber(IKvBrowserSubscriber* subscriber) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveSubscriber(IKvBrowserSubscriber* subscriber) = 0;
};

// First table: slot 0 query (adds a reference), slot 1 add a reference, slot 2 release.
struct IKvBrowserUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};

// Second table: the operations, by slot.
struct IKvBrowserOperations {
    virtual HRESULT STDMETHODCALLTYPE Reserved0() = 0;                                     // 0
    virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0;                                     // 1
    virtual HRESULT STDMETHODCALLTYPE Initialize() = 0;                                    // 2
    virtual HRESULT STDMETHODCALLTYPE Close() = 0;                                         // 3
    virtual HRESULT STDMETHODCALLTYPE Create(HWND parent) = 0;                             // 4
    virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;                                     // 5
    virtual HRESULT STDMETHODCALLTYPE GetCurrentUrl(BSTR* url) = 0;                        // 6
    virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;                                      // 7
    virtual HRESULT STDMETHODCALLTYPE Navigate(const wchar_t* url) = 0;                    // 8
    virtual HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message, int flags, int* handled) = 0;  // 9
    virtual HRESULT STDMETHODCALLTYPE AddExternalObject(const wchar_t* name, VARIANT* object) = 0;     // 10
    virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;                                    // 11
    virtual HRESULT STDMETHODCALLTYPE GetPageProperty(const wchar_t* name, VARIANT* value) = 0;        // 12
    virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;                                    // 13
    virtual HRESULT STDMETHODCALLTYPE FitToParent() = 0;                                   // 14
    virtual HRESULT STDMETHODCALLTYPE Reserved15() = 0;                                    // 15
    virtual HRESULT STDMETHODCALLTYPE Reserved16() = 0;                                    // 16
    virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;                                    // 17
    virtual HRESULT STDMETHODCALLTYPE Reserved18() = 0;                                    // 18
    virtual HRESULT STDMETHODCALLTYPE Reserved19() = 0;                                    // 19
    virtual HRESULT STDMETHODCALLTYPE Reserved20() = 0;                                    // 20
    virtual HRESULT STDMETHODCALLTYPE Reserved21() = 0;                                    // 21
    virtual HRESULT STDMETHODCALLTYPE Reserved22() = 0;                                    // 22
    virtual HRESULT STDMETHODCALLTYPE Reserved23() = 0;                                    // 23
    virtual HRESULT STDMETHODCALLTYPE Reserved24() = 0;                                    // 24
    // Borrowed: the caller does not release it.
    virtual HRESULT STDMETHODCALLTYPE GetWebBrowser(IWebBrowser2** browser) = 0;           // 25
};

// The browser object as the library hands it out: the three sides in this order.
struct IKvBrowser2 : IKvBrowserUnknown, IKvBrowserOperations, IKvBrowserWndProcListner {};

// The URL-notification handler (the "QrnBrwNfHandler" export of the URL library): notification
// code and a caller-owned buffer of Fundor::kUrlBufferCharacters (2,084) rewritten in place.
using KvBrwNfHandler = DWORD(WINAPI*)(int code, wchar_t* url);

// Exports of "KvBrwsr2.dll", bound by name.
extern "C" {
using PFN_KvBrwInit = DWORD(WINAPI*)(DWORD flags, KvBrwNfHandler handler, void* context);
using PFN_KvBrwDeInit = void(WINAPI*)();
// Non-zero on success; the object belongs to the caller (one reference).
using PFN_KvGetBrwObject2 = BOOL(WINAPI*)(IKvBrowser2** browser);
using PFN_KvGetBrwObject2Ex = BOOL(WINAPI*)(IKvBrowser2** browser, DWORD flags);
}

