// Two writer processes with two threads each log into one folder at once, through the
// production file logger. No record may be lost, and the files may hold only whole lines.
// Another process that holds the file's lock or the rotation mutex never makes a record wait long.

#include "core/Logging/CLogging.h"
#include "core/base/FileSystemHelpers.h"
#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"
#include "core/ini/CObfuscatedIniReader.h"
#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using Fundor::testing::UniqueName;

constexpr unsigned kProcesses = 2;
constexpr unsigned kThreads = 2;
constexpr unsigned kRecords = 2000;
constexpr DWORD kRunTimeoutMs = 90000;

std::wstring ProgramData()
{
    PWSTR path = nullptr;
    const HRESULT hr = ::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &path);
    const Fundor::ScopedCoTaskMemory owner(path);
    return SUCCEEDED(hr) ? std::wstring(path) : std::wstring();
}

std::wstring ThisFolder()
{
    wchar_t path[MAX_PATH] = {};
    (void)::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder;
    std::wstring name;
    (void)Fundor::SplitPath(path, folder, false, name);
    return folder;
}

// The file's bytes; empty when it cannot be read.
std::vector<std::uint8_t> ReadBytes(const std::wstring& path)
{
    std::vector<std::uint8_t> bytes;
    Fundor::ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    LARGE_INTEGER size{};
    if (!file.valid() || ::GetFileSizeEx(file.get(), &size) == FALSE) {
        return bytes;
    }
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty() && ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) {
        bytes.resize(read);
    }
    return bytes;
}

struct Record {
    unsigned long process;
    unsigned long thread;
    unsigned long number;
    unsigned long threadId;
};

class LogFileConcurrency : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::wstring programData = ProgramData();
        ASSERT_FALSE(programData.empty());
        m_groupFolder = programData + L"\\Tervane\\KVLOGS\\" + m_group;
        m_folder = m_groupFolder + L"\\OrdwellLogWriter";
        ASSERT_TRUE(Fundor::CreateDirectoryPath(m_folder.c_str()));
    }
    void TearDown() override { (void)Fundor::RemoveDirectoryPath(m_groupFolder.c_str()); }

    void Configure(int maxSize, int maxEntries)
    {
        Fundor::CObfuscatedIniReader ini;
        (void)ini.Load(Ini());
        ASSERT_TRUE(ini.WriteInt(L"Config", L"MaxSize", maxSize));
        ASSERT_TRUE(ini.WriteInt(L"Config", L"MaxEntries", maxEntries));
        ASSERT_TRUE(ini.WriteInt(L"Config", L"Options", 60));  // every column
    }

    // Starts the writers, lets them go together and waits until they are done.
    void RunWriters()
    {
        const std::wstring readyName = UniqueName(L"ready");
        const std::wstring startName = UniqueName(L"start");
        Fundor::ScopedHandle ready(::CreateSemaphoreW(nullptr, 0, kProcesses, readyName.c_str()));
        Fundor::ScopedHandle start(::CreateEventW(nullptr, TRUE, FALSE, startName.c_str()));
        ASSERT_TRUE(ready.valid());
        ASSERT_TRUE(start.valid());

        const std::wstring program = ThisFolder() + L"\\OrdwellLogWriter.exe";
        std::vector<Fundor::testing::ChildProcess> processes;
        for (unsigned p = 0; p < kProcesses; ++p) {
            wchar_t arguments[1024];
            ASSERT_GT(Fundor::FormatW(arguments, std::size(arguments), L"%s _host %u %u %s %s", m_group.c_str(),
                                      kThreads, kRecords, readyName.c_str(), startName.c_str()),
                      0);
            Fundor::testing::ChildProcess writer(program, arguments);
            ASSERT_TRUE(writer.valid()) << ::GetLastError();
            processes.push_back(std::move(writer));
        }
        for (unsigned p = 0; p < kProcesses; ++p) {
            ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(ready.get(), kRunTimeoutMs));
        }
        ASSERT_TRUE(::SetEvent(start.get()));
        for (const auto& process : processes) {
            const std::optional<DWORD> exitCode = process.Wait(kRunTimeoutMs);
            ASSERT_TRUE(exitCode.has_value());
            EXPECT_EQ(0u, *exitCode);
        }
    }

    std::wstring Ini() const { return m_folder + L"\\log.ini"; }
    std::wstring File(unsigned index) const
    {
        wchar_t name[48];
        (void)Fundor::FormatW(name, std::size(name), L"\\OrdwellLogWriter__host%03u.log", index);
        return m_folder + name;
    }

    // Checks every line of the file and adds its record.
    void ReadRecords(const std::wstring& path, std::vector<Record>& records) const
    {
        const std::vector<std::uint8_t> bytes = ReadBytes(path);
        ASSERT_GE(bytes.size(), 2u) << path;
        ASSERT_EQ(0xFF, bytes[0]) << path;
        ASSERT_EQ(0xFE, bytes[1]) << path;
        ASSERT_EQ(0u, bytes.size() % 2) << path;
        std::wstring text((bytes.size() - 2) / 2, L'\0');
        std::memcpy(text.data(), bytes.data() + 2, bytes.size() - 2);
        ASSERT_EQ(std::wstring::npos, text.find(L'\xFEFF')) << "a second mark in " << path.size();
        ASSERT_GE(text.size(), 2u);
        ASSERT_EQ(L"\r\n", text.substr(text.size() - 2)) << "a cut last line";

        static const std::wregex shape(
            LR"(^\d\d/\d\d/\d{4} \d\d:\d\d:\d\d [AP]M\$ -- \(Information\)\$  \[PID: *(\d+) TID: *(\d+)\]\$ .*)"
            LR"( P(\d+) T(\d+) N(\d+) x{100}$)");
        std::size_t begin = 0;
        while (begin < text.size()) {
            const std::size_t end = text.find(L"\r\n", begin);
            const std::wstring line = text.substr(begin, end - begin);
            begin = end + 2;
            std::wsmatch match;
            ASSERT_TRUE(std::regex_match(line, match, shape)) << "not a whole line at character " << begin << ": " << std::string(line.begin(), line.end());
            const unsigned long pid = std::stoul(match[1].str());
            const unsigned long tid = std::stoul(match[2].str());
            const Record record{std::stoul(match[3].str()), std::stoul(match[4].str()), std::stoul(match[5].str()), tid};
            // The exact line, rebuilt around its time stamp.
            wchar_t rest[512];
            ASSERT_GT(Fundor::FormatW(rest, std::size(rest),
                                      L"$ -- (Information)$  [PID:%5lu TID:%5lu]$ [       LogWriter.cpp:%5lu]$ "
                                      L"[%40s()]$ P%lu T%lu N%lu %s",
                                      pid, tid, record.number, L"Writer::Run", record.process, record.thread,
                                      record.number, std::wstring(100, L'x').c_str()),
                      0);
            EXPECT_EQ(line.substr(0, 22) + rest, line);
            EXPECT_EQ(pid, record.process);
            records.push_back(record);
        }
    }

    // Every record of every writer thread exactly once, in its own order, each thread with one id.
    static void ExpectEveryRecordOnceInOrder(const std::vector<Record>& records)
    {
        EXPECT_EQ(kProcesses * kThreads * kRecords, records.size());
        std::map<std::pair<unsigned long, unsigned long>, std::vector<const Record*>> byThread;
        for (const Record& record : records) {
            byThread[{record.process, record.thread}].push_back(&record);
        }
        ASSERT_EQ(kProcesses * kThreads, byThread.size());
        std::set<std::pair<unsigned long, unsigned long>> threadIds;
        for (const auto& [writer, list] : byThread) {
            ASSERT_EQ(kRecords, list.size());
            for (unsigned long n = 0; n < kRecords; ++n) {
                ASSERT_EQ(n, list[n]->number) << "writer " << writer.first << "/" << writer.second;
                ASSERT_EQ(list[0]->threadId, list[n]->threadId);
            }
            threadIds.insert({writer.first, list[0]->threadId});
        }
        EXPECT_EQ(kProcesses * kThreads, threadIds.size());
    }

    std::wstring m_group = UniqueName(L"e2e");
    std::wstring m_groupFolder;
    std::wstring m_folder;
};

TEST_F(LogFileConcurrency, TwoProcessesWithTwoThreadsEachLoseNoLineInOneFile)
{
    Configure(0xA00000, 3);
    RunWriters();
    std::vector<Record> records;
    ReadRecords(File(0), records);
    ExpectEveryRecordOnceInOrder(records);
    EXPECT_FALSE(Fundor::IsFile(File(1).c_str()));
}

TEST_F(LogFileConcurrency, TwoProcessesWithTwoThreadsEachRotateTogetherAndLoseNoLine)
{
    constexpr int kMaxSize = 0x40000;
    Configure(kMaxSize, 100);
    RunWriters();
    std::vector<Record> records;
    unsigned files = 0;
    while (Fundor::IsFile(File(files).c_str())) {
        ReadRecords(File(files), records);
        ++files;
    }
    ASSERT_GE(files, 10u);
    ExpectEveryRecordOnceInOrder(records);
    // A file is left only when it is full; the index names the last one.
    for (unsigned index = 0; index + 1 < files; ++index) {
        EXPECT_GE(ReadBytes(File(index)).size(), static_cast<std::size_t>(kMaxSize)) << index;
    }
    Fundor::CObfuscatedIniReader ini;
    (void)ini.Load(Ini());
    int last = -1;
    EXPECT_TRUE(ini.ReadInt(L"Config", L"LastLogIdx", last));
    EXPECT_EQ(static_cast<int>(files - 1), last);
}

// ---- Another process holds the file's lock or the rotation mutex ----

// The file's text after its byte-order mark, cut into lines without their "\r\n"; one line
// "<no mark>" when the file does not start with one, "<cut>" after a last line without an end.
std::vector<std::wstring> ReadLines(const std::wstring& path)
{
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE || bytes.size() % 2 != 0) {
        return {L"<no mark>"};
    }
    std::wstring text((bytes.size() - 2) / 2, L'\0');
    std::memcpy(text.data(), bytes.data() + 2, bytes.size() - 2);
    std::vector<std::wstring> lines;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = text.find(L"\r\n", begin);
        if (end == std::wstring::npos) {
            lines.push_back(L"<cut>");
            break;
        }
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 2;
    }
    return lines;
}

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency{};
    (void)::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

struct HeldCase {
    const char* name;
    bool lockHeld;         // the holder takes the file's write lock
    bool mutexHeld;        // the holder owns the folder's rotation mutex
    bool indexOutOfRange;  // "LastLogIdx" 7 of 3 files: every record goes through the rotation mutex
    unsigned threads;
    unsigned recordsPerThread;
    bool afterBackOff;  // one more record once the back-off is over: it waits again
};

struct Call {
    std::uint32_t result = 0xFFFFFFFF;
    double ms = 0;
};

class LogFileLockHeld : public ::testing::Test {
protected:
    static constexpr DWORD kHoldMs = 5000;    // the holder lets go by itself: a logger that waits fails, not hangs
    // Scheduling under Wine on a busy machine; far below the holder's 5 s that a record waiting for
    // it would take.
    static constexpr double kSlackMs = 2000;
    static constexpr DWORD kProcessWaitMs = 20000;

    void TearDown() override
    {
        for (const std::wstring& folder : m_groupFolders) {
            (void)Fundor::RemoveDirectoryPath(folder.c_str());
        }
    }

    void RunCase(const HeldCase& heldCase, unsigned caseNumber)
    {
        const std::wstring programData = ProgramData();
        ASSERT_FALSE(programData.empty());
        const std::wstring group = UniqueName(L"e2eheld");
        m_groupFolders.push_back(programData + L"\\Tervane\\KVLOGS\\" + group);
        const std::wstring folder = m_groupFolders.back() + L"\\e2e_tests";
        const std::wstring file = folder + L"\\e2e_tests_held000.log";

        ETWLogging::CLogging logger;
        ASSERT_EQ(0u, logger.Initialize(group.c_str(), ::GetModuleHandleW(nullptr), L"held", nullptr));
        ASSERT_EQ(0u, Write(logger, L"before the holder"));
        if (heldCase.indexOutOfRange) {
            Fundor::CObfuscatedIniReader ini;
            (void)ini.Load(folder + L"\\log.ini");
            ASSERT_TRUE(ini.WriteInt(L"Config", L"LastLogIdx", 7));
        }

        // The holder takes what it is told to and says so.
        const std::wstring readyName = UniqueName(L"held-ready");
        const std::wstring releaseName = UniqueName(L"held-release");
        Fundor::ScopedHandle ready(::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
        Fundor::ScopedHandle release(::CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str()));
        ASSERT_TRUE(ready.valid() && release.valid());
        const std::wstring mutexName =
            heldCase.mutexHeld ? ETWLogging::CLogging::RotationMutexName(folder) : std::wstring(L"-");
        const std::wstring program = ThisFolder() + L"\\OrdwellLogWriter.exe";
        wchar_t arguments[2048];
        ASSERT_GT(Fundor::FormatW(arguments, std::size(arguments), L"hold \"%s\" %s %s %s %lu",
                                  heldCase.lockHeld ? file.c_str() : L"-", mutexName.c_str(), readyName.c_str(),
                                  releaseName.c_str(), kHoldMs),
                  0);
        const Fundor::testing::ChildProcess holder(program, arguments);
        ASSERT_TRUE(holder.valid()) << ::GetLastError();
        const HANDLE readyOrGone[] = {ready.get(), holder.handle()};
        ASSERT_EQ(WAIT_OBJECT_0, ::WaitForMultipleObjects(2, readyOrGone, FALSE, kProcessWaitMs))
            << "the holder ended or hung before it held anything";

        // Every thread writes its records one after another, each call timed.
        std::vector<std::vector<Call>> calls(heldCase.threads, std::vector<Call>(heldCase.recordsPerThread));
        std::vector<std::thread> writers;
        for (unsigned t = 0; t < heldCase.threads; ++t) {
            writers.emplace_back([&, t] {
                for (unsigned n = 0; n < heldCase.recordsPerThread; ++n) {
                    wchar_t text[64];
                    (void)Fundor::FormatW(text, std::size(text), L"held T%u N%u", t, n);
                    LARGE_INTEGER start{};
                    LARGE_INTEGER end{};
                    (void)::QueryPerformanceCounter(&start);
                    calls[t][n].result = Write(logger, text);
                    (void)::QueryPerformanceCounter(&end);
                    calls[t][n].ms = Milliseconds(start, end);
                }
            });
        }
        for (std::thread& writer : writers) {
            writer.join();
        }
        Call late;
        if (heldCase.afterBackOff) {
            ::Sleep(ETWLogging::CLogging::kLockBackOffMs + 100);
            LARGE_INTEGER start{};
            LARGE_INTEGER end{};
            (void)::QueryPerformanceCounter(&start);
            late.result = Write(logger, L"held T0 late");
            (void)::QueryPerformanceCounter(&end);
            late.ms = Milliseconds(start, end);
        }
        ASSERT_TRUE(::SetEvent(release.get()));
        const std::optional<DWORD> exitCode = holder.Wait(kProcessWaitMs);
        ASSERT_TRUE(exitCode.has_value());
        EXPECT_EQ(0u, *exitCode) << "the holder failed at its step " << *exitCode;
        ASSERT_EQ(0u, Write(logger, L"after the holder"));
        ASSERT_EQ(0u, Write(logger, L"after the report"));

        // Each call ends within the bound; while the back-off lasts no thread waits twice, and
        // each waits at least once; a record that could not get the file's lock is dropped.
        const std::uint32_t expected = heldCase.lockHeld ? ERROR_LOCK_VIOLATION : ERROR_SUCCESS;
        // A record that waited for the holder took the whole bound; one that did not would need a
        // stall of the machine nearly as long to count as one.
        const double longCall = ETWLogging::CLogging::kLockWaitMs * 0.9;
        double longest = 0;
        double longestUnwaited = 0;
        unsigned waited = 0;
        for (unsigned t = 0; t < heldCase.threads; ++t) {
            for (unsigned n = 0; n < heldCase.recordsPerThread; ++n) {
                const Call& call = calls[t][n];
                EXPECT_EQ(expected, call.result) << "thread " << t << " record " << n;
                EXPECT_LT(call.ms, ETWLogging::CLogging::kLockWaitMs + kSlackMs) << "thread " << t << " record " << n;
                longest = std::max(longest, call.ms);
                if (call.ms >= longCall) {
                    ++waited;
                } else {
                    longestUnwaited = std::max(longestUnwaited, call.ms);
                }
            }
        }
        EXPECT_GE(waited, 1u);
        EXPECT_LE(waited, heldCase.threads);
        if (heldCase.threads == 1) {
            EXPECT_GE(calls[0][0].ms, longCall) << "the first record did not wait for the holder";
        }
        if (heldCase.afterBackOff) {
            EXPECT_EQ(expected, late.result);
            EXPECT_GE(late.ms, longCall) << "no record waits again after the back-off";
            EXPECT_LT(late.ms, ETWLogging::CLogging::kLockWaitMs + kSlackMs);
            longest = std::max(longest, late.ms);
        }
        std::cout << "[ held     ] " << heldCase.name << ": longest record " << longest << " ms, " << waited
                  << " of " << heldCase.threads * heldCase.recordsPerThread << " records waited, the others at most "
                  << longestUnwaited << " ms";
        if (heldCase.afterBackOff) {
            std::cout << ", the one after the back-off " << late.ms << " ms";
        }
        std::cout << std::endl;
        RecordProperty("longest_record_ms_case_" + std::to_string(caseNumber), std::to_string(longest));

        // The record written after the holder let go comes right after one line with the exact
        // count of dropped records, stamped as it is, and the next record after none; no dropped
        // record got into the file.
        const std::vector<std::wstring> lines = ReadLines(file);
        ASSERT_GE(lines.size(), 3u) << (lines.empty() ? std::string("no line") : Narrow(lines.front()));
        // Nothing was emptied: without the rotation mutex the out-of-range index only names 000.
        EXPECT_EQ(lines.front().substr(0, 22) + L"$ -- (Information)$  before the holder", lines.front());
        const std::wstring& after = lines[lines.size() - 2];
        ASSERT_GE(after.size(), 22u);
        EXPECT_EQ(after.substr(0, 22) + L"$ -- (Information)$  after the holder", after);
        EXPECT_EQ(lines.back().substr(0, 22) + L"$ -- (Information)$  after the report", lines.back());
        const unsigned records = heldCase.threads * heldCase.recordsPerThread + (heldCase.afterBackOff ? 1 : 0);
        const auto dropLines = std::count_if(lines.begin(), lines.end(), [](const std::wstring& line) {
            return line.find(L"dropped") != std::wstring::npos;
        });
        std::vector<std::wstring> held;
        std::copy_if(lines.begin(), lines.end(), std::back_inserter(held),
                     [](const std::wstring& line) { return line.find(L"held T") != std::wstring::npos; });
        if (heldCase.lockHeld) {
            EXPECT_EQ(1, dropLines);
            EXPECT_EQ(after.substr(0, 22) + L"$ -- (Warning)$  " + std::to_wstring(records) +
                          L" log records were dropped while another process held the log file's lock",
                      lines[lines.size() - 3]);
            EXPECT_TRUE(held.empty()) << Narrow(held.front());
        } else {
            EXPECT_EQ(0, dropLines);
            ASSERT_EQ(records, held.size());
            for (unsigned n = 0; n < heldCase.recordsPerThread; ++n) {
                EXPECT_EQ(L"held T0 N" + std::to_wstring(n), held[n].substr(held[n].find(L"held T"))) << n;
            }
        }
    }

    static std::uint32_t Write(ETWLogging::CLogging& logger, const wchar_t* text)
    {
        return logger.WriteText(L"src\\LockHeld.cpp", L"LockHeld::Write", 1, ETWLogging::kLevelInformation, text);
    }

    std::vector<std::wstring> m_groupFolders;
};

TEST_F(LogFileLockHeld, RecordsWaitBoundedAndOnceThenDropAndCountWhileAnotherProcessHoldsTheLock)
{
    const HeldCase cases[] = {
        {"file lock, one thread", true, false, false, 1, 20, true},
        {"file lock, four threads", true, false, false, 4, 5, false},
        {"file lock and rotation mutex, index out of range", true, true, true, 1, 10, false},
        {"rotation mutex, index out of range", false, true, true, 1, 5, false},
    };
    unsigned caseNumber = 0;
    for (const HeldCase& heldCase : cases) {
        SCOPED_TRACE(heldCase.name);
        RunCase(heldCase, ++caseNumber);
    }
}

}  // namespace
