#pragma once
// The default logger: a classic (MOF) Event Tracing for Windows provider. It registers the
// control GUID of its properties on the first record and sends each record as one event of the
// class {CD1DAAD0-54CC-11E0-B8AF-0800200C9A66} (layout in EtwEventRecord.h). A trace controller
// turns it on and sets its level through the control callback; the configuration listener
// applies that state and the registry's overrides.
//
// Threads: records may come from any thread; the control callback comes on a thread of the
// tracing system. The enabled flag, Severity, the session and the registered flag are atomics;
// registration and unregistration run under the logger's lock. Initialise before the logger is
// shared (names and listener are fixed by InitializeEx).
//
// Log calls never throw: out of memory drops the record. The ETW calls go through an
// EtwTraceApi, the platform's own unless another is given.

#include "core/Logging/CLoggingIf_ex.h"
#include "core/Logging/ETWAppProperties.h"
#include "core/Logging/EtwEventRecord.h"
#include "core/Logging/EtwTraceApi.h"
#include "core/Logging/LoggingConfigListenerIf.h"

#include <atomic>
#include <memory>

namespace ETWLogging {

// {CD1DAAD0-54CC-11E0-B8AF-0800200C9A66}
inline constexpr GUID kEtwEventClassGuid = {
    0xCD1DAAD0, 0x54CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};

// Wide characters of the message buffer of one record (the message keeps at most one less).
inline constexpr std::size_t kEtwMessageBufferChars = 2080;

class CETWLogging final : public CLoggingIf_ex {
public:
    // Bound to the platform's tracing calls.
    CETWLogging();
    // Bound to api (shared with the caller); a null api means the platform's calls.
    explicit CETWLogging(std::shared_ptr<EtwTraceApi> api);
    CETWLogging(const CETWLogging&) = delete;
    CETWLogging& operator=(const CETWLogging&) = delete;

    // Disables and unregisters the provider, then frees the listener.
    ~CETWLogging() override;                                                           // 0

    // InitializeEx with a null application name.
    [[nodiscard]] std::uint32_t Initialize(const wchar_t* group, HMODULE module, const wchar_t* host,
                                           LoggingConfigListenerIf* listener) override;  // 1
    // Registers the provider once: 0 when registered already, else the registration's result
    // (a failure is reported once and not retried until the next Uninitialize).
    [[nodiscard]] std::uint32_t EnsureReady(LogLevel level, const wchar_t* file,
                                            const wchar_t* function) override;        // 2
    void GetGroupPath(std::wstring& path) override;                                    // 3
    void GetGroupName(std::wstring& name) override;                                    // 4
    // 0 when not registered; else Shutdown's result.
    [[nodiscard]] std::uint32_t Uninitialize() override;                               // 5
    // Returns the previous state.
    bool SetEnabled(bool enabled) override;                                            // 6
    [[nodiscard]] bool IsEnabled() override;                                           // 7
    // When enabled, the level is on and the format is not empty: formats without a limit, then
    // WriteTextEx.
    void Log(LogLevel level, const wchar_t* file, const wchar_t* function, int line,
             const wchar_t* format, ...) override;                                     // 8
    // WriteTextEx; always 0.
    std::uint32_t WriteText(const wchar_t* file, const wchar_t* function, int line, LogLevel level,
                            const wchar_t* text) override;                             // 9
    // level >= Severity, or level 3.
    [[nodiscard]] bool IsLevelEnabled(LogLevel level) override;                        // 10
    void SetMaxEntries(std::uint32_t count) override;                                  // 11 no effect
    [[nodiscard]] std::uint32_t GetMaxEntries() override;                              // 12 0
    void SetMaxSize(std::uint32_t bytes) override;                                     // 13 no effect
    [[nodiscard]] std::uint32_t GetMaxSize() override;                                 // 14 0
    // Clamped to 1..6 (0 becomes 1).
    void SetSeverity(std::uint32_t severity) override;                                 // 15
    [[nodiscard]] std::uint32_t GetSeverity() override;                                // 16
    std::uint32_t AddRef() override;                                                   // 17 0, no count
    std::uint32_t Release() override;                                                  // 18 0, no count

    // kErrorAlreadyInitialized when registered; ERROR_INVALID_PARAMETER for a group or host that
    // is given but empty, or when the properties cannot be loaded (they load once per logger);
    // ERROR_NOT_ENOUGH_MEMORY out of memory; else 0. The logger owns listener from this call on,
    // whatever the result; a null listener gets a CETWConfigurationListener over a copy of the
    // properties. The listener's ApplyState(true, 3, 0) sets the starting state.
    [[nodiscard]] std::uint32_t InitializeEx(const wchar_t* applicationName, const wchar_t* group, HMODULE module,
                                             const wchar_t* host,
                                             LoggingConfigListenerIf* listener) override;  // 24
    // LogEx(level, file, function, line, "%s", text); a null text is the empty text.
    std::uint32_t WriteTextEx(LogLevel level, const wchar_t* file, const wchar_t* function, int line,
                              const wchar_t* text) override;                           // 25
    // ERROR_INVALID_PARAMETER for a null format; 0 when not enabled or the level is off (nothing
    // sent); ERROR_NOT_ENOUGH_MEMORY when out of memory (nothing sent); else builds and sends one
    // event and returns 0 whatever TraceEvent says. The message keeps at most 2,079 characters.
    std::uint32_t LogV(LogLevel level, const wchar_t* file, const wchar_t* function, int line,
                       const wchar_t* format, va_list args) override;                  // 26
    std::uint32_t LogEx(LogLevel level, const wchar_t* file, const wchar_t* function, int line,
                        const wchar_t* format, ...) override;                          // 27
    [[nodiscard]] bool IsSameSession(TRACEHANDLE session) override;                    // 28
    // 4 enable: stores the session (a request from another session while one is stored is
    // ignored) and gives the listener (true, level, flags); an invalid session or level 0 is an
    // error. 5 disable of the stored session (or when none is stored): the listener gets
    // (false, Severity, 0) and the session is cleared; a disable of another session is ignored.
    // Other codes: ERROR_INVALID_PARAMETER.
    ULONG ControlCallback(WMIDPREQUESTCODE request, void* context, void* buffer) override;  // 29
    void ResetEventClass() override;                                                   // 30
    // The module's file name (null: the process); with strip, cut at its last '.'. Empty when
    // the name cannot be had.
    std::wstring& GetModuleName(std::wstring& name, HMODULE module, bool strip) override;  // 31
    void BuildGroupPath() override;                                                    // 32
    // Under the lock: unregisters and clears the registration, the registered flag and the
    // session. UnregisterTraceGuids's result, or 0 without a registration.
    std::uint32_t UnregisterProvider() override;                                       // 33
    // SetEnabled(false), then UnregisterProvider.
    std::uint32_t Shutdown() override;                                                 // 34
    // 6 becomes 3; other levels stay.
    [[nodiscard]] LogLevel MapLevel(LogLevel level) override;                          // 35
    // The fixed part of the event: everything zero but Size 80, Type 1, the level (MapLevel;
    // 3 when that is not 1 to 5), Version 2, the event class and the flags. The record's data
    // and message fields are filled by LogV.
    void FillEventHeader(EtwEventRecord& record, LogLevel level, const wchar_t* file,
                         const wchar_t* function, int line) override;                  // 36

    [[nodiscard]] const internal::ETWAppProperties& Properties() const { return m_properties; }
    [[nodiscard]] bool IsRegistered() const { return m_registered.load(); }

private:
    // The callback handed to RegisterTraceGuidsW: context is the logger; null gives
    // ERROR_INVALID_PARAMETER.
    static ULONG WINAPI ControlCallbackEntry(WMIDPREQUESTCODE request, PVOID context, ULONG* bufferSize,
                                             PVOID buffer);

    std::atomic<bool> m_registered{false};
    CRITICAL_SECTION m_lock;
    DWORD m_processId = 0;
    GUID m_eventClass = kEtwEventClassGuid;
    std::unique_ptr<LoggingConfigListenerIf> m_listener;
    std::atomic<bool> m_enabled{true};
    std::atomic<std::uint32_t> m_severity{kLevelInformation};
    std::wstring m_group;
    std::wstring m_host;
    std::wstring m_processName;
    std::wstring m_moduleName;
    std::wstring m_groupPath;
    std::wstring m_fileVersion;
    std::wstring m_modulePath;
    std::atomic<TRACEHANDLE> m_session{0};
    TRACEHANDLE m_registration = 0;  // under m_lock
    internal::ETWAppProperties m_properties;
    TRACE_GUID_REGISTRATION m_traceGuid = {};  // handed to RegisterTraceGuidsW; under m_lock
    std::shared_ptr<EtwTraceApi> m_api;
};

}  // namespace ETWLogging
