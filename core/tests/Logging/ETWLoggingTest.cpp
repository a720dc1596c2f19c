#include "core/Logging/CETWLogging.h"
#include "core/tests/Logging/EtwTestSupport.h"
#include "core/tests/Logging/FakeEtwTraceApi.h"
#include "core/tests/registry/RegistryTestSupport.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace ETWLogging {
namespace {

using testing::EtwPayload;
using testing::FakeEtwTraceApi;
using testing::ParsePayload;
using testing::Text;
using testing::U32At;
using testing::U64At;

constexpr TRACEHANDLE kSession = 0x7701;
constexpr TRACEHANDLE kOtherSession = 0x7702;

// The event class GUID as it lies in memory.
constexpr std::uint8_t kEventClassBytes[16] = {0xD0, 0xAA, 0x1D, 0xCD, 0xCC, 0x54, 0xE0, 0x11,
                                               0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66};

std::wstring ProcessPath()
{
    wchar_t path[MAX_PATH * 4] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    return std::wstring(path, length);
}

// Remembers what it was told; optionally runs a step inside each call.
class RecordingListener : public LoggingConfigListenerIf {
public:
    struct Call {
        bool enabled;
        std::uint32_t level;
        std::uint32_t flags;
    };
    void ApplyState(bool enabled, std::uint32_t level, std::uint32_t flags) override
    {
        calls.push_back({enabled, level, flags});
        if (onApply) onApply();
    }
    bool AttachLogger(CLoggingIf* attached) override
    {
        if (logger != nullptr || attached == nullptr) return false;
        logger = attached;
        return true;
    }
    void GetSettingsKey(HKEY& hive, std::wstring& path) override
    {
        hive = HKEY_LOCAL_MACHINE;
        path.clear();
    }
    void ReadSettings(HKEY, const std::wstring&) override {}

    std::vector<Call> calls;
    std::function<void()> onApply;
    CLoggingIf* logger = nullptr;
};

class ETWLoggingTest : public Fundor::testing::RegistryIsolatedTest {
protected:
    // Initialised with the defaults (the isolated HKLM holds no settings), registered, and
    // enabled by kSession at level.
    void Start(UCHAR level = 1)
    {
        ASSERT_EQ(0u, m_logger->InitializeEx(nullptr, L"_no_group", nullptr, L"_no_host", nullptr));
        ASSERT_EQ(0u, m_logger->EnsureReady(kLevelInformation, nullptr, nullptr));
        ASSERT_EQ(0u, m_api->Enable(kSession, level, 0));
        ASSERT_TRUE(m_logger->IsSameSession(kSession));
    }

    FakeEtwTraceApi::Event OnlyEvent()
    {
        const auto events = m_api->Events();
        EXPECT_EQ(1u, events.size());
        return events.empty() ? FakeEtwTraceApi::Event{} : events.back();
    }

    std::shared_ptr<FakeEtwTraceApi> m_api = std::make_shared<FakeEtwTraceApi>();
    std::unique_ptr<CETWLogging> m_logger = std::make_unique<CETWLogging>(m_api);
};

TEST_F(ETWLoggingTest, EventHeaderIsTheExactEightyBytes)
{
    Start(4);
    ASSERT_EQ(0u, m_logger->LogEx(kLevelError, L"KvShell.cpp", L"CKvShellModule::Run", 123, L"code %d", 42));
    const auto event = OnlyEvent();
    EXPECT_EQ(kSession, event.session);

    std::array<std::uint8_t, 80> expected = {};
    expected[0] = 80;
    expected[4] = 1;  // type
    expected[5] = 4;  // level
    expected[6] = 2;  // version
    std::memcpy(&expected[24], kEventClassBytes, 16);
    expected[46] = 0x12;  // flags 0x00120000
    // MOF field 1: the record data; MOF field 2: the message. The pointers are the logger's own.
    std::memcpy(&expected[48], &event.bytes[48], 8);
    const std::uint32_t dataLength = static_cast<std::uint32_t>(event.data.size());
    std::memcpy(&expected[56], &dataLength, 4);
    std::memcpy(&expected[64], &event.bytes[64], 8);
    const std::uint32_t messageLength = static_cast<std::uint32_t>(event.message.size());
    std::memcpy(&expected[72], &messageLength, 4);
    EXPECT_EQ(Fundor::testing::Hex(expected.data(), 80), Fundor::testing::Hex(event.bytes.data(), 80));
    EXPECT_NE(0u, U64At(&event.bytes[48]));
    EXPECT_NE(0u, U64At(&event.bytes[64]));
    EXPECT_NE(U64At(&event.bytes[48]), U64At(&event.bytes[64]));
    EXPECT_EQ(std::string("code 42", 8), Text(event.message));
}

TEST_F(ETWLoggingTest, RecordDataIsPackedFieldByField)
{
    Start();
    ASSERT_EQ(0u, m_logger->LogEx(kLevelWarning, L"KvShell.cpp", L"CKvShellModule::Run", -7, L"x"));
    DWORD otherThread = 0;
    std::thread([&] {
        otherThread = ::GetCurrentThreadId();
        (void)m_logger->LogEx(kLevelError, nullptr, nullptr, 9, L"");
    }).join();
    const auto events = m_api->Events();
    ASSERT_EQ(2u, events.size());

    const EtwPayload first = ParsePayload(events[0].data);
    EXPECT_TRUE(first.exact);
    EXPECT_EQ(::GetCurrentProcessId(), first.processId);
    EXPECT_EQ(::GetCurrentThreadId(), first.threadId);
    EXPECT_EQ(L"core_tests.exe", first.processName);
    EXPECT_EQ(L"KvShell.cpp", first.file);
    EXPECT_EQ(L"CKvShellModule::Run", first.function);
    EXPECT_EQ(static_cast<std::uint32_t>(-7), first.line);
    EXPECT_EQ(L"", first.fileVersion);  // the test program carries no version resource
    EXPECT_EQ(ProcessPath(), first.modulePath);
    EXPECT_EQ(L"_no_group", first.group);
    EXPECT_EQ(2, first.messageBytes);
    EXPECT_EQ(std::string("x", 2), Text(events[0].message));
    // Exact size: 4+4 + (2+28) + (2+22) + (2+38) + 4 + 2 + (2+2*path) + (2+18) + 8.
    EXPECT_EQ(4 + 4 + 30 + 24 + 40 + 4 + 2 + 2 + 2 * ProcessPath().size() + 20 + 8, events[0].data.size());

    const EtwPayload second = ParsePayload(events[1].data);
    EXPECT_TRUE(second.exact);
    EXPECT_EQ(otherThread, second.threadId);
    EXPECT_EQ(L"", second.file);
    EXPECT_EQ(L"", second.function);
    EXPECT_EQ(9u, second.line);
    // An empty message is sent as its terminator alone.
    EXPECT_EQ(1, second.messageBytes);
    EXPECT_EQ(std::string("", 1), Text(events[1].message));
}

TEST_F(ETWLoggingTest, MessageIsUtf8AndCutAt2079Characters)
{
    Start();
    ASSERT_EQ(0u, m_logger->LogEx(kLevelError, L"f", L"g", 1, L"Gr\u00fc\u00dfe \u20ac%d", 42));
    const std::string expected = "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC" "42";
    EXPECT_EQ(expected + std::string(1, '\0'), Text(m_api->Events().back().message));

    const std::wstring ascii(3000, L'x');
    const std::wstring euros(3000, L'\u20ac');
    m_api->ClearEvents();
    ASSERT_EQ(0u, m_logger->LogEx(kLevelError, L"f", L"g", 1, L"%s", ascii.c_str()));
    ASSERT_EQ(0u, m_logger->WriteTextEx(kLevelError, L"f", L"g", 1, ascii.c_str()));
    m_logger->Log(kLevelError, L"f", L"g", 1, L"%s", ascii.c_str());
    ASSERT_EQ(0u, m_logger->WriteTextEx(kLevelError, L"f", L"g", 1, euros.c_str()));
    const std::wstring fitting(2079, L'y');
    ASSERT_EQ(0u, m_logger->WriteTextEx(kLevelError, L"f", L"g", 1, fitting.c_str()));
    const auto events = m_api->Events();
    ASSERT_EQ(5u, events.size());
    for (int i = 0; i < 3; ++i) {
        // 2,079 characters and the terminator: 2,080 characters' worth.
        EXPECT_EQ(std::string(2079, 'x') + std::string(1, '\0'), Text(events[i].message)) << i;
        EXPECT_EQ(2080, ParsePayload(events[i].data).messageBytes) << i;
        EXPECT_EQ(2080u, U32At(&events[i].bytes[72])) << i;
    }
    std::string euroText;
    for (int i = 0; i < 2079; ++i) euroText += "\xE2\x82\xAC";
    EXPECT_EQ(euroText + std::string(1, '\0'), Text(events[3].message));
    EXPECT_EQ(2079 * 3 + 1, ParsePayload(events[3].data).messageBytes);
    EXPECT_EQ(std::string(2079, 'y') + std::string(1, '\0'), Text(events[4].message));
}

// Leaves a recognisable pattern where the next call's stack frame will lie.
__attribute__((noinline)) void FillStack(std::uint8_t pattern)
{
    volatile std::uint8_t area[32 * 1024];
    for (auto& byte : area) byte = pattern;
}

TEST_F(ETWLoggingTest, FailedFormattingSendsOnlyWhatWasWritten)
{
    Start();
    // "%y" is no conversion: the run-time stops after "ab" and reports an error.
    FillStack(0xCC);
    ASSERT_EQ(0u, m_logger->LogEx(kLevelError, L"f", L"g", 1, L"ab%y and more"));
    FillStack(0xCC);
    ASSERT_EQ(0u, m_logger->LogEx(kLevelError, L"f", L"g", 1, L"%"));
    const auto events = m_api->Events();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(std::string("ab", 3), Text(events[0].message));
    EXPECT_EQ(3, ParsePayload(events[0].data).messageBytes);
    EXPECT_EQ(std::string("", 1), Text(events[1].message));
    EXPECT_EQ(1, ParsePayload(events[1].data).messageBytes);
}

TEST_F(ETWLoggingTest, LevelGateAndLevelByte)
{
    Start(5);
    EXPECT_EQ(5u, m_logger->GetSeverity());
    for (LogLevel level : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 200u}) {
        ASSERT_EQ(0u, m_logger->LogEx(level, L"f", L"g", static_cast<int>(level), L"level"));
    }
    auto events = m_api->Events();
    // Sent: 3 (always on), 5, 6, 7 and 200; level bytes 3, 5, 3, 3, 3.
    ASSERT_EQ(5u, events.size());
    const std::uint32_t lines[] = {3, 5, 6, 7, 200};
    const std::uint8_t bytes[] = {3, 5, 3, 3, 3};
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(lines[i], ParsePayload(events[i].data).line);
        EXPECT_EQ(bytes[i], events[i].bytes[5]) << "line " << lines[i];
    }

    // The level-named calls reach LogV, which tests the level: at Severity 5 only level 3 passes.
    m_api->ClearEvents();
    EXPECT_EQ(0u, m_logger->LogWarning(L"f", L"g", 1, L"w"));
    EXPECT_EQ(0u, m_logger->LogError(L"f", L"g", 2, L"e"));
    EXPECT_EQ(0u, m_logger->LogInformation(L"f", L"g", 3, L"i"));
    m_logger->SetSeverity(1);
    EXPECT_EQ(0u, m_logger->LogWarning(L"f", L"g", 4, L"w"));
    EXPECT_EQ(0u, m_logger->LogError(L"f", L"g", 5, L"e"));
    EXPECT_EQ(0u, m_logger->LogNormal(L"f", L"g", 6, L"n"));
    m_logger->Log(kLevelNormal, L"f", L"g", 7, L"");  // an empty format sends nothing
    events = m_api->Events();
    ASSERT_EQ(4u, events.size());
    const std::uint32_t namedLines[] = {3, 4, 5, 6};
    const std::uint8_t namedBytes[] = {3, 2, 4, 1};
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(namedLines[i], ParsePayload(events[i].data).line);
        EXPECT_EQ(namedBytes[i], events[i].bytes[5]) << "line " << namedLines[i];
    }

    m_logger->SetSeverity(0);
    EXPECT_EQ(1u, m_logger->GetSeverity());
    m_logger->SetSeverity(9);
    EXPECT_EQ(6u, m_logger->GetSeverity());
    EXPECT_TRUE(m_logger->IsLevelEnabled(kLevelInformation));
    EXPECT_FALSE(m_logger->IsLevelEnabled(kLevelCritical));

    // Disabled: nothing at all, and a null format is refused first.
    m_api->ClearEvents();
    EXPECT_TRUE(m_logger->SetEnabled(false));
    EXPECT_EQ(0u, m_logger->LogEx(kLevelInformation, L"f", L"g", 1, L"off"));
    EXPECT_EQ(87u, m_logger->LogEx(kLevelInformation, L"f", L"g", 1, nullptr));
    EXPECT_TRUE(m_api->Events().empty());
}

TEST_F(ETWLoggingTest, LongRecordDataMovesToTheHeapAndIsSentWhole)
{
    Start();
    const std::wstring file = L"src\\" + std::wstring(300, L'F') + L".cpp";
    const std::wstring function(200, L'M');
    // A name beyond a counted string's reach keeps its first 65,535 characters, and the
    // fields after it stay where a reader expects them.
    const std::wstring huge(70000, L'H');
    ASSERT_EQ(0u, m_logger->LogEx(kLevelError, file.c_str(), function.c_str(), 77, L"m"));
    ASSERT_EQ(0u, m_logger->LogEx(kLevelError, huge.c_str(), function.c_str(), 78, L"m"));
    const auto events = m_api->Events();
    ASSERT_EQ(2u, events.size());

    const EtwPayload first = ParsePayload(events[0].data);
    EXPECT_TRUE(first.exact);
    EXPECT_GT(events[0].data.size(), 256u);
    EXPECT_EQ(file, first.file);
    EXPECT_EQ(function, first.function);
    EXPECT_EQ(77u, first.line);
    EXPECT_EQ(L"_no_group", first.group);
    EXPECT_EQ(events[0].data.size(), U32At(&events[0].bytes[56]));

    const EtwPayload second = ParsePayload(events[1].data);
    EXPECT_TRUE(second.exact);
    EXPECT_EQ(huge.substr(0, 65535), second.file);
    EXPECT_EQ(function, second.function);
    EXPECT_EQ(78u, second.line);
    EXPECT_EQ(L"_no_group", second.group);
    EXPECT_EQ(2, second.messageBytes);
}

TEST_F(ETWLoggingTest, RegistersOnceWithTheDefaultControlGuidAndUnregisters)
{
    ASSERT_EQ(0u, m_logger->InitializeEx(nullptr, L"_no_group", nullptr, L"_no_host", nullptr));
    EXPECT_TRUE(m_api->Registrations().empty());  // nothing before the first record
    EXPECT_EQ(0u, m_logger->Uninitialize());       // not registered: nothing to do

    ASSERT_EQ(0u, m_logger->EnsureReady(kLevelInformation, nullptr, nullptr));
    ASSERT_EQ(0u, m_logger->EnsureReady(kLevelInformation, nullptr, nullptr));
    auto registrations = m_api->Registrations();
    ASSERT_EQ(1u, registrations.size());
    // {E16CA450-55CC-11E0-B8AF-0800200C9A66}
    const GUID control = {0xE16CA450, 0x55CC, 0x11E0, {0xB8, 0xAF, 0x08, 0x00, 0x20, 0x0C, 0x9A, 0x66}};
    EXPECT_TRUE(::IsEqualGUID(control, registrations[0].controlGuid));
    EXPECT_EQ(1u, registrations[0].guidCount);
    EXPECT_EQ(0, std::memcmp(kEventClassBytes, &registrations[0].traceGuid, 16));
    EXPECT_EQ(m_logger.get(), registrations[0].context);
    EXPECT_EQ(20001u, m_logger->InitializeEx(nullptr, L"g", nullptr, L"h", nullptr));

    ASSERT_EQ(0u, m_api->Enable(kSession, 3, 0));
    EXPECT_EQ(0u, m_logger->Uninitialize());
    EXPECT_EQ(std::vector<TRACEHANDLE>{0x5100}, m_api->Unregistered());
    EXPECT_FALSE(m_logger->IsEnabled());
    // A later record registers again, and a new session may enable it.
    ASSERT_EQ(0u, m_logger->EnsureReady(kLevelInformation, nullptr, nullptr));
    EXPECT_EQ(2u, m_api->Registrations().size());
    EXPECT_EQ(0u, m_api->Enable(kOtherSession, 3, 0));
    EXPECT_TRUE(m_logger->IsSameSession(kOtherSession));
    EXPECT_TRUE(m_logger->IsEnabled());

    m_logger.reset();  // the destructor unregisters
    EXPECT_EQ((std::vector<TRACEHANDLE>{0x5100, 0x5101}), m_api->Unregistered());
}

TEST_F(ETWLoggingTest, FailedRegistrationIsReportedOnceAndNotRetried)
{
    ASSERT_EQ(0u, m_logger->InitializeEx(nullptr, L"_no_group", nullptr, L"_no_host", nullptr));
    m_api->registerResult = ERROR_ACCESS_DENIED;
    EXPECT_EQ(5u, m_logger->EnsureReady(kLevelInformation, nullptr, nullptr));
    EXPECT_EQ(0u, m_logger->EnsureReady(kLevelInformation, nullptr, nullptr));
    EXPECT_EQ(1u, m_api->Registrations().size());
    // No handle was had, so none is given back.
    EXPECT_EQ(0u, m_logger->Uninitialize());
    EXPECT_TRUE(m_api->Unregistered().empty());
}

TEST_F(ETWLoggingTest, ConcurrentFirstRecordsRegisterOnce)
{
    ASSERT_EQ(0u, m_logger->InitializeEx(nullptr, L"_no_group", nullptr, L"_no_host", nullptr));
    m_api->duringRegister = [] { ::Sleep(50); };
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            if (m_logger->EnsureReady(kLevelInformation, nullptr, nullptr) != 0) ++failures;
        });
    }
    go = true;
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(1u, m_api->Registrations().size());
}

TEST_F(ETWLoggingTest, ControllerEnablingDuringRegistrationDoesNotRegisterAgain)
{
    // A real controller may call the control callback from inside RegisterTraceGuidsW, on the
    // registering thread or on its own while that thread waits. What the listener then logs
    // must neither register a second time nor wait for the lock the registration holds.
    for (bool ownThread : {false, true}) {
        SCOPED_TRACE(ownThread ? "controller thread" : "registering thread");
        auto api = std::make_shared<FakeEtwTraceApi>();
        auto logger = std::make_unique<CETWLogging>(api);
        auto* listener = new RecordingListener;
        ASSERT_EQ(0u, logger->InitializeEx(nullptr, L"_no_group", nullptr, L"_no_host", listener));
        std::vector<std::uint32_t> nestedResults;
        listener->onApply = [&] {
            nestedResults.push_back(logger->EnsureReady(kLevelError, nullptr, nullptr));
            nestedResults.push_back(logger->LogEx(kLevelError, L"f", L"g", 1, L"nested"));
        };

        ULONG enableResult = 99;
        api->duringRegister = [&] {
            if (ownThread) {
                std::thread([&] { enableResult = api->Enable(kSession, 4, 0x21); }).join();
            } else {
                enableResult = api->Enable(kSession, 4, 0x21);
            }
        };
        ASSERT_EQ(0u, logger->EnsureReady(kLevelError, nullptr, nullptr));
        EXPECT_EQ(0u, enableResult);
        EXPECT_EQ(1u, api->Registrations().size());
        EXPECT_EQ((std::vector<std::uint32_t>{0, 0}), nestedResults);
        EXPECT_TRUE(logger->IsSameSession(kSession));
        ASSERT_EQ(2u, listener->calls.size());
        EXPECT_TRUE(listener->calls[1].enabled);
        EXPECT_EQ(4u, listener->calls[1].level);
        EXPECT_EQ(0x21u, listener->calls[1].flags);
        const auto events = api->Events();
        ASSERT_EQ(1u, events.size());
        EXPECT_EQ(kSession, events[0].session);
        EXPECT_EQ(std::string("nested", 7), Text(events[0].message));
    }
}

TEST_F(ETWLoggingTest, ControlCallbackFollowsItsSession)
{
    auto* listener = new RecordingListener;
    ASSERT_EQ(0u, m_logger->InitializeEx(nullptr, L"_no_group", nullptr, L"_no_host", listener));
    EXPECT_EQ(m_logger.get(), listener->logger);
    ASSERT_EQ(1u, listener->calls.size());  // the starting state
    EXPECT_TRUE(listener->calls[0].enabled);
    EXPECT_EQ(3u, listener->calls[0].level);
    m_logger->SetSeverity(2);  // the listener under test applies nothing itself
    ASSERT_EQ(0u, m_logger->EnsureReady(kLevelInformation, nullptr, nullptr));

    EXPECT_EQ(0u, m_api->Enable(kSession, 5, 0x40));
    EXPECT_TRUE(m_logger->IsSameSession(kSession));
    ASSERT_EQ(2u, listener->calls.size());
    EXPECT_TRUE(listener->calls[1].enabled);
    EXPECT_EQ(5u, listener->calls[1].level);
    EXPECT_EQ(0x40u, listener->calls[1].flags);

    // Another session is ignored while one is stored, for enable and for disable.
    EXPECT_EQ(0u, m_api->Enable(kOtherSession, 1, 0));
    EXPECT_EQ(0u, m_api->Disable(kOtherSession));
    EXPECT_TRUE(m_logger->IsSameSession(kSession));
    EXPECT_EQ(2u, listener->calls.size());

    // The same session may change its level.
    EXPECT_EQ(0u, m_api->Enable(kSession, 2, 0));
    ASSERT_EQ(3u, listener->calls.size());
    EXPECT_EQ(2u, listener->calls[2].level);

    EXPECT_EQ(0u, m_api->Disable(kSession));
    EXPECT_TRUE(m_logger->IsSameSession(0));
    ASSERT_EQ(4u, listener->calls.size());
    EXPECT_FALSE(listener->calls[3].enabled);
    EXPECT_EQ(2u, listener->calls[3].level);  // the current Severity
    EXPECT_EQ(0u, listener->calls[3].flags);

    // Now the other session may take it.
    EXPECT_EQ(0u, m_api->Enable(kOtherSession, 3, 0));
    EXPECT_TRUE(m_logger->IsSameSession(kOtherSession));
    EXPECT_EQ(5u, listener->calls.size());
}

TEST_F(ETWLoggingTest, ControlCallbackFailures)
{
    auto* listener = new RecordingListener;
    ASSERT_EQ(0u, m_logger->InitializeEx(nullptr, L"_no_group", nullptr, L"_no_host", listener));
    ASSERT_EQ(0u, m_logger->EnsureReady(kLevelInformation, nullptr, nullptr));
    listener->calls.clear();

    // Level 0: the tracing system's error, or 87 when it left none; the listener hears nothing.
    EXPECT_EQ(static_cast<ULONG>(ERROR_NOT_READY), m_api->Enable(kSession, 0, 0, ERROR_NOT_READY));
    EXPECT_EQ(87u, m_api->Enable(kSession, 0, 0, 0));
    EXPECT_TRUE(listener->calls.empty());
    // A session the system does not know: its error.
    EXPECT_EQ(6u, m_api->Request(WMI_ENABLE_EVENTS, 0xDEAD));
    EXPECT_EQ(87u, m_api->Request(WMI_GET_ALL_DATA, kSession));
    EXPECT_EQ(87u, m_api->Request(WMI_ENABLE_EVENTS, kSession, /*withContext=*/false));
    EXPECT_TRUE(listener->calls.empty());
}

TEST_F(ETWLoggingTest, ListenerReadsPlainRegistryValuesProviderThenGroupThenModule)
{
    const std::wstring provider = L"SOFTWARE\\Tervane\\Logging\\Provider";
    auto setDword = [](const std::wstring& path, const wchar_t* name, DWORD value) {
        auto key = Fundor::testing::CreateKey(HKEY_LOCAL_MACHINE, path.c_str());
        ASSERT_EQ(0, ::RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                                      sizeof(value)));
    };
    setDword(provider, L"Enable", 0);
    setDword(provider, L"Severity", 2);
    {
        CETWLogging logger(m_api);
        ASSERT_EQ(0u, logger.InitializeEx(nullptr, L"_no_group", nullptr, L"_no_host", nullptr));
        EXPECT_FALSE(logger.IsEnabled());
        EXPECT_EQ(2u, logger.GetSeverity());
        std::wstring path;
        logger.GetGroupPath(path);
        EXPECT_EQ(L"_no_group\\core_tests", path);
    }
    setDword(provider + L"\\_no_group", L"Severity", 4);
    setDword(provider + L"\\_no_group\\core_tests", L"Enable", 1);
    // Not plain DWORDs: ignored.
    {
        auto key = Fundor::testing::CreateKey(HKEY_LOCAL_MACHINE, (provider + L"\\_no_group\\core_tests").c_str());
        const wchar_t text[] = L"6";
        ASSERT_EQ(0, ::RegSetValueExW(key.get(), L"Severity", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                                      sizeof(text)));
    }
    {
        CETWLogging logger(m_api);
        ASSERT_EQ(0u, logger.InitializeEx(nullptr, L"_no_group", nullptr, L"_no_host", nullptr));
        EXPECT_TRUE(logger.IsEnabled());
        EXPECT_EQ(4u, logger.GetSeverity());

        // A controller's level is overridden the same way.
        ASSERT_EQ(0u, logger.EnsureReady(kLevelInformation, nullptr, nullptr));
        ASSERT_EQ(0u, m_api->Enable(kSession, 1, 0));
        EXPECT_EQ(4u, logger.GetSeverity());
    }
    // Another group reads only the provider key.
    {
        CETWLogging logger(m_api);
        ASSERT_EQ(0u, logger.InitializeEx(nullptr, L"other", nullptr, L"_no_host", nullptr));
        EXPECT_FALSE(logger.IsEnabled());
        EXPECT_EQ(2u, logger.GetSeverity());
    }
}

TEST_F(ETWLoggingTest, InitializeChecksItsArguments)
{
    EXPECT_EQ(87u, m_logger->InitializeEx(nullptr, L"", nullptr, L"_no_host", nullptr));
    EXPECT_EQ(87u, m_logger->InitializeEx(nullptr, L"_no_group", nullptr, L"", nullptr));
    // Only "Nbr" has built-in settings.
    CETWLogging other(m_api);
    EXPECT_EQ(87u, other.InitializeEx(L"Other", L"g", nullptr, L"h", nullptr));
    // Null group and host are allowed; the names then stay empty.
    ASSERT_EQ(0u, m_logger->Initialize(nullptr, nullptr, nullptr, nullptr));
    std::wstring group = L"x", path = L"x";
    m_logger->GetGroupName(group);
    m_logger->GetGroupPath(path);
    EXPECT_EQ(L"", group);
    EXPECT_EQ(L"\\core_tests", path);
    std::wstring name;
    EXPECT_EQ(L"core_tests.exe", m_logger->GetModuleName(name, nullptr, false));
    EXPECT_EQ(L"kernel32", m_logger->GetModuleName(name, ::GetModuleHandleW(L"kernel32.dll"), true));
}

TEST_F(ETWLoggingTest, PlatformTracingCallsInitialiseAndLog)
{
    // Wine's provider functions are stubs: registration succeeds and events go nowhere.
    CETWLogging logger;
    ASSERT_EQ(0u, logger.InitializeEx(nullptr, L"_no_group", nullptr, L"_no_host", nullptr));
    EXPECT_EQ(0u, logger.EnsureReady(kLevelInformation, nullptr, nullptr));
    EXPECT_TRUE(logger.IsRegistered());
    EXPECT_EQ(0u, logger.LogEx(kLevelError, L"f", L"g", 1, L"to the platform %d", 1));
    EXPECT_EQ(0u, logger.LogInformation(L"f", L"g", 2, L"%s", L"information"));
    logger.Log(kLevelCritical, L"f", L"g", 3, L"critical");
    EXPECT_EQ(0u, logger.Uninitialize());
    EXPECT_FALSE(logger.IsRegistered());
}

}  // namespace
}  // namespace ETWLogging
