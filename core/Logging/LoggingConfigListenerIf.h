#pragma once
// Receives the enabled state and level set by a trace controller and applies them, together
// with the registry settings, to its logger.

#include <windows.h>

#include <cstdint>
#include <string>

namespace ETWLogging {

class CLoggingIf;

class LoggingConfigListenerIf {
public:
    virtual void ApplyState(bool enabled, std::uint32_t level, std::uint32_t flags) = 0;
    virtual ~LoggingConfigListenerIf() = default;
    // Stores the logger when none is stored and it is not null; false otherwise.
    virtual bool AttachLogger(CLoggingIf* logger) = 0;
    virtual void GetSettingsKey(HKEY& hive, std::wstring& path) = 0;
    virtual void ReadSettings(HKEY hive, const std::wstring& path) = 0;
};

}  // namespace ETWLogging
