// The process-wide logger holder and the log stream, each scenario in a child process of this
// test program (the holder is built once per process). The child reports through the journal
// mirror, also during its exit; the parent checks the report.

#include "core/Logging/CDefaultLogBuilder.h"
#include "core/Logging/CETWLogging.h"
#include "core/Logging/CFundorLogHandler.h"
#include "core/Logging/CLogger.h"
#include "core/Logging/CLogging.h"
#include "core/Logging/LogStream.h"
#include "core/Logging/LoggerHolder.h"
#include "core/Logging/Logging.h"
#include "core/registry/CObfuscatedRegKey.h"
#include "core/tests/Logging/LoggingTestSupport.h"
#include "core/testsupport/RegistryIsolation.h"
#include "core/testsupport/TestBstr.h"

#include <gtest/gtest.h>
#include <oleauto.h>
#include <shlobj.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <atomic>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace ETWLogging::testing {
namespace {

using Fundor::CLogger;

constexpr const wchar_t* kScenarioVariable = L"ORDWELL_LOGGING_SCENARIO";

// ---- Child side ----

void Note(const std::wstring& text) { Journal::Instance().Add(L"note:" + text); }

std::wstring Flag(bool value) { return value ? L"1" : L"0"; }

std::wstring HandlerName(Fundor::ILoggingHandler* handler)
{
    if (handler == nullptr) return L"none";
    if (handler == &CLogger::DefaultHandler()) return L"default";
    if (handler == &CFundorLogHandler::Instance()) return L"bridge";
    return L"other";
}

using Fundor::testing::TestBstr;

StubSettings g_fileSettings;
StubSettings g_etwSettings;
std::atomic<int> g_created{0};

void InstallStubBuilder()
{
    const bool installed = InstallLogBuilder(std::make_unique<CDefaultLogBuilder>(
        [] {
            ++g_created;
            return std::unique_ptr<CLoggingIf>(new StubLoggerEx(L"etw", g_etwSettings));
        },
        [] {
            ++g_created;
            return std::unique_ptr<CLoggingIf>(new StubLogger(L"file", g_fileSettings));
        }));
    Note(L"builder installed=" + Flag(installed));
}

// Runs its action when static objects are destroyed: after everything built later than it.
struct ExitProbe {
    std::function<void()> action;
    ~ExitProbe() { action(); }
};
void ArmExitProbe(std::function<void()> action) { static ExitProbe probe{std::move(action)}; }

void FileModeScenario()
{
    g_fileSettings.onDestroy = [] {
        Note(L"logger deleted: holder=" + std::wstring(internal::PublishedHolder() ? L"published" : L"gone") +
             L" handler=" + HandlerName(CLogger::RegisteredHandler()));
        LogMessage(4, L"Stub.cpp", L"Stub::~Stub", 1, L"from the logger's destructor");
    };
    InstallStubBuilder();
    ArmExitProbe([] {
        Note(L"exit probe: enabled=" + Flag(IsLogLevelEnabled(4)) + L" holder=" + Flag(GetLogger() != nullptr) +
             L" created=" + std::to_wstring(g_created));
        LogMessage(4, L"Exit.cpp", L"Exit::Probe", 1, L"after the holder is gone");
    });
    const bool set = SetModuleLoggingParameters({.applicationName = L"App", .group = L"Group", .host = L"Host",
                                                 .loggerMode = 1});
    Note(L"parameters set=" + Flag(set));
    Note(L"enabled 2=" + Flag(IsLogLevelEnabled(2)));
    Note(L"enabled 3=" + Flag(IsLogLevelEnabled(3)));
    const TestBstr bstr(L"bstr");
    LogMessage(1, L"Front.cpp", L"Front::Arguments", 11, L"%s|%d|%d|%d|%d|%s|%s|%u", std::wstring(L"wide"), true, false,
               static_cast<unsigned char>(200), std::byte{7}, bstr, L"literal", 42u);
    CLogger::Log(2, L"core.cpp", L"Fundor::Error", 21, L"core %d", 2);
    CLogger::Log(1, L"core.cpp", L"Fundor::Info", 22, L"core %d", 1);
    CLogger::Log(9, L"core.cpp", L"Fundor::Unknown", 23, L"core %d", 9);
    const std::wstring longText(100, L'x');
    {
        FailingAllocations noMemory;
        LogMessage(1, L"Front.cpp", L"Front::NoMemory", 31, L"%s", longText.c_str());
        CLogger::Log(1, L"core.cpp", L"Fundor::NoMemory", 32, L"%s", longText.c_str());
    }
    Note(L"parameters set later=" + Flag(SetModuleLoggingParameters({})));
    Note(L"builder installed later=" + Flag(InstallLogBuilder(std::make_unique<CDefaultLogBuilder>())));
    Note(L"same holder=" + Flag(GetLoggerHolder(L"x", L"y", nullptr, L"z", 0) == GetLogger()));
    Note(L"registered=" + HandlerName(CLogger::RegisteredHandler()) +
         L" holder handler=" + HandlerName(GetLogger()->handler.load()));
}

void EtwDefaultScenario()
{
    Fundor::testing::RegistryIsolation registry;  // no "Logging Mechanism": the ETW logger
    InstallStubBuilder();
    Note(L"enabled 1=" + Flag(IsLogLevelEnabled(1)));
    Note(L"enabled 4=" + Flag(IsLogLevelEnabled(4)));
    LogMessage(1, L"Etw.cpp", L"Etw::Off", 1, L"off %d", 1);
    LogMessage(4, L"Etw.cpp", L"Etw::On", 2, L"on %s %d", std::wstring(L"x"), 3);
    CLogger::Log(2, L"core.cpp", L"Fundor::Etw", 3, L"core");
}

void EmptyNameScenario(bool emptyGroup)
{
    InstallStubBuilder();
    ModuleLoggingParameters parameters;
    (emptyGroup ? parameters.group : parameters.host) = L"";
    Note(L"parameters set=" + Flag(SetModuleLoggingParameters(parameters)));
    std::wstring enabled;
    for (LogLevel level = 0; level <= 7; ++level) enabled += Flag(IsLogLevelEnabled(level));
    Note(L"enabled 0-7=" + enabled);
    LogMessage(5, L"Empty.cpp", L"Empty::Log", 1, L"dropped");
    LoggerHolder* holder = GetLogger();
    Note(L"holder=" + Flag(holder != nullptr) + L" logger=" + Flag(holder != nullptr && holder->logger.load() != nullptr));
    Note(L"WriteLogText=" + std::to_wstring(WriteLogText(holder, L"Empty.cpp", L"Empty::Text", 2, 4, L"dropped")));
    CLogger::Log(0, L"core.cpp", L"Fundor::Empty", 3, L"to the default handler");
    Note(L"registered=" + HandlerName(CLogger::RegisteredHandler()));
    Note(L"parameters set later=" + Flag(SetModuleLoggingParameters({})));
    Note(L"enabled 4 later=" + Flag(IsLogLevelEnabled(4)) + L" created=" + std::to_wstring(g_created));
}

std::thread g_otherThread;
std::atomic<bool> g_otherStarted{false};

void NestedScenario()
{
    g_fileSettings.onInitialize = [] {
        Note(L"inside the build: enabled=" + Flag(IsLogLevelEnabled(4)));
        LogMessage(4, L"Nested.cpp", L"Nested::Inside", 1, L"from inside the build");
        CLogger::Log(1, L"core.cpp", L"Fundor::Inside", 2, L"core message from inside the build");
        g_otherThread = std::thread([] {
            g_otherStarted = true;
            const bool enabled = IsLogLevelEnabled(4);
            Note(L"other thread: enabled=" + Flag(enabled));
        });
        while (!g_otherStarted) ::Sleep(1);
        ::Sleep(300);  // the other thread is waiting for the build by now
        Note(L"leaving the build");
    };
    InstallStubBuilder();
    Note(L"parameters set=" + Flag(SetModuleLoggingParameters({.loggerMode = 1})));
    const bool enabled = IsLogLevelEnabled(4);
    g_otherThread.join();
    Note(L"first call: enabled=" + Flag(enabled));
}

RecordingHandler* g_foreign = nullptr;

void HandlerRefusedScenario()
{
    g_foreign = new RecordingHandler(L"foreign");  // lives for the process, reports at exit too
    Note(L"foreign registered=" + std::to_wstring(CLogger::RegisterHandler(g_foreign)));
    InstallStubBuilder();
    Note(L"parameters set=" + Flag(SetModuleLoggingParameters({.loggerMode = 1})));
    Note(L"enabled 4=" + Flag(IsLogLevelEnabled(4)));
    Note(L"foreign=" + PointerText(g_foreign) + L" bridge=" + PointerText(&CFundorLogHandler::Instance()));
    Note(L"registered=" + HandlerName(CLogger::RegisteredHandler()) +
         L" holder handler=" + HandlerName(GetLogger()->handler.load()));
    CLogger::Log(1, L"core.cpp", L"Fundor::Info", 5, L"core");
    LogMessage(4, L"Refused.cpp", L"Refused::Log", 6, L"logger works");
}

// A builder of the test: answers BuildLoggerEx with false when it has it.
template <typename Base>
class RecordingBuilder : public Base {
public:
    bool BuildLogger(const wchar_t* group, HMODULE module, const wchar_t* host, std::uint32_t loggerMode,
                     CLoggingIf** logger, LoggingMechanismSource* mechanism) override
    {
        Note(L"BuildLogger|" + Text(group) + L"|" + Flag(module == ::GetModuleHandleW(nullptr)) + L"|" + Text(host) +
             L"|" + std::to_wstring(loggerMode) + L"|" + Flag(mechanism != nullptr));
        *logger = new StubLogger(L"file", {});
        return true;
    }
    bool BuildLoggerEx(const wchar_t* applicationName, const wchar_t* group, HMODULE module, const wchar_t* host,
                       std::uint32_t loggerMode, CLoggingIf** logger, LoggingMechanismSource* mechanism)
    {
        Note(L"BuildLoggerEx|" + Text(applicationName) + L"|" + Text(group) + L"|" +
             Flag(module == ::GetModuleHandleW(nullptr)) + L"|" + Text(host) + L"|" + std::to_wstring(loggerMode) +
             L"|" + Flag(mechanism != nullptr));
        return false;
    }
};

void BuilderScenario(bool extended)
{
    const bool installed = extended ? InstallLogBuilder(std::make_unique<RecordingBuilder<CLogBuilderIf_ex>>())
                                    : InstallLogBuilder(std::make_unique<RecordingBuilder<CLogBuilderIf>>());
    Note(L"builder installed=" + Flag(installed));
    Note(L"parameters set=" + Flag(SetModuleLoggingParameters(
                                  {.applicationName = L"App", .group = L"G", .host = L"H", .loggerMode = 5})));
    Note(L"enabled 4=" + Flag(IsLogLevelEnabled(4)));
}

void StreamScenario()
{
    Fundor::testing::RegistryIsolation registry;  // the ETW logger
    InstallStubBuilder();
    // The stream is built before the holder and the exit probe between them: at exit the holder
    // goes first, then the probe writes a record while the stream still exists.
    Note(L"stream built=" + Flag(*GetLogStream(true) != nullptr));
    ArmExitProbe([] {
        LogStreamRecord(4, 99, L"Exit::Stream", L"exit.cpp") << L"after the holder is gone";
        Note(L"exit probe wrote a stream record");
    });
    {
        LogStreamRecord record(4, 10, L"Stream::First", L"stream.cpp");
        record << L"first " << 1 << L" " << 100 << L"%";
    }
    std::vector<std::thread> writers;
    for (int thread = 0; thread < 2; ++thread) {
        writers.emplace_back([thread] {
            for (int index = 0; index < 200; ++index) {
                LogStreamRecord(static_cast<LogLevel>(1 + thread), 100 + thread, L"Stream::Thread", L"stream.cpp")
                    << L"thread " << thread << L" record " << index << L" hex " << std::hex << 255 << L" end";
            }
        });
    }
    for (std::thread& writer : writers) writer.join();
    Note(L"writers done");
}

void StreamBuildFailureScenario()
{
    InstallStubBuilder();
    Note(L"parameters set=" + Flag(SetModuleLoggingParameters({.loggerMode = 1})));
    bool built = true;
    {
        FailingAllocations noMemory;
        built = *GetLogStream(true) != nullptr;
        LogStreamRecord(1, 1, L"Stream::NoMemory", L"s.cpp") << L"lost";
    }
    Note(L"built without memory=" + Flag(built));
    std::atomic<bool> done = false;
    std::thread other([&done] {
        const bool builtThere = *GetLogStream(true) != nullptr;
        Note(L"other thread built=" + Flag(builtThere));
        done = true;
    });
    for (int waited = 0; !done && waited < 10000; ++waited) ::Sleep(1);
    Note(L"other thread returned=" + Flag(done));
    if (!done) ::ExitProcess(3);  // it spins: the parent sees the exit code
    other.join();
    // The module's own first call builds the file logger; the stream then uses it.
    Note(L"enabled 4=" + Flag(IsLogLevelEnabled(4)));
    LogStreamRecord(2, 5, L"Stream::Plain", L"s.cpp") << L"text with %s and %d";
}

// The production loggers behind the front end.
void ProductionEtwScenario()
{
    Fundor::testing::RegistryIsolation registry;
    Note(L"enabled 1=" + Flag(IsLogLevelEnabled(1)) + L" enabled 3=" + Flag(IsLogLevelEnabled(3)));
    Note(L"ETW logger=" + Flag(dynamic_cast<CETWLogging*>(GetLogger()->logger.load()) != nullptr));
    LogMessage(3, L"Front.cpp", L"Front::ToEtw", 12, L"through the front end %d", 7);
    CLogger::Log(2, L"core.cpp", L"Fundor::ToEtw", 13, L"core message");
    Note(L"bridge registered=" + Flag(CLogger::RegisteredHandler() == &CFundorLogHandler::Instance()));
}

void ProductionFileScenario()
{
    Fundor::testing::RegistryIsolation registry;
    Fundor::CObfuscatedRegKey key;
    const bool written = key.Create(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\Logging") == ERROR_SUCCESS &&
                         key.SetDWORDValue(L"Logging Mechanism", 1) == ERROR_SUCCESS;
    Note(L"mechanism written=" + Flag(written));
    const std::wstring group = Fundor::testing::UniqueName(L"FrontEnd");
    Note(L"parameters set=" + Flag(SetModuleLoggingParameters({.group = group.c_str()})));
    Note(L"enabled 3=" + Flag(IsLogLevelEnabled(3)) + L" enabled 2=" + Flag(IsLogLevelEnabled(2)));
    Note(L"file logger=" + Flag(dynamic_cast<CLogging*>(GetLogger()->logger.load()) != nullptr));
    LogMessage(4, L"Front.cpp", L"Front::ToFile", 12, L"through the front end %d", 7);
    CLogger::Log(2, L"core.cpp", L"Fundor::ToFile", 13, L"core message");

    wchar_t* programData = nullptr;
    if (::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &programData) != S_OK) return;
    const std::wstring folder = std::wstring(programData) + L"\\Tervane\\KVLOGS\\" + group;
    ::CoTaskMemFree(programData);
    std::ifstream in((folder + L"\\core_tests\\core_tests__no_host000.log").c_str(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    in.close();
    const std::string data = bytes.str();
    std::wstring text(data.size() / 2, L'\0');
    std::memcpy(text.data(), data.data(), text.size() * 2);
    Note(L"byte-order mark=" + Flag(text.rfind(L"\xFEFF", 0) == 0));
    std::wistringstream lines(text);
    for (std::wstring line; std::getline(lines, line);) {
        for (const wchar_t* message : {L"through the front end 7", L"core message"}) {
            const std::size_t at = line.find(message);
            if (at != std::wstring::npos) Note(L"line ends with: " + line.substr(at));
        }
    }
    std::vector<wchar_t> from(folder.begin(), folder.end());
    from.push_back(L'\0');
    from.push_back(L'\0');
    SHFILEOPSTRUCTW remove = {};
    remove.wFunc = FO_DELETE;
    remove.pFrom = from.data();
    remove.fFlags = FOF_NO_UI;
    ::SHFileOperationW(&remove);
}

TEST(LoggingProcess, DISABLED_Child)
{
    const std::optional<std::wstring> scenario = EnvironmentVariable(kScenarioVariable);
    const std::optional<std::wstring> report = EnvironmentVariable(L"ORDWELL_LOGGING_REPORT");
    ASSERT_TRUE(scenario && report) << "started only by the LoggingProcess tests";
    // A crash ends the child at once with the exception code (no crash debugger is started).
    ::SetUnhandledExceptionFilter([](EXCEPTION_POINTERS* exception) -> LONG {
        ::TerminateProcess(::GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
        return EXCEPTION_EXECUTE_HANDLER;
    });
    Journal::Instance().MirrorTo(*report);
    const std::map<std::wstring, std::function<void()>> scenarios = {
        {L"file-mode", FileModeScenario},
        {L"etw-default", EtwDefaultScenario},
        {L"empty-group", [] { EmptyNameScenario(true); }},
        {L"empty-host", [] { EmptyNameScenario(false); }},
        {L"nested", NestedScenario},
        {L"handler-refused", HandlerRefusedScenario},
        {L"builder-extended", [] { BuilderScenario(true); }},
        {L"builder-plain", [] { BuilderScenario(false); }},
        {L"stream", StreamScenario},
        {L"stream-build-failure", StreamBuildFailureScenario},
        {L"production-etw", ProductionEtwScenario},
        {L"production-file", ProductionFileScenario},
    };
    const auto found = scenarios.find(*scenario);
    ASSERT_NE(scenarios.end(), found);
    found->second();
}

// ---- Parent side ----

ChildRun RunScenario(const wchar_t* scenario)
{
    return RunTestChild(L"LoggingProcess.DISABLED_Child", {{kScenarioVariable, scenario}}, 60000);
}

std::wstring EscapeLineEnds(std::wstring text)
{
    for (std::size_t at = 0; (at = text.find_first_of(L"\r\n", at)) != std::wstring::npos; at += 2) {
        text.replace(at, 1, text[at] == L'\n' ? L"\\n" : L"\\r");
    }
    return text;
}

#define EXPECT_CHILD_PASSED(run)                                                         \
    do {                                                                                 \
        EXPECT_TRUE((run).finished) << "the child hung";                                 \
        EXPECT_EQ(0u, (run).exitCode) << (run).output;                                   \
    } while (false)

TEST(LoggingProcess, FileLoggerModeCarriesEveryRecordAndTheExitOrderHolds)
{
    const ChildRun run = RunScenario(L"file-mode");
    EXPECT_CHILD_PASSED(run);
    const std::wstring memory = L"General memory-allocation failure in Fundor logger.";
    EXPECT_EQ((std::vector<std::wstring>{
                  L"note:builder installed=1",
                  L"note:parameters set=1",
                  // Built by the first call, with the module's parameters; the plain logger has
                  // no application name.
                  L"file:created",
                  L"file:Initialize|Group|this|Host",
                  L"file:AddRef",
                  L"note:enabled 2=0",
                  L"note:enabled 3=1",
                  // The file logger's path tests no level: level 1 is written below Severity 3.
                  L"file:EnsureReady",
                  L"file:EnsureReady",
                  L"file:WriteText|1|Front.cpp|Front::Arguments|11|wide|1|0|200|7|bstr|literal|42",
                  // The core library's messages, through the bridge, with their mapped levels.
                  L"file:EnsureReady",
                  L"file:WriteText|4|core.cpp|Fundor::Error|21|core 2",
                  L"file:EnsureReady",
                  L"file:WriteText|1|core.cpp|Fundor::Info|22|core 1",
                  L"file:EnsureReady",
                  L"file:WriteText|2|core.cpp|Fundor::Unknown|23|core 9",
                  // Out of memory: the front end's record is lost, the core library says why.
                  L"file:EnsureReady",
                  L"file:EnsureReady",
                  L"file:EnsureReady",
                  L"file:WriteText|4|core.cpp|Fundor::NoMemory|32|" + memory,
                  L"note:parameters set later=0",
                  L"note:builder installed later=0",
                  L"note:same holder=1",
                  L"note:registered=bridge holder handler=bridge",
                  // Exit: the bridge is gone before the logger is deleted, the holder is no
                  // longer published, and nothing logged afterwards builds anything.
                  L"note:logger deleted: holder=gone handler=none",
                  L"file:deleted",
                  L"note:exit probe: enabled=0 holder=0 created=1",
              }),
              run.report);
}

TEST(LoggingProcess, WithoutALoggingKeyTheEtwLoggerFormatsOnlyRecordsThatAreOn)
{
    const ChildRun run = RunScenario(L"etw-default");
    EXPECT_CHILD_PASSED(run);
    EXPECT_EQ((std::vector<std::wstring>{
                  L"note:builder installed=1",
                  L"etw:created",
                  L"etw:InitializeEx|null|_no_group|this|_no_host",
                  L"etw:AddRef",
                  L"note:enabled 1=0",
                  L"note:enabled 4=1",
                  L"etw:EnsureReady",
                  L"etw:EnsureReady",
                  L"etw:LogV|4|Etw.cpp|Etw::On|2|on x 3",
                  L"etw:EnsureReady",
                  L"etw:WriteTextEx|4|core.cpp|Fundor::Etw|3|core",
                  L"etw:deleted",
              }),
              run.report);
}

TEST(LoggingProcess, AnEmptyGroupOrHostSilencesLoggingForTheProcess)
{
    for (const wchar_t* scenario : {L"empty-group", L"empty-host"}) {
        const ChildRun run = RunScenario(scenario);
        EXPECT_CHILD_PASSED(run);
        EXPECT_EQ((std::vector<std::wstring>{
                      L"note:builder installed=1",
                      L"note:parameters set=1",
                      L"note:enabled 0-7=00000000",
                      L"note:holder=1 logger=0",
                      L"note:WriteLogText=1627",
                      L"note:registered=default",
                      L"note:parameters set later=0",
                      L"note:enabled 4 later=0 created=0",  // refused before any logger was made
                  }),
                  run.report)
            << scenario;
    }
}

TEST(LoggingProcess, ALogCallFromInsideTheBuildIsDroppedAndAnotherThreadWaits)
{
    const ChildRun run = RunScenario(L"nested");
    EXPECT_CHILD_PASSED(run);
    std::vector<std::wstring> report = run.report;
    // The waiting thread and the first caller report in either order after the build.
    ASSERT_EQ(10u, report.size()) << ::testing::PrintToString(report);
    std::sort(report.begin() + 7, report.begin() + 9);
    EXPECT_EQ((std::vector<std::wstring>{
                  L"note:builder installed=1",
                  L"note:parameters set=1",
                  L"file:created",
                  L"file:Initialize|_no_group|this|_no_host",
                  L"note:inside the build: enabled=0",
                  L"note:leaving the build",
                  L"file:AddRef",
                  L"note:first call: enabled=1",
                  L"note:other thread: enabled=1",
                  L"file:deleted",
              }),
              report);
}

TEST(LoggingProcess, ARefusedBridgeLeavesTheLoggerWorkingAndTheOtherHandlerInPlace)
{
    const ChildRun run = RunScenario(L"handler-refused");
    EXPECT_CHILD_PASSED(run);
    const std::vector<std::wstring> pointers = EventsStartingWith(run.report, L"note:foreign=");
    ASSERT_EQ(1u, pointers.size());
    // "note:foreign=0x........ bridge=0x........"
    const std::wstring foreign = pointers[0].substr(13, 10);
    const std::wstring bridge = pointers[0].substr(31, 10);
    EXPECT_EQ((std::vector<std::wstring>{
                  L"note:foreign registered=0",
                  L"note:builder installed=1",
                  L"note:parameters set=1",
                  L"file:created",
                  L"file:Initialize|_no_group|this|_no_host",
                  L"file:AddRef",
                  L"foreign:2|Logging\\internal_logging|Fundor::CLogger::RegisterHandler|72|" +
                      EscapeLineEnds(SystemText(5023)) + L": Registered Logging Handler " + foreign +
                      L" cannot be replaced with " + bridge,
                  L"note:enabled 4=1",
                  pointers[0],
                  L"note:registered=other holder handler=none",
                  L"foreign:1|core.cpp|Fundor::Info|5|core",
                  L"file:EnsureReady",
                  L"file:EnsureReady",
                  L"file:WriteText|4|Refused.cpp|Refused::Log|6|logger works",
                  // No unregistration complaint at exit: the bridge was never registered.
                  L"file:deleted",
              }),
              run.report);
}

TEST(LoggingProcess, TheHolderFallsBackToBuildLoggerByTheBuildersDynamicType)
{
    const ChildRun extended = RunScenario(L"builder-extended");
    EXPECT_CHILD_PASSED(extended);
    EXPECT_EQ((std::vector<std::wstring>{
                  L"note:builder installed=1",
                  L"note:parameters set=1",
                  L"note:BuildLoggerEx|App|G|1|H|5|0",
                  L"note:BuildLogger|G|1|H|5|0",
                  L"file:created",
                  L"note:enabled 4=1",
                  L"file:deleted",
              }),
              extended.report);

    const ChildRun plain = RunScenario(L"builder-plain");
    EXPECT_CHILD_PASSED(plain);
    EXPECT_EQ((std::vector<std::wstring>{
                  L"note:builder installed=1",
                  L"note:parameters set=1",
                  L"note:BuildLogger|G|1|H|5|0",
                  L"file:created",
                  L"note:enabled 4=1",
                  L"file:deleted",
              }),
              plain.report);
}

TEST(LoggingProcess, StreamRecordsStayWholeAcrossThreadsAndReachNoDeletedLogger)
{
    const ChildRun run = RunScenario(L"stream");
    EXPECT_CHILD_PASSED(run);
    std::vector<std::wstring> expectedThreadRecords;
    for (int thread = 0; thread < 2; ++thread) {
        for (int index = 0; index < 200; ++index) {
            expectedThreadRecords.push_back(L"etw:WriteTextEx|" + std::to_wstring(1 + thread) + L"|stream.cpp|Stream::Thread|" +
                                            std::to_wstring(100 + thread) + L"|thread " + std::to_wstring(thread) +
                                            L" record " + std::to_wstring(index) + L" hex ff end");
        }
    }
    std::vector<std::wstring> threadRecords = EventsStartingWith(run.report, L"etw:WriteTextEx|1|stream.cpp|Stream::Thread|");
    const std::vector<std::wstring> second = EventsStartingWith(run.report, L"etw:WriteTextEx|2|stream.cpp|Stream::Thread|");
    threadRecords.insert(threadRecords.end(), second.begin(), second.end());
    EXPECT_EQ(expectedThreadRecords, threadRecords);

    std::vector<std::wstring> rest;
    std::copy_if(run.report.begin(), run.report.end(), std::back_inserter(rest),
                 [](const std::wstring& event) { return event.find(L"Stream::Thread") == std::wstring::npos; });
    EXPECT_EQ((std::vector<std::wstring>{
                  L"note:builder installed=1",
                  L"note:stream built=1",
                  // The stream's first record builds the logger, for the group "SARN".
                  L"etw:created",
                  L"etw:InitializeEx|null|SARN|this|null",
                  L"etw:AddRef",
                  L"etw:WriteTextEx|4|stream.cpp|Stream::First|10|first 1 100%",
                  L"note:writers done",
                  L"etw:deleted",
                  L"note:exit probe wrote a stream record",
              }),
              rest);
}

TEST(LoggingProcess, AStreamThatCannotBeBuiltLeavesNoCallerSpinning)
{
    const ChildRun run = RunScenario(L"stream-build-failure");
    EXPECT_CHILD_PASSED(run);
    EXPECT_EQ((std::vector<std::wstring>{
                  L"note:builder installed=1",
                  L"note:parameters set=1",
                  L"note:built without memory=0",
                  L"note:other thread built=1",
                  L"note:other thread returned=1",
                  // The file logger gets the stream's text through "%s": it is not a format.
                  L"file:created",
                  L"file:Initialize|_no_group|this|_no_host",
                  L"file:AddRef",
                  L"note:enabled 4=1",
                  L"file:Log|2|s.cpp|Stream::Plain|5|text with %s and %d",
                  L"file:deleted",
              }),
              run.report);
}

TEST(LoggingProcess, TheProductionLoggersServeTheFrontEnd)
{
    const ChildRun etw = RunScenario(L"production-etw");
    EXPECT_CHILD_PASSED(etw);
    // The ETW logger lets level 3 through at its starting Severity 3, and nothing below it.
    EXPECT_EQ((std::vector<std::wstring>{L"note:enabled 1=0 enabled 3=1", L"note:ETW logger=1",
                                         L"note:bridge registered=1"}),
              etw.report);

    const ChildRun file = RunScenario(L"production-file");
    EXPECT_CHILD_PASSED(file);
    EXPECT_EQ((std::vector<std::wstring>{
                  L"note:mechanism written=1",
                  L"note:parameters set=1",
                  L"note:enabled 3=1 enabled 2=0",
                  L"note:file logger=1",
                  L"note:byte-order mark=1",
                  L"note:line ends with: through the front end 7\\r",
                  L"note:line ends with: core message\\r",
              }),
              file.report);
}

}  // namespace
}  // namespace ETWLogging::testing
