#pragma once
// The logger interface every logger implements. The slot order is fixed.
//
// Strings are wide; a null group or host means "none". Results are Win32-style codes.

#include "core/Logging/LogLevel.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace ETWLogging {

class LoggingConfigListenerIf;

class CLoggingIf {
public:
    virtual ~CLoggingIf() = default;                                                   // 0
    virtual std::uint32_t Initialize(const wchar_t* group, HMODULE module, const wchar_t* host,
                                     LoggingConfigListenerIf* listener) = 0;           // 1
    // The arguments are not used.
    virtual std::uint32_t EnsureReady(LogLevel level, const wchar_t* file,
                                      const wchar_t* function) = 0;                    // 2
    virtual void GetGroupPath(std::wstring& path) = 0;                                 // 3
    virtual void GetGroupName(std::wstring& name) = 0;                                 // 4
    virtual std::uint32_t Uninitialize() = 0;                                          // 5
    virtual bool SetEnabled(bool enabled) = 0;                                         // 6
    virtual bool IsEnabled() = 0;                                                      // 7
    virtual void Log(LogLevel level, const wchar_t* file, const wchar_t* function, int line,
                     const wchar_t* format, ...) = 0;                                  // 8
    virtual std::uint32_t WriteText(const wchar_t* file, const wchar_t* function, int line,
                                    LogLevel level, const wchar_t* text) = 0;          // 9
    virtual bool IsLevelEnabled(LogLevel level) = 0;                                   // 10
    virtual void SetMaxEntries(std::uint32_t count) = 0;                               // 11
    virtual std::uint32_t GetMaxEntries() = 0;                                         // 12
    virtual void SetMaxSize(std::uint32_t bytes) = 0;                                  // 13
    virtual std::uint32_t GetMaxSize() = 0;                                            // 14
    virtual void SetSeverity(std::uint32_t severity) = 0;                              // 15
    virtual std::uint32_t GetSeverity() = 0;                                           // 16
    virtual std::uint32_t AddRef() = 0;                                                // 17
    virtual std::uint32_t Release() = 0;                                               // 18
    // 19-23 share one body: format into 4,160 characters (at most 4,159 kept), then WriteText.
    // They make no level test of their own.
    virtual std::uint32_t LogNormal(const wchar_t* file, const wchar_t* function, int line,
                                    const wchar_t* format, ...);                       // 19
    virtual std::uint32_t LogError(const wchar_t* file, const wchar_t* function, int line,
                                   const wchar_t* format, ...);                        // 20
    virtual std::uint32_t LogWarning(const wchar_t* file, const wchar_t* function, int line,
                                     const wchar_t* format, ...);                      // 21
    virtual std::uint32_t LogCritical(const wchar_t* file, const wchar_t* function, int line,
                                      const wchar_t* format, ...);                     // 22
    virtual std::uint32_t LogInformation(const wchar_t* file, const wchar_t* function, int line,
                                         const wchar_t* format, ...);                  // 23

protected:
    // The shared body of slots 19 to 23.
    std::uint32_t WriteLevelText(LogLevel level, const wchar_t* file, const wchar_t* function,
                                 int line, const wchar_t* format, va_list args);
};

// Characters of the stack buffer of the level-named slots (the text keeps at most one less).
inline constexpr std::size_t kLevelTextBufferChars = 4160;

}  // namespace ETWLogging
