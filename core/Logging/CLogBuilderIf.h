#pragma once
// Logger factories. The mechanism source answers "Logging Mechanism" in place of the registry;
// the host always passes null.

#include "core/Logging/CLoggingIf.h"

namespace ETWLogging {

class LoggingMechanismSource {
public:
    // True with the value when the source has one.
    virtual bool QueryLoggingMechanism(DWORD& value) = 0;

protected:
    ~LoggingMechanismSource() = default;
};

class CLogBuilderIf {
public:
    virtual ~CLogBuilderIf() = default;
    // BuildLoggerEx with a null application name.
    virtual bool BuildLogger(const wchar_t* group, HMODULE module, const wchar_t* host,
                             std::uint32_t loggerMode, CLoggingIf** logger,
                             LoggingMechanismSource* mechanism) = 0;
};

class CLogBuilderIf_ex : public CLogBuilderIf {
public:
    virtual bool BuildLoggerEx(const wchar_t* applicationName, const wchar_t* group, HMODULE module,
                               const wchar_t* host, std::uint32_t loggerMode, CLoggingIf** logger,
                               LoggingMechanismSource* mechanism) = 0;
};

}  // namespace ETWLogging
