#pragma once
// Settings of the ETW provider: its control GUID, the trace session it belongs to and where its
// settings live in the registry. Read once per object from HKLM "SOFTWARE\Tervane.logging\<app>"
// (values in the enciphered form) or, for the application "Nbr" without such a key, taken from
// built-in defaults.
//
// A new object holds empty strings, zero GUIDs and the hive HKEY_LOCAL_MACHINE. Objects are
// copied whole (the configuration listener keeps its own copy). The operations may throw
// std::bad_alloc.

#include <windows.h>

#include <string>

namespace ETWLogging::internal {

// {491FB070-54CC-11E0-B8AF-0800200C9A66}
inline constexpr GUID kDefaultSessionIdGuid = {
    0x491FB070, 0x54CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
// {E16CA450-55CC-11E0-B8AF-0800200C9A66}: the control GUID the provider registers by default.
inline constexpr GUID kDefaultProviderGuid = {
    0xE16CA450, 0x55CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};

inline constexpr wchar_t kDefaultApplicationName[] = L"Nbr";

class ETWAppProperties {
public:
    ETWAppProperties() = default;
    ETWAppProperties(const ETWAppProperties&) = default;
    ETWAppProperties& operator=(const ETWAppProperties&) = default;
    virtual ~ETWAppProperties();

    // Loads once: false when an application name is set already. A null or empty name means
    // "Nbr". Fills the program-data folder when it is still empty (false when it cannot be had),
    // then reads the application key when it opens, else takes the defaults. Fields read before
    // a failing step keep their values.
    [[nodiscard]] virtual bool Load(const wchar_t* applicationName);

    // The ProgramData known folder (created when missing). 0 with the folder (empty when the
    // shell gave no text); ERROR_INVALID_PARAMETER with folder untouched when the shell call fails.
    [[nodiscard]] virtual DWORD GetProgramDataFolder(std::wstring& folder);

    // Reads the settings below the open application key. The key is only borrowed: the reader
    // opens handles of its own and never closes applicationKey. False as soon as one of the
    // subkeys "Session", "Provider", "Controller" or one of the required values cannot be read.
    [[nodiscard]] virtual bool ReadFromRegistry(const std::wstring& programDataFolder, HKEY applicationKey);

    // The built-in settings; only for the application "Nbr" (any case), else false with nothing set.
    [[nodiscard]] virtual bool SetDefaults(const std::wstring& programDataFolder);

    virtual void GetEtlFileName(std::wstring& name);      // "kvlogs.etl"
    virtual void GetBaseKeyPath(std::wstring& path);      // "SOFTWARE\Tervane.logging"
    // Base key path, "\" and the application name, then "\" and subKey when one is given.
    virtual void GetKeyPath(std::wstring& path, const wchar_t* subKey);

    // Kept by Load instead of asking the shell (used where the folder is known beforehand).
    void SetProgramDataFolder(const std::wstring& folder) { m_programDataFolder = folder; }

    [[nodiscard]] const std::wstring& ApplicationName() const { return m_applicationName; }
    [[nodiscard]] const std::wstring& ProgramDataFolder() const { return m_programDataFolder; }
    [[nodiscard]] const GUID& SessionIdGuid() const { return m_sessionIdGuid; }
    [[nodiscard]] const std::wstring& SessionName() const { return m_sessionName; }
    [[nodiscard]] const GUID& ProviderGuid() const { return m_providerGuid; }
    [[nodiscard]] const std::wstring& OwnerMutexName() const { return m_ownerMutexName; }
    [[nodiscard]] const std::wstring& LogPath() const { return m_logPath; }
    [[nodiscard]] const std::wstring& EtlPath() const { return m_etlPath; }
    [[nodiscard]] const std::wstring& EtlFile() const { return m_etlFile; }
    [[nodiscard]] const std::wstring& ControllerPath() const { return m_controllerPath; }
    [[nodiscard]] HKEY Hive() const { return m_hive; }
    [[nodiscard]] const std::wstring& LoggingKeyPath() const { return m_loggingKeyPath; }
    [[nodiscard]] const std::wstring& ControllerKeyPath() const { return m_controllerKeyPath; }
    [[nodiscard]] const std::wstring& ProviderKeyPath() const { return m_providerKeyPath; }
    [[nodiscard]] const std::wstring& FourthKeyPath() const { return m_fourthKeyPath; }

private:
    void SetEtlFile();

    std::wstring m_applicationName;
    std::wstring m_programDataFolder;
    GUID m_sessionIdGuid = {};
    std::wstring m_sessionName;
    GUID m_providerGuid = {};
    std::wstring m_ownerMutexName;
    std::wstring m_logPath;
    std::wstring m_etlPath;
    std::wstring m_etlFile;
    std::wstring m_controllerPath;
    HKEY m_hive = HKEY_LOCAL_MACHINE;
    std::wstring m_loggingKeyPath;
    std::wstring m_controllerKeyPath;
    std::wstring m_providerKeyPath;
    std::wstring m_fourthKeyPath;
};

}  // namespace ETWLogging::internal
