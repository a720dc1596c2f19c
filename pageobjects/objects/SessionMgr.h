#pragma once
// "KvDispSessionMgr2": the session manager every hosted page receives. Pages keep named values,
// read and write registry values, time steps, load localized strings, list the installed
// applications, open URLs and further hosts, restart or shut down the machine and let the host
// close behind its report page. IDispatch is served from the embedded KvQrnCShimLib type library.
//
// All calls come from the page on the UI thread. Every method returns S_OK and gives its
// Win32-style result through its out parameter, except that a null out parameter gives E_POINTER
// or E_INVALIDARG and nothing else happens. VARIANT outs are cleared before they are written, so
// an old value is released and a failure leaves VT_EMPTY. No exception leaves a method: one thrown
// inside is logged and leaves the out parameter in its failure state (a Win32 result
// ERROR_OUTOFMEMORY for memory, else ERROR_UNHANDLED_EXCEPTION (574), unless the method says
// otherwise).
//
// Strings that name something (key paths, value names, parameter and timer names, application
// ids, URLs, commands) are refused when they hold a zero character before their counted end: read
// as C strings they would name something else.

#include "classlib/KvComObject.h"
#include "pageobjects/objects/ISessionMgr2.h"
#include "pageobjects/objects/TypeLibDispatchImpl.h"
#include "pageobjects/services/CNamedParameterMap.h"
#include "pageobjects/services/qrncmn.h"
#include "shell/host/CKvPerfCounter.h"

#include <map>
#include <memory>
#include <string>

class CSessionMgr2 : public CKvComObjectRoot, public CKvTypeLibDispatchImpl<ISessionMgr2> {
public:
    CSessionMgr2();
    // Deletes every timer still running.
    ~CSessionMgr2() override;

    static const KvInterfaceEntry* GetInterfaceTable();
    // Loads the type information of ISessionMgr2.
    HRESULT FinalConstruct() override;

    // Seams for tests: where restart and shut-down go (::ExitWindowsEx by default) and where the
    // page timers write their markers (the debugger output by default). Set before the calls.
    void SetExitWindowsFunction(KvExitWindowsFunction exitWindows) noexcept { m_exitWindows = exitWindows; }
    void SetTimerOutput(CKvPerfCounter::OutputFunction output) noexcept { m_timerOutput = output; }
    // The counter running under name, or null.
    [[nodiscard]] const CKvPerfCounter* FindTimer(const wchar_t* name) const;

    // ISessionMgr2
    HRESULT STDMETHODCALLTYPE SetNamedParameter(BSTR name, VARIANT value, long* result) override;
    HRESULT STDMETHODCALLTYPE GetNamedParameter(BSTR name, VARIANT* value) override;
    HRESULT STDMETHODCALLTYPE RemoveNamedParameter(BSTR name, long* result) override;
    // keyPath "ROOT\sub\key" (HKCR, HKCU, HKCC, HKLM, HKU or their long names; any other first
    // part is a path below HKLM). REG_SZ gives VT_BSTR, REG_DWORD VT_I4, REG_MULTI_SZ an array of
    // VT_BSTR VARIANTs; other types and any failure VT_EMPTY. Enciphered values are "KVRG"
    // records whose strings are ANSI text. Names and paths are used as wide text throughout.
    HRESULT STDMETHODCALLTYPE KvRegQueryValue(BSTR keyPath, BSTR valueName, VARIANT_BOOL obfuscated,
                                              VARIANT* value) override;
    // Writes VT_I4 as REG_DWORD, VT_BSTR as REG_SZ, an array of VT_BSTR VARIANTs or a script
    // array (strings only, others skipped) as REG_MULTI_SZ; empty strings of a list are left out.
    // *result: 0, ERROR_INVALID_PARAMETER for a value that cannot be stored (also a list string
    // holding a zero character), E_INVALIDARG for a bad or over-long path or a path or name holding
    // a zero character, else the registry's code. The key is created when needed.
    HRESULT STDMETHODCALLTYPE KvRegSetValue(BSTR keyPath, BSTR valueName, VARIANT value, VARIANT_BOOL obfuscated,
                                            long* result) override;
    HRESULT STDMETHODCALLTYPE CloseWindow(long* result) override;
    HRESULT STDMETHODCALLTYPE ResizeWindow(VARIANT left, VARIANT top, VARIANT width, VARIANT height,
                                           long* result) override;
    // The name is the timer's label as it stands (never a format). 0, ERROR_OUTOFMEMORY, or
    // ERROR_INVALID_PARAMETER for a name holding a zero character.
    HRESULT STDMETHODCALLTYPE StartTimer(BSTR name, long* result) override;
    // 0, ERROR_FILE_NOT_FOUND for a name without a timer, ERROR_INVALID_PARAMETER for a name
    // holding a zero character.
    HRESULT STDMETHODCALLTYPE StopTimer(BSTR name, long* result) override;
    HRESULT STDMETHODCALLTYPE OpenLogWindow(long* result) override;
    HRESULT STDMETHODCALLTYPE OpenReportWindow(long* result) override;
    HRESULT STDMETHODCALLTYPE IsClickRefreshEnabled(VARIANT_BOOL* enabled) override;
    // The string of the application's "ResDll" (id 0: the product name). An empty string when the
    // string or the application's information cannot be read.
    HRESULT STDMETHODCALLTYPE LoadStringW(VARIANT stringId, VARIANT applicationId, VARIANT* text) override;
    // LoadStringW for each element of a one-dimensional array of VARIANT ids; an array of VARIANT
    // strings, lower bound 0.
    HRESULT STDMETHODCALLTYPE LoadStrings(VARIANT stringIds, VARIANT applicationId, VARIANT* texts) override;
    // Puts "arrayAppId", "arrayJSResDllPath", "successful" and "errorMessage" on the page object.
    // *result 0, or the HRESULT of the first put that failed (E_FAIL without a page object).
    HRESULT STDMETHODCALLTYPE GetAppList(VARIANT scriptObject, long* result) override;
    // String 1000 of the application's "UIDll", read without running the DLL's code. *manifest
    // null when there is no UIDll; E_INVALIDARG for a null or empty application id.
    HRESULT STDMETHODCALLTYPE GetProductManifest(BSTR applicationId, BSTR* manifest) override;
    // command: a program and its parameters, the program in double quotes when it holds blanks.
    // The program is resolved once to a full path (App Paths, then the search path), checked
    // unless trusted and started by that path. 0; ERROR_INVALID_PARAMETER for a null, over-long or
    // malformed command; ERROR_FILE_NOT_FOUND no such program; ERROR_ACCESS_DENIED not trusted; the
    // shell's 0-32 otherwise. ERROR_INVALID_PARAMETER also for a command holding a zero character.
    HRESULT STDMETHODCALLTYPE OpenNewHost(BSTR command, VARIANT_BOOL trusted, long* result) override;
    // ERROR_INVALID_PARAMETER for a URL or query holding a zero character, or when the URL and
    // query together (with their separator) do not fit a URL buffer of 2,084 characters; else
    // KvOpenBrowser's result.
    HRESULT STDMETHODCALLTYPE OpenBrowser(BSTR url, BSTR query, long* result) override;
    HRESULT STDMETHODCALLTYPE ReservedMethod25() override;
    HRESULT STDMETHODCALLTYPE OpenFile(VARIANT first, VARIANT second) override;
    HRESULT STDMETHODCALLTYPE RestartComputer(long* result) override;
    HRESULT STDMETHODCALLTYPE IsAdminUser(VARIANT_BOOL* admin) override;
    // Puts "langRegion" and "direction" on the page object; *result 0 or the failed put's HRESULT.
    HRESULT STDMETHODCALLTYPE GetLocaleInfoW(VARIANT scriptObject, long* result) override;
    HRESULT STDMETHODCALLTYPE ShutdownComputer(long* result) override;
    HRESULT STDMETHODCALLTYPE GetOSVersionCode(long* code) override;
    HRESULT STDMETHODCALLTYPE ReservedMethod32(VARIANT value) override;
    // SC_CLOSE first hides the window, shows the report page and waits at most 5,000 ms in all
    // for "ordwellsync" while pumping messages. Then every command goes to the window as
    // WM_SYSCOMMAND. *result 0; ERROR_INVALID_HANDLE without a main window; ERROR_BUSY while an
    // earlier call still waits.
    HRESULT STDMETHODCALLTYPE HandleSysCommand(VARIANT unused, long command, long* result) override;
    HRESULT STDMETHODCALLTYPE ReservedMethod34(VARIANT first, VARIANT second) override;
    // ERROR_INVALID_PARAMETER for a URL holding a zero character or of 2,084 characters or more;
    // else KvOpenBrowserAsIs's result.
    HRESULT STDMETHODCALLTYPE OpenBrowserAsIs(BSTR url, long* result) override;
    HRESULT STDMETHODCALLTYPE Is24HourClock(VARIANT_BOOL* is24) override;
    HRESULT STDMETHODCALLTYPE GetFirstDayOfWeek(long* day) override;
    HRESULT STDMETHODCALLTYPE ReservedMethod38(VARIANT value) override;
    HRESULT STDMETHODCALLTYPE ReservedMethod39(VARIANT value) override;
    HRESULT STDMETHODCALLTYPE ReservedMethod40(VARIANT value) override;

private:
    // The window requests this host does not serve: *result ERROR_NOT_SUPPORTED.
    HRESULT NotServed(const wchar_t* function, long* result) noexcept;
    // Launching and the report wait live in the page services (KvStartCommand, KvShowReportAndWait).
    [[nodiscard]] DWORD _OpenProcess(const wchar_t* command, bool trusted);
    void _WaitForReport(HWND window);

    CNamedParameterMap m_parameters;
    // Ordinal order of the names as the page gave them.
    std::map<std::wstring, std::unique_ptr<CKvPerfCounter>> m_timers;
    KvExitWindowsFunction m_exitWindows = ::ExitWindowsEx;
    CKvPerfCounter::OutputFunction m_timerOutput = nullptr;
    bool m_waitingForReport = false;
};
