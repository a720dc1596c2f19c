#pragma once
// The logger factory of the front end: chooses and builds the file logger or the ETW logger.
//
// Logger mode 1 gives the file logger without reading the registry. Otherwise the enciphered
// DWORD "Logging Mechanism" decides (from the mechanism source when one is given, else from
// HKLM "SOFTWARE\Tervane\Logging"): 1 gives the file logger; any other value, a value that
// cannot be read and a missing key give the ETW logger.

#include "core/Logging/CLogBuilderIf.h"

#include <functional>
#include <memory>

namespace ETWLogging {

class CDefaultLogBuilder : public CLogBuilderIf_ex {
public:
    // Makes a new, uninitialised logger; null (or an exception) when it cannot.
    using LoggerFactory = std::function<std::unique_ptr<CLoggingIf>()>;

    // The production loggers: CETWLogging and CLogging.
    CDefaultLogBuilder();
    CDefaultLogBuilder(LoggerFactory createEtwLogger, LoggerFactory createFileLogger);

    // BuildLoggerEx with a null application name.
    bool BuildLogger(const wchar_t* group, HMODULE module, const wchar_t* host, std::uint32_t loggerMode,
                     CLoggingIf** logger, LoggingMechanismSource* mechanism) override;

    // True with *logger set to the new, initialised logger (one AddRef taken; the caller owns it
    // and deletes it through its destructor). False, with *logger untouched and nothing created
    // or read, when logger is null, *logger is already set, or group or host is given but empty;
    // false when the logger cannot be created or its initialisation fails (it is deleted then).
    bool BuildLoggerEx(const wchar_t* applicationName, const wchar_t* group, HMODULE module, const wchar_t* host,
                       std::uint32_t loggerMode, CLoggingIf** logger, LoggingMechanismSource* mechanism) override;

    // The value of "Logging Mechanism" that selects the file logger, and the logger mode that
    // forces it.
    static constexpr DWORD kFileLoggerMechanism = 1;
    static constexpr std::uint32_t kFileLoggerMode = 1;

private:
    // True when the file logger is chosen.
    static bool ChoosesFileLogger(std::uint32_t loggerMode, LoggingMechanismSource* mechanism) noexcept;

    LoggerFactory m_createEtwLogger;
    LoggerFactory m_createFileLogger;
};

}  // namespace ETWLogging
