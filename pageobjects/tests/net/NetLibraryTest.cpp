// Construction, the library binding and its error codes, and the object's life cycle.

#include "pageobjects/tests/net/NetTestSupport.h"

#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/ProgramFolder.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

namespace {

using nettest::FakeNetBinding;
using nettest::TestSettings;

using Fundor::testing::ProgramFolder;

bool EventExists(const std::string& name)
{
    HANDLE event = ::OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
    if (event == nullptr) {
        return false;
    }
    ::CloseHandle(event);
    return true;
}

std::string ModuleFolder(const char* library)
{
    char path[MAX_PATH] = {};
    HMODULE module = ::GetModuleHandleA(library);
    if (module == nullptr || ::GetModuleFileNameA(module, path, MAX_PATH) == 0) {
        return {};
    }
    std::string folder(path);
    return nettest::Lower(folder.substr(0, folder.find_last_of('\\')));
}

TEST(KvPlatformNetConstruction, BuildingTheObjectsLoadsCreatesAndStartsNothing)
{
    // A process with only the process-wide object built.
    const std::optional<DWORD> exitCode =
        Fundor::testing::RunProgram(ProgramFolder() + L"\\kvplatformnet_probe.exe", L"", 30000);
    ASSERT_TRUE(exitCode.has_value()) << "the probe did not start or did not end";
    EXPECT_EQ(*exitCode, 0u) << "1 libraries, 2 events, 4 exit event name, 8 threads, 16 initialised";

    // An object of our own: the name is formed, and nothing is loaded by building, by destroying,
    // or by the operations that must not initialise.
    auto binding = std::make_shared<FakeNetBinding>();
    {
        KvPlatformNetSettings settings = TestSettings(binding);
        settings.exitEventPrefix = "NetExitName";
        KvPlatformNet net(settings);
        EXPECT_EQ(std::string(net.ExitEventName()), "NetExitName_" + std::to_string(::GetCurrentProcessId()));
        int state = 7;
        EXPECT_EQ(net.Uninitialize(), kNetNotInitialized);
        EXPECT_EQ(net.ProbeKeepAliveHost(&state), kNetNotInitialized);
        EXPECT_EQ(state, -1);
        EXPECT_FALSE(net.IsInitialized());
        EXPECT_FALSE(EventExists(net.ExitEventName()));
    }
    EXPECT_TRUE(binding->loadedNames.empty());
}

struct MissingCase {
    std::vector<std::string> libraries;
    std::vector<std::string> functions;
    DWORD expected;
};

TEST(KvPlatformNetBinding, EveryMissingLibraryAndFunctionHasItsCodeAndReleasesEverything)
{
    const std::vector<MissingCase> cases = {
        {{"ws2_32.dll", "wsock32.dll"}, {}, 10005},
        {{"rasapi32.dll", "rasapi.dll"}, {}, 10003},
        {{"iphlpapi.dll"}, {}, 10004},
        {{}, {"WSAStartup"}, 10009},
        {{}, {"WSACleanup"}, 10010},
        {{}, {"socket"}, 10012},
        {{}, {"closesocket"}, 10013},
        {{}, {"connect"}, 10014},
        {{}, {"sendto"}, 10019},
        {{}, {"gethostbyname"}, 10015},
        {{}, {"gethostname"}, 10016},
        {{}, {"htons"}, 10017},
        {{}, {"inet_addr"}, 10032},
        {{}, {"WSAGetLastError"}, 10018},
        {{}, {"RasEnumConnectionsA"}, 10006},
        {{}, {"RasGetConnectStatusA"}, 10007},
        {{}, {"GetIpAddrTable"}, 10008},
        // Binding order: the first missing piece decides.
        {{}, {"inet_addr", "socket"}, 10012},
        {{"iphlpapi.dll"}, {"RasGetConnectStatusA"}, 10007},
    };
    for (const MissingCase& missing : cases) {
        auto binding = nettest::MakeFakeNetwork();
        binding->missingLibraries.insert(missing.libraries.begin(), missing.libraries.end());
        binding->missingFunctions.insert(missing.functions.begin(), missing.functions.end());
        const KvPlatformNetSettings settings = TestSettings(binding);
        KvPlatformNet net(settings);
        const std::string label = missing.libraries.empty() ? missing.functions[0] : missing.libraries[0];
        EXPECT_EQ(net.Initialize(), missing.expected) << label;
        EXPECT_FALSE(net.IsInitialized()) << label;
        EXPECT_EQ(binding->outstanding, 0) << label;
        // Initialisation on first use reports the same code.
        int state = 7;
        EXPECT_EQ(net.IsConnected(0, &state), missing.expected) << label;
        EXPECT_EQ(state, -1) << label;
        EXPECT_EQ(binding->outstanding, 0) << label;
        EXPECT_FALSE(EventExists(settings.lingerEventName)) << label;
        EXPECT_FALSE(EventExists(net.ExitEventName())) << label;
    }

    // Winsock from "wsock32.dll" when "ws2_32.dll" is missing.
    auto binding = nettest::MakeFakeNetwork();
    binding->missingLibraries.insert("ws2_32.dll");
    KvPlatformNet net(TestSettings(binding));
    EXPECT_EQ(net.Initialize(), 0u);
    EXPECT_FALSE(net.WinsockFromWs2());
    EXPECT_EQ(binding->loadedNames.count("wsock32.dll"), 1u);
}

TEST(KvPlatformNetBinding, LifeCycleAndArgumentChecks)
{
    auto binding = nettest::MakeFakeNetwork();
    const KvPlatformNetSettings settings = TestSettings(binding);
    {
        KvPlatformNet net(settings);
        int state = 7;
        // The first operation initialises.
        EXPECT_EQ(net.IsConnected(2, &state), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(net.IsConnected(0, nullptr), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(net.IsRasConnected(nullptr), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(net.IsLanConnected(nullptr), ERROR_INVALID_PARAMETER);
        EXPECT_EQ(net.ProbeKeepAliveHost(nullptr), ERROR_INVALID_PARAMETER);
        EXPECT_FALSE(net.IsInitialized());
        EXPECT_EQ(net.UnregisterCallback(12345), kNetMapUnknownCookie);
        EXPECT_TRUE(net.IsInitialized());
        EXPECT_TRUE(net.WinsockFromWs2());
        EXPECT_TRUE(EventExists(settings.lingerEventName));
        EXPECT_TRUE(EventExists(net.ExitEventName()));
        EXPECT_EQ(net.Initialize(), kNetInitializedTwice);

        EXPECT_EQ(net.RegisterCallback(nullptr, nullptr, &state, nullptr), kNetNoCallback);
        EXPECT_EQ(net.RegisterNetCallback(nullptr, nullptr, &state, nullptr), kNetNoCallback);
        EXPECT_EQ(net.CallbackCount(), 0u);
        EXPECT_FALSE(net.HasWorkerThread());

        EXPECT_EQ(net.Uninitialize(), 0u);
        EXPECT_EQ(binding->outstanding, 0);
        EXPECT_FALSE(EventExists(net.ExitEventName()));
        EXPECT_EQ(net.Uninitialize(), kNetNotInitialized);
        // Everything can be set up again, the map and the worker holder included.
        EXPECT_EQ(net.Initialize(), 0u);
        EXPECT_GT(binding->outstanding, 0);
    }
    EXPECT_EQ(binding->outstanding, 0);

    EXPECT_EQ(KvPlatformNet::CreateInstance(nullptr), ERROR_INVALID_PARAMETER);
    std::unique_ptr<KvPlatformNet> created;
    EXPECT_EQ(KvPlatformNet::CreateInstance(&created, TestSettings(binding)), 0u);
    ASSERT_NE(created, nullptr);
    EXPECT_TRUE(created->IsInitialized());
}

TEST(KvPlatformNetBinding, RealLibrariesComeFromTheSystemFolderWithoutMovingTheCurrentFolder)
{
    Fundor::testing::ScratchFolder scratch;
    ASSERT_TRUE(::SetCurrentDirectoryW(scratch.Path().c_str()));
    KvPlatformNet net(TestSettings(nullptr));
    ASSERT_EQ(net.Initialize(), 0u);

    wchar_t current[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, current);
    EXPECT_EQ(std::wstring(current), scratch.Path());
    char system[MAX_PATH] = {};
    ::GetSystemDirectoryA(system, MAX_PATH);
    for (const char* library : {"ws2_32.dll", "rasapi32.dll", "iphlpapi.dll", "wininet.dll"}) {
        EXPECT_EQ(ModuleFolder(library), nettest::Lower(system)) << library;
    }
    EXPECT_TRUE(net.WinsockFromWs2());

    // Wine's RAS answers the size probe with success: no connections.
    int ras = 7;
    EXPECT_EQ(net.IsRasConnected(&ras), 0u);
    EXPECT_EQ(ras, 0);
    int lan = 7;
    EXPECT_EQ(net.IsLanConnected(&lan), 0u);
    EXPECT_TRUE(lan == 0 || lan == 1) << lan;
    int quick = 7;
    EXPECT_EQ(net.IsConnected(0, &quick), 0u);
    EXPECT_EQ(quick, lan);
    EXPECT_EQ(net.GetConnectionType(), lan == 1 ? 3 : 1);
    ::SetCurrentDirectoryW(ProgramFolder().c_str());
    EXPECT_EQ(net.Uninitialize(), 0u);
}

}  // namespace
