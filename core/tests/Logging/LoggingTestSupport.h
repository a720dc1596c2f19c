#pragma once
// Stub loggers, a journal of what they were asked, allocation-failure injection and the child
// process runner of the logging front-end tests.

#include "core/Logging/CLoggingIf.h"
#include "core/Logging/CLoggingIf_ex.h"
#include "core/Logging/ILoggingHandler.h"
#include "core/base/StringFormat.h"
#include "core/testsupport/EnvironmentVariable.h"
#include "core/testsupport/FailingAllocations.h"

#include <atomic>
#include <cstdarg>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace ETWLogging::testing {

// Every event of the stubs, in order. With a mirror file, each event is also appended to it at
// once as one UTF-8 line, so a child process reports even what happens at its exit.
class Journal {
public:
    static Journal& Instance();  // never destroyed: stubs report until the process ends
    void Add(const std::wstring& event);
    [[nodiscard]] std::vector<std::wstring> Events();
    void Clear();
    void MirrorTo(const std::wstring& path);

private:
    std::mutex m_lock;
    std::vector<std::wstring> m_events;
    std::wstring m_mirror;
};

// "null" for a null string, else the text.
inline std::wstring Text(const wchar_t* text) { return text != nullptr ? std::wstring(text) : L"null"; }

using Fundor::testing::AllowedAllocations;
using Fundor::testing::FailingAllocations;

// True while the stub at that address has not been destroyed.
bool StubAlive(const void* stub);
void StubBorn(const void* stub);
void StubDied(const void* stub);

struct StubSettings {
    std::uint32_t severity = 3;
    std::uint32_t initializeResult = 0;
    std::uint32_t ensureReadyResult = 0;
    bool throwOnWrite = false;  // WriteText/WriteTextEx/LogV/IsLevelEnabled throw std::runtime_error
    std::function<void()> onInitialize;
    std::function<void()> onDestroy;
};

// A logger that records every call as "<name>:<operation>|<arguments>|...".
template <typename Base>
class StubLoggerT : public Base {
public:
    StubLoggerT(std::wstring name, StubSettings settings) : m_name(std::move(name)), m_settings(std::move(settings))
    {
        StubBorn(this);
        Record(L"created");
    }
    ~StubLoggerT() override
    {
        if (m_settings.onDestroy) m_settings.onDestroy();
        Record(L"deleted");
        StubDied(this);
    }

    std::uint32_t Initialize(const wchar_t* group, HMODULE module, const wchar_t* host,
                             LoggingConfigListenerIf* listener) override
    {
        AllowedAllocations allowed;
        Record(L"Initialize|" + Text(group) + L"|" + ModuleText(module) + L"|" + Text(host) +
               (listener != nullptr ? L"|listener" : L""));
        if (m_settings.onInitialize) m_settings.onInitialize();
        return m_settings.initializeResult;
    }
    std::uint32_t EnsureReady(LogLevel, const wchar_t*, const wchar_t*) override
    {
        AllowedAllocations allowed;
        Record(L"EnsureReady");
        return m_settings.ensureReadyResult;
    }
    void GetGroupPath(std::wstring&) override {}
    void GetGroupName(std::wstring&) override {}
    std::uint32_t Uninitialize() override { return 0; }
    bool SetEnabled(bool) override { return true; }
    bool IsEnabled() override { return true; }
    void Log(LogLevel level, const wchar_t* file, const wchar_t* function, int line, const wchar_t* format,
             ...) override
    {
        va_list arguments;
        va_start(arguments, format);
        AllowedAllocations allowed;
        const std::wstring text = Fundor::FormatStringV(format, arguments);
        va_end(arguments);
        Record(L"Log|" + RecordText(level, file, function, line, text.c_str()));
    }
    std::uint32_t WriteText(const wchar_t* file, const wchar_t* function, int line, LogLevel level,
                            const wchar_t* text) override
    {
        AllowedAllocations allowed;
        ThrowWhenAsked();
        Record(L"WriteText|" + RecordText(level, file, function, line, text));
        return 0;
    }
    bool IsLevelEnabled(LogLevel level) override
    {
        ThrowWhenAsked();
        return level >= m_settings.severity;
    }
    void SetMaxEntries(std::uint32_t) override {}
    std::uint32_t GetMaxEntries() override { return 0; }
    void SetMaxSize(std::uint32_t) override {}
    std::uint32_t GetMaxSize() override { return 0; }
    void SetSeverity(std::uint32_t severity) override { m_settings.severity = severity; }
    std::uint32_t GetSeverity() override { return m_settings.severity; }
    std::uint32_t AddRef() override
    {
        Record(L"AddRef");
        return 1;
    }
    std::uint32_t Release() override { return 0; }

protected:
    void Record(const std::wstring& event)
    {
        AllowedAllocations allowed;
        Journal::Instance().Add((StubAlive(this) ? m_name : L"USE AFTER DELETE " + m_name) + L":" + event);
    }
    void ThrowWhenAsked()
    {
        if (m_settings.throwOnWrite) throw std::runtime_error("stub logger failure");
    }
    static std::wstring RecordText(LogLevel level, const wchar_t* file, const wchar_t* function, int line,
                                   const wchar_t* text)
    {
        return std::to_wstring(level) + L"|" + Text(file) + L"|" + Text(function) + L"|" + std::to_wstring(line) +
               L"|" + Text(text);
    }
    static std::wstring ModuleText(HMODULE module)
    {
        return module == nullptr ? L"null" : module == ::GetModuleHandleW(nullptr) ? L"this" : L"other";
    }

    std::wstring m_name;
    StubSettings m_settings;
};

// The file logger's shape: the plain interface only.
using StubLogger = StubLoggerT<CLoggingIf>;

// The ETW logger's shape: the extended interface.
class StubLoggerEx : public StubLoggerT<CLoggingIf_ex> {
public:
    using StubLoggerT::StubLoggerT;
    std::uint32_t InitializeEx(const wchar_t* applicationName, const wchar_t* group, HMODULE module,
                               const wchar_t* host, LoggingConfigListenerIf* listener) override
    {
        AllowedAllocations allowed;
        Record(L"InitializeEx|" + Text(applicationName) + L"|" + Text(group) + L"|" + ModuleText(module) + L"|" +
               Text(host) + (listener != nullptr ? L"|listener" : L""));
        if (m_settings.onInitialize) m_settings.onInitialize();
        return m_settings.initializeResult;
    }
    std::uint32_t WriteTextEx(LogLevel level, const wchar_t* file, const wchar_t* function, int line,
                              const wchar_t* text) override
    {
        AllowedAllocations allowed;
        ThrowWhenAsked();
        Record(L"WriteTextEx|" + RecordText(level, file, function, line, text));
        return 0;
    }
    std::uint32_t LogV(LogLevel level, const wchar_t* file, const wchar_t* function, int line,
                       const wchar_t* format, va_list arguments) override
    {
        AllowedAllocations allowed;
        ThrowWhenAsked();
        const std::wstring text = Fundor::FormatStringV(format, arguments);
        Record(L"LogV|" + RecordText(level, file, function, line, text.c_str()));
        return 0;
    }
    std::uint32_t LogEx(LogLevel, const wchar_t*, const wchar_t*, int, const wchar_t*, ...) override { return 0; }
    bool IsSameSession(TRACEHANDLE) override { return false; }
    ULONG ControlCallback(WMIDPREQUESTCODE, void*, void*) override { return 0; }
    void ResetEventClass() override {}
    std::wstring& GetModuleName(std::wstring& name, HMODULE, bool) override { return name; }
    void BuildGroupPath() override {}
    std::uint32_t UnregisterProvider() override { return 0; }
    std::uint32_t Shutdown() override { return 0; }
    LogLevel MapLevel(LogLevel level) override { return level; }
    void FillEventHeader(EtwEventRecord&, LogLevel, const wchar_t*, const wchar_t*, int) override {}
};

// A Fundor handler that records "<name>:<level>|<file>|<function>|<line>|<text>".
class RecordingHandler : public Fundor::ILoggingHandler {
public:
    explicit RecordingHandler(std::wstring name) : m_name(std::move(name)) {}
    ~RecordingHandler() = default;
    void HandleMessage(std::uint32_t level, const wchar_t* file, const wchar_t* function, int line,
                       const wchar_t* text) override
    {
        AllowedAllocations allowed;
        Journal::Instance().Add(m_name + L":" + std::to_wstring(level) + L"|" + Text(file) + L"|" + Text(function) +
                                L"|" + std::to_wstring(line) + L"|" + Text(text));
    }

private:
    std::wstring m_name;
};

// The events that begin with prefix.
std::vector<std::wstring> EventsStartingWith(const std::vector<std::wstring>& events, const std::wstring& prefix);

// "0x%08X" of the low 32 bits of a pointer.
std::wstring PointerText(const void* pointer);

// The system's text of a Win32 code, read here independently of the code under test.
std::wstring SystemText(DWORD code);

// This test program, run again with one disabled test selected and extra environment variables;
// its journal mirror (the report) comes back as lines.
struct ChildRun {
    DWORD exitCode = 0xFFFFFFFF;
    bool finished = false;  // false: still running after the timeout, and ended
    std::vector<std::wstring> report;
    std::string output;
};
ChildRun RunTestChild(const wchar_t* testName, const std::vector<std::pair<std::wstring, std::wstring>>& variables,
                      DWORD timeoutMilliseconds = 60000);

// The report path given to a child (empty in the parent).
using Fundor::testing::EnvironmentVariable;

}  // namespace ETWLogging::testing
