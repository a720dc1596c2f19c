// The record path from a holder to its logger, the argument passing of LogMessage and the
// level-named logger slots, with stub loggers in holders of the test's own.

#include "core/Logging/LoggerHolder.h"
#include "core/Logging/Logging.h"
#include "core/tests/Logging/LoggingTestSupport.h"
#include "core/testsupport/TestBstr.h"

#include <gtest/gtest.h>
#include <oleauto.h>

#include <cstddef>
#include <string>
#include <type_traits>

namespace ETWLogging::testing {
namespace {

using Fundor::testing::TestBstr;

enum class SmallCode : unsigned char { Seven = 7 };

// A holder of the test's own around one stub; deleting the holder's logger is the test's job.
template <typename Stub>
class StubHolder {
public:
    explicit StubHolder(StubSettings settings = {}) : m_stub(new Stub(L"stub", std::move(settings)))
    {
        m_holder.logger.store(m_stub);
        Journal::Instance().Clear();
    }
    ~StubHolder() { delete m_holder.logger.exchange(nullptr); }
    LoggerHolder* get() { return &m_holder; }

private:
    Stub* m_stub;
    LoggerHolder m_holder;
};

std::wstring Repeated(std::size_t count)
{
    std::wstring text;
    for (std::size_t i = 0; i < count; ++i) text += static_cast<wchar_t>(L'a' + i % 26);
    return text;
}

// The text of the one WriteText record in the journal.
std::wstring WrittenText(const std::vector<std::wstring>& events, const std::wstring& prefix)
{
    const std::vector<std::wstring> written = EventsStartingWith(events, prefix);
    return written.size() == 1 ? written[0].substr(prefix.size()) : L"<" + std::to_wstring(written.size()) + L" records>";
}

TEST(LogRecordPath, FileLoggerGetsTheWholeTextUpTo4160CharactersAndHalfOfALongerOne)
{
    StubHolder<StubLogger> holder({.severity = 5});
    const std::wstring whole = Repeated(4160);
    // Level 1 is below the stub's Severity: this path makes no level test of its own.
    EXPECT_EQ(0u, WriteLogRecord(holder.get(), 1, L"Path.cpp", L"Path::Whole", 7, L"%s", whole.c_str()));
    std::vector<std::wstring> events = Journal::Instance().Events();
    EXPECT_EQ(2u, EventsStartingWith(events, L"stub:EnsureReady").size());
    EXPECT_EQ(whole, WrittenText(events, L"stub:WriteText|1|Path.cpp|Path::Whole|7|"));

    Journal::Instance().Clear();
    const std::wstring longer = Repeated(4161);
    EXPECT_EQ(0u, WriteLogRecord(holder.get(), 4, L"Path.cpp", L"Path::Cut", 8, L"%s", longer.c_str()));
    EXPECT_EQ(longer.substr(0, 2080), WrittenText(Journal::Instance().Events(), L"stub:WriteText|4|Path.cpp|Path::Cut|8|"));
}

TEST(LogRecordPath, ExtendedLoggerFormatsOnlyARecordWhoseLevelIsOn)
{
    StubHolder<StubLoggerEx> holder({.severity = 3});
    EXPECT_EQ(0u, WriteLogRecord(holder.get(), 2, L"Etw.cpp", L"Etw::Off", 1, L"off %d", 1));
    EXPECT_EQ((std::vector<std::wstring>{L"stub:EnsureReady"}), Journal::Instance().Events());

    Journal::Instance().Clear();
    EXPECT_EQ(0u, WriteLogRecord(holder.get(), 4, L"Etw.cpp", L"Etw::On", 2, L"%s=%d", L"value", 5));
    EXPECT_EQ((std::vector<std::wstring>{L"stub:EnsureReady", L"stub:LogV|4|Etw.cpp|Etw::On|2|value=5"}),
              Journal::Instance().Events());
}

TEST(LogRecordPath, NoLoggerAndAFailingEnsureReadyWriteNothing)
{
    LoggerHolder empty;
    EXPECT_EQ(1627u, WriteLogRecord(&empty, 4, L"F.cpp", L"F::G", 1, L"text"));
    EXPECT_EQ(1627u, WriteLogRecord(nullptr, 4, L"F.cpp", L"F::G", 1, L"text"));
    EXPECT_EQ(1627u, WriteLogText(&empty, L"F.cpp", L"F::G", 1, 4, L"text"));
    EXPECT_EQ(1627u, WriteLogText(nullptr, L"F.cpp", L"F::G", 1, 4, L"text"));

    StubHolder<StubLogger> file({.ensureReadyResult = 1234});
    EXPECT_EQ(1234u, WriteLogRecord(file.get(), 4, L"F.cpp", L"F::G", 1, L"text"));
    EXPECT_EQ(1234u, WriteLogText(file.get(), L"F.cpp", L"F::G", 1, 4, L"text"));
    EXPECT_EQ((std::vector<std::wstring>{L"stub:EnsureReady", L"stub:EnsureReady"}), Journal::Instance().Events());

    StubHolder<StubLoggerEx> etw({.ensureReadyResult = 1234});
    EXPECT_EQ(1234u, WriteLogRecord(etw.get(), 4, L"F.cpp", L"F::G", 1, L"text"));
    EXPECT_EQ(1234u, WriteLogText(etw.get(), L"F.cpp", L"F::G", 1, 4, L"text"));
    EXPECT_EQ((std::vector<std::wstring>{L"stub:EnsureReady", L"stub:EnsureReady"}), Journal::Instance().Events());
}

TEST(LogRecordPath, WriteLogTextPassesTheTextWithoutALevelTest)
{
    StubHolder<StubLoggerEx> etw({.severity = 5});
    EXPECT_EQ(0u, WriteLogText(etw.get(), L"T.cpp", L"T::Ex", 3, 1, L"100% text"));
    EXPECT_EQ((std::vector<std::wstring>{L"stub:EnsureReady", L"stub:WriteTextEx|1|T.cpp|T::Ex|3|100% text"}),
              Journal::Instance().Events());

    StubHolder<StubLogger> file({.severity = 5});
    EXPECT_EQ(0u, WriteLogText(file.get(), L"T.cpp", L"T::Plain", 4, 2, L"100% text"));
    EXPECT_EQ((std::vector<std::wstring>{L"stub:EnsureReady", L"stub:WriteText|2|T.cpp|T::Plain|4|100% text"}),
              Journal::Instance().Events());
}

TEST(LogRecordPath, FailuresInsideTheRecordPathNeverReachTheCaller)
{
    // A logger that throws.
    StubHolder<StubLogger> throwingFile({.throwOnWrite = true});
    EXPECT_EQ(1627u, WriteLogRecord(throwingFile.get(), 4, L"F.cpp", L"F::G", 1, L"text"));
    EXPECT_EQ(1627u, WriteLogText(throwingFile.get(), L"F.cpp", L"F::G", 1, 4, L"text"));
    StubHolder<StubLoggerEx> throwingEtw({.throwOnWrite = true});
    EXPECT_EQ(1627u, WriteLogRecord(throwingEtw.get(), 4, L"F.cpp", L"F::G", 1, L"text"));

    // No memory for the text: the record is lost, nothing is written.
    StubHolder<StubLogger> file;
    const std::wstring lost = Repeated(100);  // longer than the string's own small buffer
    std::uint32_t result = 0;
    {
        FailingAllocations noMemory;
        result = WriteLogRecord(file.get(), 4, L"F.cpp", L"F::NoMemory", 1, L"%s", lost.c_str());
    }
    EXPECT_EQ(8u, result);
    EXPECT_TRUE(EventsStartingWith(Journal::Instance().Events(), L"stub:WriteText").empty());

    // A format that cannot be formatted is not written as an empty record; an empty text is.
    EXPECT_EQ(87u, WriteLogRecord(file.get(), 4, L"F.cpp", L"F::BadFormat", 2, L"%2147483647d%2147483647d", 1, 2));
    EXPECT_EQ(0u, WriteLogRecord(file.get(), 4, L"F.cpp", L"F::Empty", 3, L"%s", L""));
    EXPECT_EQ((std::vector<std::wstring>{L"stub:WriteText|4|F.cpp|F::Empty|3|"}),
              EventsStartingWith(Journal::Instance().Events(), L"stub:WriteText"));
}

TEST(LogRecordPath, LogMessageArgumentsTravelAsPrintfArguments)
{
    using internal::PrintfArgument;
    static_assert(std::is_same_v<decltype(PrintfArgument(true)), int>);
    static_assert(std::is_same_v<decltype(PrintfArgument(static_cast<unsigned char>(1))), int>);
    static_assert(std::is_same_v<decltype(PrintfArgument(std::byte{1})), int>);
    static_assert(std::is_same_v<decltype(PrintfArgument(SmallCode::Seven)), int>);
    static_assert(std::is_same_v<decltype(PrintfArgument(std::wstring())), const wchar_t*>);
    static_assert(std::is_same_v<decltype(PrintfArgument(std::declval<TestBstr>())), const wchar_t*>);
    static_assert(std::is_same_v<decltype(PrintfArgument(0x7FFFFFFFu)), unsigned int>);
    static_assert(std::is_same_v<decltype(PrintfArgument(L"literal")), const wchar_t*>);

    StubHolder<StubLogger> file;
    const std::wstring wide = L"wide";
    const TestBstr bstr(L"bstr");
    const unsigned char byte = 200;
    const char letter = 'A';
    EXPECT_EQ(0u, WriteLogRecord(file.get(), 1, L"Args.cpp", L"Args::All", 9, L"%s|%d|%d|%d|%d|%d|%c|%s|%s|%u|%d",
                                 PrintfArgument(wide), PrintfArgument(true), PrintfArgument(false),
                                 PrintfArgument(byte), PrintfArgument(std::byte{7}), PrintfArgument(SmallCode::Seven),
                                 PrintfArgument(letter), PrintfArgument(bstr), PrintfArgument(L"literal"),
                                 PrintfArgument(0xFFFFFFFFu), PrintfArgument(-5)));
    EXPECT_EQ(L"wide|1|0|200|7|7|A|bstr|literal|4294967295|-5",
              WrittenText(Journal::Instance().Events(), L"stub:WriteText|1|Args.cpp|Args::All|9|"));
}

TEST(LogRecordPath, LevelNamedSlotsWriteTheirLevelAndCutAt4159)
{
    StubLogger logger(L"slots", {.severity = 6});
    Journal::Instance().Clear();
    const std::wstring text = Repeated(5000);
    EXPECT_EQ(0u, logger.LogNormal(L"S.cpp", L"S::Normal", 1, L"%s", text.c_str()));
    EXPECT_EQ(0u, logger.LogError(L"S.cpp", L"S::Error", 2, L"e%d", 4));
    EXPECT_EQ(0u, logger.LogWarning(L"S.cpp", L"S::Warning", 3, L"w%d", 2));
    EXPECT_EQ(0u, logger.LogCritical(L"S.cpp", L"S::Critical", 4, L"c%d", 5));
    EXPECT_EQ(0u, logger.LogInformation(L"S.cpp", L"S::Information", 5, L"i%d", 3));
    const std::vector<std::wstring> events = Journal::Instance().Events();
    // No EnsureReady and no level test: every record reaches WriteText, whatever the Severity.
    ASSERT_EQ(5u, events.size());
    EXPECT_EQ(L"slots:WriteText|1|S.cpp|S::Normal|1|" + text.substr(0, 4159), events[0]);
    EXPECT_EQ(L"slots:WriteText|4|S.cpp|S::Error|2|e4", events[1]);
    EXPECT_EQ(L"slots:WriteText|2|S.cpp|S::Warning|3|w2", events[2]);
    EXPECT_EQ(L"slots:WriteText|5|S.cpp|S::Critical|4|c5", events[3]);
    EXPECT_EQ(L"slots:WriteText|3|S.cpp|S::Information|5|i3", events[4]);
}

}  // namespace
}  // namespace ETWLogging::testing

namespace ETWLogging {
namespace {

TEST(LogRecordPathProcess, LogCallsKeepTheCallersLastError)
{
    // The process-wide logger is built by the first call below (the ETW logger over Wine's stubs,
    // whose registry reads and trace calls set errors of their own).
    for (const DWORD error : {DWORD{ERROR_ACCESS_DENIED}, DWORD{0}, DWORD{0x8007000E}}) {
        ::SetLastError(error);
        const bool enabled = IsLogLevelEnabled(kLevelError);
        EXPECT_EQ(error, ::GetLastError());
        ::SetLastError(error);
        LogMessage(kLevelError, L"LogRecordPathTest.cpp", L"LogRecordPathProcess::LastError", __LINE__,
                   L"failed with %lu", error);
        EXPECT_EQ(error, ::GetLastError()) << "enabled=" << enabled;
    }
}

}  // namespace
}  // namespace ETWLogging
