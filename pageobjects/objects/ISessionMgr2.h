#pragma once
// The session manager's dual interface as C++ sees it: slots 7-40 in the order of its type
// library (KvQrnCShim.idl), which gives every method the dispatch id of its slot.

#include <oaidl.h>
#include <windows.h>

// {E92BCC3F-EF21-4C12-9F0A-891590720ECD}
inline constexpr IID IID_ISessionMgr2 = {0xE92BCC3F, 0xEF21, 0x4C12, {0x9F, 0x0A, 0x89, 0x15, 0x90, 0x72, 0x0E, 0xCD}};

// Two methods share their names with the platform's character-set macros ("LoadString",
// "GetLocaleInfo" in the type library): C++ spells them with the W form the macros produce.
struct ISessionMgr2 : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE SetNamedParameter(BSTR name, VARIANT value, long* result) = 0;  // 7
    virtual HRESULT STDMETHODCALLTYPE GetNamedParameter(BSTR name, VARIANT* value) = 0;  // 8
    virtual HRESULT STDMETHODCALLTYPE RemoveNamedParameter(BSTR name, long* result) = 0;  // 9
    virtual HRESULT STDMETHODCALLTYPE KvRegQueryValue(BSTR keyPath, BSTR valueName, VARIANT_BOOL obfuscated, VARIANT* value) = 0;  // 10
    virtual HRESULT STDMETHODCALLTYPE KvRegSetValue(BSTR keyPath, BSTR valueName, VARIANT value, VARIANT_BOOL obfuscated, long* result) = 0;  // 11
    virtual HRESULT STDMETHODCALLTYPE CloseWindow(long* result) = 0;  // 12
    virtual HRESULT STDMETHODCALLTYPE ResizeWindow(VARIANT left, VARIANT top, VARIANT width, VARIANT height, long* result) = 0;  // 13
    virtual HRESULT STDMETHODCALLTYPE StartTimer(BSTR name, long* result) = 0;  // 14
    virtual HRESULT STDMETHODCALLTYPE StopTimer(BSTR name, long* result) = 0;  // 15
    virtual HRESULT STDMETHODCALLTYPE OpenLogWindow(long* result) = 0;  // 16
    virtual HRESULT STDMETHODCALLTYPE OpenReportWindow(long* result) = 0;  // 17
    virtual HRESULT STDMETHODCALLTYPE IsClickRefreshEnabled(VARIANT_BOOL* enabled) = 0;  // 18
    virtual HRESULT STDMETHODCALLTYPE LoadStringW(VARIANT stringId, VARIANT applicationId, VARIANT* text) = 0;  // 19
    virtual HRESULT STDMETHODCALLTYPE LoadStrings(VARIANT stringIds, VARIANT applicationId, VARIANT* texts) = 0;  // 20
    virtual HRESULT STDMETHODCALLTYPE GetAppList(VARIANT scriptObject, long* result) = 0;  // 21
    virtual HRESULT STDMETHODCALLTYPE GetProductManifest(BSTR applicationId, BSTR* manifest) = 0;  // 22
    virtual HRESULT STDMETHODCALLTYPE OpenNewHost(BSTR command, VARIANT_BOOL trusted, long* result) = 0;  // 23
    virtual HRESULT STDMETHODCALLTYPE OpenBrowser(BSTR url, BSTR query, long* result) = 0;  // 24
    virtual HRESULT STDMETHODCALLTYPE ReservedMethod25() = 0;  // 25
    virtual HRESULT STDMETHODCALLTYPE OpenFile(VARIANT first, VARIANT second) = 0;  // 26
    virtual HRESULT STDMETHODCALLTYPE RestartComputer(long* result) = 0;  // 27
    virtual HRESULT STDMETHODCALLTYPE IsAdminUser(VARIANT_BOOL* admin) = 0;  // 28
    virtual HRESULT STDMETHODCALLTYPE GetLocaleInfoW(VARIANT scriptObject, long* result) = 0;  // 29
    virtual HRESULT STDMETHODCALLTYPE ShutdownComputer(long* result) = 0;  // 30
    virtual HRESULT STDMETHODCALLTYPE GetOSVersionCode(long* code) = 0;  // 31
    virtual HRESULT STDMETHODCALLTYPE ReservedMethod32(VARIANT value) = 0;  // 32
    virtual HRESULT STDMETHODCALLTYPE HandleSysCommand(VARIANT unused, long command, long* result) = 0;  // 33
    virtual HRESULT STDMETHODCALLTYPE ReservedMethod34(VARIANT first, VARIANT second) = 0;  // 34
    virtual HRESULT STDMETHODCALLTYPE OpenBrowserAsIs(BSTR url, long* result) = 0;  // 35
    virtual HRESULT STDMETHODCALLTYPE Is24HourClock(VARIANT_BOOL* is24) = 0;  // 36
    virtual HRESULT STDMETHODCALLTYPE GetFirstDayOfWeek(long* day) = 0;  // 37
    virtual HRESULT STDMETHODCALLTYPE ReservedMethod38(VARIANT value) = 0;  // 38
    virtual HRESULT STDMETHODCALLTYPE ReservedMethod39(VARIANT value) = 0;  // 39
    virtual HRESULT STDMETHODCALLTYPE ReservedMethod40(VARIANT value) = 0;  // 40
};
