#include "core/Logging/Logging.h"

#include "core/Logging/CLoggingIf_ex.h"
#include "core/Logging/LoggerHolder.h"
#include "core/base/StringFormat.h"

#include <new>
#include <string>

namespace ETWLogging {
namespace {

// Texts up to this length reach the file logger whole; longer ones are cut to half of it.
constexpr std::size_t kWholeRecordChars = 4160;
constexpr std::size_t kCutRecordChars = 2080;

// True when format with its arguments gives an empty text (not a formatting failure).
bool FormatsEmptyText(const wchar_t* format, va_list arguments) noexcept
{
    wchar_t probe[1];
    return Fundor::FormatWV(probe, 1, format, arguments) == 0;
}

// Callers log between a failing call and their GetLastError(): a log call keeps the thread's
// last-error value as it found it.
class LastErrorKeeper {
public:
    LastErrorKeeper() noexcept : m_error(::GetLastError()) {}
    ~LastErrorKeeper() { ::SetLastError(m_error); }
    LastErrorKeeper(const LastErrorKeeper&) = delete;
    LastErrorKeeper& operator=(const LastErrorKeeper&) = delete;

private:
    DWORD m_error;
};

}  // namespace

bool IsLogLevelEnabled(LogLevel level) noexcept
{
    const LastErrorKeeper keepLastError;
    try {
        internal::HolderUse use;
        LoggerHolder* holder = GetLogger();
        if (holder == nullptr) {
            return false;
        }
        CLoggingIf* logger = holder->logger.load();
        return logger != nullptr && logger->IsLevelEnabled(level);
    } catch (...) {
        return false;
    }
}

HMODULE GetThisModuleHandle() noexcept
{
    HMODULE module = nullptr;
    if (::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             reinterpret_cast<const wchar_t*>(&GetThisModuleHandle), &module) == FALSE) {
        return nullptr;
    }
    return module;
}

namespace internal {

void LogMessageArguments(LogLevel level, const wchar_t* file, const wchar_t* function, int line,
                         const wchar_t* format, ...) noexcept
{
    const LastErrorKeeper keepLastError;
    HolderUse use;
    LoggerHolder* holder = GetLogger();
    if (holder == nullptr) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    (void)WriteLogRecordV(holder, level, file, function, line, format, arguments);
    va_end(arguments);
}

}  // namespace internal

std::uint32_t WriteLogRecordV(LoggerHolder* holder, LogLevel level, const wchar_t* file, const wchar_t* function,
                              int line, const wchar_t* format, va_list arguments) noexcept
{
    try {
        CLoggingIf* logger = holder != nullptr ? holder->logger.load() : nullptr;
        if (logger == nullptr) {
            return ERROR_FUNCTION_FAILED;
        }
        std::uint32_t result = logger->EnsureReady(level, file, function);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        if (auto* extended = dynamic_cast<CLoggingIf_ex*>(logger)) {
            // The ETW logger formats once, and only a record whose level is on.
            if (extended->IsLevelEnabled(level)) {
                (void)extended->LogV(level, file, function, line, format, arguments);
            }
            return ERROR_SUCCESS;
        }
        result = logger->EnsureReady(level, file, function);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        va_list probeArguments;
        va_copy(probeArguments, arguments);
        std::wstring text = Fundor::FormatStringV(format, arguments);
        // An empty text is either what the format gives or a failed formatting; a failed one
        // is not written.
        const bool failed = text.empty() && !FormatsEmptyText(format, probeArguments);
        va_end(probeArguments);
        if (failed) {
            return ERROR_INVALID_PARAMETER;
        }
        if (text.size() > kWholeRecordChars) {
            text.resize(kCutRecordChars);
        }
        return logger->WriteText(file, function, line, level, text.c_str());
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_FUNCTION_FAILED;
    }
}

std::uint32_t WriteLogRecord(LoggerHolder* holder, LogLevel level, const wchar_t* file, const wchar_t* function,
                             int line, const wchar_t* format, ...) noexcept
{
    va_list arguments;
    va_start(arguments, format);
    const std::uint32_t result = WriteLogRecordV(holder, level, file, function, line, format, arguments);
    va_end(arguments);
    return result;
}

std::uint32_t WriteLogText(LoggerHolder* holder, const wchar_t* file, const wchar_t* function, int line,
                           LogLevel level, const wchar_t* text) noexcept
{
    try {
        CLoggingIf* logger = holder != nullptr ? holder->logger.load() : nullptr;
        if (logger == nullptr) {
            return ERROR_FUNCTION_FAILED;
        }
        const std::uint32_t result = logger->EnsureReady(level, file, function);
        if (result != ERROR_SUCCESS) {
            return result;
        }
        if (auto* extended = dynamic_cast<CLoggingIf_ex*>(logger)) {
            return extended->WriteTextEx(level, file, function, line, text);
        }
        return logger->WriteText(file, function, line, level, text);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_FUNCTION_FAILED;
    }
}

}  // namespace ETWLogging
