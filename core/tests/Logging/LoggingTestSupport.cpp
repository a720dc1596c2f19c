#include "core/tests/Logging/LoggingTestSupport.h"

#include "core/base/ScopedResource.h"
#include "core/testsupport/RegistryIsolation.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <new>
#include <set>
#include <sstream>

// ---- Allocation-failure injection: the program's operator new fails on request, per thread ----

namespace {
thread_local bool t_failAllocations = false;
}

void* operator new(std::size_t size)
{
    if (t_failAllocations) {
        throw std::bad_alloc();
    }
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

void operator delete(void* block) noexcept { std::free(block); }

void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace ETWLogging::testing {

AllocationFailure::AllocationFailure() : m_saved(t_failAllocations) { t_failAllocations = true; }
AllocationFailure::~AllocationFailure() { t_failAllocations = m_saved; }
bool AllocationFailure::Active() { return t_failAllocations; }

AllocationAllowed::AllocationAllowed() : m_saved(t_failAllocations) { t_failAllocations = false; }
AllocationAllowed::~AllocationAllowed() { t_failAllocations = m_saved; }

namespace {

std::string Utf8(const std::wstring& text)
{
    if (text.empty()) return {};
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                            nullptr, nullptr);
    std::string result(static_cast<std::size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), bytes, nullptr,
                          nullptr);
    return result;
}

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
    AllocationAllowed allowed;
    std::lock_guard<std::mutex> lock(m_lock);
    m_events.push_back(event);
    if (!m_mirror.empty()) {
        std::ofstream out(m_mirror.c_str(), std::ios::binary | std::ios::app);
        // One event per line: a line end inside an event is written as "\n".
        std::wstring line = event;
        for (std::size_t at = 0; (at = line.find_first_of(L"\r\n", at)) != std::wstring::npos; at += 2) {
            line.replace(at, 1, line[at] == L'\n' ? L"\\n" : L"\\r");
        }
        out << Utf8(line) << '\n';
    }
}

std::vector<std::wstring> Journal::Events()
{
    AllocationAllowed allowed;
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
    AllocationAllowed allowed;
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

std::optional<std::wstring> EnvironmentVariable(const wchar_t* name)
{
    wchar_t value[1024];
    const DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
    if (length == 0 || length >= 1024) {
        return std::nullopt;
    }
    return std::wstring(value, length);
}

ChildRun RunTestChild(const wchar_t* testName, const std::vector<std::pair<std::wstring, std::wstring>>& variables,
                      DWORD timeoutMilliseconds)
{
    Fundor::testing::ScratchFolder scratch;
    const std::wstring reportPath = scratch.File(L"report.txt");
    const std::wstring outputPath = scratch.File(L"output.txt");

    // This process's environment with the report path and the given variables added.
    std::vector<std::pair<std::wstring, std::wstring>> added = variables;
    added.emplace_back(L"ORDWELL_LOGGING_REPORT", reportPath);
    std::vector<std::wstring> entries;
    const LPWCH current = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = current; *entry != L'\0'; entry += wcslen(entry) + 1) {
        const bool replaced = std::any_of(added.begin(), added.end(), [entry](const auto& variable) {
            const std::wstring& name = variable.first;
            return ::_wcsnicmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == L'=';
        });
        if (!replaced) entries.emplace_back(entry);
    }
    ::FreeEnvironmentStringsW(current);
    for (const auto& [name, value] : added) entries.push_back(name + L"=" + value);
    std::sort(entries.begin(), entries.end(),
              [](const std::wstring& a, const std::wstring& b) { return ::_wcsicmp(a.c_str(), b.c_str()) < 0; });
    std::wstring block;
    for (const std::wstring& entry : entries) block += entry + L'\0';
    block += L'\0';

    wchar_t programPath[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, programPath, MAX_PATH);
    const std::wstring program(programPath, length);
    std::wstring commandLine = L"\"" + program + L"\" --gtest_also_run_disabled_tests --gtest_filter=" + testName;

    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    Fundor::ScopedHandle output(::CreateFileW(outputPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION process = {};
    ChildRun run;
    if (::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                         block.data(), nullptr, &startup, &process) != FALSE) {
        Fundor::ScopedHandle processHandle(process.hProcess);
        Fundor::ScopedHandle threadHandle(process.hThread);
        if (::WaitForSingleObject(processHandle.get(), timeoutMilliseconds) == WAIT_OBJECT_0) {
            run.finished = true;
            ::GetExitCodeProcess(processHandle.get(), &run.exitCode);
        } else {
            ::TerminateProcess(processHandle.get(), 1);
            ::WaitForSingleObject(processHandle.get(), 10000);
        }
    }
    output.reset();
    std::istringstream lines(ReadWholeFile(reportPath));
    for (std::string line; std::getline(lines, line);) {
        run.report.push_back(Wide(line));
    }
    run.output = ReadWholeFile(outputPath);
    return run;
}

}  // namespace ETWLogging::testing
