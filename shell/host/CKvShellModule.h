#pragma once
// The host's one module object: parses the command record, keeps one host per host ID (a named
// event; a second start hands its page over through the registry and ends), binds the browser
// library, creates the page objects and the main window, subscribes to two bus events, runs the
// wait-and-message loop and counts the references that keep the host alive.

#include "access/CKvUtilLib.h"
#include "access/message/MessageBus.h"
#include "classlib/KvExeModule.h"
#include "core/base/ScopedResource.h"
#include "pageobjects/objects/KvSurrogateInterfaces.h"
#include "pageobjects/objects/PageObjectFactory.h"
#include "shell/host/CBrowserHelp.h"
#include "shell/host/CKvPerfCounter.h"
#include "shell/host/HandOverChannel.h"
#include "shell/host/IHostUiSettings.h"
#include "shell/host/KvBrwsr2Lib.h"
#include "shell/host/KvCommandRecord.h"

#include <wrl/client.h>

#include <atomic>
#include <memory>
#include <string>

class CShellMainWnd;

// Status codes of the shell: 0 for code 0, else the code's low 16 bits (17 when bit 16 is set)
// with severity and facility.
[[nodiscard]] constexpr HRESULT MakeShellStatus(DWORD severity, DWORD facility, DWORD code)
{
    if (code == 0) return S_OK;
    const DWORD low = (code & 0x10000) != 0 ? (code & 0x1FFFF) : (code & 0xFFFF);
    return static_cast<HRESULT>(low | ((severity & 63) << 25) | (facility << 17));
}
inline constexpr HRESULT kShellObjectsNotCreated = MakeShellStatus(5, 2, 13);        // 0x0A04000D
inline constexpr HRESULT kShellPageObjectMissing = MakeShellStatus(5, 2, 75537);     // 0x0A052711
inline constexpr HRESULT kShellWindowCreationFailed = MakeShellStatus(5, 2, 75539);  // 0x0A052713

// A second start whose page no host took in time (or that could not reach the host's lock).
inline constexpr HRESULT kHandOverNotTaken = static_cast<HRESULT>(0x800705B4);  // HRESULT_FROM_WIN32(ERROR_TIMEOUT)
// How long a second start waits in all for the hand-over lock, the host and a host that is ending.
inline constexpr DWORD kHandOverMilliseconds = 60000;
inline constexpr wchar_t kExitEventPrefix[] = L"F0230C9FDB504518A1CC2EF2EDD4FE77";
inline constexpr wchar_t kShellAppId[] = L"{0654DB93-707F-4B09-886F-18AA1EC6A7D0}";
// Window classes are named by the host ID; longer names cannot be registered.
inline constexpr std::size_t kMaxHostIdCharacters = 255;

inline constexpr UINT kAppIdScriptResource = 101;
inline constexpr UINT kSessionManagerScriptResource = 103;

class CKvShellModule final : public CKvExeModule, public IKvShellHostAccess, public IPageObjectSource {
public:
    explicit CKvShellModule(std::unique_ptr<IHostUiSettings> settings = nullptr);
    ~CKvShellModule() override;

    // The module's own options, then the class library's registration switches.
    [[nodiscard]] bool ParseCommandLine(const wchar_t* line, HRESULT* result) override;
    [[nodiscard]] HRESULT PreMessageLoop(int show) override;
    void RunMessageLoop() override;
    HRESULT AddCommonRGSReplacements(IKvRegistrar* registrar) override;
    [[nodiscard]] static const wchar_t* GetAppId() noexcept { return kShellAppId; }

    [[nodiscard]] DWORD Wait(const HANDLE* handles, DWORD count, DWORD timeout, HWND secondWindow);
    [[nodiscard]] BOOL PreTranslateMessage(MSG* message, HWND secondWindow);
    void DoNavigation();
    LONG ModuleAddRef(int reason);
    LONG ModuleRelease(int reason);
    // Sets the exit event through the handle this host made; nothing once the host gave it up.
    void SetExitEvent();

    [[nodiscard]] HRESULT GetDispatch(DWORD type, IDispatch** object) override;
    [[nodiscard]] int CreateGlobalObjects();
    void ReleaseGlobalObjects();
    [[nodiscard]] HRESULT CreateMainFrameWnd(int show);
    [[nodiscard]] HICON LoadAppIcon();
    [[nodiscard]] CShellMainWnd* GetMainFrameWnd() const noexcept { return m_mainWindow.Get(); }

    // Creates clsid for iid: inside the suite's surrogate process when the module runs in
    // surrogate mode (the surrogate is reached once and kept), else in-process.
    [[nodiscard]] HRESULT GetSurrogateObject(REFCLSID clsid, REFIID iid, void** object);
    void SetSurrogateMode(bool on) noexcept { m_surrogateMode = on; }
    // Creation with the server-module trust check, and without it.
    [[nodiscard]] static HRESULT CreateCheckedInstance(REFCLSID clsid, DWORD context, REFIID iid, void** object);
    [[nodiscard]] static HRESULT CreateInstanceNoAuth(REFCLSID clsid, DWORD context, REFIID iid, void** object);
    // Calls a page script's method by name without arguments; the script's own result.
    [[nodiscard]] static HRESULT CallScriptMethod(IDispatch* script, const wchar_t* method);
    // 1 when the companion UI's window is shown and not minimised, else whether it runs at all.
    [[nodiscard]] static int IsVistrelUiVisible();
    // This process's session, 0 when it cannot be had.
    [[nodiscard]] static DWORD GetCurrentSessionID();

    [[nodiscard]] int InitKvBrowser();
    void DeInitKvBrowser();
    [[nodiscard]] KvBrwsr2Lib* GetBrowserLib() const noexcept { return m_browserLib.get(); }

    // Bus handlers: they run on the bus library's threads and only post WM_CLOSE to the window.
    unsigned long OnUninstallStart(const std::shared_ptr<Velmo::Message>& message);
    unsigned long OnUiContainerDestroyed(const std::shared_ptr<Velmo::Message>& message);

    // IKvShellHostAccess: the main window's handle, readable from any thread.
    HWND STDMETHODCALLTYPE GetMainWindowHandle() noexcept override { return m_mainWindowHandle.load(); }
    void SetMainWindowHandle(HWND window) noexcept { m_mainWindowHandle.store(window); }
    BOOL STDMETHODCALLTYPE IsNotAdministrator() noexcept override { return m_notAdministrator != 0 ? TRUE : FALSE; }

    [[nodiscard]] const KvCommandRecord* CommandRecord() const noexcept { return m_commandRecord; }
    [[nodiscard]] IHostUiSettings& UiSettings() noexcept { return *m_settings; }
    [[nodiscard]] CKvPerfCounter& StartupMarker() noexcept { return m_startupMarker; }
    [[nodiscard]] LONG ReferenceCount() const noexcept { return m_referenceCount; }
    [[nodiscard]] bool ExitRequested() const noexcept { return m_exitRequested != 0; }
    [[nodiscard]] DWORD NotAdministrator() const noexcept { return m_notAdministrator; }
    [[nodiscard]] const std::wstring& Mode() const noexcept { return m_mode; }
    [[nodiscard]] const std::wstring& Simulate() const noexcept { return m_simulate; }
    [[nodiscard]] const std::wstring& NgmData() const noexcept { return m_ngmData; }
    [[nodiscard]] const wchar_t* ExitEventName() const noexcept { return m_exitEventName; }
    void SetInstance(HINSTANCE instance) noexcept { m_instance = instance; }

protected:
    [[nodiscard]] UINT GetAppIdScriptId() const override { return kAppIdScriptResource; }
    [[nodiscard]] std::vector<UINT> GetObjectScriptIds() const override { return {kSessionManagerScriptResource}; }

private:
    // PreMessageLoop's steps, in their order. Each answers S_OK to go on; anything else ends the
    // start with that answer. Once the host's place is taken, the caller gives it up again (and
    // unbinds the browser library) when a later step fails.
    [[nodiscard]] HRESULT BindUtilityLibrary();
    // E_FAIL without a command record or host ID.
    [[nodiscard]] HRESULT RequireHostId() const;
    // Makes or opens the host event under the hand-over lock; a second start hands its page over
    // (HandOver). *isHost true, and S_OK, when this process now holds the host event; else the
    // result ends the start.
    [[nodiscard]] HRESULT TakeHostPlace(SECURITY_ATTRIBUTES* attributes, bool* isHost);
    [[nodiscard]] HRESULT CreateExitEventAndSecurity(SECURITY_ATTRIBUTES* attributes);
    // With the page option the header and body URLs are lowered in place; a header URL that is no
    // sarn URL is dropped, such a body URL refuses the start (S_FALSE).
    [[nodiscard]] HRESULT CheckPageUrls();
    [[nodiscard]] HRESULT BindBrowser();
    [[nodiscard]] HRESULT OpenMainWindow();
    void SubscribeToBus();
    void NavigateToFirstPage();

    // The second start's part, with the lock held and the host event open. *hostGone: the host
    // stopped reading with nothing taken, and this start may take its place.
    [[nodiscard]] HRESULT HandOver(ULONGLONG deadline, bool* hostGone);
    [[nodiscard]] HostPageWindowSize ReadWindowSize();
    void CloseEvents() noexcept;
    void DestroyLiveWindow();
    void PostCloseToWindow();

    CKvPerfCounter m_startupMarker;
    DWORD m_notAdministrator = 0;
    std::unique_ptr<IHostUiSettings> m_settings;
    KvCommandRecord* m_commandRecord = nullptr;
    Fundor::ScopedHandle m_hostEvent;
    std::unique_ptr<HandOverChannel> m_handOver;
    Microsoft::WRL::ComPtr<CShellMainWnd> m_mainWindow;
    std::atomic<HWND> m_mainWindowHandle{nullptr};
    Microsoft::WRL::ComPtr<IDispatch> m_sessionManager;
    Microsoft::WRL::ComPtr<IDispatch> m_platformDispatch;
    Microsoft::WRL::ComPtr<IDispatch> m_uninstallerShim;
    LONG m_referenceCount = 0;
    LONG m_exitRequested = 0;
    std::unique_ptr<KvBrwsr2Lib> m_browserLib;
    std::unique_ptr<BYTE[]> m_sarnProtocolBuffer;
    HINSTANCE m_instance = nullptr;
    // Set by the last module reference, which may be dropped on any thread; given up with the host
    // event (CloseEvents), after which nothing sets it.
    SRWLOCK m_exitEventLock = SRWLOCK_INIT;
    Fundor::ScopedHandle m_exitEvent;
    CKvUtilLib m_utilLib;
    DWORD m_adminQueryResult = 0;
    DWORD m_isAdministrator = 0;
    wchar_t m_exitEventName[520] = {};
    bool m_noBus = false;
    Microsoft::WRL::ComPtr<IKvSurrogate> m_surrogate;
    bool m_surrogateMode = false;
    std::unique_ptr<Velmo::MessageBus> m_bus;
    std::wstring m_ngmData;
    std::wstring m_mode;
    std::wstring m_simulate;
};

// The process's one module, built on first use (the program builds it before its entry point).
[[nodiscard]] CKvShellModule& GetShellModule();
