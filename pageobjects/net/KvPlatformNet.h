#pragma once
// Whether the machine is connected, and how: by dial-up (RAS), by LAN, or through to the internet
// (a TCP connection to the update keep-alive server, directly or through the configured HTTP
// proxy). Registered callbacks are told from a worker thread when the answer changes.
//
// One process-wide object, g_kvPlatformNet, is built by a static initialiser; building it only
// forms the exit event's name (no library, event or thread), and destroying it releases only what
// an operation acquired. Other objects are for callers that want their own (CreateInstance) and
// for tests.
//
// Results are numbers: 0 success, ERROR_INVALID_PARAMETER bad argument, ERROR_OUTOFMEMORY no
// memory, the kNet... codes below, and Win32 or Winsock errors passed through. Connection states: 1
// connected, 0 not connected, -1 not determined; an out state is set to -1 first and holds -1 when
// a result other than 0 is returned.

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <random>
#include <string>

#include "pageobjects/net/KvNetCallbackMap.h"
#include "pageobjects/net/KvNetCriticalSection.h"
#include "pageobjects/net/KvNetLibraryBinding.h"
#include "pageobjects/net/KvNetWorkerHolder.h"

inline constexpr DWORD kNetNotInitialized = 10001;
inline constexpr DWORD kNetInitializedTwice = 10002;
inline constexpr DWORD kNetNoRasLibrary = 10003;
inline constexpr DWORD kNetNoIpHelperLibrary = 10004;
inline constexpr DWORD kNetNoWinsockLibrary = 10005;
inline constexpr DWORD kNetSocketFailed = 10022;
inline constexpr DWORD kNetNoCallback = 10025;
inline constexpr DWORD kNetWorkerNotStarted = 10026;
inline constexpr DWORD kNetNoLanAddress = 10031;

// Points at which the module reports to KvPlatformNetSettings::stepHook.
enum class KvNetStep {
    // A registration has made sure of a worker and is about to add its entry.
    RegistrationWorkerDecided,
    // The worker has tested the connection (and told the callbacks) and is about to decide
    // whether to stop.
    WorkerBeforeStopDecision,
};

struct KvPlatformNetSettings {
    // Null: the System folder.
    std::shared_ptr<IKvNetLibraryBinding> binding;
    // The linger event's name is fixed and so shared by every process that uses the module: a
    // process whose map empties resets it for all of them.
    std::string lingerEventName = "KvPlatformNetLingerEvent";
    // The exit event is named "<prefix>_<process id>".
    std::string exitEventPrefix = "KvPlatformNetExitEvent";
    // The product's update keep-alive server, reached on TCP.
    std::string keepAliveHost = "keepalive.update.tervane.com";
    unsigned short keepAlivePort = 80;
    // How long the worker sleeps between two tests while callbacks are registered.
    DWORD pollIntervalMs = 50000;
    // The random part of each cookie; null: the module's own generator.
    std::function<DWORD()> cookieSource;
    // Told of each KvNetStep on the thread that reaches it, so that tests can hold a window
    // between two steps open; empty in production. Must not call back into the object.
    std::function<void(KvNetStep)> stepHook;
};

class KvPlatformNet {
public:
    KvPlatformNet();
    explicit KvPlatformNet(KvPlatformNetSettings settings);
    ~KvPlatformNet();
    KvPlatformNet(const KvPlatformNet&) = delete;
    KvPlatformNet& operator=(const KvPlatformNet&) = delete;

    // A new initialised object in *out (touched only when one was made). ERROR_INVALID_PARAMETER
    // null out, ERROR_OUTOFMEMORY no memory, else the result of Initialize (the object is handed
    // out even then).
    [[nodiscard]] static DWORD CreateInstance(std::unique_ptr<KvPlatformNet>* out,
                                              KvPlatformNetSettings settings = {});

    // Binds the libraries (Winsock, RAS, IP helper; WinINet and the event-security call where
    // present), creates the two events, starts Winsock 1.1, initialises the callback map and the
    // worker holder. Any failure releases everything bound so far. 10002 when initialised.
    [[nodiscard]] DWORD Initialize();
    // Stops the worker and releases everything Initialize acquired. 10001 when not initialised.
    [[nodiscard]] DWORD Uninitialize();

    // The operations below initialise the object first when needed.
    [[nodiscard]] DWORD IsRasConnected(int* state);
    [[nodiscard]] DWORD IsLanConnected(int* state);
    // mode 0: RAS or LAN; mode 1: through to the internet.
    [[nodiscard]] DWORD IsConnected(int mode, int* state);
    // 10025 when both functions are null; cookie (optional) receives the entry's cookie.
    [[nodiscard]] DWORD RegisterCallback(KvNetCallback onConnected, KvNetCallback onDisconnected, void* context,
                                         DWORD* cookie);
    [[nodiscard]] DWORD UnregisterCallback(DWORD cookie);

    // A TCP connection to the keep-alive server. Does not initialise: 10001 when not initialised.
    [[nodiscard]] DWORD ProbeKeepAliveHost(int* state);

    // What the free functions do, on this object.
    [[nodiscard]] int IsInternetConnected(int quick, int honourAssumed);
    [[nodiscard]] DWORD RegisterNetCallback(KvNetCallback onConnected, KvNetCallback onDisconnected, void* context,
                                            DWORD* cookie);
    [[nodiscard]] DWORD UnregisterNetCallback(DWORD cookie);
    [[nodiscard]] int GetConnectionType();

    [[nodiscard]] const char* ExitEventName() const { return m_exitEventName; }
    [[nodiscard]] bool IsInitialized() const { return m_initialized.load() != 0; }
    [[nodiscard]] bool WinsockFromWs2() const { return m_winsockFromWs2; }
    [[nodiscard]] bool HasWorkerThread() { return m_worker.HasThread(); }
    [[nodiscard]] DWORD WorkerThreadId() { return m_worker.ThreadId(); }
    [[nodiscard]] size_t CallbackCount() { return m_callbacks.Size(); }

private:
    struct Functions;
    struct Modules;

    [[nodiscard]] DWORD EnsureInitialized();
    [[nodiscard]] DWORD BindLibraries();
    [[nodiscard]] DWORD CreateEvents();
    void ReleaseModule();
    [[nodiscard]] DWORD StopWorkerAndRelease();
    void ReportStep(KvNetStep step) const;
    [[nodiscard]] DWORD NextCookie();

    [[nodiscard]] DWORD ConnectState(unsigned long address, unsigned short port, int* state);
    [[nodiscard]] bool FindProxy(unsigned long* address, unsigned short* port);
    [[nodiscard]] bool ResolveProxyHost(const std::string& host, unsigned long* address);
    [[nodiscard]] DWORD DetectAutoProxy(int* state);

    static unsigned __stdcall WorkerMain(void* self);
    void WorkerLoop();

    KvPlatformNetSettings m_settings;
    std::atomic<DWORD> m_initialized{0};
    bool m_winsockFromWs2 = false;
    bool m_winsockStarted = false;
    KvNetCriticalSection m_lock;
    std::unique_ptr<Functions> m_functions;
    std::unique_ptr<Modules> m_modules;
    char m_exitEventName[520] = {};
    Fundor::ScopedHandle m_lingerEvent;
    Fundor::ScopedHandle m_exitEvent;
    KvNetCallbackMap m_callbacks;
    KvNetWorkerHolder m_worker;
    std::mt19937 m_cookieGenerator;
    bool m_cookieGeneratorSeeded = false;
};

// The process-wide object.
extern KvPlatformNet g_kvPlatformNet;

// Honouring an "AssumeConnected" setting when honourAssumed is non-zero, else mode 0 (quick) or 1:
// the state, or -1 when the test fails.
[[nodiscard]] int KvIsInternetConnected(int quick, int honourAssumed);
// A registration starts the worker when none runs: the first one, and one after the worker stopped
// itself or was ended by its exit event (10026 and nothing registered when it cannot start).
// Removing the last entry stops it; the stop is waited for with no lock of the module held, and
// callbacks run on the worker with none held either, so they may register and remove entries.
[[nodiscard]] DWORD KvRegisterNetCallback(KvNetCallback onConnected, KvNetCallback onDisconnected, void* context,
                                          DWORD* cookie);
[[nodiscard]] DWORD KvUnregisterNetCallback(DWORD cookie);
// 2 a RAS connection is up, else 3 the LAN is up, else 1.
[[nodiscard]] int KvGetConnectionType();
