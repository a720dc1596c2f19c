#pragma once
// The extended logger interface (slots 24 to 36), implemented by the ETW logger.

#include "core/Logging/CLoggingIf.h"

#include <evntrace.h>

#include <cstdarg>

namespace ETWLogging {

// The 80-byte event handed to the trace system; defined with the ETW logger.
struct EtwEventRecord;

class CLoggingIf_ex : public CLoggingIf {
public:
    virtual std::uint32_t InitializeEx(const wchar_t* applicationName, const wchar_t* group,
                                       HMODULE module, const wchar_t* host,
                                       LoggingConfigListenerIf* listener) = 0;          // 24
    virtual std::uint32_t WriteTextEx(LogLevel level, const wchar_t* file, const wchar_t* function,
                                      int line, const wchar_t* text) = 0;              // 25
    virtual std::uint32_t LogV(LogLevel level, const wchar_t* file, const wchar_t* function,
                               int line, const wchar_t* format, va_list args) = 0;     // 26
    virtual std::uint32_t LogEx(LogLevel level, const wchar_t* file, const wchar_t* function,
                                int line, const wchar_t* format, ...) = 0;             // 27
    virtual bool IsSameSession(TRACEHANDLE session) = 0;                               // 28
    virtual ULONG ControlCallback(WMIDPREQUESTCODE request, void* context, void* buffer) = 0;  // 29
    virtual void ResetEventClass() = 0;                                                // 30
    virtual std::wstring& GetModuleName(std::wstring& name, HMODULE module, bool strip) = 0;  // 31
    virtual void BuildGroupPath() = 0;                                                 // 32
    virtual std::uint32_t UnregisterProvider() = 0;                                    // 33
    virtual std::uint32_t Shutdown() = 0;                                              // 34
    virtual LogLevel MapLevel(LogLevel level) = 0;                                     // 35
    virtual void FillEventHeader(EtwEventRecord& record, LogLevel level, const wchar_t* file,
                                 const wchar_t* function, int line) = 0;               // 36
};

}  // namespace ETWLogging
