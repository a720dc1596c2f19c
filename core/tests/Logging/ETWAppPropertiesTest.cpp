#include "core/Logging/CETWConfigurationListener.h"
#include "core/Logging/CETWLogging.h"
#include "core/Logging/ETWAppProperties.h"
#include "core/registry/CObfuscatedRegKey.h"
#include "core/tests/Logging/FakeEtwTraceApi.h"
#include "core/tests/registry/RegistryTestSupport.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <memory>
#include <string>

namespace ETWLogging::internal {
namespace {

constexpr wchar_t kApplicationKey[] = L"SOFTWARE\\Tervane.logging\\Nbr";
// {0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}
constexpr GUID kProviderGuid = {0x0A1B2C3D, 0x4E5F, 0x6071, {0x82, 0x93, 0xA4, 0xB5, 0xC6, 0xD7, 0xE8, 0xF9}};
// {11223344-5566-7788-99AA-BBCCDDEEFF00}
constexpr GUID kSessionGuid = {0x11223344, 0x5566, 0x7788, {0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0x00}};

class ETWAppPropertiesTest : public Fundor::testing::RegistryIsolatedTest {
protected:
    // The application key with its three subkeys and every value, all enciphered; leave names
    // out to see them missing.
    void WriteApplicationKey(std::initializer_list<const wchar_t*> omit = {})
    {
        auto omitted = [&](const wchar_t* name) {
            for (const wchar_t* other : omit) {
                if (std::wstring(other) == name) return true;
            }
            return false;
        };
        const std::wstring root = kApplicationKey;
        Fundor::CObfuscatedRegKey application;
        ASSERT_EQ(0, application.Create(HKEY_LOCAL_MACHINE, root.c_str()));
        if (!omitted(L"Log Path")) {
            ASSERT_EQ(0, application.SetStringValue(L"Log Path", L"\\Logs\\Here"));
        }
        if (!omitted(L"ETL Path")) {
            ASSERT_EQ(0, application.SetStringValue(L"ETL Path", L"\\Traces"));
        }
        if (!omitted(L"Controller")) {
            Fundor::CObfuscatedRegKey controller;
            ASSERT_EQ(0, controller.Create(HKEY_LOCAL_MACHINE, (root + L"\\Controller").c_str()));
            ASSERT_EQ(0, controller.SetStringValue(L"Controller Path", L"C:\\Suite\\ctl.exe"));
            ASSERT_EQ(0, controller.SetStringValue(L"Owner Mutex Name", L"Global\\Owner"));
        }
        Fundor::CObfuscatedRegKey session;
        ASSERT_EQ(0, session.Create(HKEY_LOCAL_MACHINE, (root + L"\\Session").c_str()));
        ASSERT_EQ(0, session.SetGUIDValue(L"Session ID Guid", kSessionGuid));
        if (!omitted(L"Session Name")) {
            ASSERT_EQ(0, session.SetStringValue(L"Session Name", L"Suite Session"));
        }
        Fundor::CObfuscatedRegKey provider;
        ASSERT_EQ(0, provider.Create(HKEY_LOCAL_MACHINE, (root + L"\\Provider").c_str()));
        ASSERT_EQ(0, provider.SetGUIDValue(L"Provider Guid", kProviderGuid));
    }
};

std::wstring ShellProgramData()
{
    PWSTR path = nullptr;
    std::wstring folder;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path))) folder = path;
    ::CoTaskMemFree(path);
    return folder;
}

TEST_F(ETWAppPropertiesTest, DefaultsWithoutAnApplicationKey)
{
    ETWAppProperties properties;
    EXPECT_EQ(HKEY_LOCAL_MACHINE, properties.Hive());
    ASSERT_TRUE(properties.Load(nullptr));
    const std::wstring folder = ShellProgramData();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(L"Nbr", properties.ApplicationName());
    EXPECT_EQ(folder, properties.ProgramDataFolder());
    EXPECT_EQ(L"SOFTWARE\\Tervane\\Logging", properties.LoggingKeyPath());
    EXPECT_EQ(L"SOFTWARE\\Tervane\\Logging\\Controller", properties.ControllerKeyPath());
    EXPECT_EQ(L"SOFTWARE\\Tervane\\Logging\\Provider", properties.ProviderKeyPath());
    EXPECT_EQ(L"SOFTWARE\\Tervane\\Logging", properties.FourthKeyPath());
    EXPECT_EQ(folder + L"\\Tervane\\KVLOGS", properties.LogPath());
    EXPECT_EQ(folder + L"\\Tervane\\KVLOGS\\ETW", properties.EtlPath());
    EXPECT_EQ(folder + L"\\Tervane\\KVLOGS\\ETW\\kvlogs.etl", properties.EtlFile());
    EXPECT_EQ(L"Global\\Tervane.{0696D115-BE52-46c3-BFEE-D73A305B6581}", properties.OwnerMutexName());
    EXPECT_EQ(L"Tervane.{E4367DA7-2B80-47f3-86D2-7626A18FC6F4}", properties.SessionName());
    wchar_t text[40] = {};
    ASSERT_GT(::StringFromGUID2(properties.SessionIdGuid(), text, 40), 0);
    EXPECT_STREQ(L"{491FB070-54CC-11E0-B8AF-0800200C9A66}", text);
    ASSERT_GT(::StringFromGUID2(properties.ProviderGuid(), text, 40), 0);
    EXPECT_STREQ(L"{E16CA450-55CC-11E0-B8AF-0800200C9A66}", text);
    EXPECT_EQ(L"", properties.ControllerPath());
    EXPECT_FALSE(properties.Load(nullptr));  // once only

    ETWAppProperties lowerCase;
    lowerCase.SetProgramDataFolder(L"D:\\Data");
    EXPECT_TRUE(lowerCase.Load(L"nbr"));
    EXPECT_EQ(L"D:\\Data\\Tervane\\KVLOGS", lowerCase.LogPath());
    ETWAppProperties other;
    EXPECT_FALSE(other.Load(L"Other"));
    EXPECT_EQ(L"", other.ProviderKeyPath());

    // The listener's copy names the settings key.
    CETWConfigurationListener listener(properties, nullptr);
    HKEY hive = nullptr;
    std::wstring path;
    listener.GetSettingsKey(hive, path);
    EXPECT_EQ(HKEY_LOCAL_MACHINE, hive);
    EXPECT_EQ(L"SOFTWARE\\Tervane\\Logging\\Provider", path);
}

TEST_F(ETWAppPropertiesTest, ReadsTheApplicationKey)
{
    WriteApplicationKey();
    ETWAppProperties properties;
    properties.SetProgramDataFolder(L"C:\\PD");
    ASSERT_TRUE(properties.Load(nullptr));
    EXPECT_EQ(L"SOFTWARE\\Tervane.logging\\Nbr", properties.LoggingKeyPath());
    EXPECT_EQ(L"SOFTWARE\\Tervane.logging\\Nbr\\Controller", properties.ControllerKeyPath());
    EXPECT_EQ(L"SOFTWARE\\Tervane.logging\\Nbr\\Provider", properties.ProviderKeyPath());
    EXPECT_EQ(L"SOFTWARE\\Tervane.logging\\Nbr", properties.FourthKeyPath());
    EXPECT_EQ(L"C:\\PD\\Logs\\Here", properties.LogPath());
    EXPECT_EQ(L"C:\\PD\\Traces", properties.EtlPath());
    EXPECT_EQ(L"C:\\PD\\Traces\\kvlogs.etl", properties.EtlFile());
    EXPECT_EQ(L"C:\\Suite\\ctl.exe", properties.ControllerPath());
    EXPECT_EQ(L"Global\\Owner", properties.OwnerMutexName());
    EXPECT_EQ(L"Suite Session", properties.SessionName());
    EXPECT_TRUE(::IsEqualGUID(kSessionGuid, properties.SessionIdGuid()));
    EXPECT_TRUE(::IsEqualGUID(kProviderGuid, properties.ProviderGuid()));

    // The provider registers that GUID, and the listener reads below the application key.
    auto api = std::make_shared<testing::FakeEtwTraceApi>();
    CETWLogging logger(api);
    ASSERT_EQ(0u, logger.InitializeEx(nullptr, L"g", nullptr, L"h", nullptr));
    ASSERT_EQ(0u, logger.EnsureReady(kLevelInformation, nullptr, nullptr));
    ASSERT_EQ(1u, api->Registrations().size());
    EXPECT_TRUE(::IsEqualGUID(kProviderGuid, api->Registrations()[0].controlGuid));
    CETWConfigurationListener listener(logger.Properties(), nullptr);
    HKEY hive = nullptr;
    std::wstring path;
    listener.GetSettingsKey(hive, path);
    EXPECT_EQ(L"SOFTWARE\\Tervane.logging\\Nbr\\Provider", path);
}

TEST_F(ETWAppPropertiesTest, StoredPathsAreJoinedAsTheyStandAndMayBeMissing)
{
    WriteApplicationKey({L"Log Path", L"ETL Path"});
    {
        Fundor::CObfuscatedRegKey application;
        ASSERT_EQ(0, application.Open(HKEY_LOCAL_MACHINE, kApplicationKey, KEY_ALL_ACCESS));
        ASSERT_EQ(0, application.SetStringValue(L"Log Path", L"Logs"));
    }
    ETWAppProperties properties;
    properties.SetProgramDataFolder(L"C:\\PD");
    ASSERT_TRUE(properties.Load(L"Nbr"));
    EXPECT_EQ(L"C:\\PDLogs", properties.LogPath());
    EXPECT_EQ(L"C:\\PD\\Tervane\\KVLOGS\\ETW", properties.EtlPath());
    EXPECT_EQ(L"C:\\PD\\Tervane\\KVLOGS\\ETW\\kvlogs.etl", properties.EtlFile());
}

TEST_F(ETWAppPropertiesTest, MissingControllerKeyOrSessionNameFails)
{
    for (const wchar_t* missing : {L"Controller", L"Session Name"}) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(missing)));
        (void)::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane.logging");
        ASSERT_FALSE(Fundor::testing::KeyExists(HKEY_LOCAL_MACHINE, kApplicationKey));
        WriteApplicationKey({missing});
        ETWAppProperties properties;
        properties.SetProgramDataFolder(L"C:\\PD");
        EXPECT_FALSE(properties.Load(nullptr));
        EXPECT_FALSE(properties.Load(nullptr));
        auto api = std::make_shared<testing::FakeEtwTraceApi>();
        CETWLogging logger(api);
        EXPECT_EQ(87u, logger.InitializeEx(nullptr, L"g", nullptr, L"h", nullptr));
        if (std::wstring(missing) == L"Session Name") {
            // Values read before the failing step stay.
            EXPECT_EQ(L"C:\\Suite\\ctl.exe", properties.ControllerPath());
            EXPECT_EQ(L"C:\\PD\\Logs\\Here", properties.LogPath());
        }
    }
}

TEST_F(ETWAppPropertiesTest, TheCallersApplicationKeyStaysOpen)
{
    WriteApplicationKey();
    Fundor::ScopedRegKey key;
    ASSERT_EQ(0, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApplicationKey, 0, KEY_READ, key.put()));
    for (int i = 0; i < 2; ++i) {
        ETWAppProperties properties;
        (void)properties.Load(L"Nbr");  // sets the name so that the key paths can be built
        EXPECT_TRUE(properties.ReadFromRegistry(L"C:\\PD", key.get()));
    }
    // Had a reader adopted the handle, it would be closed (or reused) by now.
    DWORD subKeys = 0;
    ASSERT_EQ(0, ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(3u, subKeys);
}

}  // namespace
}  // namespace ETWLogging::internal
