#include "core/tests/Logging/LoggingTestSupport.h"

#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/EnvironmentBlock.h"
#include "core/testsupport/Narrow.h"
#include "core/testsupport/ProgramFolder.h"
#include "core/testsupport/RegistryIsolation.h"

#include <windows.h>

#include <fstream>
#include <optional>
#include <set>
#include <sstream>

namespace ETWLogging::testing {

namespace {

using Fundor::testing::Narrow;

std::wstring Wide(const std::string& text)
{
    if (text.empty()) return {};
    const int characters =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(characters), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), characters);
    return result;
}

std::string ReadWholeFile(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::mutex& StubLock()
{
    static std::mutex* lock = new std::mutex;
    return *lock;
}

std::set<const void*>& LiveStubs()
{
    static std::set<const void*>* stubs = new std::set<const void*>;
    return *stubs;
}

}  // namespace

Journal& Journal::Instance()
{
    static Journal* journal = new Journal;
    return *journal;
}

void Journal::Add(const std::wstring& event)
{
    AllowedAllocations allowed;
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.push_back(event);
    if (!m_mirror.empty()) {
        std::ofstream out(m_mirror.c_str(), std::ios::binary | std::ios::app);
        // One event per line: a line end inside an event is written as "\n".
        std::wstring line = event;
        for (std::size_t at = 0; (at = line.find_first_of(L"\r\n", at)) != std::wstring::npos; at += 2) {
            line.replace(at, 1, line[at] == L'\n' ? L"\\n" : L"\\r");
        }
        out << Narrow(line) << '\n';
    }
}

std::vector<std::wstring> Journal::Events()
{
    AllowedAllocations allowed;
    std::lock_guard<std::mutex> lock(m_lock);
    return m_events;
}

void Journal::Clear()
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.clear();
}

void Journal::MirrorTo(const std::wstring& path)
{
    std::lock_guard<std::mutex> lock(m_lock);
    m_mirror = path;
}

bool StubAlive(const void* stub)
{
    AllowedAllocations allowed;
    std::lock_guard<std::mutex> lock(StubLock());
    return LiveStubs().count(stub) != 0;
}

void StubBorn(const void* stub)
{
    std::lock_guard<std::mutex> lock(StubLock());
    LiveStubs().insert(stub);
}

void StubDied(const void* stub)
{
    std::lock_guard<std::mutex> lock(StubLock());
    LiveStubs().erase(stub);
}

std::vector<std::wstring> EventsStartingWith(const std::vector<std::wstring>& events, const std::wstring& prefix)
{
    std::vector<std::wstring> found;
    std::copy_if(events.begin(), events.end(), std::back_inserter(found),
                 [&](const std::wstring& event) { return event.rfind(prefix, 0) == 0; });
    return found;
}

std::wstring PointerText(const void* pointer)
{
    return Fundor::FormatString(L"0x%08X", static_cast<unsigned int>(reinterpret_cast<std::uintptr_t>(pointer)));
}

std::wstring SystemText(DWORD code)
{
    wchar_t text[1024] = {};
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                                          0, text, 1024, nullptr);
    return std::wstring(text, length < 1024 ? length : 0);
}

ChildRun RunTestChild(const wchar_t* testName, const std::vector<std::pair<std::wstring, std::wstring>>& variables,
                      DWORD timeoutMilliseconds)
{
    Fundor::testing::ScratchFolder scratch;
    const std::wstring reportPath = scratch.File(L"report.txt");

    // This process's environment with the report path and the given variables added.
    Fundor::testing::EnvironmentChanges changes(variables.begin(), variables.end());
    changes.emplace_back(L"ORDWELL_LOGGING_REPORT", reportPath);

    ChildRun run;
    const std::optional<DWORD> exitCode = Fundor::testing::RunProgram(
        Fundor::testing::ThisProgramPath(), Fundor::testing::SingleTestArguments(testName), timeoutMilliseconds,
        {.environment = Fundor::testing::EnvironmentBlock(changes), .output = &run.output});
    run.finished = exitCode.has_value();
    run.exitCode = exitCode.value_or(run.exitCode);
    std::istringstream lines(ReadWholeFile(reportPath));
    for (std::string line; std::getline(lines, line);) {
        run.report.push_back(Wide(line));
    }
    return run;
}

}  // namespace ETWLogging::testing
