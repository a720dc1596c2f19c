#pragma once
// Test doubles for the network module: a library binding that can hide libraries and functions
// and put fakes in place of chosen functions, the fakes themselves (driven through one global
// state), and a TCP listener on 127.0.0.1.

#include <winsock2.h>
#include <iphlpapi.h>
#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "core/testsupport/Narrow.h"
#include "core/testsupport/RegistryIsolation.h"
#include "pageobjects/net/KvPlatformNet.h"

namespace nettest {

inline std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

class FakeNetBinding final : public IKvNetLibraryBinding {
public:
    std::set<std::string> missingLibraries;  // lower case
    std::set<std::string> missingFunctions;
    std::map<std::string, FARPROC> overrides;
    std::set<std::string> loadedNames;  // lower case, every library ever loaded
    std::atomic<int> outstanding{0};

    HMODULE Load(const char* name) override
    {
        const std::string key = Lower(name);
        if (missingLibraries.count(key) != 0) {
            ::SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        HMODULE module = m_real.Load(name);
        if (module != nullptr) {
            ++outstanding;
            loadedNames.insert(key);
        }
        return module;
    }
    FARPROC Resolve(HMODULE module, const char* name) override
    {
        if (missingFunctions.count(name) != 0) {
            return nullptr;
        }
        const auto found = overrides.find(name);
        return found != overrides.end() ? found->second : m_real.Resolve(module, name);
    }
    void Free(HMODULE module) override
    {
        --outstanding;
        m_real.Free(module);
    }

    template <typename Function>
    void Override(const char* name, Function* function)
    {
        FARPROC pointer = nullptr;
        std::memcpy(&pointer, &function, sizeof(pointer));
        overrides[name] = pointer;
    }

private:
    KvSystemNetLibraryBinding m_real;
};

enum class Table { Lan, LoopbackOnly, Fails };

// What the fakes answer and what they saw.
struct FakeNetState {
    std::atomic<Table> table{Table::Lan};
    std::atomic<unsigned long> resolvedAddress{0};  // 0: the name does not resolve
    std::atomic<int> connectResult{0};              // 0 connects
    std::atomic<unsigned long> lastConnectAddress{0};
    std::atomic<unsigned short> lastConnectPort{0};
    std::atomic<int> connectCalls{0};
    std::atomic<int> tableCalls{0};
    std::atomic<bool> detectSucceeds{false};
    std::mutex mutex;
    std::string lastResolvedName;
};

inline FakeNetState& Fake()
{
    static FakeNetState state;
    return state;
}

inline unsigned long Address(const char* dotted) { return ::inet_addr(dotted); }

inline DWORD WINAPI FakeGetIpAddrTable(PMIB_IPADDRTABLE table, PULONG size, BOOL)
{
    ++Fake().tableCalls;
    if (Fake().table == Table::Fails) {
        return ERROR_NOT_SUPPORTED;
    }
    const unsigned long rows[] = {Address("127.0.0.1"), Address("0.0.0.0"), Address("10.1.2.3")};
    const DWORD count = Fake().table == Table::Lan ? 3 : 2;
    const ULONG needed = offsetof(MIB_IPADDRTABLE, table) + count * sizeof(MIB_IPADDRROW);
    if (table == nullptr || *size < needed) {
        *size = needed;
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::memset(table, 0, needed);
    table->dwNumEntries = count;
    for (DWORD i = 0; i < count; ++i) {
        table->table[i].dwAddr = rows[i];
    }
    return ERROR_SUCCESS;
}

inline hostent* WSAAPI FakeGetHostByName(const char* name)
{
    static unsigned long address;
    static char* list[2];
    static hostent entry;
    {
        std::lock_guard<std::mutex> lock(Fake().mutex);
        Fake().lastResolvedName = name != nullptr ? name : "";
    }
    address = Fake().resolvedAddress;
    if (address == 0) {
        return nullptr;
    }
    list[0] = reinterpret_cast<char*>(&address);
    list[1] = nullptr;
    entry.h_addrtype = AF_INET;
    entry.h_length = 4;
    entry.h_addr_list = list;
    return &entry;
}

inline int WSAAPI FakeConnect(SOCKET, const sockaddr* target, int)
{
    const auto* address = reinterpret_cast<const sockaddr_in*>(target);
    Fake().lastConnectAddress = address->sin_addr.s_addr;
    Fake().lastConnectPort = ntohs(address->sin_port);
    ++Fake().connectCalls;
    return Fake().connectResult;
}

inline BOOL WINAPI FakeDetectAutoProxyUrl(char* url, DWORD length, DWORD)
{
    if (!Fake().detectSucceeds) {
        ::SetLastError(ERROR_INTERNET_BAD_AUTO_PROXY_SCRIPT);
        return FALSE;
    }
    std::strncpy(url, "http://127.0.0.1/proxy.pac", length);
    return TRUE;
}

// Every network-facing function faked (the process's WinINet proxy setting left out): nothing
// leaves the process.
inline std::shared_ptr<FakeNetBinding> MakeFakeNetwork()
{
    auto binding = std::make_shared<FakeNetBinding>();
    binding->Override("GetIpAddrTable", &FakeGetIpAddrTable);
    binding->Override("gethostbyname", &FakeGetHostByName);
    binding->Override("connect", &FakeConnect);
    binding->Override("DetectAutoProxyUrl", &FakeDetectAutoProxyUrl);
    binding->missingFunctions.insert("InternetQueryOptionA");
    return binding;
}

using Fundor::testing::Narrow;

// Event names of their own, so that test processes running side by side never share them.
inline KvPlatformNetSettings TestSettings(std::shared_ptr<IKvNetLibraryBinding> binding)
{
    KvPlatformNetSettings settings;
    settings.binding = std::move(binding);
    settings.lingerEventName = Narrow(Fundor::testing::UniqueName(L"NetLinger"));
    settings.exitEventPrefix = Narrow(Fundor::testing::UniqueName(L"NetExit"));
    settings.keepAliveHost = "keepalive.invalid";
    settings.pollIntervalMs = 50;
    return settings;
}

// A TCP listener on 127.0.0.1 at a port the system picks.
class LoopbackListener {
public:
    LoopbackListener()
    {
        WSADATA data{};
        m_started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
        m_socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = Address("127.0.0.1");
        int length = sizeof(address);
        if (m_socket != INVALID_SOCKET &&
            ::bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
            ::listen(m_socket, 4) == 0 &&
            ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_port = ntohs(address.sin_port);
        }
    }
    ~LoopbackListener()
    {
        Close();
        if (m_started) {
            ::WSACleanup();
        }
    }
    void Close()
    {
        if (m_socket != INVALID_SOCKET) {
            ::closesocket(m_socket);
            m_socket = INVALID_SOCKET;
        }
    }
    [[nodiscard]] unsigned short Port() const { return m_port; }
    // Accepts and closes one connection that is waiting (up to 5 s for it): the backlog is short,
    // and once full, further connections hang. False when none came.
    bool AcceptOne()
    {
        if (m_socket == INVALID_SOCKET) {
            return false;
        }
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(m_socket, &readable);
        timeval wait{5, 0};
        if (::select(0, &readable, nullptr, nullptr, &wait) != 1) {
            return false;
        }
        const SOCKET accepted = ::accept(m_socket, nullptr, nullptr);
        if (accepted == INVALID_SOCKET) {
            return false;
        }
        ::closesocket(accepted);
        return true;
    }

private:
    bool m_started = false;
    SOCKET m_socket = INVALID_SOCKET;
    unsigned short m_port = 0;
};

// Resets the fakes to a machine with a LAN, no RAS, no name server and no proxy.
class NetTest : public Fundor::testing::RegistryIsolatedTest {
protected:
    NetTest()
    {
        FakeNetState& fake = Fake();
        fake.table = Table::Lan;
        fake.resolvedAddress = 0;
        fake.connectResult = -1;
        fake.lastConnectAddress = 0;
        fake.lastConnectPort = 0;
        fake.connectCalls = 0;
        fake.tableCalls = 0;
        fake.detectSucceeds = false;
        std::lock_guard<std::mutex> lock(fake.mutex);
        fake.lastResolvedName.clear();
    }
};

}  // namespace nettest
