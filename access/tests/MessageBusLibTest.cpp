// The bus DLL binding over an in-process fake of the DLL: which table entries get which
// arguments, in which order the binding gives things back, and how construction failures end.

#include "access/ModuleException.h"
#include "access/message/MessageBusLib.h"
#include "access/message/MessageBusShimImpl.h"

#include <gtest/gtest.h>

#include <knownfolders.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

using Velmo::CreateMessage;
using Velmo::MessageBusLib;
using Velmo::MessageBusShimImpl;

namespace {

using namespace std::chrono_literals;

// What the fake DLL was asked, one line per call.
std::vector<std::wstring> g_calls;
bool g_createObjectFails = false;
std::uint32_t g_createHandleResult = 0;
const CorvaneMessageHeader* g_lastHeader = nullptr;
CorvaneMessageCallback g_lastMessageCallback = nullptr;
CorvaneReplyCallback g_lastReplyCallback = nullptr;
int g_handleObject = 0;

void Call(const std::wstring& line) { g_calls.push_back(line); }

std::wstring Texts(const wchar_t* name, const wchar_t* source, const wchar_t* data)
{
    return std::wstring(name) + L"|" + source + L"|" + data;
}

std::uint32_t FakeCreateHandle(CorvaneHandle* handle)
{
    Call(L"createHandle");
    if (g_createHandleResult == 0) *handle = &g_handleObject;
    return g_createHandleResult;
}
std::uint32_t FakeReleaseHandle(CorvaneHandle handle)
{
    Call(handle == &g_handleObject ? L"releaseHandle" : L"releaseHandle(wrong handle)");
    return 0x80000002;  // a failed release is only logged
}
std::uint32_t FakePublish(const wchar_t* entry, CorvaneHandle handle, const CorvaneMessageHeader* header,
                          const wchar_t* name, const wchar_t* source, const wchar_t* data)
{
    g_lastHeader = header;
    Call(std::wstring(entry) + (handle == &g_handleObject ? L" " : L" (wrong handle) ") + Texts(name, source, data));
    return 0;
}
std::uint32_t FakePublish2(CorvaneHandle h, const CorvaneMessageHeader* hd, const wchar_t* n, const wchar_t* s, const wchar_t* d)
{
    return FakePublish(L"publish", h, hd, n, s, d);
}
std::uint32_t FakePublish8(CorvaneHandle h, const CorvaneMessageHeader* hd, const wchar_t* n, const wchar_t* s, const wchar_t* d)
{
    return FakePublish(L"publishEx", h, hd, n, s, d);
}
std::uint32_t FakeRequest(const wchar_t* entry, CorvaneHandle handle, std::uint32_t index, void* context,
                          CorvaneReplyCallback callback, const CorvaneMessageHeader* header, const wchar_t* name,
                          const wchar_t* source, const wchar_t* data, std::uint32_t timeout)
{
    g_lastHeader = header;
    g_lastReplyCallback = callback;
    Call(std::wstring(entry) + L" index=" + std::to_wstring(index) + L" context=" +
         std::to_wstring(reinterpret_cast<std::uintptr_t>(context)) + L" timeout=" + std::to_wstring(timeout) + L" " +
         Texts(name, source, data) + (handle == &g_handleObject ? L"" : L" (wrong handle)"));
    return 0;
}
std::uint32_t FakeRequest3(CorvaneHandle h, std::uint32_t i, void* c, CorvaneReplyCallback cb, const CorvaneMessageHeader* hd,
                           const wchar_t* n, const wchar_t* s, const wchar_t* d, std::uint32_t t)
{
    return FakeRequest(L"request", h, i, c, cb, hd, n, s, d, t);
}
std::uint32_t FakeRequest9(CorvaneHandle h, std::uint32_t i, void* c, CorvaneReplyCallback cb, const CorvaneMessageHeader* hd,
                           const wchar_t* n, const wchar_t* s, const wchar_t* d, std::uint32_t t)
{
    return FakeRequest(L"requestEx", h, i, c, cb, hd, n, s, d, t);
}
std::uint32_t FakeSubscribe(CorvaneHandle handle, void* context, CorvaneMessageCallback callback, const wchar_t* name)
{
    g_lastMessageCallback = callback;
    Call(L"subscribe context=" + std::to_wstring(reinterpret_cast<std::uintptr_t>(context)) + L" " + name);
    return 21;
}
std::uint32_t FakeSubscribeFilter(CorvaneHandle handle, void* context, CorvaneMessageCallback callback, const wchar_t* pattern)
{
    g_lastMessageCallback = callback;
    Call(L"subscribeFilter context=" + std::to_wstring(reinterpret_cast<std::uintptr_t>(context)) + L" " + pattern);
    return 22;
}
std::uint32_t FakeUnsubscribe(CorvaneHandle handle, std::uint32_t id)
{
    Call(L"unsubscribe " + std::to_wstring(id));
    return 0;
}
std::uint32_t FakeSetReplyCallback(CorvaneHandle handle, CorvaneReplyCallback callback)
{
    g_lastReplyCallback = callback;
    Call(L"setReplyCallback");
    return 0;
}

const CorvaneFunctionTable g_fakeTable = {
    FakeCreateHandle, FakeReleaseHandle, FakePublish2,         FakeRequest3, FakeSubscribe,
    FakeSubscribeFilter, FakeUnsubscribe, FakeSetReplyCallback, FakePublish8, FakeRequest9,
};

const CorvaneFunctionTable* FakeCreateObject(std::uint32_t version)
{
    Call(L"CreateObject " + std::to_wstring(version));
    return g_createObjectFails ? nullptr : &g_fakeTable;
}
std::uint32_t FakeReleaseObject(const CorvaneFunctionTable*) { return 0; }
const wchar_t* FakeGetVersionStr() { return L"1"; }
std::uint32_t FakeGetVersionNum() { return 1; }

template <typename Function>
FARPROC ToFarProc(Function function)
{
    return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(function));
}

const HMODULE kFakeModule = reinterpret_cast<HMODULE>(0x5A5A0000);

// Loads nothing: the "module" is a token, and the exports are the fakes above.
class FakeDllAPI : public Velmo::DllAPI {
public:
    bool loadLibrary(const std::wstring& path, HMODULE& module) override
    {
        Call(L"LoadLibrary " + path);
        module = kFakeModule;
        return true;
    }
    FARPROC getProcAddress(HMODULE module, const char* name) override
    {
        if (module != kFakeModule) return nullptr;
        const std::string export_(name);
        if (export_ == "CreateObject") return ToFarProc(&FakeCreateObject);
        if (export_ == "ReleaseObject") return ToFarProc(&FakeReleaseObject);
        if (export_ == "GetVersionStr") return ToFarProc(&FakeGetVersionStr);
        if (export_ == "GetVersionNum") return ToFarProc(&FakeGetVersionNum);
        return nullptr;
    }
    bool isTrusted(const std::wstring&) override { return true; }
    bool freeLibrary(HMODULE module) override
    {
        Call(module == kFakeModule ? L"FreeLibrary" : L"FreeLibrary(wrong module)");
        return true;
    }
    bool getModuleHandleEx(DWORD, const wchar_t*, HMODULE&) override { return false; }
};

class FakePathAPI : public Velmo::PathAPI {
public:
    bool isFile(const std::wstring& path) override { return path == L"C:\\FakeBus\\Corvane.dll"; }
};

std::shared_ptr<Velmo::SharedLibrary> FakeBusLibrary()
{
    auto dllApi = std::make_shared<FakeDllAPI>();
    return std::make_shared<Velmo::SharedLibrary>(
        L"Corvane.dll", std::vector<std::wstring>{L"C:\\FakeBus"}, std::make_shared<Velmo::DllLoader>(dllApi), nullptr,
        std::make_shared<Velmo::PathSearch>(std::make_shared<FakePathAPI>(), dllApi));
}

class BusDllBinding : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_calls.clear();
        g_createObjectFails = false;
        g_createHandleResult = 0;
        g_lastHeader = nullptr;
        g_lastMessageCallback = nullptr;
        g_lastReplyCallback = nullptr;
    }
};

TEST_F(BusDllBinding, EveryOperationReachesItsTableEntryWithItsArguments)
{
    auto bus = std::make_unique<MessageBusLib>(FakeBusLibrary());
    EXPECT_EQ((std::vector<std::wstring>{L"LoadLibrary C:\\FakeBus\\Corvane.dll", L"CreateObject 2001000", L"createHandle"}),
              g_calls);
    EXPECT_EQ(&g_fakeTable, bus->functionTable());
    EXPECT_EQ(&g_handleObject, bus->handle());
    g_calls.clear();

    auto message = CreateMessage(L"Name", L"Source", L"Data");
    EXPECT_EQ(0u, bus->publish(message, 0));
    EXPECT_EQ(message->getHeader(), g_lastHeader);
    EXPECT_EQ(0u, bus->publish(message, 1));
    Velmo::ReplyHandler handler;
    Velmo::SubscriberCallback subscriber;
    EXPECT_EQ(0u, bus->request(message, 3, &handler, 250ms, 0));
    EXPECT_EQ(&MessageBusShimImpl::DeliverReply, g_lastReplyCallback);
    EXPECT_EQ(0u, bus->request(message, 4, &handler, -5ms, 1));
    EXPECT_EQ(0u, bus->request(message, 5, &handler, std::chrono::milliseconds(0x1FFFFFFFFLL), 0));
    EXPECT_EQ(21u, bus->subscribe(L"Exact", &subscriber));
    EXPECT_EQ(&MessageBusShimImpl::DeliverMessage, g_lastMessageCallback);
    EXPECT_EQ(22u, bus->subscribeFilter(L"Pat.*", &subscriber));
    EXPECT_EQ(0u, bus->unsubscribe(21));
    EXPECT_EQ(0u, bus->setReplyCallback());
    EXPECT_EQ(0x80000008u, bus->publish(nullptr, 0));
    EXPECT_EQ(0x80000008u, bus->request(nullptr, 6, &handler, 1ms, 0));

    const std::wstring handlerText = std::to_wstring(reinterpret_cast<std::uintptr_t>(&handler));
    const std::wstring subscriberText = std::to_wstring(reinterpret_cast<std::uintptr_t>(&subscriber));
    EXPECT_EQ((std::vector<std::wstring>{
                  L"publish Name|Source|Data",
                  L"publishEx Name|Source|Data",
                  L"request index=3 context=" + handlerText + L" timeout=250 Name|Source|Data",
                  L"requestEx index=4 context=" + handlerText + L" timeout=0 Name|Source|Data",
                  L"request index=5 context=" + handlerText + L" timeout=4294967295 Name|Source|Data",
                  L"subscribe context=" + subscriberText + L" Exact",
                  L"subscribeFilter context=" + subscriberText + L" Pat.*",
                  L"unsubscribe 21",
                  L"setReplyCallback",
              }),
              g_calls);

    // The implementation goes first (handing the reply callback over once more), then the
    // handle, then the library.
    g_calls.clear();
    g_lastReplyCallback = nullptr;
    bus.reset();
    EXPECT_EQ((std::vector<std::wstring>{L"setReplyCallback", L"releaseHandle", L"FreeLibrary"}), g_calls);
    EXPECT_EQ(&MessageBusShimImpl::DeliverReply, g_lastReplyCallback);
}

TEST_F(BusDllBinding, ConstructionFailuresThrowAndLeaveNothingLoaded)
{
    g_createObjectFails = true;
    try {
        MessageBusLib bus(FakeBusLibrary());
        ADD_FAILURE() << "no exception";
    } catch (const Velmo::ModuleException& exception) {
        EXPECT_STREQ("Failed to get message bus functions object", exception.what());
    }
    EXPECT_EQ((std::vector<std::wstring>{L"LoadLibrary C:\\FakeBus\\Corvane.dll", L"CreateObject 2001000", L"FreeLibrary"}),
              g_calls);

    g_calls.clear();
    g_createObjectFails = false;
    g_createHandleResult = 0x80000009;
    try {
        MessageBusLib bus(FakeBusLibrary());
        ADD_FAILURE() << "no exception";
    } catch (const Velmo::ModuleException& exception) {
        EXPECT_STREQ("Failed to get message bus handle", exception.what());
    }
    EXPECT_EQ((std::vector<std::wstring>{L"LoadLibrary C:\\FakeBus\\Corvane.dll", L"CreateObject 2001000", L"createHandle",
                                         L"FreeLibrary"}),
              g_calls);
}

TEST_F(BusDllBinding, ImplementationRefusesANullHandleOrTable)
{
    try {
        MessageBusShimImpl implementation(nullptr, &g_fakeTable);
        ADD_FAILURE() << "no exception";
    } catch (const Velmo::ModuleException& exception) {
        EXPECT_STREQ("Invalid message bus handle", exception.what());
    }
    try {
        MessageBusShimImpl implementation(&g_handleObject, nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const Velmo::ModuleException& exception) {
        EXPECT_STREQ("Invalid message bus functions object", exception.what());
    }
    EXPECT_TRUE(g_calls.empty());
}

class FakeRegistryAPI : public Velmo::RegistryAPI {
public:
    Velmo::ModuleStatus readString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& value) override
    {
        asked.push_back(keyPath + L"|" + valueName);
        if (folder.empty()) return 0x80000002;
        value = folder;
        return 0;
    }
    std::wstring folder;
    std::vector<std::wstring> asked;
};

class FakeShlObjAPI : public Fundor::ShlObjAPI {
public:
    HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD flags, HANDLE token, PWSTR* path) override
    {
        if (folderId != FOLDERID_ProgramFilesCommon || flags != 0 || token != nullptr) return E_INVALIDARG;
        if (fail) return E_FAIL;
        const wchar_t text[] = L"C:\\Common Files";
        *path = static_cast<PWSTR>(CoTaskMemAlloc(sizeof(text)));
        if (*path == nullptr) return E_OUTOFMEMORY;
        std::memcpy(*path, text, sizeof(text));
        return S_OK;
    }
    bool fail = false;
};

TEST_F(BusDllBinding, RegistryRouteReadsTheInstallFolderElseTheCommonFilesFolder)
{
    EXPECT_EQ(L"Corvane.dll", MessageBusLib::busLibraryName());
    EXPECT_EQ((std::vector<std::wstring>{L"$(App.Folder)", L"$(Brannock.InstallDir)"}), MessageBusLib::busSearchFolders());

    auto registry = std::make_shared<FakeRegistryAPI>();
    auto shell = std::make_shared<FakeShlObjAPI>();
    registry->folder = L"D:\\Brann";
    auto [name, folders] = MessageBusLib::loadFromRegistry(registry, shell);
    EXPECT_EQ(L"Corvane.dll", name);
    EXPECT_EQ((std::vector<std::wstring>{L"D:\\Brann"}), folders);
    // A 64-bit process reads the native value.
    EXPECT_EQ((std::vector<std::wstring>{L"SOFTWARE\\TERVANE\\BRANN|Install Dir"}), registry->asked);

    registry->folder.clear();
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\Common Files\\Tervane\\Brannock"}),
              MessageBusLib::loadFromRegistry(registry, shell).second);
    shell->fail = true;
    EXPECT_EQ((std::vector<std::wstring>{L""}), MessageBusLib::loadFromRegistry(registry, shell).second);
}

}  // namespace
