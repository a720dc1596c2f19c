#include "pageobjects/net/KvPlatformNet.h"

#include <iphlpapi.h>
#include <ras.h>
#include <sddl.h>
#include <wininet.h>
#include <aclapi.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>
#include <vector>

#include "core/base/LastError.h"
#include "core/registry/AnsiRegKey.h"

namespace {

constexpr DWORD kWinsockFunctionMissing[] = {10009, 10010, 10012, 10013, 10014, 10019,
                                             10015, 10016, 10017, 10032, 10018};
constexpr DWORD kRasEnumMissing = 10006;
constexpr DWORD kRasStatusMissing = 10007;
constexpr DWORD kIpTableMissing = 10008;

constexpr DWORD kRasConnected = 0x2000;
constexpr DWORD kRasBufferTooSmall = 603;
constexpr DWORD kInternetOptionProxy = 38;
constexpr DWORD kNamedProxy = 3;

constexpr char kTervanetKey[] = "SOFTWARE\\Tervanet";
constexpr char kAssumeConnectedKey[] = "SOFTWARE\\Tervanet\\Agent\\Update";
constexpr char kWinHttpKey[] = "SOFTWARE\\Tervane\\QRN\\Update\\WinHTTP";
constexpr char kInternetSettingsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";

// The records RAS fills, in the version that ends with the device type and name. RAS packs its
// records to 4 bytes, so the connection handle follows the size field directly, unaligned.
#pragma pack(push, 4)
struct RasConnectionEntry {
    DWORD size;
    HANDLE connection;
    char entryName[257];
    char deviceType[17];
    char deviceName[129];
};

struct RasConnectionStatus {
    DWORD size;
    DWORD state;
    DWORD error;
    char deviceType[17];
    char deviceName[129];
};
#pragma pack(pop)
static_assert(sizeof(RasConnectionEntry) == 416);
static_assert(offsetof(RasConnectionEntry, connection) == 4);
static_assert(offsetof(RasConnectionEntry, entryName) == 12);
static_assert(offsetof(RasConnectionEntry, deviceName) == 286);
static_assert(sizeof(RasConnectionStatus) == 160);
static_assert(offsetof(RasConnectionStatus, state) == 4);
// The platform's own declaration agrees on the fields both versions share.
static_assert(offsetof(RASCONNA, hrasconn) == offsetof(RasConnectionEntry, connection));
static_assert(offsetof(RASCONNA, szEntryName) == offsetof(RasConnectionEntry, entryName));
static_assert(offsetof(RASCONNA, szDeviceName) == offsetof(RasConnectionEntry, deviceName));
static_assert(offsetof(RASCONNSTATUSA, rasconnstate) == offsetof(RasConnectionStatus, state));
static_assert(offsetof(RASCONNSTATUSA, szDeviceName) == offsetof(RasConnectionStatus, deviceName));

constexpr unsigned long kLoopbackAddress = 0x0100007F;  // 127.0.0.1 as stored in an in_addr

// Addresses worth keeping as the keep-alive fallback.
bool IsUsableAddress(unsigned long address) { return address != 0 && address != kLoopbackAddress; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// One proxy as an entry names it: "[scheme://]host[:port]", anything from a '/' after the host on
// ignored. Without a port the proxy listens on its scheme's port (443 for "https://", else 80). An
// empty host, or a port that is not a decimal number from 1 to 65535, names no proxy.
bool ParseProxyAddress(std::string_view value, std::string* host, unsigned short* port)
{
    unsigned long number = 80;
    const size_t schemeEnd = value.find("://");
    if (schemeEnd != std::string_view::npos) {
        if (EqualsIgnoringCase(value.substr(0, schemeEnd), "https")) {
            number = 443;
        }
        value.remove_prefix(schemeEnd + 3);
    }
    value = value.substr(0, value.find('/'));
    const size_t colon = value.find(':');
    const std::string_view name = value.substr(0, colon);
    if (name.empty()) {
        return false;
    }
    if (colon != std::string_view::npos) {
        const std::string_view digits = value.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string_view::npos) {
            return false;
        }
        number = std::strtoul(std::string(digits).c_str(), nullptr, 10);
        if (number == 0 || number > 65535) {
            return false;
        }
    }
    *host = std::string(name);
    *port = static_cast<unsigned short>(number);
    return true;
}

// The HTTP proxy of a proxy list in the forms the platform's proxy setting takes: entries
// separated by ';' or blanks, each either "scheme=[scheme://]host[:port]" for one scheme or a bare
// "[scheme://]host[:port]" for every scheme. The first "http=" entry (any case) decides; without
// one, the first bare entry. An entry that names no proxy gives none.
bool ParseHttpProxy(const char* list, std::string* host, unsigned short* port)
{
    if (list == nullptr) {
        return false;
    }
    constexpr char kSeparators[] = "; \t\r\n";
    const std::string_view text(list);
    std::string_view bare;
    bool haveBare = false;
    for (size_t start = text.find_first_not_of(kSeparators); start != std::string_view::npos;) {
        const size_t end = text.find_first_of(kSeparators, start);
        const std::string_view entry = text.substr(start, end == std::string_view::npos ? end : end - start);
        start = end == std::string_view::npos ? end : text.find_first_not_of(kSeparators, end);
        const size_t equals = entry.find('=');
        if (equals == std::string_view::npos) {
            if (!haveBare) {
                bare = entry;
                haveBare = true;
            }
        } else if (EqualsIgnoringCase(entry.substr(0, equals), "http")) {
            return ParseProxyAddress(entry.substr(equals + 1), host, port);
        }
    }
    return haveBare && ParseProxyAddress(bare, host, port);
}

// The 4-byte enciphered value; false when absent or of another size.
bool ReadEncipheredDword(const char* subKey, const char* name, DWORD* value)
{
    Fundor::AnsiRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, subKey, KEY_READ) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof(data);
    if (key.QueryValue(name, &type, &data, &size, Fundor::kObfuscatedValueEnciphered, false) != ERROR_SUCCESS ||
        size != sizeof(data)) {
        return false;
    }
    *value = data;
    return true;
}

void WritePingIp(unsigned long address)
{
    Fundor::AnsiRegKey key;
    if (key.Create(HKEY_LOCAL_MACHINE, kTervanetKey, nullptr, 0, KEY_ALL_ACCESS) != ERROR_SUCCESS) {
        return;
    }
    const DWORD value = address;
    // Only a fallback: a failed write costs the next probe without a name server, nothing more.
    (void)key.SetValue("PingIp", REG_DWORD, &value, sizeof(value), Fundor::kObfuscatedValueEnciphered, false);
}

bool ValueExists(HKEY root, const char* subKey, const char* name)
{
    Fundor::AnsiRegKey key;
    if (key.Open(root, subKey, KEY_READ) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD size = 0;
    return key.QueryValue(name, &type, nullptr, &size, 0, false) == ERROR_SUCCESS;
}

// "ProxyServerList", read plain; at most 260 characters.
bool ReadProxyServerList(std::string* list)
{
    Fundor::AnsiRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kWinHttpKey, KEY_READ) != ERROR_SUCCESS) {
        return false;
    }
    char buffer[261] = {};
    DWORD type = 0;
    DWORD size = 260;
    if (key.QueryValue("ProxyServerList", &type, buffer, &size, 0, false) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return false;
    }
    buffer[size < 260 ? size : 260] = '\0';
    *list = buffer;
    return true;
}

// Added to every cookie: process-wide, from 100 up.
std::atomic<DWORD> g_cookieSequence{100};

}  // namespace

struct KvPlatformNet::Functions {
    // Winsock, in binding order.
    int(WSAAPI* wsaStartup)(WORD, LPWSADATA) = nullptr;
    int(WSAAPI* wsaCleanup)() = nullptr;
    SOCKET(WSAAPI* openSocket)(int, int, int) = nullptr;
    int(WSAAPI* closeSocket)(SOCKET) = nullptr;
    int(WSAAPI* connectSocket)(SOCKET, const sockaddr*, int) = nullptr;
    int(WSAAPI* sendTo)(SOCKET, const char*, int, int, const sockaddr*, int) = nullptr;
    hostent*(WSAAPI* getHostByName)(const char*) = nullptr;
    int(WSAAPI* getHostName)(char*, int) = nullptr;
    u_short(WSAAPI* hostToNetShort)(u_short) = nullptr;
    unsigned long(WSAAPI* inetAddr)(const char*) = nullptr;
    int(WSAAPI* wsaGetLastError)() = nullptr;
    // RAS.
    DWORD(WINAPI* rasEnumConnections)(void*, DWORD*, DWORD*) = nullptr;
    DWORD(WINAPI* rasGetConnectStatus)(HANDLE, void*) = nullptr;
    // IP helper.
    DWORD(WINAPI* getIpAddrTable)(PMIB_IPADDRTABLE, PULONG, BOOL) = nullptr;
    // WinINet, where present.
    BOOL(WINAPI* internetQueryOption)(HINTERNET, DWORD, void*, DWORD*) = nullptr;
    BOOL(WINAPI* detectAutoProxyUrl)(char*, DWORD, DWORD) = nullptr;
    // Security of the two events.
    DWORD(WINAPI* setSecurityInfo)(HANDLE, SE_OBJECT_TYPE, SECURITY_INFORMATION, PSID, PSID, PACL, PACL) = nullptr;
};

struct KvPlatformNet::Modules {
    HMODULE winsock = nullptr;
    HMODULE ras = nullptr;
    HMODULE ipHelper = nullptr;
    HMODULE wininet = nullptr;
    HMODULE advapi = nullptr;
};

KvPlatformNet g_kvPlatformNet;

KvPlatformNet::KvPlatformNet() : KvPlatformNet(KvPlatformNetSettings{}) {}

KvPlatformNet::KvPlatformNet(KvPlatformNetSettings settings) : m_settings(std::move(settings))
{
    std::snprintf(m_exitEventName, sizeof(m_exitEventName), "%s_%d", m_settings.exitEventPrefix.c_str(),
                  static_cast<int>(::GetCurrentProcessId()));
}

KvPlatformNet::~KvPlatformNet() { (void)StopWorkerAndRelease(); }

DWORD KvPlatformNet::CreateInstance(std::unique_ptr<KvPlatformNet>* out, KvPlatformNetSettings settings)
{
    if (out == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    KvPlatformNet* created = new (std::nothrow) KvPlatformNet(std::move(settings));
    if (created == nullptr) {
        return ERROR_OUTOFMEMORY;
    }
    out->reset(created);
    return created->Initialize();
}

DWORD KvPlatformNet::EnsureInitialized()
{
    if (IsInitialized()) {
        return ERROR_SUCCESS;
    }
    const DWORD result = Initialize();
    // Another thread may have finished first.
    return result == kNetInitializedTwice ? ERROR_SUCCESS : result;
}

DWORD KvPlatformNet::Initialize()
{
    KvNetLock lock(m_lock);
    if (IsInitialized()) {
        return kNetInitializedTwice;
    }
    try {
        if (!m_settings.binding) {
            m_settings.binding = KvMakeSystemNetLibraryBinding();
        }
        m_functions = std::make_unique<Functions>();
        m_modules = std::make_unique<Modules>();
    } catch (const std::bad_alloc&) {
        m_functions.reset();
        m_modules.reset();
        return ERROR_OUTOFMEMORY;
    }
    DWORD result = BindLibraries();
    if (result == ERROR_SUCCESS) {
        result = CreateEvents();
    }
    if (result == ERROR_SUCCESS) {
        WSADATA data{};
        result = static_cast<DWORD>(m_functions->wsaStartup(MAKEWORD(1, 1), &data));
        m_winsockStarted = result == ERROR_SUCCESS;
    }
    if (result == ERROR_SUCCESS) {
        result = m_callbacks.Initialize(m_settings.lingerEventName.c_str());
    }
    if (result == ERROR_SUCCESS) {
        result = m_worker.Initialize(m_exitEventName);
    }
    if (result != ERROR_SUCCESS) {
        ReleaseModule();
        return result;
    }
    m_initialized = 1;
    return ERROR_SUCCESS;
}

DWORD KvPlatformNet::BindLibraries()
{
    IKvNetLibraryBinding& binding = *m_settings.binding;
    Functions& f = *m_functions;
    Modules& m = *m_modules;
    struct Slot {
        const char* name;
        DWORD missing;
        void* target;  // address of one of the function pointers
    };
    const auto bind = [&binding](HMODULE module, std::initializer_list<Slot> slots) -> DWORD {
        for (const Slot& slot : slots) {
            const FARPROC function = binding.Resolve(module, slot.name);
            if (function == nullptr) {
                return slot.missing;
            }
            std::memcpy(slot.target, &function, sizeof(function));
        }
        return ERROR_SUCCESS;
    };

    m.winsock = binding.Load("ws2_32.dll");
    m_winsockFromWs2 = m.winsock != nullptr;
    if (m.winsock == nullptr) {
        m.winsock = binding.Load("wsock32.dll");
    }
    if (m.winsock == nullptr) {
        return kNetNoWinsockLibrary;
    }
    const DWORD* code = kWinsockFunctionMissing;
    DWORD result = bind(m.winsock, {{"WSAStartup", code[0], &f.wsaStartup},
                                    {"WSACleanup", code[1], &f.wsaCleanup},
                                    {"socket", code[2], &f.openSocket},
                                    {"closesocket", code[3], &f.closeSocket},
                                    {"connect", code[4], &f.connectSocket},
                                    {"sendto", code[5], &f.sendTo},
                                    {"gethostbyname", code[6], &f.getHostByName},
                                    {"gethostname", code[7], &f.getHostName},
                                    {"htons", code[8], &f.hostToNetShort},
                                    {"inet_addr", code[9], &f.inetAddr},
                                    {"WSAGetLastError", code[10], &f.wsaGetLastError}});
    if (result != ERROR_SUCCESS) {
        return result;
    }

    m.ras = binding.Load("rasapi32.dll");
    if (m.ras == nullptr) {
        m.ras = binding.Load("rasapi.dll");
    }
    if (m.ras == nullptr) {
        return kNetNoRasLibrary;
    }
    result = bind(m.ras, {{"RasEnumConnectionsA", kRasEnumMissing, &f.rasEnumConnections},
                          {"RasGetConnectStatusA", kRasStatusMissing, &f.rasGetConnectStatus}});
    if (result != ERROR_SUCCESS) {
        return result;
    }

    m.ipHelper = binding.Load("iphlpapi.dll");
    if (m.ipHelper == nullptr) {
        return kNetNoIpHelperLibrary;
    }
    result = bind(m.ipHelper, {{"GetIpAddrTable", kIpTableMissing, &f.getIpAddrTable}});
    if (result != ERROR_SUCCESS) {
        return result;
    }

    m.advapi = binding.Load("ADVAPI32.DLL");
    if (m.advapi == nullptr) {
        return Fundor::LastErrorOr(ERROR_MOD_NOT_FOUND);
    }
    result = bind(m.advapi, {{"SetSecurityInfo", ERROR_PROC_NOT_FOUND, &f.setSecurityInfo}});
    if (result != ERROR_SUCCESS) {
        return result;
    }

    // The proxy steps of the internet test use WinINet; without it they are skipped.
    m.wininet = binding.Load("wininet.dll");
    if (m.wininet != nullptr) {
        (void)bind(m.wininet, {{"InternetQueryOptionA", 0, &f.internetQueryOption}});
        (void)bind(m.wininet, {{"DetectAutoProxyUrl", 0, &f.detectAutoProxyUrl}});
    }
    return ERROR_SUCCESS;
}

DWORD KvPlatformNet::CreateEvents()
{
    // Everyone may wait on and set the events; changing their access list or deleting them stays
    // with the system and administrators.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;;0x00100002;;;WD)(A;;GA;;;SY)(A;;GA;;;BA)",
                                                               SDDL_REVISION_1, &descriptor, nullptr) == FALSE) {
        return Fundor::LastErrorOr(ERROR_INVALID_SECURITY_DESCR);
    }
    Fundor::ScopedLocalMemory descriptorOwner(descriptor);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) == FALSE) {
        return Fundor::LastErrorOr(ERROR_INVALID_SECURITY_DESCR);
    }
    const auto create = [&](const char* name, Fundor::ScopedHandle& event) -> DWORD {
        event.reset(::CreateEventA(nullptr, TRUE, FALSE, name));
        const DWORD createError = ::GetLastError();
        if (!event && createError == ERROR_ACCESS_DENIED) {
            // Made by another process, whose access list lets us wait on and set it.
            event.reset(::OpenEventA(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name));
            return event ? ERROR_SUCCESS : Fundor::LastErrorOr(ERROR_ACCESS_DENIED);
        }
        if (!event) {
            return createError != ERROR_SUCCESS ? createError : ERROR_INVALID_HANDLE;
        }
        if (createError == ERROR_ALREADY_EXISTS) {
            return ERROR_SUCCESS;  // its maker set its security
        }
        return m_functions->setSecurityInfo(event.get(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                            nullptr, dacl, nullptr);
    };
    const DWORD result = create(m_settings.lingerEventName.c_str(), m_lingerEvent);
    return result != ERROR_SUCCESS ? result : create(m_exitEventName, m_exitEvent);
}

void KvPlatformNet::ReleaseModule()
{
    m_worker.Release();
    if (m_functions && m_winsockStarted && m_functions->wsaCleanup != nullptr) {
        m_functions->wsaCleanup();
    }
    m_winsockStarted = false;
    if (m_modules && m_settings.binding) {
        for (HMODULE module : {m_modules->winsock, m_modules->ras, m_modules->ipHelper, m_modules->wininet,
                               m_modules->advapi}) {
            if (module != nullptr) {
                m_settings.binding->Free(module);
            }
        }
    }
    m_modules.reset();
    m_functions.reset();
    m_lingerEvent.reset();
    m_exitEvent.reset();
    (void)m_callbacks.Release();
    m_winsockFromWs2 = false;
    m_initialized = 0;
}

void KvPlatformNet::ReportStep(KvNetStep step) const
{
    if (m_settings.stepHook) {
        m_settings.stepHook(step);
    }
}

DWORD KvPlatformNet::Uninitialize() { return StopWorkerAndRelease(); }

DWORD KvPlatformNet::StopWorkerAndRelease()
{
    // The worker is waited for with the lock left (its callbacks may be waiting for the lock), and
    // the module is released only once no worker runs: one registered meanwhile starts another,
    // which the next round stops.
    for (;;) {
        KvNetWorkerStop stop;
        {
            KvNetLock lock(m_lock);
            if (!IsInitialized()) {
                return kNetNotInitialized;
            }
            if (!m_worker.StopAll(&stop)) {
                ReleaseModule();
                return ERROR_SUCCESS;
            }
        }
        stop.Wait();
    }
}

DWORD KvPlatformNet::IsRasConnected(int* state)
{
    if (state == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *state = -1;
    DWORD result = EnsureInitialized();
    if (result != ERROR_SUCCESS) {
        return result;
    }
    const Functions& f = *m_functions;
    if (f.rasEnumConnections == nullptr || f.rasGetConnectStatus == nullptr) {
        return kNetNotInitialized;
    }
    DWORD bytes = 0;
    DWORD count = 0;
    result = f.rasEnumConnections(nullptr, &bytes, &count);
    if (result != ERROR_SUCCESS && result != ERROR_NOT_ENOUGH_MEMORY && result != kRasBufferTooSmall) {
        return result;
    }
    if (result == ERROR_SUCCESS || (bytes == 0 && count == 0)) {
        // Success on the size probe, or nothing to size: no connections.
        *state = 0;
        return ERROR_SUCCESS;
    }
    std::vector<RasConnectionEntry> entries;
    try {
        const size_t byBytes = (bytes + sizeof(RasConnectionEntry) - 1) / sizeof(RasConnectionEntry);
        entries.resize(byBytes > count ? byBytes : count);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    } catch (const std::length_error&) {
        return ERROR_OUTOFMEMORY;
    }
    std::memset(entries.data(), 0, entries.size() * sizeof(RasConnectionEntry));
    entries[0].size = sizeof(RasConnectionEntry);
    bytes = static_cast<DWORD>(entries.size() * sizeof(RasConnectionEntry));
    count = 0;
    result = f.rasEnumConnections(entries.data(), &bytes, &count);
    if (result != ERROR_SUCCESS) {
        return result;
    }
    *state = 0;
    for (DWORD i = 0; i < count && i < entries.size(); ++i) {
        RasConnectionStatus status{};
        status.size = sizeof(status);
        if (f.rasGetConnectStatus(entries[i].connection, &status) == ERROR_SUCCESS &&
            status.state == kRasConnected) {
            *state = 1;
            break;
        }
    }
    return ERROR_SUCCESS;
}

DWORD KvPlatformNet::IsLanConnected(int* state)
{
    if (state == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *state = -1;
    DWORD result = EnsureInitialized();
    if (result != ERROR_SUCCESS) {
        return result;
    }
    const auto getTable = m_functions->getIpAddrTable;
    if (getTable == nullptr) {
        return kNetNotInitialized;
    }
    ULONG size = 0;
    result = getTable(nullptr, &size, TRUE);
    if (result == ERROR_SUCCESS) {
        result = kNetNoLanAddress;  // a table with no room holds no address
    } else if (result == ERROR_INSUFFICIENT_BUFFER || result == ERROR_NOT_ENOUGH_MEMORY) {
        std::vector<BYTE> buffer;
        try {
            buffer.resize(size < sizeof(MIB_IPADDRTABLE) ? sizeof(MIB_IPADDRTABLE) : size);
        } catch (const std::bad_alloc&) {
            return ERROR_OUTOFMEMORY;
        }
        size = static_cast<ULONG>(buffer.size());
        auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
        result = getTable(table, &size, TRUE);
        if (result == ERROR_SUCCESS) {
            const size_t room = (buffer.size() - offsetof(MIB_IPADDRTABLE, table)) / sizeof(MIB_IPADDRROW);
            const size_t rows = table->dwNumEntries < room ? table->dwNumEntries : room;
            result = kNetNoLanAddress;
            for (size_t i = 0; i < rows; ++i) {
                if (IsUsableAddress(table->table[i].dwAddr)) {
                    result = ERROR_SUCCESS;
                    break;
                }
            }
        }
    }
    if (result == kNetNoLanAddress) {
        *state = 0;
        return ERROR_SUCCESS;
    }
    if (result == ERROR_SUCCESS) {
        *state = 1;
    }
    return result;
}

DWORD KvPlatformNet::IsConnected(int mode, int* state)
{
    if (state == nullptr || (mode != 0 && mode != 1)) {
        return ERROR_INVALID_PARAMETER;
    }
    *state = -1;
    DWORD result = EnsureInitialized();
    if (result != ERROR_SUCCESS) {
        return result;
    }
    int ras = -1;
    if (IsRasConnected(&ras) == ERROR_SUCCESS && ras == 1) {
        *state = 1;
        return ERROR_SUCCESS;
    }
    int lan = -1;
    result = IsLanConnected(&lan);
    if (mode == 0 || result != ERROR_SUCCESS || lan == 0) {
        *state = lan;
        return result;
    }

    int keepAlive = -1;
    if (ProbeKeepAliveHost(&keepAlive) == ERROR_SUCCESS && keepAlive == 1) {
        *state = 1;
        return ERROR_SUCCESS;
    }
    unsigned long proxyAddress = 0;
    unsigned short proxyPort = 0;
    if (FindProxy(&proxyAddress, &proxyPort)) {
        return ConnectState(proxyAddress, proxyPort, state);
    }
    if (ValueExists(HKEY_LOCAL_MACHINE, kWinHttpKey, "AutoConfigUrl") ||
        ValueExists(HKEY_CURRENT_USER, kInternetSettingsKey, "AutoConfigURL")) {
        *state = 1;
        return ERROR_SUCCESS;
    }
    return DetectAutoProxy(state);
}

DWORD KvPlatformNet::ProbeKeepAliveHost(int* state)
{
    if (state == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *state = -1;
    if (!IsInitialized()) {
        return kNetNotInitialized;
    }
    unsigned long address = 0;
    const hostent* host = m_functions->getHostByName(m_settings.keepAliveHost.c_str());
    if (host != nullptr && host->h_addrtype == AF_INET && host->h_length == 4 && host->h_addr_list != nullptr &&
        host->h_addr_list[0] != nullptr) {
        std::memcpy(&address, host->h_addr_list[0], sizeof(address));
        if (IsUsableAddress(address)) {
            WritePingIp(address);
        }
    } else {
        DWORD stored = 0;
        if (ReadEncipheredDword(kTervanetKey, "PingIp", &stored) && IsUsableAddress(stored)) {
            address = stored;
        }
    }
    if (address == 0) {
        *state = 0;
        return ERROR_SUCCESS;
    }
    return ConnectState(address, m_settings.keepAlivePort, state);
}

DWORD KvPlatformNet::ConnectState(unsigned long address, unsigned short port, int* state)
{
    const Functions& f = *m_functions;
    const SOCKET socket = f.openSocket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET) {
        return kNetSocketFailed;
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = f.hostToNetShort(port);
    target.sin_addr.s_addr = address;
    const bool connected =
        f.connectSocket(socket, reinterpret_cast<const sockaddr*>(&target), sizeof(target)) == 0;
    f.closeSocket(socket);
    *state = connected ? 1 : 0;
    return ERROR_SUCCESS;
}

bool KvPlatformNet::ResolveProxyHost(const std::string& host, unsigned long* address)
{
    const unsigned long numeric = m_functions->inetAddr(host.c_str());
    if (numeric != INADDR_NONE && numeric != 0) {
        *address = numeric;
        return true;
    }
    const hostent* entry = m_functions->getHostByName(host.c_str());
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 || entry->h_addr_list == nullptr ||
        entry->h_addr_list[0] == nullptr) {
        return false;
    }
    std::memcpy(address, entry->h_addr_list[0], sizeof(*address));
    return *address != 0;
}

bool KvPlatformNet::FindProxy(unsigned long* address, unsigned short* port)
{
    std::string host;
    bool found = false;
    if (m_functions->internetQueryOption != nullptr) {
        DWORD size = 0;
        (void)m_functions->internetQueryOption(nullptr, kInternetOptionProxy, nullptr, &size);
        std::vector<BYTE> buffer;
        try {
            buffer.resize(size < sizeof(INTERNET_PROXY_INFO) ? sizeof(INTERNET_PROXY_INFO) : size);
        } catch (const std::bad_alloc&) {
            return false;
        }
        size = static_cast<DWORD>(buffer.size());
        const auto* info = reinterpret_cast<const INTERNET_PROXY_INFO*>(buffer.data());
        if (m_functions->internetQueryOption(nullptr, kInternetOptionProxy, buffer.data(), &size) != FALSE &&
            info->dwAccessType == kNamedProxy) {
            found = ParseHttpProxy(reinterpret_cast<const char*>(info->lpszProxy), &host, port);
        }
    }
    if (!found) {
        std::string list;
        found = ReadProxyServerList(&list) && ParseHttpProxy(list.c_str(), &host, port);
    }
    return found && ResolveProxyHost(host, address);
}

DWORD KvPlatformNet::DetectAutoProxy(int* state)
{
    if (m_functions->detectAutoProxyUrl == nullptr) {
        return ERROR_PROC_NOT_FOUND;
    }
    char url[2000] = {};
    if (m_functions->detectAutoProxyUrl(url, sizeof(url), PROXY_AUTO_DETECT_TYPE_DHCP | PROXY_AUTO_DETECT_TYPE_DNS_A) ==
        FALSE) {
        return Fundor::LastErrorOr(ERROR_INTERNET_BAD_AUTO_PROXY_SCRIPT);
    }
    *state = 1;
    return ERROR_SUCCESS;
}

DWORD KvPlatformNet::NextCookie()
{
    DWORD random = 0;
    if (m_settings.cookieSource) {
        random = m_settings.cookieSource();
    } else {
        // The module's own generator: the C run time's one belongs to the whole thread.
        if (!m_cookieGeneratorSeeded) {
            m_cookieGenerator.seed(static_cast<unsigned>(::GetTickCount64()) ^ ::GetCurrentProcessId());
            m_cookieGeneratorSeeded = true;
        }
        random = m_cookieGenerator() & 0x7FFF;
    }
    return random + g_cookieSequence.fetch_add(1);
}

DWORD KvPlatformNet::RegisterCallback(KvNetCallback onConnected, KvNetCallback onDisconnected, void* context,
                                      DWORD* cookie)
{
    if (onConnected == nullptr && onDisconnected == nullptr) {
        return kNetNoCallback;
    }
    KvNetLock lock(m_lock);
    DWORD result = EnsureInitialized();
    if (result != ERROR_SUCCESS) {
        return result;
    }
    KvNetCallbackEntry entry;
    entry.context = context;
    entry.onConnected = onConnected;
    entry.onDisconnected = onDisconnected;
    // A cookie already in use is drawn again; the number of draws is bounded.
    DWORD chosen = 0;
    for (int attempt = 0; attempt < 64; ++attempt) {
        chosen = NextCookie();
        result = m_callbacks.Add(chosen, entry);
        if (result != ERROR_ALREADY_EXISTS) {
            break;
        }
    }
    if (result == ERROR_SUCCESS && cookie != nullptr) {
        *cookie = chosen;
    }
    return result;
}

DWORD KvPlatformNet::UnregisterCallback(DWORD cookie)
{
    KvNetLock lock(m_lock);
    const DWORD result = EnsureInitialized();
    if (result != ERROR_SUCCESS) {
        return result;
    }
    return m_callbacks.Remove(cookie);
}

int KvPlatformNet::IsInternetConnected(int quick, int honourAssumed)
{
    DWORD assumed = 0;
    if (honourAssumed != 0 && ReadEncipheredDword(kAssumeConnectedKey, "AssumeConnected", &assumed)) {
        // Stored as a DWORD: every value but 0 means connected.
        return assumed != 0 ? 1 : 0;
    }
    int state = -1;
    if (IsConnected(quick != 0 ? 0 : 1, &state) != ERROR_SUCCESS) {
        return -1;
    }
    return state;
}

DWORD KvPlatformNet::RegisterNetCallback(KvNetCallback onConnected, KvNetCallback onDisconnected, void* context,
                                         DWORD* cookie)
{
    if (onConnected == nullptr && onDisconnected == nullptr) {
        return kNetNoCallback;
    }
    // Workers that are stopped here are waited for after the lock is left.
    KvNetWorkerStop ended;
    KvNetWorkerStop undone;
    DWORD result = ERROR_SUCCESS;
    {
        KvNetLock lock(m_lock);
        result = EnsureInitialized();
        if (result != ERROR_SUCCESS) {
            return result;
        }
        // A worker is started whenever none runs, not only for an empty map: the worker empties the
        // map itself, and the exit event, which everyone may set, ends it without a stop request.
        // Under this lock the worker cannot stop itself before the entry is in the map.
        bool started = false;
        const bool exitRequested = ::WaitForSingleObject(m_exitEvent.get(), 0) != WAIT_TIMEOUT;
        if (exitRequested || !m_worker.IsRunning()) {
            (void)m_worker.StopAll(&ended);
            if (m_worker.Start(&KvPlatformNet::WorkerMain, this) != ERROR_SUCCESS) {
                return kNetWorkerNotStarted;
            }
            started = true;
        }
        ReportStep(KvNetStep::RegistrationWorkerDecided);
        result = RegisterCallback(onConnected, onDisconnected, context, cookie);
        if (result != ERROR_SUCCESS && started) {
            (void)m_worker.Stop(&undone);
        }
    }
    ended.Wait();
    undone.Wait();
    return result;
}

DWORD KvPlatformNet::UnregisterNetCallback(DWORD cookie)
{
    KvNetWorkerStop stop;
    DWORD result = ERROR_SUCCESS;
    {
        KvNetLock lock(m_lock);
        result = UnregisterCallback(cookie);
        if (result == ERROR_SUCCESS && m_callbacks.Empty()) {
            (void)m_worker.Stop(&stop);
        }
    }
    stop.Wait();
    return result;
}

int KvPlatformNet::GetConnectionType()
{
    int state = -1;
    if (IsRasConnected(&state) == ERROR_SUCCESS && state == 1) {
        return 2;
    }
    if (IsLanConnected(&state) == ERROR_SUCCESS && state == 1) {
        return 3;
    }
    return 1;
}

unsigned __stdcall KvPlatformNet::WorkerMain(void* self)
{
    try {
        static_cast<KvPlatformNet*>(self)->WorkerLoop();
    } catch (...) {
        // Nothing may leave the thread; a failed worker only stops telling callbacks.
    }
    return 0;
}

void KvPlatformNet::WorkerLoop()
{
    // Borrowed from the holder: open until this thread has returned or stopped itself.
    const HANDLE ownStop = m_worker.StopEventOfCallingThread();
    if (ownStop == nullptr) {
        return;  // stopped before it got here
    }
    const HANDLE events[3] = {m_exitEvent.get(), ownStop, m_lingerEvent.get()};
    for (;;) {
        const DWORD woken = ::WaitForMultipleObjects(3, events, FALSE, INFINITE);
        if (woken != WAIT_OBJECT_0 + 2) {
            return;  // an exit request, or a wait that cannot be made
        }
        int state = -1;
        if (IsConnected(1, &state) == ERROR_SUCCESS && (state == 0 || state == 1)) {
            (void)m_callbacks.Visit(state);
        }
        ReportStep(KvNetStep::WorkerBeforeStopDecision);
        {
            // Decided under the registrations' lock, so that none lands between the test of the map
            // and the stop.
            KvNetLock lock(m_lock);
            if (!m_worker.IsCallingThread()) {
                return;  // stopped meanwhile (a callback removed the last entry), perhaps replaced
            }
            if (m_callbacks.Empty() && m_worker.Stop() == 0) {
                return;
            }
        }
        if (::WaitForMultipleObjects(2, events, FALSE, m_settings.pollIntervalMs) != WAIT_TIMEOUT) {
            return;
        }
    }
}

int KvIsInternetConnected(int quick, int honourAssumed) { return g_kvPlatformNet.IsInternetConnected(quick, honourAssumed); }

DWORD KvRegisterNetCallback(KvNetCallback onConnected, KvNetCallback onDisconnected, void* context, DWORD* cookie)
{
    return g_kvPlatformNet.RegisterNetCallback(onConnected, onDisconnected, context, cookie);
}

DWORD KvUnregisterNetCallback(DWORD cookie) { return g_kvPlatformNet.UnregisterNetCallback(cookie); }

int KvGetConnectionType() { return g_kvPlatformNet.GetConnectionType(); }
