// The surrogate program's lifetime against its clients: it ends with the last object released
// (the helper the connection went through included), also when a client process is ended while
// holding objects, and never while a live client holds one. The clients are this process and
// copies of it running the client case below.

#include "core/base/ScopedResource.h"
#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/EnvironmentBlock.h"
#include "core/testsupport/ProgramFolder.h"
#include "pageobjects/objects/KvSurrogateConnection.h"
#include "pageobjects/tests/objects/PageObjectTestSupport.h"

#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <wrl/client.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;
using namespace PageObjectTesting;

namespace {

constexpr wchar_t kReportVariable[] = L"ORDWELL_SURROGATE_CLIENT_REPORT";
// Two watch periods of the server plus Wine's process teardown, with room for a busy machine.
constexpr DWORD kEndBoundMs = 8000;

// A provider made in the surrogate as the page objects make it; *server is the surrogate's
// process, which the provider names.
HRESULT HoldProvider(ComPtr<IKvSurrogate>* loader, ComPtr<IDispatch>* provider, DWORD* server)
{
    SurrogateStep step = SurrogateStep::CreateHelper;
    HRESULT hr = ConnectToSurrogate(false, loader->ReleaseAndGetAddressOf(), &step);
    if (FAILED(hr)) return hr;
    hr = CreateInSurrogate(loader->Get(), kKvDspSystemInfo.clsid, IID_IDispatch,
                           reinterpret_cast<void**>(provider->ReleaseAndGetAddressOf()));
    if (FAILED(hr)) return hr;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_DISPATCH;
    value.pdispVal = provider->Get();
    const std::wstring name = ProviderName(value);
    const std::wstring prefix = L"IKvDspSystemInfo ";
    if (name.rfind(prefix, 0) != 0) return E_UNEXPECTED;
    *server = static_cast<DWORD>(std::stoul(name.substr(prefix.size())));
    return S_OK;
}

std::wstring ImageName(DWORD processId)
{
    Fundor::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == processId) return entry.szExeFile;
    }
    return L"<gone>";
}

Fundor::ScopedHandle OpenServer(DWORD processId)
{
    return Fundor::ScopedHandle(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
}

// Milliseconds until the process ended, or -1 when it still runs after bound.
long long MillisecondsToEnd(HANDLE process, DWORD bound)
{
    const ULONGLONG start = GetTickCount64();
    if (WaitForSingleObject(process, bound) != WAIT_OBJECT_0) return -1;
    return static_cast<long long>(GetTickCount64() - start);
}

// Another process holding a provider in the surrogate (the client case below), until ended.
class ClientProcess {
public:
    explicit ClientProcess(const std::wstring& report)
        : m_report(report),
          m_process(Fundor::testing::ThisProgramPath(),
                    Fundor::testing::SingleTestArguments(L"SurrogateClient.DISABLED_HoldsAProvider"),
                    {.environment = Fundor::testing::EnvironmentBlock({{kReportVariable, report}})}),
          m_id(m_process.id())
    {
        EXPECT_TRUE(m_process.valid());
    }
    // The surrogate process the client reached, 0 if it reported none in time.
    DWORD Server() const
    {
        for (int attempt = 0; attempt < 200 && m_process.valid(); ++attempt) {
            std::ifstream file{std::filesystem::path(m_report)};
            unsigned long server = 0;
            if (file >> server) return static_cast<DWORD>(server);
            if (m_process.Wait(100).has_value()) break;
        }
        return 0;
    }
    void End()
    {
        m_process.Kill(1);
        m_process = Fundor::testing::ChildProcess();
    }
    DWORD Id() const { return m_id; }

private:
    std::wstring m_report;
    Fundor::testing::ChildProcess m_process;
    DWORD m_id = 0;
};

// Run only by ClientProcess: holds a provider and writes the surrogate's process id, the
// report file appearing whole (a rename), then waits to be ended.
TEST(SurrogateClient, DISABLED_HoldsAProvider)
{
    wchar_t report[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(kReportVariable, report, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH);
    ComApartment com;
    ComPtr<IKvSurrogate> loader;
    ComPtr<IDispatch> provider;
    DWORD server = 0;
    ASSERT_EQ(S_OK, HoldProvider(&loader, &provider, &server));
    const std::wstring partial = std::wstring(report) + L".part";
    {
        std::ofstream file{std::filesystem::path(partial)};
        file << server;
    }
    ASSERT_TRUE(MoveFileW(partial.c_str(), report));
    // Never outlives a test that lost track of it.
    for (int second = 0; second < 60; ++second) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        Sleep(1000);
    }
}

class SurrogateLifetime : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The registration is the prefix's: other tests that register or remove it take turns.
        ASSERT_TRUE(m_turn.owned());
        ASSERT_EQ(0u, RunStandIn(L"-RegServer"));
    }
    void TearDown() override { EXPECT_EQ(0u, RunStandIn(L"-UnregServer")); }

    TrustTesting::HalvornKeyTurn m_turn;
    ComApartment m_com;
    StandInLog m_log;
    Fundor::testing::ScratchFolder m_folder;
};

TEST_F(SurrogateLifetime, EndsWhenItsLastClientReleasesOrEnds)
{
    // One client that releases what it made.
    {
        ComPtr<IKvSurrogate> loader;
        ComPtr<IDispatch> provider;
        DWORD serverId = 0;
        ASSERT_EQ(S_OK, HoldProvider(&loader, &provider, &serverId));
        ASSERT_NE(GetCurrentProcessId(), serverId);
        EXPECT_EQ(L"KvSurrogate.exe", ImageName(serverId));
        Fundor::ScopedHandle server = OpenServer(serverId);
        ASSERT_TRUE(server);
        provider.Reset();
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(server.get(), 1000)) << "the loader is still held";
        loader.Reset();
        const long long ended = MillisecondsToEnd(server.get(), kEndBoundMs);
        EXPECT_NE(-1, ended) << "the surrogate still runs after its last object was released";
        std::cout << "released: the surrogate ended after " << ended << " ms" << std::endl;
        DWORD code = 1;
        EXPECT_TRUE(GetExitCodeProcess(server.get(), &code));
        EXPECT_EQ(0u, code);
        // The helper's last reference went while the server still served, not with its end.
        const std::vector<std::string> lines = m_log.Lines();
        const auto lineOf = [&lines](const char* text) {
            return std::find(lines.begin(), lines.end(), text) - lines.begin();
        };
        EXPECT_LT(lineOf("other helper released"), lineOf("other server stopped"))
            << "the connection kept a reference to the helper (" << lines.size() << " lines)";
    }

    // A client ended while it holds its objects.
    {
        ClientProcess client(m_folder.File(L"ended.txt"));
        const DWORD serverId = client.Server();
        ASSERT_NE(0u, serverId);
        EXPECT_EQ(L"KvSurrogate.exe", ImageName(serverId));
        Fundor::ScopedHandle server = OpenServer(serverId);
        ASSERT_TRUE(server);
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(server.get(), 1000)) << "the client still holds its objects";
        client.End();
        const long long ended = MillisecondsToEnd(server.get(), kEndBoundMs);
        EXPECT_NE(-1, ended) << "the surrogate still runs after its only client was ended";
        std::cout << "client ended: the surrogate ended after " << ended << " ms" << std::endl;
        EXPECT_EQ(1, m_log.Count("other client " + std::to_string(client.Id()) + " ended"));
    }

    // Two clients: the one that ends takes only its own objects along.
    {
        ClientProcess client(m_folder.File(L"second.txt"));
        const DWORD serverId = client.Server();
        ASSERT_NE(0u, serverId);
        Fundor::ScopedHandle server = OpenServer(serverId);
        ASSERT_TRUE(server);
        ComPtr<IKvSurrogate> loader;
        ComPtr<IDispatch> provider;
        DWORD reached = 0;
        ASSERT_EQ(S_OK, HoldProvider(&loader, &provider, &reached));
        EXPECT_EQ(serverId, reached) << "one surrogate serves both clients";
        client.End();
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(server.get(), 2500)) << "this process still holds objects";
        // What this process holds still works, and it can make more.
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_DISPATCH;
        value.pdispVal = provider.Get();
        EXPECT_EQ(L"IKvDspSystemInfo " + std::to_wstring(serverId), ProviderName(value));
        ComPtr<IDispatch> another;
        EXPECT_EQ(S_OK, CreateInSurrogate(loader.Get(), kKvDspSystemInfo.clsid, IID_IDispatch,
                                          reinterpret_cast<void**>(another.GetAddressOf())));
        another.Reset();
        provider.Reset();
        EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(server.get(), 1000)) << "the loader is still held";
        loader.Reset();
        EXPECT_NE(-1, MillisecondsToEnd(server.get(), kEndBoundMs)) << "the last client released everything";
        EXPECT_EQ(1, m_log.Count("other client " + std::to_string(client.Id()) + " ended"));
    }
}

}  // namespace
