#include "core/Logging/LoggerHolder.h"

#include "core/Logging/CDefaultLogBuilder.h"
#include "core/Logging/CFundorLogHandler.h"
#include "core/Logging/CLogger.h"
#include "core/Logging/Logging.h"

#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <new>

namespace ETWLogging {
namespace {

enum HolderState : int {
    kNotBuilt = 0,
    kBuilding = 1,  // the holder is published; its logger is not there yet
    kBuilt = 2,
    kGone = 3,  // destroyed at exit; nothing is built again
};

// Every object here is constant-initialised, so a log call from another static initialiser
// finds them ready whatever the order of initialisation.
constinit std::atomic<int> g_state{kNotBuilt};
constinit std::atomic<LoggerHolder*> g_holder{nullptr};
constinit std::atomic<DWORD> g_builderThread{0};
constinit std::atomic<long> g_uses{0};
constinit std::once_flag g_buildOnce;

// The module's parameters and the builder, fixed once a log call starts the build.
constinit SRWLOCK g_configLock = SRWLOCK_INIT;
constinit bool g_parametersFixed = false;
constinit const wchar_t* g_applicationName = nullptr;
constinit const wchar_t* g_group = L"_no_group";
constinit const wchar_t* g_host = L"_no_host";
constinit HMODULE g_module = nullptr;
constinit std::uint32_t g_loggerMode = 0;
// Copies made by SetModuleLoggingParameters (the defaults are literals).
constinit wchar_t* g_ownedStrings[3] = {};
constinit CLogBuilderIf* g_builder = nullptr;  // created on first use, kept for the process

class ConfigLock {
public:
    ConfigLock() noexcept { ::AcquireSRWLockExclusive(&g_configLock); }
    ~ConfigLock() { ::ReleaseSRWLockExclusive(&g_configLock); }
    ConfigLock(const ConfigLock&) = delete;
    ConfigLock& operator=(const ConfigLock&) = delete;
};

bool ConfigurationOpen() noexcept { return !g_parametersFixed && g_state.load() == kNotBuilt; }

// A heap copy of text; true with null for null text, false when out of memory.
bool CopyText(const wchar_t* text, wchar_t*& copy) noexcept
{
    copy = nullptr;
    if (text == nullptr) {
        return true;
    }
    const std::size_t length = std::wcslen(text);
    copy = new (std::nothrow) wchar_t[length + 1];
    if (copy == nullptr) {
        return false;
    }
    std::wmemcpy(copy, text, length + 1);
    return true;
}

CLogBuilderIf* TakeBuilder() noexcept
{
    ConfigLock lock;
    if (g_builder == nullptr) {
        g_builder = new (std::nothrow) CDefaultLogBuilder();
    }
    return g_builder;
}

// Exit clean-up of the holder. Registered when the holder is published, before the static
// handler exists, so the handler (destroyed first) has taken itself out already.
void DestroyHolderAtExit() noexcept
{
    g_state.store(kGone);
    LoggerHolder* holder = g_holder.exchange(nullptr);
    if (holder == nullptr) {
        return;
    }
    // Another thread may still be inside a record; give it a moment, and rather leak the logger
    // than delete it under that thread.
    const ULONGLONG deadline = ::GetTickCount64() + 500;
    while (g_uses.load() != 0) {
        if (::GetTickCount64() > deadline) {
            return;
        }
        ::Sleep(1);
    }
    if (Fundor::ILoggingHandler* handler = holder->handler.exchange(nullptr)) {
        (void)Fundor::CLogger::UnregisterHandler(handler);
    }
    delete holder->logger.exchange(nullptr);
    delete holder;
}

void BuildHolder(const wchar_t* applicationName, const wchar_t* group, HMODULE module, const wchar_t* host,
                 std::uint32_t loggerMode) noexcept
{
    g_builderThread.store(::GetCurrentThreadId());
    LoggerHolder* holder = new (std::nothrow) LoggerHolder;
    if (holder == nullptr) {
        g_state.store(kBuilt);  // no holder: every log call is dropped
        return;
    }
    // Published before the logger exists: a log call from inside the build finds no logger.
    g_holder.store(holder);
    g_state.store(kBuilding);
    (void)std::atexit(&DestroyHolderAtExit);

    CLoggingIf* logger = nullptr;
    bool built = false;
    if (CLogBuilderIf* builder = TakeBuilder()) {
        try {
            if (auto* extended = dynamic_cast<CLogBuilderIf_ex*>(builder)) {
                built = extended->BuildLoggerEx(applicationName, group, module, host, loggerMode, &logger, nullptr);
            }
            if (!built) {
                built = builder->BuildLogger(group, module, host, loggerMode, &logger, nullptr);
            }
        } catch (...) {
            built = false;
        }
    }
    if (built && logger != nullptr) {
        delete holder->logger.exchange(logger);
        // The core library's own messages go to this logger from now on.
        CFundorLogHandler& handler = CFundorLogHandler::Instance();
        if (Fundor::CLogger::RegisterHandler(&handler) == ERROR_SUCCESS) {
            Fundor::ILoggingHandler* previous = holder->handler.exchange(&handler);
            if (previous != nullptr && previous != &handler) {
                (void)Fundor::CLogger::UnregisterHandler(previous);
            }
        }
    }
    g_state.store(kBuilt);
    g_builderThread.store(0);
}

}  // namespace

LoggerHolder* GetLoggerHolder(const wchar_t* applicationName, const wchar_t* group, HMODULE module,
                              const wchar_t* host, std::uint32_t loggerMode) noexcept
{
    const int state = g_state.load();
    if (state == kBuilt || state == kGone) {
        return g_holder.load();
    }
    if (state == kBuilding && g_builderThread.load() == ::GetCurrentThreadId()) {
        // A call from inside the build (std::call_once would wait for itself here).
        return g_holder.load();
    }
    try {
        std::call_once(g_buildOnce, [&] { BuildHolder(applicationName, group, module, host, loggerMode); });
    } catch (...) {
        // The once-call could not run (no thread resources): nothing to log with this time.
    }
    return g_holder.load();
}

LoggerHolder* GetLogger() noexcept
{
    const int state = g_state.load();
    if (state == kBuilt || state == kGone) {
        return g_holder.load();
    }
    const wchar_t* applicationName;
    const wchar_t* group;
    const wchar_t* host;
    HMODULE module;
    std::uint32_t loggerMode;
    {
        ConfigLock lock;
        g_parametersFixed = true;  // the copies below are used without the lock
        applicationName = g_applicationName;
        group = g_group;
        host = g_host;
        module = g_module;
        loggerMode = g_loggerMode;
    }
    if (module == nullptr) {
        module = GetThisModuleHandle();
    }
    return GetLoggerHolder(applicationName, group, module, host, loggerMode);
}

bool SetModuleLoggingParameters(const ModuleLoggingParameters& parameters) noexcept
{
    wchar_t* copies[3] = {};
    if (!CopyText(parameters.applicationName, copies[0]) || !CopyText(parameters.group, copies[1]) ||
        !CopyText(parameters.host, copies[2])) {
        for (wchar_t* copy : copies) delete[] copy;
        return false;
    }
    ConfigLock lock;
    if (!ConfigurationOpen()) {
        for (wchar_t* copy : copies) delete[] copy;
        return false;
    }
    for (int i = 0; i < 3; ++i) {
        delete[] g_ownedStrings[i];
        g_ownedStrings[i] = copies[i];
    }
    g_applicationName = copies[0];
    g_group = copies[1];
    g_host = copies[2];
    g_module = parameters.module;
    g_loggerMode = parameters.loggerMode;
    return true;
}

bool InstallLogBuilder(std::unique_ptr<CLogBuilderIf> builder) noexcept
{
    ConfigLock lock;
    if (builder == nullptr || !ConfigurationOpen()) {
        return false;
    }
    delete g_builder;
    g_builder = builder.release();
    return true;
}

namespace internal {

LoggerHolder* PublishedHolder() noexcept { return g_holder.load(); }

HolderUse::HolderUse() noexcept { g_uses.fetch_add(1); }

HolderUse::~HolderUse() { g_uses.fetch_sub(1); }

}  // namespace internal

}  // namespace ETWLogging
