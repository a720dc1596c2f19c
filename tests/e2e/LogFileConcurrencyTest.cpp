// Two writer processes with two threads each log into one folder at once, through the
// production file logger. No record may be lost, and the files may hold only whole lines.

#include "core/base/FileSystemHelpers.h"
#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"
#include "core/ini/CObfuscatedIniReader.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <windows.h>

#include <cstring>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <tuple>
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
        std::vector<Fundor::ScopedHandle> processes;
        for (unsigned p = 0; p < kProcesses; ++p) {
            wchar_t command[1024];
            ASSERT_GT(Fundor::FormatW(command, std::size(command), L"\"%s\" %s _host %u %u %s %s", program.c_str(),
                                      m_group.c_str(), kThreads, kRecords, readyName.c_str(), startName.c_str()),
                      0);
            STARTUPINFOW startup = {};
            startup.cb = sizeof(startup);
            PROCESS_INFORMATION info = {};
            ASSERT_TRUE(::CreateProcessW(program.c_str(), command, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                         &startup, &info))
                << ::GetLastError();
            Fundor::ScopedHandle thread(info.hThread);
            processes.emplace_back(info.hProcess);
        }
        for (unsigned p = 0; p < kProcesses; ++p) {
            ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(ready.get(), kRunTimeoutMs));
        }
        ASSERT_TRUE(::SetEvent(start.get()));
        for (auto& process : processes) {
            ASSERT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(process.get(), kRunTimeoutMs));
            DWORD exitCode = 1;
            ASSERT_TRUE(::GetExitCodeProcess(process.get(), &exitCode));
            EXPECT_EQ(0u, exitCode);
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

}  // namespace
