#include "core/Logging/CETWLogging.h"
#include "core/base/LastError.h"

#include "core/Logging/CETWConfigurationListener.h"
#include "core/Logging/EtwEventDataBuffer.h"
#include "core/Logging/EtwProcessInfo.h"
#include "core/base/FileSystemHelpers.h"
#include "core/base/StringFormat.h"

#include <cstring>
#include <cwchar>
#include <exception>
#include <memory>
#include <new>
#include <utility>

namespace ETWLogging {

namespace {

constexpr TRACEHANDLE kInvalidTraceHandle = static_cast<TRACEHANDLE>(-1);
constexpr DWORD kLockSpinCount = 4000;
constexpr std::uint32_t kLowestSeverity = 1;
constexpr std::uint32_t kHighestSeverity = 6;

// Set while a control callback runs on this thread. The listener it drives reads the registry,
// and whatever it logs must not start a registration from inside the tracing system's call
// (RegisterTraceGuidsW may call back synchronously while this logger holds its lock).
thread_local int t_controlCallbackDepth = 0;

class CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(CRITICAL_SECTION& section) : m_section(section) { ::EnterCriticalSection(&m_section); }
    ~CriticalSectionGuard() { ::LeaveCriticalSection(&m_section); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

private:
    CRITICAL_SECTION& m_section;
};

class ControlCallbackScope {
public:
    ControlCallbackScope() { ++t_controlCallbackDepth; }
    ~ControlCallbackScope() { --t_controlCallbackDepth; }
    ControlCallbackScope(const ControlCallbackScope&) = delete;
    ControlCallbackScope& operator=(const ControlCallbackScope&) = delete;
};

// The thread's last error, or fallback when the failing call left none: a failure is never
// reported as success.
}  // namespace

CETWLogging::CETWLogging() : CETWLogging(nullptr) {}

CETWLogging::CETWLogging(std::shared_ptr<EtwTraceApi> api)
    : m_api(api ? std::move(api) : std::make_shared<EtwTraceApi>())
{
    (void)(::InitializeCriticalSectionAndSpinCount(&m_lock, kLockSpinCount) != FALSE);
}

CETWLogging::~CETWLogging()
{
    (void)Shutdown();
    m_listener.reset();
    ::DeleteCriticalSection(&m_lock);
}

std::uint32_t CETWLogging::Initialize(const wchar_t* group, HMODULE module, const wchar_t* host,
                                      LoggingConfigListenerIf* listener)
{
    return InitializeEx(nullptr, group, module, host, listener);
}

std::uint32_t CETWLogging::InitializeEx(const wchar_t* applicationName, const wchar_t* group, HMODULE module,
                                        const wchar_t* host, LoggingConfigListenerIf* listener)
{
    std::unique_ptr<LoggingConfigListenerIf> given(listener);
    try {
        {
            CriticalSectionGuard guard(m_lock);
            if (m_registered.load()) {
                return kErrorAlreadyInitialized;
            }
        }
        if ((group != nullptr && group[0] == L'\0') || (host != nullptr && host[0] == L'\0')) {
            return ERROR_INVALID_PARAMETER;
        }
        m_group = group != nullptr ? group : L"";
        m_host = host != nullptr ? host : L"";
        if (!m_properties.Load(applicationName)) {
            return ERROR_INVALID_PARAMETER;
        }
        GetModuleName(m_processName, nullptr, false);
        GetModuleName(m_moduleName, module, true);
        BuildGroupPath();

        if (given) {
            (void)given->AttachLogger(this);
        } else {
            given = std::make_unique<CETWConfigurationListener>(m_properties, this);
        }
        m_listener = std::move(given);
        m_listener->ApplyState(true, kLevelInformation, 0);

        m_processId = ::GetCurrentProcessId();
        const internal::EtwProcessInfo& info = internal::GetEtwProcessInfo(module);
        m_fileVersion = info.fileVersion;
        m_modulePath = info.modulePath;
        ResetEventClass();
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

std::uint32_t CETWLogging::EnsureReady(LogLevel, const wchar_t*, const wchar_t*)
{
    if (m_registered.load()) {
        return ERROR_SUCCESS;
    }
    if (t_controlCallbackDepth != 0) {
        // Logged from a control callback: the registration that called it back is still
        // running (or another thread holds the lock for it); do not start a second one.
        return ERROR_SUCCESS;
    }
    CriticalSectionGuard guard(m_lock);
    if (m_registered.load()) {
        return ERROR_SUCCESS;
    }
    m_traceGuid = {&m_eventClass, nullptr};
    TRACEHANDLE registration = 0;
    const ULONG result = m_api->RegisterTraceGuids(&ControlCallbackEntry, this, m_properties.ProviderGuid(), 1,
                                                   &m_traceGuid, &registration);
    const TRACEHANDLE previous = std::exchange(m_registration, result == ERROR_SUCCESS ? registration : 0);
    if (previous != 0) {
        (void)m_api->UnregisterTraceGuids(previous);
    }
    // Also after a failure: the failure is reported by this one record only.
    m_registered.store(true);
    return result;
}

void CETWLogging::GetGroupPath(std::wstring& path)
{
    path = m_groupPath;
}

void CETWLogging::GetGroupName(std::wstring& name)
{
    name = m_group;
}

std::uint32_t CETWLogging::Uninitialize()
{
    if (!m_registered.load()) {
        return ERROR_SUCCESS;
    }
    return Shutdown();
}

bool CETWLogging::SetEnabled(bool enabled)
{
    return m_enabled.exchange(enabled);
}

bool CETWLogging::IsEnabled()
{
    return m_enabled.load();
}

void CETWLogging::Log(LogLevel level, const wchar_t* file, const wchar_t* function, int line, const wchar_t* format,
                      ...)
{
    if (!m_enabled.load() || !IsLevelEnabled(level) || format == nullptr || format[0] == L'\0') {
        return;
    }
    va_list args;
    va_start(args, format);
    std::wstring text;
    bool formatted = false;
    try {
        text = Fundor::FormatStringV(format, args);
        formatted = true;
    } catch (const std::exception&) {
        // No memory for the text: the record is dropped.
    }
    va_end(args);
    if (formatted) {
        (void)WriteTextEx(level, file, function, line, text.c_str());
    }
}

std::uint32_t CETWLogging::WriteText(const wchar_t* file, const wchar_t* function, int line, LogLevel level,
                                     const wchar_t* text)
{
    (void)WriteTextEx(level, file, function, line, text);
    return ERROR_SUCCESS;
}

bool CETWLogging::IsLevelEnabled(LogLevel level)
{
    return level >= m_severity.load() || level == kLevelInformation;
}

void CETWLogging::SetMaxEntries(std::uint32_t) {}

std::uint32_t CETWLogging::GetMaxEntries()
{
    return 0;
}

void CETWLogging::SetMaxSize(std::uint32_t) {}

std::uint32_t CETWLogging::GetMaxSize()
{
    return 0;
}

void CETWLogging::SetSeverity(std::uint32_t severity)
{
    if (severity < kLowestSeverity) {
        severity = kLowestSeverity;
    } else if (severity > kHighestSeverity) {
        severity = kHighestSeverity;
    }
    m_severity.store(severity);
}

std::uint32_t CETWLogging::GetSeverity()
{
    return m_severity.load();
}

std::uint32_t CETWLogging::AddRef()
{
    return 0;
}

std::uint32_t CETWLogging::Release()
{
    return 0;
}

std::uint32_t CETWLogging::WriteTextEx(LogLevel level, const wchar_t* file, const wchar_t* function, int line,
                                       const wchar_t* text)
{
    return LogEx(level, file, function, line, L"%s", text != nullptr ? text : L"");
}

std::uint32_t CETWLogging::LogV(LogLevel level, const wchar_t* file, const wchar_t* function, int line,
                                const wchar_t* format, va_list args)
{
    if (format == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!m_enabled.load() || !IsLevelEnabled(level)) {
        return ERROR_SUCCESS;
    }

    // Zero-filled, so that whatever formatting leaves behind (a cut text, or part of a text on
    // a formatting error) no character that was never written can be sent. The message is the
    // text up to its terminator: at most 2,079 characters.
    wchar_t message[kEtwMessageBufferChars] = {};
    (void)Fundor::FormatWV(message, kEtwMessageBufferChars, format, args);
    message[kEtwMessageBufferChars - 1] = L'\0';
    const std::size_t length = ::wcsnlen(message, kEtwMessageBufferChars - 1);

    // UTF-8 with the terminator, in the unused tail of the message buffer when it fits.
    const int wideCount = static_cast<int>(length + 1);
    char* const tail = reinterpret_cast<char*>(message + length + 1);
    const std::size_t tailBytes = (kEtwMessageBufferChars - length - 1) * sizeof(wchar_t);
    std::unique_ptr<char[]> heapText;
    char emptyText[1] = {'\0'};
    char* text = emptyText;
    int textBytes = 1;
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, message, wideCount, nullptr, 0, nullptr, nullptr);
    if (needed > 0) {
        char* target = tail;
        if (static_cast<std::size_t>(needed) > tailBytes) {
            heapText.reset(new (std::nothrow) char[static_cast<std::size_t>(needed)]);
            if (!heapText) {
                return ERROR_NOT_ENOUGH_MEMORY;
            }
            target = heapText.get();
        }
        const int converted = ::WideCharToMultiByte(CP_UTF8, 0, message, wideCount, target, needed, nullptr, nullptr);
        if (converted > 0) {
            text = target;
            textBytes = converted;
        }
    }

    EtwEventDataBuffer data;
    data.AppendU32(m_processId);
    data.AppendU32(::GetCurrentThreadId());
    data.AppendCountedString(m_processName);
    data.AppendCountedString(file);
    data.AppendCountedString(function);
    data.AppendU32(static_cast<std::uint32_t>(line));
    data.AppendCountedString(m_fileVersion);
    data.AppendCountedString(m_modulePath);
    data.AppendCountedString(m_group);
    data.AppendI64(textBytes);
    if (data.Failed()) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }

    EtwEventRecord record;
    FillEventHeader(record, level, file, function, line);
    record.fields[0].DataPtr = reinterpret_cast<ULONG_PTR>(data.Data());
    record.fields[0].Length = static_cast<ULONG>(data.Size());
    record.fields[1].DataPtr = reinterpret_cast<ULONG_PTR>(text);
    record.fields[1].Length = static_cast<ULONG>(textBytes);
    (void)m_api->TraceEvent(m_session.load(), &record.header);
    return ERROR_SUCCESS;
}

std::uint32_t CETWLogging::LogEx(LogLevel level, const wchar_t* file, const wchar_t* function, int line,
                                 const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::uint32_t result = LogV(level, file, function, line, format, args);
    va_end(args);
    return result;
}

bool CETWLogging::IsSameSession(TRACEHANDLE session)
{
    return session == m_session.load();
}

ULONG WINAPI CETWLogging::ControlCallbackEntry(WMIDPREQUESTCODE request, PVOID context, ULONG*, PVOID buffer)
{
    if (context == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    ControlCallbackScope scope;
    // Called by the tracing system: nothing may escape.
    try {
        return static_cast<CETWLogging*>(context)->ControlCallback(request, context, buffer);
    } catch (const std::bad_alloc&) {
        ::OutputDebugStringW(L"ETW logger: control request dropped, out of memory\n");
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        ::OutputDebugStringW(L"ETW logger: control request failed\n");
        return ERROR_INTERNAL_ERROR;
    }
}

ULONG CETWLogging::ControlCallback(WMIDPREQUESTCODE request, void*, void* buffer)
{
    switch (request) {
    case WMI_ENABLE_EVENTS: {
        if (buffer == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
        ::SetLastError(ERROR_SUCCESS);
        const TRACEHANDLE session = m_api->GetTraceLoggerHandle(buffer);
        if (session == kInvalidTraceHandle) {
            return Fundor::LastErrorOr(ERROR_INVALID_HANDLE);
        }
        TRACEHANDLE stored = 0;
        if (!m_session.compare_exchange_strong(stored, session) && stored != session) {
            return ERROR_SUCCESS;  // enabled by another session already
        }
        if (!m_listener) {
            return ERROR_SUCCESS;
        }
        ::SetLastError(ERROR_SUCCESS);
        const UCHAR level = m_api->GetTraceEnableLevel(session);
        if (level == 0) {
            return Fundor::LastErrorOr(ERROR_INVALID_PARAMETER);
        }
        const ULONG flags = m_api->GetTraceEnableFlags(session);
        m_listener->ApplyState(true, level, flags);
        return ERROR_SUCCESS;
    }
    case WMI_DISABLE_EVENTS: {
        // The request names its session in the node header. Only the session that enabled the
        // provider turns it off; another session's disable would silence records it still wants.
        const TRACEHANDLE session =
            buffer != nullptr ? static_cast<const WNODE_HEADER*>(buffer)->HistoricalContext : kInvalidTraceHandle;
        const TRACEHANDLE stored = m_session.load();
        if (stored != 0 && stored != session) {
            return ERROR_SUCCESS;
        }
        if (m_listener) {
            m_listener->ApplyState(false, m_severity.load(), 0);
        }
        TRACEHANDLE expected = session;
        (void)m_session.compare_exchange_strong(expected, 0);
        return ERROR_SUCCESS;
    }
    default:
        return ERROR_INVALID_PARAMETER;
    }
}

void CETWLogging::ResetEventClass()
{
    m_eventClass = kEtwEventClassGuid;
}

std::wstring& CETWLogging::GetModuleName(std::wstring& name, HMODULE module, bool strip)
{
    std::wstring fileName;
    if (!Fundor::GetModuleFileNameOnly(module, fileName)) {
        fileName.clear();
    }
    if (strip) {
        const std::size_t dot = fileName.rfind(L'.');
        if (dot != std::wstring::npos) {
            fileName.resize(dot);
        }
    }
    name = std::move(fileName);
    return name;
}

void CETWLogging::BuildGroupPath()
{
    m_groupPath = m_group;
    if (!m_moduleName.empty()) {
        m_groupPath += L"\\";
        m_groupPath += m_moduleName;
    }
}

std::uint32_t CETWLogging::UnregisterProvider()
{
    CriticalSectionGuard guard(m_lock);
    const TRACEHANDLE registration = std::exchange(m_registration, 0);
    m_registered.store(false);
    // Once unregistered, the provider belongs to no session: a session that enables it after
    // the next registration must not be refused as "another session".
    m_session.store(0);
    return registration != 0 ? m_api->UnregisterTraceGuids(registration) : ERROR_SUCCESS;
}

std::uint32_t CETWLogging::Shutdown()
{
    (void)SetEnabled(false);
    return UnregisterProvider();
}

LogLevel CETWLogging::MapLevel(LogLevel level)
{
    return level == kLevelInformation2 ? kLevelInformation : level;
}

void CETWLogging::FillEventHeader(EtwEventRecord& record, LogLevel level, const wchar_t*, const wchar_t*, int)
{
    std::memset(&record, 0, sizeof(record));
    LogLevel mapped = MapLevel(level);
    if (mapped < kLevelNormal || mapped > kLevelCritical) {
        mapped = kLevelInformation;
    }
    record.header.Size = kEtwEventSize;
    record.header.Class.Type = kEtwEventType;
    record.header.Class.Level = static_cast<UCHAR>(mapped);
    record.header.Class.Version = kEtwEventVersion;
    record.header.Guid = m_eventClass;
    record.header.Flags = kEtwEventFlags;
}

}  // namespace ETWLogging
