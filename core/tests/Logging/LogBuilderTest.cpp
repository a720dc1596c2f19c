// The logger choice of the default builder, with stub loggers and an isolated registry.

#include "core/Logging/CDefaultLogBuilder.h"
#include "core/Logging/CETWLogging.h"
#include "core/Logging/CLogging.h"
#include "core/registry/AnsiRegKey.h"
#include "core/registry/CObfuscatedRegKey.h"
#include "core/registry/CRegKey.h"
#include "core/registry/ObfuscatedRegistry.h"
#include "core/tests/Logging/LoggingTestSupport.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

namespace ETWLogging::testing {
namespace {

constexpr const wchar_t* kLoggingKey = L"SOFTWARE\\Tervane\\Logging";
constexpr const wchar_t* kMechanism = L"Logging Mechanism";

// Answers "Logging Mechanism" and remembers that it was asked.
class AnsweringSource : public LoggingMechanismSource {
public:
    AnsweringSource(bool answers, DWORD value) : m_answers(answers), m_value(value) {}
    bool QueryLoggingMechanism(DWORD& value) override
    {
        ++asked;
        if (m_answers) value = m_value;
        return m_answers;
    }
    int asked = 0;

private:
    bool m_answers;
    DWORD m_value;
};

class LogBuilderTest : public Fundor::testing::RegistryIsolatedTest {
protected:
    LogBuilderTest()
        : m_builder([this] { return std::unique_ptr<CLoggingIf>(new StubLoggerEx(L"etw", m_settings)); },
                    [this] { return std::unique_ptr<CLoggingIf>(new StubLogger(L"file", m_settings)); })
    {
        Journal::Instance().Clear();
    }

    // Builds with the host's parameters; the name of the logger built ("etw", "file"), or
    // "refused" with the out pointer left as it was.
    std::wstring Build(std::uint32_t loggerMode, LoggingMechanismSource* source = nullptr,
                       const wchar_t* group = L"_no_group", const wchar_t* host = L"_no_host")
    {
        CLoggingIf* logger = nullptr;
        if (!m_builder.BuildLoggerEx(L"App", group, ::GetModuleHandleW(nullptr), host, loggerMode, &logger, source)) {
            return logger == nullptr ? L"refused" : L"refused, but the out pointer was set";
        }
        std::unique_ptr<CLoggingIf> owned(logger);
        if (dynamic_cast<StubLoggerEx*>(logger) != nullptr) return L"etw";
        if (dynamic_cast<StubLogger*>(logger) != nullptr) return L"file";
        return L"unknown";
    }

    static void WriteEncipheredMechanism(DWORD value)
    {
        Fundor::CObfuscatedRegKey key;
        ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, kLoggingKey));
        ASSERT_EQ(ERROR_SUCCESS, key.SetDWORDValue(kMechanism, value));
    }

    StubSettings m_settings;
    CDefaultLogBuilder m_builder;
};

TEST_F(LogBuilderTest, LoggerModeOneGivesTheFileLoggerWithoutAskingForTheMechanism)
{
    WriteEncipheredMechanism(2);  // would choose ETW
    AnsweringSource source(true, 2);
    EXPECT_EQ(L"file", Build(1, &source));
    EXPECT_EQ(L"file", Build(1));
    EXPECT_EQ(0, source.asked);
    // The plain logger is initialised through Initialize: it has no application name.
    const std::vector<std::wstring> oneBuild = {L"file:created", L"file:Initialize|_no_group|this|_no_host",
                                                L"file:AddRef", L"file:deleted"};
    std::vector<std::wstring> twoBuilds = oneBuild;
    twoBuilds.insert(twoBuilds.end(), oneBuild.begin(), oneBuild.end());
    EXPECT_EQ(twoBuilds, Journal::Instance().Events());
}

TEST_F(LogBuilderTest, MissingKeyOrValueGivesTheEtwLogger)
{
    EXPECT_EQ(L"etw", Build(0));
    EXPECT_EQ((std::vector<std::wstring>{L"etw:created", L"etw:InitializeEx|App|_no_group|this|_no_host", L"etw:AddRef",
                                         L"etw:deleted"}),
              Journal::Instance().Events());

    Fundor::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, kLoggingKey));
    EXPECT_EQ(L"etw", Build(0));
}

TEST_F(LogBuilderTest, OnlyTheEncipheredValueOneGivesTheFileLogger)
{
    WriteEncipheredMechanism(1);
    EXPECT_EQ(L"file", Build(0));
    EXPECT_EQ(L"file", Build(7));  // any mode but 1 reads the registry

    WriteEncipheredMechanism(2);
    EXPECT_EQ(L"etw", Build(0));
    WriteEncipheredMechanism(0);
    EXPECT_EQ(L"etw", Build(0));

    // The record written by the ANSI value functions is read the same way.
    const DWORD one = 1;
    ASSERT_EQ(ERROR_SUCCESS, Fundor::ObfuscatedRegSetValue(HKEY_LOCAL_MACHINE, kLoggingKey, kMechanism, REG_DWORD, &one,
                                                           sizeof one, Fundor::kObfuscatedValueEnciphered));
    EXPECT_EQ(L"file", Build(0));

    // A plain DWORD 1 is not a record: it counts as 0.
    Fundor::CRegKey plain;
    ASSERT_EQ(ERROR_SUCCESS, plain.Create(HKEY_LOCAL_MACHINE, kLoggingKey));
    ASSERT_EQ(ERROR_SUCCESS, plain.SetDWORDValue(kMechanism, 1));
    EXPECT_EQ(L"etw", Build(0));
}

TEST_F(LogBuilderTest, MechanismSourceAnswersInPlaceOfTheRegistry)
{
    WriteEncipheredMechanism(1);
    AnsweringSource two(true, 2);
    EXPECT_EQ(L"etw", Build(0, &two));
    AnsweringSource silent(false, 1);
    EXPECT_EQ(L"etw", Build(0, &silent));
    EXPECT_EQ(1, silent.asked);

    Fundor::CRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane"));
    ASSERT_EQ(ERROR_SUCCESS, key.RecurseDeleteKey(L"Logging"));
    AnsweringSource one(true, 1);
    EXPECT_EQ(L"file", Build(0, &one));
}

TEST_F(LogBuilderTest, RefusedBuildsCreateAndReadNothing)
{
    AnsweringSource source(true, 1);
    EXPECT_EQ(L"refused", Build(0, &source, L"", L"_no_host"));
    EXPECT_EQ(L"refused", Build(0, &source, L"_no_group", L""));
    EXPECT_EQ(L"refused", Build(1, &source, L"", nullptr));

    StubLoggerEx existing(L"existing", {});
    CLoggingIf* logger = &existing;
    EXPECT_FALSE(m_builder.BuildLoggerEx(nullptr, L"g", nullptr, L"h", 0, &logger, &source));
    EXPECT_EQ(&existing, logger);
    EXPECT_FALSE(m_builder.BuildLoggerEx(nullptr, L"g", nullptr, L"h", 0, nullptr, &source));

    EXPECT_EQ(0, source.asked);
    EXPECT_EQ((std::vector<std::wstring>{L"existing:created"}), Journal::Instance().Events());

    // Null names are allowed.
    EXPECT_EQ(L"file", Build(0, &source, nullptr, nullptr));
    EXPECT_EQ(L"file:Initialize|null|this|null", Journal::Instance().Events()[2]);
}

TEST_F(LogBuilderTest, ALoggerThatFailsItsInitialisationIsDeleted)
{
    m_settings.initializeResult = 20001;
    EXPECT_EQ(L"refused", Build(0));
    EXPECT_EQ(L"refused", Build(1));
    EXPECT_EQ((std::vector<std::wstring>{L"etw:created", L"etw:InitializeEx|App|_no_group|this|_no_host",
                                         L"etw:deleted", L"file:created", L"file:Initialize|_no_group|this|_no_host",
                                         L"file:deleted"}),
              Journal::Instance().Events());
}

TEST_F(LogBuilderTest, AFactoryThatFailsGivesNoLogger)
{
    CDefaultLogBuilder empty([] { return std::unique_ptr<CLoggingIf>(); },
                             []() -> std::unique_ptr<CLoggingIf> { throw std::bad_alloc(); });
    CLoggingIf* logger = nullptr;
    EXPECT_FALSE(empty.BuildLoggerEx(nullptr, L"g", nullptr, L"h", 0, &logger, nullptr));
    EXPECT_FALSE(empty.BuildLoggerEx(nullptr, L"g", nullptr, L"h", 1, &logger, nullptr));
    EXPECT_EQ(nullptr, logger);
}

TEST_F(LogBuilderTest, TheDefaultBuilderMakesTheProductionLoggers)
{
    CDefaultLogBuilder production;
    CLoggingIf* logger = nullptr;
    ASSERT_TRUE(production.BuildLoggerEx(nullptr, L"_no_group", ::GetModuleHandleW(nullptr), L"_no_host", 0, &logger,
                                         nullptr));
    std::unique_ptr<CLoggingIf> etw(logger);
    EXPECT_NE(nullptr, dynamic_cast<CETWLogging*>(etw.get()));

    WriteEncipheredMechanism(1);
    logger = nullptr;
    ASSERT_TRUE(production.BuildLoggerEx(nullptr, L"_no_group", ::GetModuleHandleW(nullptr), L"_no_host", 0, &logger,
                                         nullptr));
    std::unique_ptr<CLoggingIf> file(logger);
    EXPECT_NE(nullptr, dynamic_cast<CLogging*>(file.get()));
}

}  // namespace
}  // namespace ETWLogging::testing
