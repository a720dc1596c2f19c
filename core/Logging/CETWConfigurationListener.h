#pragma once
// Applies an enabled state and level to its logger, then lets the registry override them: the
// plain DWORD values "Enable" and "Severity" of the provider's settings key, then of its
// "<group>" subkey, then of its "<group>\<module>" subkey (a later key wins).
//
// The logger is only pointed to (it owns the listener). The listener may be called on the
// tracing system's thread while records are written on others; it only uses the logger's
// thread-safe setters and the names fixed when the logger was initialised.

#include "core/Logging/ETWAppProperties.h"
#include "core/Logging/LoggingConfigListenerIf.h"

namespace ETWLogging {

class CETWConfigurationListener : public LoggingConfigListenerIf {
public:
    // Keeps a copy of properties; logger may be null and attached later.
    CETWConfigurationListener(const internal::ETWAppProperties& properties, CLoggingIf* logger);
    CETWConfigurationListener(const CETWConfigurationListener&) = delete;
    CETWConfigurationListener& operator=(const CETWConfigurationListener&) = delete;

    // Nothing happens without a logger.
    void ApplyState(bool enabled, std::uint32_t level, std::uint32_t flags) override;
    ~CETWConfigurationListener() override;
    bool AttachLogger(CLoggingIf* logger) override;
    // The hive and the provider key path of the properties.
    void GetSettingsKey(HKEY& hive, std::wstring& path) override;
    // Values that are missing, or are not REG_DWORD, change nothing.
    void ReadSettings(HKEY hive, const std::wstring& path) override;

private:
    internal::ETWAppProperties m_properties;
    CLoggingIf* m_logger = nullptr;
};

}  // namespace ETWLogging
