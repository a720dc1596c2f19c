#pragma once
// The process-wide logger of a module and the record path to it.
//
// The holder is built once per process (per module image that links the core library) by the
// first log call, and destroyed at exit. While its logger is being built the holder is already
// published without a logger, so a log call made from inside that construction on the same
// thread is dropped instead of waiting for itself; a call from another thread waits until the
// build is done. A failed build leaves the holder without a logger for the life of the process.

#include "core/Logging/CLogBuilderIf.h"
#include "core/Logging/CLoggingIf.h"
#include "core/Logging/ILoggingHandler.h"
#include "core/Logging/LogLevel.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <memory>

namespace ETWLogging {

struct LoggerHolder {
    // Owned; deleted through its destructor when replaced or when the holder is destroyed. Null
    // while the logger is being built and when none could be built.
    std::atomic<CLoggingIf*> logger{nullptr};
    // The handler this front end registered with Fundor::CLogger (not owned), or null.
    std::atomic<Fundor::ILoggingHandler*> handler{nullptr};
};

// The holder, built on the first call with these arguments; later calls return the same holder
// and ignore their arguments. Null when the holder could not be allocated or after it was
// destroyed at exit (nothing is built again then). The holder stays owned by the front end.
[[nodiscard]] LoggerHolder* GetLoggerHolder(const wchar_t* applicationName, const wchar_t* group, HMODULE module,
                                            const wchar_t* host, std::uint32_t loggerMode) noexcept;

// GetLoggerHolder with this module's parameters (see SetModuleLoggingParameters).
[[nodiscard]] LoggerHolder* GetLogger() noexcept;

// The record path: ERROR_FUNCTION_FAILED without a logger; a failing EnsureReady result
// unchanged. The extended (ETW) logger formats the record itself when the level is on (result 0
// either way); the file logger gets the whole formatted text, cut to its first 2,080 characters
// when it is longer than 4,160, with no level test here. Never throws: ERROR_NOT_ENOUGH_MEMORY
// when out of memory, ERROR_INVALID_PARAMETER when the format cannot be formatted,
// ERROR_FUNCTION_FAILED when the logger throws; the record is lost then.
[[nodiscard]] std::uint32_t WriteLogRecord(LoggerHolder* holder, LogLevel level, const wchar_t* file,
                                           const wchar_t* function, int line, const wchar_t* format, ...) noexcept;
[[nodiscard]] std::uint32_t WriteLogRecordV(LoggerHolder* holder, LogLevel level, const wchar_t* file,
                                            const wchar_t* function, int line, const wchar_t* format,
                                            va_list arguments) noexcept;

// Writes an already formatted text, with no level test: ERROR_FUNCTION_FAILED without a logger, a
// failing EnsureReady result unchanged, else the result of WriteTextEx (extended logger) or
// WriteText.
[[nodiscard]] std::uint32_t WriteLogText(LoggerHolder* holder, const wchar_t* file, const wchar_t* function,
                                         int line, LogLevel level, const wchar_t* text) noexcept;

// Replaces the builder that the first log call uses (the default is a CDefaultLogBuilder with
// the production loggers). Takes ownership; the builder lives for the life of the process.
// False, and the builder is deleted, once the holder is being built or built.
[[nodiscard]] bool InstallLogBuilder(std::unique_ptr<CLogBuilderIf> builder) noexcept;

namespace internal {

// The holder published so far, without building anything (null before the first build and
// after exit).
[[nodiscard]] LoggerHolder* PublishedHolder() noexcept;

// Marks a use of the holder's logger. The exit clean-up waits for running uses before it
// deletes the logger, so a record written by another thread during exit does not reach a
// deleted logger. Construct it before fetching the holder.
class HolderUse {
public:
    HolderUse() noexcept;
    ~HolderUse();
    HolderUse(const HolderUse&) = delete;
    HolderUse& operator=(const HolderUse&) = delete;
};

}  // namespace internal

}  // namespace ETWLogging
