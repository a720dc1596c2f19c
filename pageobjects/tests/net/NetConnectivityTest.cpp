// The connectivity answers: RAS, LAN, and through to the internet (keep-alive server, proxies,
// automatic configuration), and the "AssumeConnected" setting.

#include "pageobjects/tests/net/NetTestSupport.h"

#include "core/registry/ObfuscatedRegistry.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

namespace {

using nettest::Address;
using nettest::Fake;
using nettest::NetTest;
using nettest::Table;
using nettest::TestSettings;

constexpr wchar_t kWinHttp[] = L"SOFTWARE\\Tervane\\QRN\\Update\\WinHTTP";

void SetString(HKEY root, const wchar_t* key, const wchar_t* name, const std::wstring& value)
{
    ASSERT_EQ(Fundor::ObfuscatedRegSetValue(root, key, name, REG_SZ, value.c_str(),
                                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)), 0),
              0);
}

void SetEncipheredDword(const wchar_t* key, const wchar_t* name, DWORD value)
{
    ASSERT_EQ(Fundor::ObfuscatedRegSetValue(HKEY_LOCAL_MACHINE, key, name, REG_DWORD, &value, sizeof(value), 1), 0);
}

TEST_F(NetTest, LanFromTheAddressTable)
{
    KvPlatformNet net(TestSettings(nettest::MakeFakeNetwork()));
    int state = 7;
    // Only 127.0.0.1 and 0.0.0.0: no LAN, and the internet test stops there.
    Fake().table = Table::LoopbackOnly;
    EXPECT_EQ(net.IsLanConnected(&state), 0u);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(net.IsConnected(0, &state), 0u);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(net.IsConnected(1, &state), 0u);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(Fake().connectCalls, 0);
    EXPECT_EQ(net.GetConnectionType(), 1);

    Fake().table = Table::Lan;
    EXPECT_EQ(net.IsLanConnected(&state), 0u);
    EXPECT_EQ(state, 1);
    EXPECT_EQ(net.GetConnectionType(), 3);

    Fake().table = Table::Fails;
    EXPECT_EQ(net.IsLanConnected(&state), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(state, -1);
    EXPECT_EQ(net.IsConnected(1, &state), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(state, -1);

}

// Dial-up connections as the platform hands them out: records of 416 bytes packed to 4 bytes, the
// size at 0, the connection handle at 4, the entry name at 12, the device type at 269 and the
// device name at 286; status records of 160 bytes with the state at 4.
struct FakeDialUp {
    ULONG_PTR handle;
    bool connected;
};

struct FakeRas {
    std::mutex mutex;
    std::vector<FakeDialUp> connections;
    std::vector<ULONG_PTR> statusAsked;  // the handles that reached RasGetConnectStatusA
};

FakeRas& Ras()
{
    static FakeRas ras;
    return ras;
}

constexpr DWORD kRasRecord = 416;
constexpr DWORD kRasStatusRecord = 160;
constexpr DWORD kRasBufferTooSmall = 603;
constexpr DWORD kRasInvalidSize = 632;

DWORD WINAPI FakeRasEnumConnections(void* buffer, DWORD* bytes, DWORD* count)
{
    std::lock_guard<std::mutex> lock(Ras().mutex);
    const auto& connections = Ras().connections;
    const DWORD needed = static_cast<DWORD>(connections.size()) * kRasRecord;
    if (buffer == nullptr || *bytes < needed) {
        *bytes = needed;
        *count = static_cast<DWORD>(connections.size());
        return connections.empty() ? ERROR_SUCCESS : kRasBufferTooSmall;
    }
    DWORD firstSize = 0;
    std::memcpy(&firstSize, buffer, sizeof(firstSize));
    if (firstSize != kRasRecord) {
        return kRasInvalidSize;
    }
    auto* records = static_cast<BYTE*>(buffer);
    for (size_t i = 0; i < connections.size(); ++i) {
        BYTE* record = records + i * kRasRecord;
        std::memset(record, 0, kRasRecord);
        std::memcpy(record, &kRasRecord, sizeof(kRasRecord));
        std::memcpy(record + 4, &connections[i].handle, sizeof(ULONG_PTR));
        std::snprintf(reinterpret_cast<char*>(record + 12), 257, "Office dial-up %zu", i);
        std::snprintf(reinterpret_cast<char*>(record + 269), 17, "modem");
        std::snprintf(reinterpret_cast<char*>(record + 286), 129, "Standard 56000 bps Modem");
    }
    *bytes = needed;
    *count = static_cast<DWORD>(connections.size());
    return ERROR_SUCCESS;
}

DWORD WINAPI FakeRasGetConnectStatus(HANDLE connection, void* status)
{
    std::lock_guard<std::mutex> lock(Ras().mutex);
    const auto handle = reinterpret_cast<ULONG_PTR>(connection);
    Ras().statusAsked.push_back(handle);
    DWORD size = 0;
    std::memcpy(&size, status, sizeof(size));
    if (size != kRasStatusRecord) {
        return kRasInvalidSize;
    }
    for (const FakeDialUp& dialUp : Ras().connections) {
        if (dialUp.handle == handle) {
            const DWORD state = dialUp.connected ? 0x2000 : 0x2001;  // connected, disconnected
            std::memcpy(static_cast<BYTE*>(status) + 4, &state, sizeof(state));
            return ERROR_SUCCESS;
        }
    }
    return ERROR_INVALID_HANDLE;
}

TEST_F(NetTest, DialUpConnectionsAreReadAsThePlatformLaysThemOut)
{
    constexpr ULONG_PTR kWide = 0x7FF6A1B2C3D4E5F6;
    constexpr ULONG_PTR kSmall = 0x1A4;
    struct Case {
        const char* label;
        std::vector<FakeDialUp> connections;
        int state;
        std::vector<ULONG_PTR> asked;
    };
    const std::vector<Case> cases = {
        {"none", {}, 0, {}},
        {"one, connected", {{kWide, true}}, 1, {kWide}},
        {"a small handle, connected", {{kSmall, true}}, 1, {kSmall}},
        {"the second connected", {{kSmall, false}, {kWide, true}}, 1, {kSmall, kWide}},
        {"two, neither connected", {{kWide, false}, {kSmall, false}}, 0, {kWide, kSmall}},
    };
    auto binding = nettest::MakeFakeNetwork();
    binding->Override("RasEnumConnectionsA", &FakeRasEnumConnections);
    binding->Override("RasGetConnectStatusA", &FakeRasGetConnectStatus);
    KvPlatformNet net(TestSettings(binding));
    Fake().table = Table::LoopbackOnly;  // no LAN: the quick test is the dial-up answer
    for (const Case& test : cases) {
        SCOPED_TRACE(test.label);
        {
            std::lock_guard<std::mutex> lock(Ras().mutex);
            Ras().connections = test.connections;
            Ras().statusAsked.clear();
        }
        int state = 7;
        EXPECT_EQ(net.IsRasConnected(&state), 0u);
        EXPECT_EQ(state, test.state);
        {
            std::lock_guard<std::mutex> lock(Ras().mutex);
            EXPECT_EQ(Ras().statusAsked, test.asked);
        }
        EXPECT_EQ(net.IsConnected(0, &state), 0u);
        EXPECT_EQ(state, test.state);
        EXPECT_EQ(net.GetConnectionType(), test.state == 1 ? 2 : 1);
    }
}

TEST_F(NetTest, KeepAliveServerIsRememberedAndUsedWhenItCannotBeResolved)
{
    KvPlatformNet net(TestSettings(nettest::MakeFakeNetwork()));
    int state = 7;
    Fake().resolvedAddress = Address("127.0.0.2");
    Fake().connectResult = 0;
    EXPECT_EQ(net.IsConnected(1, &state), 0u);
    EXPECT_EQ(state, 1);
    {
        std::lock_guard<std::mutex> lock(Fake().mutex);
        EXPECT_EQ(Fake().lastResolvedName, "keepalive.invalid");
    }
    EXPECT_EQ(Fake().lastConnectAddress, Address("127.0.0.2"));
    EXPECT_EQ(Fake().lastConnectPort, 80);

    // Stored enciphered, as a DWORD.
    DWORD type = 0;
    DWORD stored = 0;
    DWORD size = sizeof(stored);
    ASSERT_EQ(Fundor::ObfuscatedRegQueryValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervanet", L"PingIp", &type, &stored,
                                              &size, 1),
              0);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(stored, Address("127.0.0.2"));
    BYTE raw[64] = {};
    DWORD rawSize = sizeof(raw);
    ASSERT_EQ(::RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Tervanet", "PingIp", RRF_RT_ANY, &type, raw, &rawSize),
              0);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(raw), 4), "KVRG");

    // Resolving fails: the stored address is used.
    Fake().resolvedAddress = 0;
    Fake().lastConnectAddress = 0;
    EXPECT_EQ(net.ProbeKeepAliveHost(&state), 0u);
    EXPECT_EQ(state, 1);
    EXPECT_EQ(Fake().lastConnectAddress, Address("127.0.0.2"));

    // 127.0.0.1 is tried but never remembered.
    Fake().resolvedAddress = Address("127.0.0.1");
    Fake().connectResult = -1;
    EXPECT_EQ(net.ProbeKeepAliveHost(&state), 0u);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(Fake().lastConnectAddress, Address("127.0.0.1"));
    size = sizeof(stored);
    ASSERT_EQ(Fundor::ObfuscatedRegQueryValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervanet", L"PingIp", &type, &stored,
                                              &size, 1),
              0);
    EXPECT_EQ(stored, Address("127.0.0.2"));

    // Neither a name nor a stored address: not connected, and nothing is tried.
    ASSERT_EQ(Fundor::ObfuscatedRegDeleteValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervanet", L"PingIp", 0), 0);
    Fake().resolvedAddress = 0;
    Fake().connectCalls = 0;
    EXPECT_EQ(net.ProbeKeepAliveHost(&state), 0u);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(Fake().connectCalls, 0);
}

TEST_F(NetTest, ProxyFromTheSettingsIsReachedOverTcp)
{
    auto binding = nettest::MakeFakeNetwork();
    binding->overrides.erase("connect");  // real connections to the loopback listener
    KvPlatformNet net(TestSettings(binding));
    nettest::LoopbackListener listener;
    ASSERT_NE(listener.Port(), 0);
    const std::wstring port = std::to_wstring(listener.Port());
    int state = 7;

    SetString(HKEY_LOCAL_MACHINE, kWinHttp, L"ProxyServerList", L"https=127.0.0.9:1;http=127.0.0.1:" + port);
    EXPECT_EQ(net.IsConnected(1, &state), 0u);
    EXPECT_EQ(state, 1);
    EXPECT_EQ(net.IsInternetConnected(0, 1), 1);

    // A port out of range names no proxy: on to automatic detection, which fails here.
    SetString(HKEY_LOCAL_MACHINE, kWinHttp, L"ProxyServerList", L"http=127.0.0.1:65536");
    EXPECT_EQ(net.IsConnected(1, &state), static_cast<DWORD>(ERROR_INTERNET_BAD_AUTO_PROXY_SCRIPT));
    EXPECT_EQ(state, -1);
    EXPECT_EQ(net.IsInternetConnected(0, 1), -1);

    // Nothing listens any more: the proxy decides, not connected.
    SetString(HKEY_LOCAL_MACHINE, kWinHttp, L"ProxyServerList", L"http=127.0.0.1:" + port);
    listener.Close();
    EXPECT_EQ(net.IsConnected(1, &state), 0u);
    EXPECT_EQ(state, 0);
}

// Proxy connections: recorded, and made for real only to the two loopback ports of the proxy test
// (a listener and a closed port); every other target is refused here, so that the test neither
// depends on what listens elsewhere nor reaches it.
std::atomic<unsigned short> g_livePort{0};
std::atomic<unsigned short> g_deadPort{0};

int WSAAPI LoopbackOnlyConnect(SOCKET socket, const sockaddr* target, int length)
{
    const auto* address = reinterpret_cast<const sockaddr_in*>(target);
    const unsigned short port = ntohs(address->sin_port);
    Fake().lastConnectAddress = address->sin_addr.s_addr;
    Fake().lastConnectPort = port;
    ++Fake().connectCalls;
    if (address->sin_addr.s_addr == Address("127.0.0.1") && port != 0 && (port == g_livePort || port == g_deadPort)) {
        return ::connect(socket, target, length);
    }
    ::WSASetLastError(WSAECONNREFUSED);
    return SOCKET_ERROR;
}

// The process's WinINet proxy setting: a named proxy with this list.
std::string g_wininetProxyList;

BOOL WINAPI FakeInternetQueryOption(HINTERNET, DWORD option, void* buffer, DWORD* length)
{
    if (option != INTERNET_OPTION_PROXY || length == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD needed = static_cast<DWORD>(sizeof(INTERNET_PROXY_INFO) + g_wininetProxyList.size() + 1);
    if (buffer == nullptr || *length < needed) {
        *length = needed;
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* info = static_cast<INTERNET_PROXY_INFO*>(buffer);
    char* text = reinterpret_cast<char*>(info + 1);
    std::memcpy(text, g_wininetProxyList.c_str(), g_wininetProxyList.size() + 1);
    info->dwAccessType = INTERNET_OPEN_TYPE_PROXY;
    info->lpszProxy = reinterpret_cast<decltype(info->lpszProxy)>(text);
    info->lpszProxyBypass = nullptr;
    *length = needed;
    return TRUE;
}

std::string Substitute(std::string text, const char* marker, unsigned short port)
{
    for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker)) {
        text.replace(at, std::strlen(marker), std::to_string(port));
    }
    return text;
}

TEST_F(NetTest, EveryFormOfTheProxySettingNamesTheHttpProxy)
{
    enum Target { Live, Dead, DefaultPort, NoProxy };
    enum Source { Registry, WinInet };
    struct Case {
        Source source;
        const char* list;  // {L}: the listener's port, {D}: a closed port
        Target target;
    };
    const Case cases[] = {
        {Registry, "http=127.0.0.1:{L}", Live},
        {Registry, "https=127.0.0.1:{D};http=127.0.0.1:{L}", Live},
        {Registry, "127.0.0.1:{L}", Live},  // one proxy for every scheme
        {Registry, "http=http://127.0.0.1:{L}", Live},
        {Registry, "HTTP=127.0.0.1:{L}/", Live},
        {Registry, "ftp=127.0.0.9:21 http=127.0.0.1:{L}", Live},
        {Registry, "ftp=127.0.0.9:21\thttp://127.0.0.1:{L}", Live},
        {Registry, "127.0.0.1:{D} http=127.0.0.1:{L}", Live},  // the http entry wins
        {Registry, " ;; http=127.0.0.1:{D} ; ", Dead},
        {Registry, "http=127.0.0.1", DefaultPort},
        {Registry, "http://127.0.0.1", DefaultPort},
        {Registry, "https=127.0.0.1:{L};ftp=127.0.0.1:{L}", NoProxy},
        {Registry, "socks=127.0.0.1:{L}", NoProxy},
        {Registry, "http=127.0.0.1:0", NoProxy},
        {Registry, "http=127.0.0.1:65536", NoProxy},
        {Registry, "http=127.0.0.1:", NoProxy},
        {Registry, "http=127.0.0.1:{L}x", NoProxy},
        {Registry, "http=:{L}", NoProxy},
        {Registry, "http=http://", NoProxy},
        {Registry, "", NoProxy},
        {WinInet, "http=127.0.0.1:{L}", Live},
        {WinInet, "127.0.0.1:{L}", Live},
        {WinInet, "ftp=127.0.0.1:{D} http=http://127.0.0.1:{L}", Live},
    };
    nettest::LoopbackListener listener;
    nettest::LoopbackListener closed;
    ASSERT_NE(listener.Port(), 0);
    ASSERT_NE(closed.Port(), 0);
    closed.Close();
    g_livePort = listener.Port();
    g_deadPort = closed.Port();

    auto registryBinding = nettest::MakeFakeNetwork();
    registryBinding->Override("connect", &LoopbackOnlyConnect);
    auto wininetBinding = nettest::MakeFakeNetwork();
    wininetBinding->Override("connect", &LoopbackOnlyConnect);
    wininetBinding->missingFunctions.erase("InternetQueryOptionA");
    wininetBinding->Override("InternetQueryOptionA", &FakeInternetQueryOption);
    KvPlatformNet fromRegistry(TestSettings(registryBinding));
    KvPlatformNet fromWinInet(TestSettings(wininetBinding));

    for (const Case& test : cases) {
        const std::string list = Substitute(Substitute(test.list, "{L}", listener.Port()), "{D}", closed.Port());
        SCOPED_TRACE((test.source == Registry ? "registry: \"" : "WinINet: \"") + list + "\"");
        if (test.source == Registry) {
            SetString(HKEY_LOCAL_MACHINE, kWinHttp, L"ProxyServerList", std::wstring(list.begin(), list.end()));
        } else {
            g_wininetProxyList = list;
            (void)Fundor::ObfuscatedRegDeleteValue(HKEY_LOCAL_MACHINE, kWinHttp, L"ProxyServerList", 0);
        }
        KvPlatformNet& net = test.source == Registry ? fromRegistry : fromWinInet;
        Fake().connectCalls = 0;
        Fake().lastConnectAddress = 0;
        Fake().lastConnectPort = 0;
        int state = 7;
        const DWORD result = net.IsConnected(1, &state);
        if (test.target == NoProxy) {
            // On to automatic detection, which fails here.
            EXPECT_EQ(result, static_cast<DWORD>(ERROR_INTERNET_BAD_AUTO_PROXY_SCRIPT));
            EXPECT_EQ(state, -1);
            EXPECT_EQ(Fake().connectCalls, 0);
            continue;
        }
        const unsigned short port =
            test.target == Live ? listener.Port() : test.target == Dead ? closed.Port() : 80;
        EXPECT_EQ(result, 0u);
        EXPECT_EQ(state, test.target == Live ? 1 : 0);
        EXPECT_EQ(Fake().connectCalls, 1);
        EXPECT_EQ(Fake().lastConnectAddress, Address("127.0.0.1"));
        EXPECT_EQ(Fake().lastConnectPort, port);
        if (test.target == Live) {
            EXPECT_TRUE(listener.AcceptOne());
        }
    }
}

TEST_F(NetTest, AutomaticProxyConfigurationCountsAsConnected)
{
    KvPlatformNet net(TestSettings(nettest::MakeFakeNetwork()));
    int state = 7;
    SetString(HKEY_LOCAL_MACHINE, kWinHttp, L"AutoConfigUrl", L"http://127.0.0.1/proxy.pac");
    EXPECT_EQ(net.IsConnected(1, &state), 0u);
    EXPECT_EQ(state, 1);
    ASSERT_EQ(Fundor::ObfuscatedRegDeleteValue(HKEY_LOCAL_MACHINE, kWinHttp, L"AutoConfigUrl", 0), 0);

    Fake().detectSucceeds = true;
    EXPECT_EQ(net.IsConnected(1, &state), 0u);
    EXPECT_EQ(state, 1);
    Fake().detectSucceeds = false;
    EXPECT_EQ(net.IsConnected(1, &state), static_cast<DWORD>(ERROR_INTERNET_BAD_AUTO_PROXY_SCRIPT));
    EXPECT_EQ(state, -1);
}

TEST_F(NetTest, AssumeConnectedAnswersWithoutAnyTest)
{
    auto binding = nettest::MakeFakeNetwork();
    KvPlatformNet net(TestSettings(binding));
    const wchar_t* key = L"SOFTWARE\\Tervanet\\Agent\\Update";
    SetEncipheredDword(key, L"AssumeConnected", 0);
    EXPECT_EQ(net.IsInternetConnected(0, 1), 0);
    EXPECT_FALSE(net.IsInitialized());
    EXPECT_TRUE(binding->loadedNames.empty());
    // Also the process-wide object: answered from the setting, nothing set up.
    EXPECT_EQ(KvIsInternetConnected(0, 1), 0);
    EXPECT_FALSE(g_kvPlatformNet.IsInitialized());

    SetEncipheredDword(key, L"AssumeConnected", 0xFFFFFFFF);
    EXPECT_EQ(net.IsInternetConnected(0, 1), 1);
    SetEncipheredDword(key, L"AssumeConnected", 1);
    EXPECT_EQ(net.IsInternetConnected(1, 1), 1);
    EXPECT_FALSE(net.IsInitialized());

    // Not honoured: the quick test runs (a LAN, so connected even though the setting says 0).
    SetEncipheredDword(key, L"AssumeConnected", 0);
    EXPECT_EQ(net.IsInternetConnected(1, 0), 1);
    EXPECT_TRUE(net.IsInitialized());
}

}  // namespace
