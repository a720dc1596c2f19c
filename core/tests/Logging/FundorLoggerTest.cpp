// The core library's own logger: handler registration, the default debugger handler and the
// system error texts.

#include "core/Logging/CDefaultLoggingHandler.h"
#include "core/Logging/CLogger.h"
#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/ProgramFolder.h"
#include "core/tests/Logging/LoggingTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ETWLogging::testing {
namespace {

using Fundor::CLogger;

constexpr const wchar_t* kInternalFile = L"Logging\\internal_logging";

// Each test starts with no handler of its own registered and leaves none behind.
class FundorLoggerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Fundor::ILoggingHandler* registered = CLogger::RegisteredHandler();
        ASSERT_TRUE(registered == nullptr || registered == &CLogger::DefaultHandler())
            << "a front-end logger of this process has its handler registered";
        Journal::Instance().Clear();
    }
    void TearDown() override
    {
        for (Fundor::ILoggingHandler* handler : {&m_first, &m_second}) {
            if (CLogger::RegisteredHandler() == handler) (void)CLogger::UnregisterHandler(handler);
        }
    }

    RecordingHandler m_first{L"first"};
    RecordingHandler m_second{L"second"};
};

std::vector<std::wstring>* g_debuggerLines = nullptr;
void CaptureDebuggerLine(const wchar_t* line) { g_debuggerLines->push_back(line); }

TEST(DefaultLoggingHandler, WritesOneDebuggerLinePerMessageInTheFixedFormats)
{
    std::vector<std::wstring> lines;
    g_debuggerLines = &lines;
    Fundor::CDefaultLoggingHandler handler(&CaptureDebuggerLine);
    handler.HandleMessage(0, L"a.cpp", L"A::Nothing", 1, L"never shown");
    handler.HandleMessage(1, L"a.cpp", L"A::Info", 12, L"info text");
    handler.HandleMessage(2, L"b.cpp", L"B::Error", -3, L"error 100%");
    handler.HandleMessage(3, L"c.cpp", L"C::Other", 0, L"other");
    handler.HandleMessage(0xFFFFFFFF, L"d.cpp", L"D::Other", 4, L"");
    g_debuggerLines = nullptr;
    EXPECT_EQ((std::vector<std::wstring>{L"a.cpp(12): [INFO]: [A::Info]: info text\n",
                                         L"b.cpp(-3): [ERROR]: [B::Error]: error 100%\n",
                                         L"c.cpp(0): [UNKNOWN]: [C::Other]: other\n",
                                         L"d.cpp(4): [UNKNOWN]: [D::Other]: \n"}),
              lines);
}

TEST_F(FundorLoggerTest, RegisteringReplacesOnlyTheDefaultHandler)
{
    CLogger::Log(0, L"x.cpp", L"X::Y", 1, L"nothing");  // registers the default handler
    EXPECT_EQ(&CLogger::DefaultHandler(), CLogger::RegisteredHandler());

    EXPECT_EQ(0u, CLogger::RegisterHandler(&m_first));
    EXPECT_EQ(0u, CLogger::RegisterHandler(&m_first));
    EXPECT_EQ(&m_first, CLogger::RegisteredHandler());

    EXPECT_EQ(5023u, CLogger::RegisterHandler(&m_second));
    EXPECT_EQ(87u, CLogger::RegisterHandler(nullptr));
    EXPECT_EQ(&m_first, CLogger::RegisteredHandler());

    CLogger::Log(7, L"core.cpp", L"Fundor::Thing", 33, L"%s %d", L"value", 42);
    EXPECT_EQ((std::vector<std::wstring>{
                  L"first:2|Logging\\internal_logging|Fundor::CLogger::RegisterHandler|72|" + SystemText(5023) +
                      L": Registered Logging Handler " + PointerText(&m_first) + L" cannot be replaced with " +
                      PointerText(&m_second),
                  L"first:2|Logging\\internal_logging|Fundor::CLogger::RegisterHandler|62|" + SystemText(87) +
                      L": Cannot Register (NULL) handler",
                  L"first:7|core.cpp|Fundor::Thing|33|value 42",
              }),
              Journal::Instance().Events());
}

TEST_F(FundorLoggerTest, UnregisteringTheWrongHandlerTellsBothAndChangesNothing)
{
    ASSERT_EQ(0u, CLogger::RegisterHandler(&m_first));
    EXPECT_EQ(5023u, CLogger::UnregisterHandler(&m_second));
    EXPECT_EQ(87u, CLogger::UnregisterHandler(nullptr));
    EXPECT_EQ(&m_first, CLogger::RegisteredHandler());
    const std::wstring mismatch = SystemText(5023) + L": Failed to Unregister Logging handler (requested handler " +
                                  PointerText(&m_second) + L" != registered handler " + PointerText(&m_first) + L")";
    const std::wstring function = std::wstring(kInternalFile) + L"|Fundor::CLogger::UnregisterHandler|";
    EXPECT_EQ((std::vector<std::wstring>{
                  L"first:2|" + function + L"115|" + mismatch,
                  L"second:2|" + function + L"120|" + mismatch,
                  L"first:2|" + function + L"97|" + SystemText(87) + L": Cannot Unregister (NULL) handler",
              }),
              Journal::Instance().Events());

    Journal::Instance().Clear();
    EXPECT_EQ(0u, CLogger::UnregisterHandler(&m_first));
    EXPECT_EQ(nullptr, CLogger::RegisteredHandler());
    EXPECT_EQ(5023u, CLogger::UnregisterHandler(&m_first));
    EXPECT_EQ(nullptr, CLogger::RegisteredHandler());
    EXPECT_EQ((std::vector<std::wstring>{L"first:2|" + function + L"107|" + SystemText(5023) +
                                         L": Request to Unregister Logging handler " + PointerText(&m_first) +
                                         L", but none are registered"}),
              Journal::Instance().Events());
}

TEST_F(FundorLoggerTest, AMessageWithoutMemoryBecomesTheFixedAllocationLine)
{
    ASSERT_EQ(0u, CLogger::RegisterHandler(&m_first));
    const std::wstring longText(100, L'x');  // longer than the string's own small buffer
    {
        FailingAllocations noMemory;
        CLogger::Log(1, L"core.cpp", L"Fundor::NoMemory", 5, L"%s", longText.c_str());
    }
    EXPECT_EQ((std::vector<std::wstring>{
                  L"first:2|core.cpp|Fundor::NoMemory|5|General memory-allocation failure in Fundor logger."}),
              Journal::Instance().Events());
}

TEST(FundorErrorText, IsTheSystemMessageText)
{
    EXPECT_FALSE(Fundor::GetErrorText(87).empty());
    EXPECT_EQ(SystemText(87), Fundor::GetErrorText(87));
    EXPECT_EQ(SystemText(5023), Fundor::GetErrorText(5023));
    EXPECT_EQ(L"", Fundor::GetErrorText(0x2FFFFFFF));
}

// ---- What a debugger sees of the default handler (a child process run under this test) ----

TEST(FundorLoggerProcess, DISABLED_LogsBeforeAnyHandlerIsRegistered)
{
    CLogger::Log(1, L"core.cpp", L"Fundor::Early", 12, L"value %d", 5);
    CLogger::Log(0, L"core.cpp", L"Fundor::Silent", 13, L"never shown");
    CLogger::Log(2, L"core.cpp", L"Fundor::Failed", 14, L"%s", L"error text");
}

// Runs this program's child test under the debugger API and collects its debug strings.
std::vector<std::string> DebugStringsOfChild(const wchar_t* testName, bool& finished)
{
    const Fundor::testing::ChildProcess child(Fundor::testing::ThisProgramPath(),
                                              Fundor::testing::SingleTestArguments(testName),
                                              {.flags = DEBUG_ONLY_THIS_PROCESS});
    std::vector<std::string> strings;
    const auto collect = [&strings](const std::string& text) {
        strings.push_back(text);
        return true;
    };
    finished = child.valid() &&
               Fundor::testing::FollowDebugStrings(child, 60000, collect) == Fundor::testing::DebugFollowEnd::Exited;
    return strings;
}

TEST(FundorLoggerProcess, BeforeTheFrontEndExistsADebuggerSeesTheFormattedLines)
{
    bool finished = false;
    const std::vector<std::string> strings =
        DebugStringsOfChild(L"FundorLoggerProcess.DISABLED_LogsBeforeAnyHandlerIsRegistered", finished);
    ASSERT_TRUE(finished);
    std::vector<std::string> ours;
    for (const std::string& text : strings) {
        if (text.rfind("core.cpp(", 0) == 0) ours.push_back(text);
    }
    EXPECT_EQ((std::vector<std::string>{"core.cpp(12): [INFO]: [Fundor::Early]: value 5\n",
                                        "core.cpp(14): [ERROR]: [Fundor::Failed]: error text\n"}),
              ours);
}

}  // namespace
}  // namespace ETWLogging::testing
