#include "core/Logging/CETWConfigurationListener.h"

#include "core/Logging/CLoggingIf.h"
#include "core/base/StringFormat.h"
#include "core/registry/CRegKey.h"

#include <new>

namespace ETWLogging {

CETWConfigurationListener::CETWConfigurationListener(const internal::ETWAppProperties& properties,
                                                     CLoggingIf* logger)
    : m_properties(properties), m_logger(logger)
{
}

CETWConfigurationListener::~CETWConfigurationListener() = default;

bool CETWConfigurationListener::AttachLogger(CLoggingIf* logger)
{
    if (m_logger != nullptr || logger == nullptr) {
        return false;
    }
    m_logger = logger;
    return true;
}

void CETWConfigurationListener::GetSettingsKey(HKEY& hive, std::wstring& path)
{
    hive = m_properties.Hive();
    path = m_properties.ProviderKeyPath();
}

void CETWConfigurationListener::ReadSettings(HKEY hive, const std::wstring& path)
{
    if (m_logger == nullptr) {
        return;
    }
    Fundor::CRegKey key;
    if (key.Open(hive, path.c_str(), KEY_READ) != ERROR_SUCCESS) {
        return;
    }
    DWORD value = 0;
    if (key.QueryDWORDValue(L"Enable", value) == ERROR_SUCCESS) {
        (void)m_logger->SetEnabled(value != 0);
    }
    if (key.QueryDWORDValue(L"Severity", value) == ERROR_SUCCESS) {
        m_logger->SetSeverity(value);
    }
}

void CETWConfigurationListener::ApplyState(bool enabled, std::uint32_t level, std::uint32_t /*flags*/)
{
    if (m_logger == nullptr) {
        return;
    }
    (void)m_logger->SetEnabled(enabled);
    m_logger->SetSeverity(level);
    // Runs on the tracing system's callback thread too: nothing may escape. Without memory for
    // the key names the controller's state stands alone.
    try {
        HKEY hive = nullptr;
        std::wstring settingsKey;
        GetSettingsKey(hive, settingsKey);
        ReadSettings(hive, settingsKey);
        // An empty group would name the settings key itself, or a path with an empty key name.
        std::wstring group;
        m_logger->GetGroupName(group);
        if (group.empty()) {
            return;
        }
        ReadSettings(hive, Fundor::FormatString(L"%s\\%s", settingsKey.c_str(), group.c_str()));
        std::wstring groupPath;
        m_logger->GetGroupPath(groupPath);
        ReadSettings(hive, Fundor::FormatString(L"%s\\%s", settingsKey.c_str(), groupPath.c_str()));
    } catch (const std::bad_alloc&) {
    }
}

}  // namespace ETWLogging
