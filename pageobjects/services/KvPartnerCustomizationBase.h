#pragma once
// Partner customization: builds the override hives from the registry (HKLM, 64-bit view) and
// records a resource-DLL name per hive. The hives, lowest priority first:
//   the base settings "SOFTWARE\Tervane\QRN\Settings" (priority 0);
//   the active package: the base path with the package number appended (priority 1), when present;
//   one per subkey of "Software\Tervane\QRN\plugins\" and of "...\overrides\", whose "priority"
//   value gives the priority and whose "Settings\" subkey is the hive.
// Callers build one object on their stack per request: Initialize, then Override().OpenKey /
// ReadValue, then CloseKeys or destruction.

#include "pageobjects/services/KvRegistryOverride.h"
#include "pageobjects/services/KvResDllCache.h"

#include <windows.h>

#include <string>

class KvPartnerCustomizationBase {
public:
    KvPartnerCustomizationBase();
    virtual ~KvPartnerCustomizationBase();
    KvPartnerCustomizationBase(const KvPartnerCustomizationBase&) = delete;
    KvPartnerCustomizationBase& operator=(const KvPartnerCustomizationBase&) = delete;

    // Rebuilds the hive set from scratch. basePath null selects "SOFTWARE\Tervane\QRN\Settings";
    // a given path gets "\Settings" appended unless it ends in "Settings" (any case), and its
    // "plugins\" and "overrides\" are looked for beside that. Registry trouble is logged and the
    // hive concerned skipped; S_OK unless a hive could not be added (that HRESULT).
    [[nodiscard]] HRESULT Initialize(const wchar_t* basePath) noexcept;

    [[nodiscard]] KvRegistryOverride& Override() { return m_override; }
    [[nodiscard]] const KvResDllCache& ResDlls() const { return m_resDlls; }

private:
    // Holds the object's lock for a scope.
    class Lock {
    public:
        explicit Lock(CRITICAL_SECTION& section) : m_section(section) { EnterCriticalSection(&m_section); }
        ~Lock() { LeaveCriticalSection(&m_section); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        CRITICAL_SECTION& m_section;
    };
    enum class Pass { Plugins, Overrides };

    [[nodiscard]] HRESULT AddSubkeyHives(Pass pass, const std::wstring& rootPath, const std::wstring& defaultDll);

    KvRegistryOverride m_override;
    CRITICAL_SECTION m_lock;
    KvResDllCache m_resDlls;
};
