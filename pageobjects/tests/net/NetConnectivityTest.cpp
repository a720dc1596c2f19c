// The connectivity answers: RAS, LAN, and through to the internet (keep-alive server, proxies,
// automatic configuration), and the "AssumeConnected" setting.

#include "NetTestSupport.h"

#include "core/ObfuscatedRegistry.h"

#include <gtest/gtest.h>

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

    // An entry without ':' names no proxy: on to automatic detection, which fails here.
    SetString(HKEY_LOCAL_MACHINE, kWinHttp, L"ProxyServerList", L"http=127.0.0.1");
    EXPECT_EQ(net.IsConnected(1, &state), static_cast<DWORD>(ERROR_INTERNET_BAD_AUTO_PROXY_SCRIPT));
    EXPECT_EQ(state, -1);
    EXPECT_EQ(net.IsInternetConnected(0, 1), -1);

    // Nothing listens any more: the proxy decides, not connected.
    SetString(HKEY_LOCAL_MACHINE, kWinHttp, L"ProxyServerList", L"http=127.0.0.1:" + port);
    listener.Close();
    EXPECT_EQ(net.IsConnected(1, &state), 0u);
    EXPECT_EQ(state, 0);
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
