#include "pageobjects/services/KvPartnerCustomizationBase.h"

#include "core/Logging/Logging.h"
#include "core/base/ScopedResource.h"
#include "pageobjects/services/GetActivePackageId.h"

#include <cwchar>
#include <cwctype>
#include <string>

namespace {

constexpr wchar_t kSource[] = L"KvPartnerCustomizationCommon";
constexpr wchar_t kFunction[] = L"KvPartnerCustomizationBase::Initialize";
constexpr wchar_t kDefaultBasePath[] = L"SOFTWARE\\Tervane\\QRN\\Settings";
constexpr REGSAM kQueryValue64 = KEY_QUERY_VALUE | KEY_WOW64_64KEY;          // 0x101
constexpr REGSAM kEnumerate64 = KEY_ENUMERATE_SUB_KEYS | KEY_WOW64_64KEY;    // 0x108
constexpr REGSAM kRead64 = KEY_READ | KEY_WOW64_64KEY;                       // 0x20119
constexpr DWORD kResDllBytes = 260;

bool EndsWithNoCase(const std::wstring& text, const wchar_t* tail)
{
    const std::size_t length = wcslen(tail);
    return text.size() >= length && _wcsicmp(text.c_str() + text.size() - length, tail) == 0;
}

void DropOneTrailingBackslash(std::wstring& text)
{
    if (!text.empty() && text.back() == L'\\') text.pop_back();
}

// "ResDll" of an open key: at most 260 bytes, zero-filled and always terminated (a value stored
// without its terminator would otherwise run into whatever followed it).
LONG ReadResDll(HKEY key, std::wstring& name)
{
    wchar_t text[kResDllBytes / sizeof(wchar_t) + 1] = {};
    DWORD size = kResDllBytes;
    const LONG status = RegQueryValueExW(key, L"ResDll", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    if (status != ERROR_SUCCESS) return status;
    constexpr DWORD kLast = kResDllBytes / sizeof(wchar_t);
    const DWORD characters = size / sizeof(wchar_t);
    text[characters < kLast ? characters : kLast] = L'\0';
    name = text;
    return ERROR_SUCCESS;
}

}  // namespace

KvPartnerCustomizationBase::KvPartnerCustomizationBase()
{
    InitializeCriticalSection(&m_lock);
}

KvPartnerCustomizationBase::~KvPartnerCustomizationBase()
{
    DeleteCriticalSection(&m_lock);
}

HRESULT KvPartnerCustomizationBase::Initialize(const wchar_t* basePath) noexcept
{
    Lock hold(m_lock);
    try {
        m_override.CloseKeys();
        m_override.Clear();
        m_resDlls.Clear();
        const DWORD packageId = GetActivePackageId();

        std::wstring base = kDefaultBasePath;
        if (basePath != nullptr) {
            base = basePath;
            DropOneTrailingBackslash(base);
            if (!EndsWithNoCase(base, L"Settings")) base += L"\\Settings";
        }

        HRESULT added = m_override.AddHive(HKEY_LOCAL_MACHINE, base, 0, 1);
        if (SUCCEEDED(added) && packageId != 0) {
            const std::wstring packagePath = base + std::to_wstring(packageId);
            Fundor::ScopedRegKey package;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, packagePath.c_str(), 0, kRead64, package.put()) == ERROR_SUCCESS)
                added = m_override.AddHive(HKEY_LOCAL_MACHINE, packagePath, 1, 1);
        }
        if (FAILED(added)) {
            ETWLOG(ETWLogging::kLevelError, kSource, kFunction, L"Couldn't add hive (%ld)", added);
            return added;
        }

        // The default resource DLL, given to overrides that name none of their own.
        std::wstring defaultDll;
        {
            Fundor::ScopedRegKey general;
            LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, (base + L"\\generalSettings").c_str(), 0, kQueryValue64,
                                        general.put());
            if (opened != ERROR_SUCCESS)
                opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN\\Settings\\generalSettings", 0,
                                       kQueryValue64, general.put());
            if (opened != ERROR_SUCCESS)
                ETWLOG(ETWLogging::kLevelError, kSource, kFunction, L"Couldn't open key '%s' (%ld) - continuing",
                       L"Software\\Tervane\\QRN\\Settings\\generalSettings\\", opened);
            std::wstring name;
            const LONG read = general ? ReadResDll(general.get(), name) : opened;
            if (read != ERROR_SUCCESS) {
                ETWLOG(ETWLogging::kLevelError, kSource, kFunction, L"Couldn't read value '%s' (%ld) - continuing",
                       L"ResDll", read);
            } else {
                (void)m_resDlls.SetDll(KvHive(HKEY_LOCAL_MACHINE, basePath != nullptr ? basePath : kDefaultBasePath),
                                       name);
                defaultDll = name;
            }
        }

        // Plugins and overrides live beside the settings key of a given base path.
        std::wstring plugins = L"Software\\Tervane\\QRN\\plugins\\";
        std::wstring overrides = L"Software\\Tervane\\QRN\\overrides\\";
        if (basePath != nullptr) {
            std::wstring parent = basePath;
            DropOneTrailingBackslash(parent);
            if (EndsWithNoCase(parent, L"Settings")) parent.resize(parent.size() - 8);
            if (parent.empty() || parent.back() != L'\\') parent += L'\\';
            plugins = parent + L"plugins\\";
            overrides = parent + L"overrides\\";
        }
        const HRESULT pluginsAdded = AddSubkeyHives(Pass::Plugins, plugins, defaultDll);
        if (FAILED(pluginsAdded)) return pluginsAdded;
        return AddSubkeyHives(Pass::Overrides, overrides, defaultDll);
    } catch (...) {
        ETWLOG(ETWLogging::kLevelError, kSource, kFunction, L"Couldn't add hive (%ld)", E_OUTOFMEMORY);
        return E_OUTOFMEMORY;
    }
}

HRESULT KvPartnerCustomizationBase::AddSubkeyHives(Pass pass, const std::wstring& rootPath,
                                                   const std::wstring& defaultDll)
{
    const bool overridesPass = pass == Pass::Overrides;
    Fundor::ScopedRegKey root;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, rootPath.c_str(), 0, kEnumerate64, root.put()) != ERROR_SUCCESS) return S_OK;

    for (DWORD index = 0;; ++index) {
        wchar_t name[261] = {};
        DWORD nameLength = 261;  // characters, reset for every index
        if (RegEnumKeyExW(root.get(), index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const std::wstring keyPath = rootPath + name + L"\\";

        DWORD priority = 0;  // zeroed: a shorter value fills only its own bytes
        {
            Fundor::ScopedRegKey subkey;
            const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, kQueryValue64, subkey.put());
            if (opened != ERROR_SUCCESS) {
                ETWLOG(ETWLogging::kLevelError, kSource, kFunction,
                       overridesPass ? L"Couldn't open key '%s' (%ld)" : L"Couldn't open key '%s' (%ld) - skipping",
                       keyPath, opened);
                continue;
            }
            // Read whatever its type: a REG_SZ "5" gives 0x35, as stored data always has.
            DWORD size = sizeof(priority);
            const LONG read = RegQueryValueExW(subkey.get(), L"priority", nullptr, nullptr,
                                               reinterpret_cast<BYTE*>(&priority), &size);
            if (read != ERROR_SUCCESS) {
                if (overridesPass)
                    ETWLOG(ETWLogging::kLevelNormal, kSource, kFunction, L"Couldn't query value '%s' (%ld)",
                           L"priority", read);
                else
                    ETWLOG(ETWLogging::kLevelError, kSource, kFunction, L"Couldn't get value '%s' (%ld) - skipping",
                           L"priority", read);
                continue;
            }
        }

        const std::wstring hivePath = keyPath + L"Settings\\";
        const HRESULT added = m_override.AddHive(HKEY_LOCAL_MACHINE, hivePath, priority, 1);
        if (FAILED(added)) {
            ETWLOG(ETWLogging::kLevelError, kSource, kFunction, L"Couldn't add hive '%s' (%ld)", hivePath, added);
            return added;
        }
        const KvHive hive(HKEY_LOCAL_MACHINE, hivePath);

        const std::wstring generalPath = hivePath + L"generalSettings\\";
        Fundor::ScopedRegKey general;
        const LONG opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, generalPath.c_str(), 0, kQueryValue64, general.put());
        std::wstring dll;
        const LONG read = opened == ERROR_SUCCESS ? ReadResDll(general.get(), dll) : opened;
        if (!overridesPass) {
            if (opened != ERROR_SUCCESS) {
                ETWLOG(ETWLogging::kLevelError, kSource, kFunction, L"Couldn't open key '%s' (%ld)", generalPath,
                       opened);
            } else if (read != ERROR_SUCCESS) {
                ETWLOG(ETWLogging::kLevelError, kSource, kFunction, L"Couldn't query value '%s' (%ld)", L"ResDll",
                       read);
            } else {
                (void)m_resDlls.SetDll(hive, dll);
            }
        } else if (read != ERROR_SUCCESS) {
            ETWLOG(ETWLogging::kLevelWarning, kSource, kFunction, L"Couldn't get DLL for hive '%s' using default '%s'",
                   hivePath, defaultDll);
            (void)m_resDlls.SetDll(hive, defaultDll);
        } else {
            (void)m_resDlls.SetDll(hive, dll);
        }
    }
    return S_OK;
}
