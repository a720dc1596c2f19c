#include "core/Logging/ETWAppProperties.h"

#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"
#include "core/registry/CObfuscatedRegKey.h"
#include "core/registry/CRegKey.h"

#include <shlobj.h>

namespace ETWLogging::internal {

namespace {

constexpr wchar_t kDefaultLogFolder[] = L"\\Tervane\\KVLOGS";
constexpr wchar_t kDefaultEtlFolder[] = L"\\Tervane\\KVLOGS\\ETW";

}  // namespace

ETWAppProperties::~ETWAppProperties() = default;

bool ETWAppProperties::Load(const wchar_t* applicationName)
{
    if (!m_applicationName.empty()) {
        return false;
    }
    m_applicationName = (applicationName != nullptr && applicationName[0] != L'\0') ? applicationName
                                                                                     : kDefaultApplicationName;
    if (m_programDataFolder.empty()) {
        std::wstring folder;
        if (GetProgramDataFolder(folder) != ERROR_SUCCESS) {
            return false;
        }
        m_programDataFolder = folder;
    }
    std::wstring keyPath;
    GetKeyPath(keyPath, nullptr);
    Fundor::CRegKey applicationKey;
    if (applicationKey.Open(m_hive, keyPath.c_str(), KEY_READ) == ERROR_SUCCESS) {
        return ReadFromRegistry(m_programDataFolder, applicationKey.Handle());
    }
    return SetDefaults(m_programDataFolder);
}

DWORD ETWAppProperties::GetProgramDataFolder(std::wstring& folder)
{
    Fundor::ScopedCoTaskMemory text;
    PWSTR path = nullptr;
    const HRESULT result = ::SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_CREATE, nullptr, &path);
    text.reset(path);  // freed in every case; the shell may hand out a block even on failure
    if (FAILED(result)) {
        return ERROR_INVALID_PARAMETER;
    }
    folder = path != nullptr ? path : L"";
    return ERROR_SUCCESS;
}

bool ETWAppProperties::ReadFromRegistry(const std::wstring& programDataFolder, HKEY applicationKey)
{
    // Each key object owns a handle of its own: the caller's key is re-opened, not adopted, so
    // no handle is ever closed twice.
    Fundor::CObfuscatedRegKey application;
    if (application.Open(applicationKey, L"", KEY_READ) != ERROR_SUCCESS) {
        return false;
    }
    Fundor::CObfuscatedRegKey session;
    Fundor::CObfuscatedRegKey provider;
    Fundor::CObfuscatedRegKey controller;
    if (session.Open(application.Handle(), L"Session", KEY_READ) != ERROR_SUCCESS ||
        provider.Open(application.Handle(), L"Provider", KEY_READ) != ERROR_SUCCESS ||
        controller.Open(application.Handle(), L"Controller", KEY_READ) != ERROR_SUCCESS) {
        return false;
    }

    GetKeyPath(m_loggingKeyPath, nullptr);
    GetKeyPath(m_controllerKeyPath, L"Controller");
    GetKeyPath(m_providerKeyPath, L"Provider");
    m_fourthKeyPath = m_loggingKeyPath;

    // The stored paths are joined to the folder as they stand: they name a place below it and
    // begin with their own backslash.
    std::wstring value;
    m_logPath = programDataFolder +
                (application.QueryStringValue(L"Log Path", value) == ERROR_SUCCESS ? value : kDefaultLogFolder);
    m_etlPath = programDataFolder +
                (application.QueryStringValue(L"ETL Path", value) == ERROR_SUCCESS ? value : kDefaultEtlFolder);
    SetEtlFile();

    return controller.QueryStringValue(L"Controller Path", m_controllerPath) == ERROR_SUCCESS &&
           controller.QueryStringValue(L"Owner Mutex Name", m_ownerMutexName) == ERROR_SUCCESS &&
           session.QueryGUIDValue(L"Session ID Guid", m_sessionIdGuid) == ERROR_SUCCESS &&
           session.QueryStringValue(L"Session Name", m_sessionName) == ERROR_SUCCESS &&
           provider.QueryGUIDValue(L"Provider Guid", m_providerGuid) == ERROR_SUCCESS;
}

bool ETWAppProperties::SetDefaults(const std::wstring& programDataFolder)
{
    if (::CompareStringOrdinal(m_applicationName.c_str(), -1, kDefaultApplicationName, -1, TRUE) != CSTR_EQUAL) {
        return false;
    }
    m_loggingKeyPath = L"SOFTWARE\\Tervane\\Logging";
    m_controllerKeyPath = L"SOFTWARE\\Tervane\\Logging\\Controller";
    m_providerKeyPath = L"SOFTWARE\\Tervane\\Logging\\Provider";
    m_fourthKeyPath = m_loggingKeyPath;
    m_logPath = programDataFolder + kDefaultLogFolder;
    m_etlPath = programDataFolder + kDefaultEtlFolder;
    SetEtlFile();
    m_ownerMutexName = L"Global\\Tervane.{0696D115-BE52-46c3-BFEE-D73A305B6581}";
    m_sessionIdGuid = kDefaultSessionIdGuid;
    m_sessionName = L"Tervane.{E4367DA7-2B80-47f3-86D2-7626A18FC6F4}";
    m_providerGuid = kDefaultProviderGuid;
    return true;
}

void ETWAppProperties::GetEtlFileName(std::wstring& name)
{
    name = L"kvlogs.etl";
}

void ETWAppProperties::GetBaseKeyPath(std::wstring& path)
{
    path = L"SOFTWARE\\Tervane.logging";
}

void ETWAppProperties::GetKeyPath(std::wstring& path, const wchar_t* subKey)
{
    std::wstring base;
    GetBaseKeyPath(base);
    path = Fundor::FormatString(L"%s\\%s", base.c_str(), m_applicationName.c_str());
    if (subKey != nullptr) {
        path += Fundor::FormatString(L"\\%s", subKey);
    }
}

void ETWAppProperties::SetEtlFile()
{
    std::wstring name;
    GetEtlFileName(name);
    m_etlFile = m_etlPath + L"\\" + name;
}

}  // namespace ETWLogging::internal
