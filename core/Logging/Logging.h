#pragma once
// The logging front end: the one header a component includes to log.
//
// Call shape (test the level first, so nothing is formatted for a level that is off):
//     if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelNormal))
//         ETWLogging::LogMessage(ETWLogging::kLevelNormal, L"KvShell.cpp", L"CKvShellModule::Run", __LINE__,
//                                L"id %s", id);
// or, the same thing in one line:
//     ETWLOG(ETWLogging::kLevelNormal, L"KvShell.cpp", L"CKvShellModule::Run", L"id %s", id);
//
// The first call in a module builds the process-wide logger of that module (see LoggerHolder.h).
// No log call fails or throws into its caller: a record that cannot be built or written is lost.
// Formats are Microsoft-style wide printf formats ("%s" takes a wide string).

#include "core/Logging/LogLevel.h"

#include <windows.h>

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace ETWLogging {

// True when a logger exists and the level is on for it. False when no logger could be built,
// while the logger is being built (a call made from inside its construction), after the logger
// was destroyed at exit, and when the logger fails.
[[nodiscard]] bool IsLogLevelEnabled(LogLevel level) noexcept;

// The handle of the image that holds this code (the program, or the DLL that links the core
// library), taken when asked. Null when the system cannot tell.
[[nodiscard]] HMODULE GetThisModuleHandle() noexcept;

// This module's logging parameters, passed to the builder when the first log call builds the
// logger. The defaults are the host's: group "_no_group", host "_no_host", this module, logger
// mode 0 (1 forces the file logger), no application name.
struct ModuleLoggingParameters {
    const wchar_t* applicationName = nullptr;
    const wchar_t* group = L"_no_group";
    const wchar_t* host = L"_no_host";
    HMODULE module = nullptr;  // null: GetThisModuleHandle()
    std::uint32_t loggerMode = 0;
};

// Replaces this module's parameters (the strings are copied). Only a module that needs values of
// its own calls it, before its first log call. Once a log call has started building the logger
// the parameters are fixed: the call then changes nothing and returns false (also when out of
// memory). Null strings mean "none"; an empty group or host makes the logger build fail, and the
// module then logs nothing.
[[nodiscard]] bool SetModuleLoggingParameters(const ModuleLoggingParameters& parameters) noexcept;

namespace internal {

// How one LogMessage argument travels through the printf argument list: bytes and booleans as
// int, string objects as their character pointer, everything else unchanged.
template <typename T>
concept HasCharacterPointer = requires(const T& text) {
    { text.c_str() } -> std::convertible_to<const void*>;
};

template <typename T>
auto PrintfArgument(const T& value)
{
    using Type = std::remove_cv_t<T>;
    if constexpr (std::is_array_v<Type>) {
        return static_cast<const std::remove_extent_t<Type>*>(value);
    } else if constexpr (std::is_same_v<Type, bool> || std::is_same_v<Type, char> ||
                         std::is_same_v<Type, signed char> || std::is_same_v<Type, unsigned char> ||
                         std::is_same_v<Type, char8_t> || std::is_same_v<Type, std::byte>) {
        return static_cast<int>(value);
    } else if constexpr (std::is_enum_v<Type>) {
        return +static_cast<std::underlying_type_t<Type>>(value);
    } else if constexpr (HasCharacterPointer<Type>) {
        return value.c_str();  // std::wstring and the like
    } else if constexpr (std::is_class_v<Type> && std::is_convertible_v<const Type&, const wchar_t*>) {
        return static_cast<const wchar_t*>(value);  // COM string owners (BSTR)
    } else {
        static_assert(std::is_arithmetic_v<Type> || std::is_pointer_v<Type> || std::is_null_pointer_v<Type>,
                      "a log argument must be a number, a pointer or a string object");
        return value;
    }
}

// The non-template body of LogMessage. Never throws.
void LogMessageArguments(LogLevel level, const wchar_t* file, const wchar_t* function, int line,
                         const wchar_t* format, ...) noexcept;

}  // namespace internal

// Sends one record (level, source-file name, "Class::Method", line, format and arguments) to the
// module's logger. Callers test IsLogLevelEnabled first: the file logger makes no level test of
// its own on this path. Records longer than 4,160 characters reach the file logger cut to their
// first 2,080 characters.
template <typename... Arguments>
void LogMessage(LogLevel level, const wchar_t* file, const wchar_t* function, int line, const wchar_t* format,
                const Arguments&... arguments) noexcept
{
    try {
        internal::LogMessageArguments(level, file, function, line, format, internal::PrintfArgument(arguments)...);
    } catch (...) {
        // A string object that cannot give its text loses the record, nothing more.
    }
}

}  // namespace ETWLogging

// The call shape above in one statement; level should be a constant (it is read twice).
#define ETWLOG(level, file, function, ...)                                                      \
    do {                                                                                        \
        if (::ETWLogging::IsLogLevelEnabled(level))                                             \
            ::ETWLogging::LogMessage((level), (file), (function), __LINE__, __VA_ARGS__);       \
    } while (false)
