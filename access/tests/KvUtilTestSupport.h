#pragma once
// Shared by the utility-library tests that load the signed stand-ins for real. Those need the
// prefix's real HKLM (Wine's crypto breaks with HKLM redirected), so they take the Halvorn turn
// (TrustTestSupport.h) and, for its length, own the values the binding reads: HKLM
// "SOFTWARE\Tervane\Platform" "kvutil64_install_dir" and "SOFTWARE\Tervane\QRN"
// "CommonFiles Dir" (64-bit view; saved, removed, and put back afterwards), and the updater's
// CLSID registration (removed before and after).

#include "access/CKvUtilLib.h"
#include "access/InstallFolders.h"
#include "access/KvUpdateLauncher.h"
#include "access/tests/TrustTestSupport.h"
#include "core/testsupport/RegistryIsolation.h"
#include "standins/KvUtil/KvUtilStandIn.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace KvUtilTesting {

// Signed stand-ins made by the build beside the test program.
inline std::wstring SignedKvUtilFolder() { return TrustTesting::ProgramFolder() + L"\\kvutil"; }
inline std::wstring SignedKvUtilWithoutIsNTAdminFolder()
{
    return TrustTesting::ProgramFolder() + L"\\kvutil-without-isntadmin";
}
inline std::wstring SignedKvUpdateFolder() { return TrustTesting::ProgramFolder() + L"\\kvupdate"; }
// The updater stand-in as built, unsigned: also the recorder that tests start where nothing may
// start.
inline std::wstring UnsignedKvUpdate()
{
    wchar_t full[MAX_PATH] = {};
    const std::wstring built = TrustTesting::ProgramFolder() + L"\\..\\standins-unsigned\\kvupdate\\KvUpdate.exe";
    return GetFullPathNameW(built.c_str(), MAX_PATH, full, nullptr) != 0 ? std::wstring(full) : built;
}

inline std::wstring ModulePath(HMODULE module)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, length);
}

inline std::wstring ReadWholeFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::wstring text(GetFileSize(file, nullptr) / sizeof(wchar_t), L'\0');
    DWORD read = 0;
    if (!text.empty()) ReadFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &read, nullptr);
    CloseHandle(file);
    text.resize(read / sizeof(wchar_t));
    return text;
}

// One HKLM value in the 64-bit view, removed for the test and put back as it was afterwards.
class SavedMachineValue {
public:
    SavedMachineValue(const wchar_t* subkey, const wchar_t* name) : m_subkey(subkey), m_name(name)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
            DWORD size = 0;
            if (RegQueryValueExW(key, name, nullptr, &m_type, nullptr, &size) == ERROR_SUCCESS) {
                std::vector<BYTE> data(size);
                if (RegQueryValueExW(key, name, nullptr, &m_type, data.data(), &size) == ERROR_SUCCESS) {
                    data.resize(size);
                    m_saved = std::move(data);
                }
            }
            RegCloseKey(key);
        }
        Remove();
    }
    ~SavedMachineValue()
    {
        Remove();
        if (!m_saved) return;
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_subkey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                            &key, nullptr) == ERROR_SUCCESS) {
            RegSetValueExW(key, m_name, 0, m_type, m_saved->data(), static_cast<DWORD>(m_saved->size()));
            RegCloseKey(key);
        }
    }
    SavedMachineValue(const SavedMachineValue&) = delete;
    SavedMachineValue& operator=(const SavedMachineValue&) = delete;

    void Set(const std::wstring& text)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, m_subkey, 0, nullptr, 0,
                                                 KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr));
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, m_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
        RegCloseKey(key);
    }
    // The value as text; nullopt when there is none (or it is not REG_SZ).
    [[nodiscard]] std::optional<std::wstring> Get() const
    {
        wchar_t text[1024] = {};
        DWORD size = sizeof(text);
        if (RegGetValueW(HKEY_LOCAL_MACHINE, m_subkey, m_name, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, text,
                         &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        return std::wstring(text);
    }
    void Remove()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, m_subkey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, m_name);
            RegCloseKey(key);
        }
    }

private:
    const wchar_t* m_subkey;
    const wchar_t* m_name;
    DWORD m_type = REG_NONE;
    std::optional<std::vector<BYTE>> m_saved;
};

// Fixture of the real-registry tests: the Halvorn turn with the signed validation service
// installed, and the binding's own values cleared.
class RealKvUtilBinding : public ::testing::Test {
protected:
    static constexpr const wchar_t* kHalvornKey = L"Software\\Tervane\\Halvorn";

    void SetUp() override
    {
        ASSERT_TRUE(m_turn.owned());
        RemoveUpdaterRegistration();
        SetEnvironmentVariableW(kKvUtilStandInAdminVariable, nullptr);
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kHalvornKey, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr));
        const std::wstring folder = TrustTesting::ProgramFolder() + L"\\halvorn";
        const std::wstring version = L"15.9";
        RegSetValueExW(key, L"szInstallDir64", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                       static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
        RegSetValueExW(key, L"halvorn_version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version.c_str()),
                       static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
        // The common-files places point at an empty folder unless a test fills it.
        m_commonFilesDir.Set(m_commonFiles.Path());
    }
    void TearDown() override
    {
        RemoveUpdaterRegistration();
        SetEnvironmentVariableW(kKvUtilStandInAdminVariable, nullptr);
        SetEnvironmentVariableW(L"ORDWELL_KVUPDATE_LOG", nullptr);
    }

    // The validation service vouches for exactly these files.
    void Trust(const std::vector<std::wstring>& paths)
    {
        std::wstring list;
        for (const std::wstring& path : paths) list += path + L'\0';
        list += L'\0';
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHalvornKey, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, &key));
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"trusted_paths", 0, REG_MULTI_SZ,
                                                reinterpret_cast<const BYTE*>(list.data()),
                                                static_cast<DWORD>(list.size() * sizeof(wchar_t))));
        RegCloseKey(key);
    }

    void RegisterUpdaterServer(const std::wstring& path)
    {
        HKEY key = nullptr;
        const std::wstring subkey = UpdaterClassKey() + L"\\LocalServer32";
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr));
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                                                static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))));
        RegCloseKey(key);
    }

    static std::wstring UpdaterClassKey() { return std::wstring(L"Software\\Classes\\CLSID\\") + kUpdaterServerClsid; }
    static void RemoveUpdaterRegistration()
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, UpdaterClassKey().c_str());
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, UpdaterClassKey().c_str(), KEY_WOW64_64KEY, 0);
    }

    TrustTesting::HalvornKeyTurn m_turn;
    SavedMachineValue m_installDir{kPlatformKey, kKvUtilInstallDirValue};
    SavedMachineValue m_commonFilesDir{kProductKey, kCommonFilesDirValue};
    Fundor::testing::ScratchFolder m_commonFiles;
};

}  // namespace KvUtilTesting
