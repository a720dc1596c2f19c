#include "core/Logging/CLogging.h"
#include "core/base/FileSystemHelpers.h"
#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"
#include "core/ini/CObfuscatedIniReader.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace ETWLogging {
namespace {

using Fundor::testing::ScratchFolder;
using Fundor::testing::UniqueName;

// The program-data folder handed to the logger.
class FakeKnownFolder : public Fundor::ShlObjAPI {
public:
    explicit FakeKnownFolder(std::wstring path, HRESULT result = S_OK) : m_path(std::move(path)), m_result(result) {}

    HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD flags, HANDLE, PWSTR* path) override
    {
        askedForProgramData = askedForProgramData && IsEqualGUID(folderId, FOLDERID_ProgramData) &&
                              flags == static_cast<DWORD>(KF_FLAG_CREATE);
        *path = nullptr;
        if (FAILED(m_result)) {
            return m_result;
        }
        const std::size_t bytes = (m_path.size() + 1) * sizeof(wchar_t);
        *path = static_cast<PWSTR>(::CoTaskMemAlloc(bytes));
        std::memcpy(*path, m_path.c_str(), bytes);
        return S_OK;
    }

    bool askedForProgramData = true;

private:
    std::wstring m_path;
    HRESULT m_result;
};

class FixedClock : public LogClock {
public:
    SYSTEMTIME LocalTime() override { return now; }
    void Set(WORD hour, WORD minute, WORD second)
    {
        now.wHour = hour;
        now.wMinute = minute;
        now.wSecond = second;
    }
    SYSTEMTIME now{2026, 12, 2, 8, 7, 5, 9, 0};  // 12/08/2026 07:05:09
};

std::vector<std::uint8_t> ReadBytes(const std::wstring& path)
{
    std::vector<std::uint8_t> bytes;
    Fundor::ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    if (!file.valid()) {
        return bytes;
    }
    LARGE_INTEGER size{};
    (void)::GetFileSizeEx(file.get(), &size);
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty()) {
        (void)::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    }
    bytes.resize(read);
    return bytes;
}

// The file's text after its byte-order mark; "<no mark>" when the file does not start with FF FE.
std::wstring ReadLog(const std::wstring& path)
{
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE || bytes.size() % 2 != 0) {
        return L"<no mark>";
    }
    std::wstring text((bytes.size() - 2) / 2, L'\0');
    std::memcpy(text.data(), bytes.data() + 2, bytes.size() - 2);
    return text;
}

void WriteEnciphered(const std::wstring& ini, const wchar_t* key, int value)
{
    std::wstring folder;
    std::wstring name;
    ASSERT_TRUE(Fundor::SplitPath(ini.c_str(), folder, false, name));
    ASSERT_TRUE(Fundor::CreateDirectoryPath(folder.c_str()));
    Fundor::CObfuscatedIniReader writer;
    (void)writer.Load(ini);
    ASSERT_TRUE(writer.WriteInt(L"Config", key, value));
}

// The enciphered value, or -12345 when there is none.
int ReadEnciphered(const std::wstring& ini, const wchar_t* key)
{
    Fundor::CObfuscatedIniReader reader;
    (void)reader.Load(ini);
    int value = -12345;
    (void)reader.ReadInt(L"Config", key, value);
    return value;
}

std::wstring Repeat(wchar_t c, std::size_t count) { return std::wstring(count, c); }

class FileLoggerTest : public ::testing::Test {
protected:
    std::unique_ptr<CLogging> MakeLogger()
    {
        return std::make_unique<CLogging>(m_clock, std::make_shared<FakeKnownFolder>(m_programData.Path()));
    }
    std::wstring Root() const { return m_programData.Path() + L"\\Tervane\\KVLOGS\\"; }
    std::wstring Folder(const std::wstring& group, const std::wstring& base = L"core_tests") const
    {
        return group.empty() ? Root() + base : Root() + group + L"\\" + base;
    }

    ScratchFolder m_programData;
    std::shared_ptr<FixedClock> m_clock = std::make_shared<FixedClock>();
    HMODULE m_exe = ::GetModuleHandleW(nullptr);
};

TEST_F(FileLoggerTest, WritesTheExactLineForEachLevelClockAndOptionsColumn)
{
    const std::wstring folder = Folder(L"grp");
    const std::wstring file = folder + L"\\core_tests_hst000.log";
    auto logger = MakeLogger();

    // Default Options 16 with a module handle: the module part is empty but keeps its space.
    ASSERT_EQ(0u, logger->Initialize(L"grp", m_exe, L"hst", nullptr));
    ASSERT_EQ(0u, logger->WriteText(L"x.cpp", L"A::B", 1, kLevelError, L"Open failed"));
    std::wstring expected = L"12/08/2026 07:05:09 AM$ -- (Error)$  Open failed\r\n";
    EXPECT_EQ(expected, ReadLog(file));
    const std::vector<std::uint8_t> bytes = ReadBytes(file);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(0xFF, bytes[0]);
    EXPECT_EQ(0xFE, bytes[1]);
    EXPECT_EQ('1', bytes[2]);  // UTF-16LE
    EXPECT_EQ(0, bytes[3]);

    // Lines of 510 to 513 characters, around the length a line is built in without allocating,
    // and a long one.
    for (const std::size_t length : {471u, 472u, 473u, 474u, 5000u}) {
        const std::wstring text(length, L'x');
        ASSERT_EQ(0u, logger->WriteText(L"x.cpp", L"A::B", 1, kLevelError, text.c_str()));
        expected += L"12/08/2026 07:05:09 AM$ -- (Error)$  " + text + L"\r\n";
    }
    EXPECT_EQ(expected, ReadLog(file));

    // The 12-hour clock, each level name, and a text that ends its own line.
    const struct {
        WORD hour, minute, second;
        LogLevel level;
        const wchar_t* text;
        const wchar_t* line;
    } cases[] = {
        {0, 0, 0, kLevelNormal, L"midnight", L"12/08/2026 12:00:00 AM$ -- (Normal)$  midnight\r\n"},
        {11, 59, 59, kLevelWarning, L"w", L"12/08/2026 11:59:59 AM$ -- (Warning)$  w\r\n"},
        {12, 0, 1, kLevelInformation, L"noon", L"12/08/2026 12:00:01 PM$ -- (Information)$  noon\r\n"},
        {13, 5, 0, kLevelCritical, L"c", L"12/08/2026 01:05:00 PM$ -- (Critical)$  c\r\n"},
        {23, 59, 59, kLevelInformation2, L"own end\n", L"12/08/2026 11:59:59 PM$ -- (Information)$  own end\n"},
    };
    logger->SetSeverity(1);
    for (const auto& c : cases) {
        m_clock->Set(c.hour, c.minute, c.second);
        ASSERT_EQ(0u, logger->WriteText(L"x.cpp", L"A::B", 1, c.level, c.text));
        expected += c.line;
    }
    EXPECT_EQ(expected, ReadLog(file));
    ASSERT_EQ(0u, logger->Uninitialize());

    // Every column: Options 62 (16, 4, 8, 32; 2 has no effect), in a logger without a module
    // handle (the process's file name is the module tag). Names longer than their field keep
    // their front.
    WriteEnciphered(folder + L"\\log.ini", L"Options", 62);
    ASSERT_EQ(0u, logger->Initialize(L"grp", nullptr, L"hst", nullptr));
    logger->SetSeverity(1);
    m_clock->Set(7, 5, 9);
    const std::wstring longFile = L"C:\\src\\deep\\" + std::wstring(L"ABCDEFGHIJKLMNOPQRST") + L"UVWXYZ.cpp";  // 30
    const std::wstring longFunction = L"CVeryLongClassNameForTheTest::" + Repeat(L'm', 20);               // 50
    ASSERT_EQ(0u, logger->WriteText(L"src\\Short.cpp", L"C::F", 42, kLevelWarning, L"short"));
    ASSERT_EQ(0u, logger->WriteText(longFile.c_str(), longFunction.c_str(), -7, kLevelError, L"long"));
    ASSERT_EQ(0u, logger->WriteText(nullptr, nullptr, 3, kLevelError, L"none"));
    ASSERT_EQ(0u, logger->WriteText(L"src\\", L"", 3, kLevelError, L"empty"));
    ASSERT_EQ(0u, logger->LogInformation(L"L.cpp", L"C::G", 100000, L"%s=%d", L"n", 5));

    wchar_t ids[64];
    ASSERT_GT(Fundor::FormatW(ids, std::size(ids), L"[PID:%5lu TID:%5lu]$", ::GetCurrentProcessId(),
                              ::GetCurrentThreadId()), 0);
    const std::wstring head = L"12/08/2026 07:05:09 AM$ -- ";
    const std::wstring tag = L"[ core_tests.exe]$ ";
    expected += head + L"(Warning)$ " + tag + ids + L" [           Short.cpp:   42]$ [" + Repeat(L' ', 36) +
                L"C::F()]$ short\r\n";
    expected += head + L"(Error)$ " + tag + ids + L" [ABCDEFGHIJKLMNOPQRST:   -7]$ [" + longFunction.substr(0, 40) +
                L"()]$ long\r\n";
    expected += head + L"(Error)$ " + tag + ids + L"   none\r\n";
    expected += head + L"(Error)$ " + tag + ids + L"   empty\r\n";
    expected += head + L"(Information)$ " + tag + ids + L" [               L.cpp:100000]$ [" + Repeat(L' ', 36) +
                L"C::G()]$ n=5\r\n";
    EXPECT_EQ(expected, ReadLog(file));
}

TEST_F(FileLoggerTest, NamesFoldersAndFilesAfterGroupModuleAndHost)
{
    auto logger = MakeLogger();
    ASSERT_EQ(0u, logger->Initialize(nullptr, m_exe, nullptr, nullptr));
    ASSERT_EQ(0u, logger->LogError(L"f", L"g", 1, L"no group, no host"));
    EXPECT_NE(std::wstring::npos, ReadLog(Root() + L"core_tests\\core_tests000.log").find(L"no group, no host"));
    ASSERT_EQ(0u, logger->Uninitialize());

    // A module other than the process names the folder and the files.
    Fundor::ScopedModule probe(::LoadLibraryExW(L"OrdwellSearchProbe.dll", nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR));
    ASSERT_TRUE(probe.valid());
    ASSERT_EQ(0u, logger->Initialize(L"_no_group", probe.get(), L"_no_host", nullptr));
    ASSERT_EQ(0u, logger->LogError(L"f", L"g", 1, L"probe"));
    EXPECT_NE(std::wstring::npos,
              ReadLog(Root() + L"_no_group\\OrdwellSearchProbe\\OrdwellSearchProbe__no_host000.log").find(L"probe"));

    // Lifecycle codes.
    EXPECT_EQ(kErrorAlreadyInitialized, logger->Initialize(L"_no_group", probe.get(), L"_no_host", nullptr));
    EXPECT_EQ(0u, logger->Uninitialize());
    EXPECT_EQ(kErrorNotInitialized, logger->Uninitialize());
    EXPECT_EQ(87u, logger->WriteText(L"f", L"g", 1, kLevelError, L"not initialised"));

    // An empty group or host is refused and leaves the logger as it was built.
    EXPECT_EQ(87u, logger->Initialize(L"g", m_exe, L"", nullptr));
    EXPECT_EQ(87u, logger->Initialize(L"", m_exe, L"h", nullptr));
    EXPECT_EQ(kErrorNotInitialized, logger->Uninitialize());
    ASSERT_EQ(0u, logger->Initialize(L"g", m_exe, L"h", nullptr));
    ASSERT_EQ(0u, logger->LogError(L"f", L"g", 1, L"after refusals"));
    EXPECT_NE(std::wstring::npos, ReadLog(Folder(L"g") + L"\\core_tests_h000.log").find(L"after refusals"));
}

TEST_F(FileLoggerTest, TheProgramDataFolderIsCopiedWholeOrRefused)
{
    // Production binding: the shell's program-data folder.
    PWSTR real = nullptr;
    ASSERT_EQ(S_OK, ::SHGetKnownFolderPath(FOLDERID_ProgramData, 0, nullptr, &real));
    const Fundor::ScopedCoTaskMemory owner(real);
    wchar_t buffer[MAX_PATH] = {};
    CLogging production;
    ASSERT_EQ(0u, production.GetProgramDataFolder(buffer, MAX_PATH));
    EXPECT_STREQ(real, buffer);

    const std::wstring path = m_programData.Path();
    auto shell = std::make_shared<FakeKnownFolder>(path);
    CLogging logger(m_clock, shell);
    const auto fits = static_cast<std::uint32_t>(path.size() + 1);
    EXPECT_EQ(87u, logger.GetProgramDataFolder(nullptr, MAX_PATH));
    EXPECT_EQ(122u, logger.GetProgramDataFolder(buffer, fits - 1));
    EXPECT_STREQ(L"", buffer);
    ASSERT_EQ(0u, logger.GetProgramDataFolder(buffer, fits));
    EXPECT_EQ(path, buffer);
    EXPECT_TRUE(shell->askedForProgramData);

    // A folder longer than the logger's 260-character buffer fails Initialize instead of
    // putting the logs into a cut path.
    // (The test removes its long folders itself: the scratch folder's shell delete cannot.)
    const std::wstring outer = L"\\\\?\\" + path + L"\\" + Repeat(L'p', 150);
    const std::wstring inner = outer + L"\\" + Repeat(L'q', 150);
    ASSERT_TRUE(::CreateDirectoryW(outer.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryW(inner.c_str(), nullptr));
    CLogging tooLong(m_clock, std::make_shared<FakeKnownFolder>(inner.substr(4)));
    const std::uint32_t initialized = tooLong.Initialize(L"g", m_exe, nullptr, nullptr);
    const std::uint32_t written = tooLong.WriteText(L"f", L"g", 1, kLevelError, L"x");
    EXPECT_TRUE(::RemoveDirectoryW(inner.c_str()));
    EXPECT_TRUE(::RemoveDirectoryW(outer.c_str()));
    EXPECT_EQ(122u, initialized);
    EXPECT_EQ(87u, written);
    EXPECT_EQ(kErrorNotInitialized, tooLong.Uninitialize());

    CLogging missing(m_clock, std::make_shared<FakeKnownFolder>(L"", E_FAIL));
    EXPECT_EQ(87u, missing.GetProgramDataFolder(buffer, MAX_PATH));
    EXPECT_EQ(87u, missing.Initialize(L"g", m_exe, nullptr, nullptr));
}

TEST_F(FileLoggerTest, SettingsCountOnlyWhenEncipheredAndTheFolderIniWins)
{
    const std::wstring folderIni = Folder(L"g") + L"\\log.ini";
    const std::wstring rootIni = Root() + L"log.ini";
    ASSERT_TRUE(Fundor::CreateDirectoryPath(Folder(L"g").c_str()));
    for (const auto& [key, value] : {std::pair{L"Enable", L"0"}, {L"MaxSize", L"600000"}, {L"MaxEntries", L"5"},
                                     {L"Severity", L"1"}, {L"Options", L"60"}}) {
        ASSERT_TRUE(::WritePrivateProfileStringW(L"Config", key, value, folderIni.c_str()));
        ASSERT_TRUE(::WritePrivateProfileStringW(L"Config", key, value, rootIni.c_str()));
    }
    auto logger = MakeLogger();
    ASSERT_EQ(0u, logger->Initialize(L"g", m_exe, nullptr, nullptr));
    EXPECT_TRUE(logger->IsEnabled());
    EXPECT_EQ(CLogging::kDefaultMaxSize, logger->GetMaxSize());
    EXPECT_EQ(3u, logger->GetMaxEntries());
    EXPECT_EQ(3u, logger->GetSeverity());
    ASSERT_EQ(0u, logger->LogError(L"f", L"g", 1, L"plain"));
    EXPECT_EQ(L"12/08/2026 07:05:09 AM$ -- (Error)$  plain\r\n", ReadLog(Folder(L"g") + L"\\core_tests000.log"));
    ASSERT_EQ(0u, logger->Uninitialize());

    // Enciphered: the root ini answers what the folder ini does not hold.
    WriteEnciphered(rootIni, L"MaxSize", 0x80000);
    WriteEnciphered(rootIni, L"MaxEntries", 7);
    WriteEnciphered(rootIni, L"Severity", 0);
    WriteEnciphered(folderIni, L"MaxEntries", 9);
    WriteEnciphered(folderIni, L"Severity", 5);
    ASSERT_EQ(0u, logger->Initialize(L"g", m_exe, nullptr, nullptr));
    EXPECT_EQ(0x80000u, logger->GetMaxSize());
    EXPECT_EQ(9u, logger->GetMaxEntries());
    EXPECT_EQ(5u, logger->GetSeverity());
    EXPECT_FALSE(logger->IsLevelEnabled(kLevelError));
    EXPECT_TRUE(logger->IsLevelEnabled(kLevelCritical));
    ASSERT_EQ(0u, logger->Uninitialize());

    // Uninitialize restores the defaults.
    EXPECT_EQ(CLogging::kDefaultMaxSize, logger->GetMaxSize());
    EXPECT_EQ(3u, logger->GetMaxEntries());
    EXPECT_EQ(3u, logger->GetSeverity());
}

TEST_F(FileLoggerTest, OutOfRangeValuesAreRewrittenWithTheirDefaults)
{
    const std::wstring folderIni = Folder(L"g") + L"\\log.ini";
    const std::wstring rootIni = Root() + L"log.ini";
    WriteEnciphered(folderIni, L"MaxEntries", 500);    // rewritten; the root's valid 7 then counts
    WriteEnciphered(rootIni, L"MaxEntries", 7);
    WriteEnciphered(folderIni, L"MaxSize", 0x10);      // rewritten; nothing in the root: default
    WriteEnciphered(rootIni, L"Severity", 9);          // rewritten in the root: default
    WriteEnciphered(folderIni, L"Options", -1);        // no range: stored as it is
    WriteEnciphered(rootIni, L"Enable", 2);            // no range: on

    auto logger = MakeLogger();
    ASSERT_EQ(0u, logger->Initialize(L"g", m_exe, nullptr, nullptr));
    EXPECT_EQ(7u, logger->GetMaxEntries());
    EXPECT_EQ(CLogging::kDefaultMaxSize, logger->GetMaxSize());
    EXPECT_EQ(3u, logger->GetSeverity());
    EXPECT_TRUE(logger->IsEnabled());
    EXPECT_EQ(3, ReadEnciphered(folderIni, L"MaxEntries"));
    EXPECT_EQ(7, ReadEnciphered(rootIni, L"MaxEntries"));
    EXPECT_EQ(0x40000, ReadEnciphered(folderIni, L"MaxSize"));
    EXPECT_EQ(3, ReadEnciphered(rootIni, L"Severity"));
    EXPECT_EQ(-1, ReadEnciphered(folderIni, L"Options"));
    ASSERT_EQ(0u, logger->Uninitialize());

    // When the default cannot be written back (the file is held open for reading only), the key
    // is not applied at all: the root's 8 is not used either.
    WriteEnciphered(folderIni, L"MaxEntries", 500);
    WriteEnciphered(rootIni, L"MaxEntries", 8);
    {
        Fundor::ScopedHandle holder(::CreateFileW(folderIni.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                  OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(holder.valid());
        ASSERT_EQ(0u, logger->Initialize(L"g", m_exe, nullptr, nullptr));
    }
    EXPECT_EQ(3u, logger->GetMaxEntries());
    EXPECT_EQ(500, ReadEnciphered(folderIni, L"MaxEntries"));
}

TEST_F(FileLoggerTest, DisabledOrLowLevelsTouchNoFileOnAnyPath)
{
    WriteEnciphered(Folder(L"g") + L"\\log.ini", L"Enable", 0);
    auto logger = MakeLogger();
    ASSERT_EQ(0u, logger->Initialize(L"g", m_exe, L"h", nullptr));
    EXPECT_FALSE(logger->IsEnabled());
    EXPECT_FALSE(logger->IsLevelEnabled(kLevelCritical));
    EXPECT_EQ(0u, logger->WriteText(L"f", L"g", 1, kLevelCritical, L"main path"));
    EXPECT_EQ(0u, logger->LogCritical(L"f", L"g", 1, L"level-named slot"));
    logger->Log(kLevelCritical, L"f", L"g", 1, L"%s", L"Log slot");
    const std::wstring file = Folder(L"g") + L"\\core_tests_h000.log";
    EXPECT_FALSE(Fundor::IsFile(file.c_str()));

    EXPECT_TRUE(logger->SetEnabled(true));
    EXPECT_EQ(0u, logger->WriteText(L"f", L"g", 1, kLevelCritical, L"enabled again"));
    ASSERT_EQ(0u, logger->Uninitialize());

    // Below Severity nothing is opened or created: not even the folder.
    auto fresh = MakeLogger();
    ASSERT_EQ(0u, fresh->Initialize(L"other", m_exe, L"h", nullptr));
    EXPECT_FALSE(fresh->IsLevelEnabled(kLevelWarning));
    EXPECT_EQ(0u, fresh->WriteText(L"f", L"g", 1, kLevelNormal, L"n"));
    EXPECT_EQ(0u, fresh->LogWarning(L"f", L"g", 1, L"w"));
    fresh->Log(kLevelWarning, L"f", L"g", 1, L"w");
    EXPECT_FALSE(Fundor::IsDirectory(Folder(L"other").c_str()));

    // Records that cannot be written at all.
    EXPECT_EQ(87u, fresh->WriteText(L"f", L"g", 1, 0, L"level 0"));
    EXPECT_EQ(87u, fresh->WriteText(L"f", L"g", 1, 7, L"level 7"));
    EXPECT_EQ(87u, fresh->WriteText(L"f", L"g", 1, kLevelError, L""));
    EXPECT_EQ(87u, fresh->WriteText(L"f", L"g", 1, kLevelError, nullptr));
    EXPECT_FALSE(Fundor::IsDirectory(Folder(L"other").c_str()));

    // Only records of levels 3 to 6 are written with the default Severity.
    fresh->Log(kLevelInformation, L"f", L"g", 1, L"%d", 3);
    EXPECT_EQ(L"12/08/2026 07:05:09 AM$ -- (Information)$  3\r\n", ReadLog(Folder(L"other") + L"\\core_tests_h000.log"));
}

TEST_F(FileLoggerTest, SettersClampAndTheReferenceCountSurvivesUninitialize)
{
    auto logger = MakeLogger();
    logger->SetMaxEntries(1);
    EXPECT_EQ(2u, logger->GetMaxEntries());
    logger->SetMaxEntries(101);
    EXPECT_EQ(100u, logger->GetMaxEntries());
    logger->SetMaxSize(0x3FFFF);
    EXPECT_EQ(0x40000u, logger->GetMaxSize());
    logger->SetMaxSize(0xA00001);
    EXPECT_EQ(0xA00000u, logger->GetMaxSize());
    logger->SetSeverity(0);
    EXPECT_EQ(1u, logger->GetSeverity());
    logger->SetSeverity(7);
    EXPECT_EQ(6u, logger->GetSeverity());
    EXPECT_FALSE(logger->IsLevelEnabled(5));
    EXPECT_TRUE(logger->IsLevelEnabled(6));
    EXPECT_EQ(0u, logger->EnsureReady(1, nullptr, nullptr));

    // A record before Initialize does not switch the logger off for good.
    EXPECT_EQ(87u, logger->WriteText(L"f", L"g", 1, kLevelInformation2, L"early"));
    EXPECT_TRUE(logger->IsEnabled());

    EXPECT_EQ(1u, logger->AddRef());
    EXPECT_EQ(2u, logger->AddRef());
    ASSERT_EQ(0u, logger->Initialize(L"g", m_exe, nullptr, nullptr));
    ASSERT_EQ(0u, logger->Uninitialize());
    EXPECT_EQ(1u, logger->Release());
    // The last Release deletes the logger.
    EXPECT_EQ(0u, logger.release()->Release());
}

TEST_F(FileLoggerTest, AFolderThatCannotBeCreatedSilencesTheLogger)
{
    // The program-data "folder" is a file: nothing can be created below it.
    const std::wstring blocker = m_programData.File(L"blocker");
    Fundor::ScopedHandle file(::CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file.valid());
    file.reset();
    CLogging logger(m_clock, std::make_shared<FakeKnownFolder>(blocker));
    ASSERT_EQ(0u, logger.Initialize(L"g", m_exe, nullptr, nullptr));
    EXPECT_EQ(87u, logger.WriteText(L"f", L"g", 1, kLevelCritical, L"first"));
    for (LogLevel level = 0; level <= 7; ++level) {
        EXPECT_FALSE(logger.IsLevelEnabled(level)) << level;
    }
    EXPECT_FALSE(logger.IsEnabled());
    EXPECT_EQ(CLogging::kSilencedSeverity, logger.GetSeverity());
    EXPECT_EQ(0u, logger.WriteText(L"f", L"g", 1, kLevelCritical, L"second"));
}

// Records of a fixed size, so that the test knows how many fill one file.
class RotationTest : public FileLoggerTest {
protected:
    static constexpr std::size_t kTextChars = 4000;

    std::wstring Text(int record) const
    {
        wchar_t head[16];
        (void)Fundor::FormatW(head, std::size(head), L"r%04d ", record);
        return head + Repeat(L'x', kTextChars - 6);
    }
    std::wstring Line(int record) const { return L"12/08/2026 07:05:09 AM$ -- (Error)$  " + Text(record) + L"\r\n"; }
    std::wstring Lines(int first, int last) const
    {
        std::wstring lines;
        for (int record = first; record <= last; ++record) lines += Line(record);
        return lines;
    }
    void Write(CLogging& logger, int first, int last) const
    {
        for (int record = first; record <= last; ++record) {
            ASSERT_EQ(0u, logger.WriteText(L"f", L"g", 1, kLevelError, Text(record).c_str())) << record;
        }
    }
    std::wstring File(int index) const
    {
        wchar_t name[32];
        (void)Fundor::FormatW(name, std::size(name), L"\\core_tests_h%03d.log", index);
        return Folder(L"g") + name;
    }
    std::wstring Ini() const { return Folder(L"g") + L"\\log.ini"; }
    // Records that one file takes: it takes another while it is smaller than MaxSize.
    int PerFile() const
    {
        const std::size_t lineBytes = Line(0).size() * sizeof(wchar_t);
        return static_cast<int>((CLogging::kDefaultMaxSize - 2 + lineBytes - 1) / lineBytes);
    }
};

TEST_F(RotationTest, RotatesThroughTheFilesEmptyingEachAndSavesTheIndexEnciphered)
{
    auto logger = MakeLogger();
    ASSERT_EQ(0u, logger->Initialize(L"g", m_exe, L"h", nullptr));
    const int n = PerFile();
    ASSERT_GT(n, 10);

    Write(*logger, 0, n - 1);
    EXPECT_EQ(Lines(0, n - 1), ReadLog(File(0)));  // the last record went in whole, past MaxSize
    EXPECT_GE(ReadBytes(File(0)).size(), CLogging::kDefaultMaxSize);
    EXPECT_FALSE(Fundor::IsFile(File(1).c_str()));
    EXPECT_EQ(-12345, ReadEnciphered(Ini(), L"LastLogIdx"));

    Write(*logger, n, n);
    EXPECT_EQ(Line(n), ReadLog(File(1)));
    EXPECT_EQ(1, ReadEnciphered(Ini(), L"LastLogIdx"));
    Fundor::CObfuscatedIniReader reader;
    (void)reader.Load(Ini());
    const auto* entry = reader.FindEntry(L"Config", L"LastLogIdx");
    ASSERT_NE(nullptr, entry);
    EXPECT_TRUE(entry->obfuscated);  // no plain "LastLogIdx=1"

    Write(*logger, n + 1, 3 * n - 1);
    EXPECT_EQ(Lines(0, n - 1), ReadLog(File(0)));
    EXPECT_EQ(Lines(n, 2 * n - 1), ReadLog(File(1)));
    EXPECT_EQ(Lines(2 * n, 3 * n - 1), ReadLog(File(2)));
    EXPECT_EQ(2, ReadEnciphered(Ini(), L"LastLogIdx"));

    // Back to 000, which is emptied first.
    Write(*logger, 3 * n, 3 * n);
    EXPECT_EQ(Line(3 * n), ReadLog(File(0)));
    EXPECT_EQ(Lines(n, 2 * n - 1), ReadLog(File(1)));
    EXPECT_EQ(0, ReadEnciphered(Ini(), L"LastLogIdx"));
    EXPECT_FALSE(Fundor::IsFile(File(3).c_str()));
}

TEST_F(RotationTest, FollowsAnIndexSavedByAnotherProcessAndStartsOverFromAnOutOfRangeOne)
{
    auto logger = MakeLogger();
    ASSERT_EQ(0u, logger->Initialize(L"g", m_exe, L"h", nullptr));
    Write(*logger, 1, 1);
    EXPECT_EQ(Line(1), ReadLog(File(0)));

    // Another process moved on to 002: the next record follows at once.
    WriteEnciphered(Ini(), L"LastLogIdx", 2);
    Write(*logger, 2, 3);
    EXPECT_EQ(Line(1), ReadLog(File(0)));
    EXPECT_EQ(Lines(2, 3), ReadLog(File(2)));
    ASSERT_EQ(0u, logger->Uninitialize());

    // An index that is not below MaxEntries starts 000 afresh and saves 0.
    WriteEnciphered(Ini(), L"LastLogIdx", 7);
    ASSERT_EQ(0u, logger->Initialize(L"g", m_exe, L"h", nullptr));
    Write(*logger, 4, 5);
    EXPECT_EQ(Lines(4, 5), ReadLog(File(0)));
    EXPECT_EQ(0, ReadEnciphered(Ini(), L"LastLogIdx"));
}

TEST_F(RotationTest, AnIndexThatCannotBeSavedDoesNotEmptyTheNewFileAgain)
{
    // A folder named log.ini: the index can be neither read nor written.
    ASSERT_TRUE(Fundor::CreateDirectoryPath(Ini().c_str()));
    auto logger = MakeLogger();
    ASSERT_EQ(0u, logger->Initialize(L"g", m_exe, L"h", nullptr));
    const int n = PerFile();
    Write(*logger, 0, n + 5);
    EXPECT_EQ(Lines(0, n - 1), ReadLog(File(0)));
    EXPECT_EQ(Lines(n, n + 5), ReadLog(File(1)));

    // A second logger (another process, or this one started again) finds the same files.
    auto second = MakeLogger();
    ASSERT_EQ(0u, second->Initialize(L"g", m_exe, L"h", nullptr));
    Write(*second, n + 6, n + 8);
    Write(*logger, n + 9, n + 9);
    EXPECT_EQ(Lines(0, n - 1), ReadLog(File(0)));
    EXPECT_EQ(Lines(n, n + 9), ReadLog(File(1)));
    EXPECT_FALSE(Fundor::IsFile(File(2).c_str()));
}

TEST_F(RotationTest, AnExistingFileIsAppendedToAndAnEmptyOneGetsTheMark)
{
    ASSERT_TRUE(Fundor::CreateDirectoryPath(Folder(L"g").c_str()));
    {
        Fundor::ScopedHandle empty(::CreateFileW(File(0).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        ASSERT_TRUE(empty.valid());
    }
    auto logger = MakeLogger();
    ASSERT_EQ(0u, logger->Initialize(L"g", m_exe, L"h", nullptr));
    Write(*logger, 1, 2);
    EXPECT_EQ(Lines(1, 2), ReadLog(File(0)));
    ASSERT_EQ(0u, logger->Uninitialize());

    // A later run appends; the mark stays the only one.
    ASSERT_EQ(0u, logger->Initialize(L"g", m_exe, L"h", nullptr));
    Write(*logger, 3, 3);
    EXPECT_EQ(Lines(1, 3), ReadLog(File(0)));
}

// A debug-output monitor of the test's own: names of its own, so that no other program's output
// lands in it and no other program waits for it.
class TestMonitor {
public:
    // sectionProtection: how the section's pages are made (SEC_RESERVE: only reserved, and a
    // write to them faults).
    explicit TestMonitor(DWORD sectionProtection = PAGE_READWRITE)
        : names{UniqueName(L"dbwin-section"), UniqueName(L"dbwin-ready"), UniqueName(L"dbwin-data"),
                UniqueName(L"dbwin-senders")}
    {
        section.reset(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, sectionProtection, 0,
                                           CLogging::kDebugMonitorBufferBytes, names.section.c_str()));
        bufferReady.reset(::CreateEventW(nullptr, FALSE, FALSE, names.bufferReady.c_str()));
        dataReady.reset(::CreateEventW(nullptr, FALSE, FALSE, names.dataReady.c_str()));
        view.reset(::MapViewOfFile(section.get(), FILE_MAP_READ, 0, 0, 0));
    }
    [[nodiscard]] bool valid() const
    {
        return section.valid() && bufferReady.valid() && dataReady.valid() && view.valid();
    }
    // The process id and the text in the buffer.
    [[nodiscard]] std::pair<DWORD, std::string> Received() const
    {
        DWORD processId = 0;
        std::memcpy(&processId, view.get(), sizeof processId);
        return {processId, std::string(static_cast<const char*>(view.get()) + sizeof processId)};
    }

    CLogging::DebugMonitorNames names;
    Fundor::ScopedHandle section;
    Fundor::ScopedHandle bufferReady;
    Fundor::ScopedHandle dataReady;
    Fundor::ScopedMappedView view;
};

// Owns a mutex on a thread of its own until it is destroyed, as another sender that hangs.
class MutexHolder {
public:
    explicit MutexHolder(const std::wstring& name)
    {
        const Fundor::ScopedHandle owned(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        m_thread = std::thread([this, name, event = owned.get()] {
            const Fundor::ScopedHandle mutex(::CreateMutexW(nullptr, TRUE, name.c_str()));
            m_owned = mutex.valid() && ::GetLastError() != ERROR_ALREADY_EXISTS;
            ::SetEvent(event);
            (void)::WaitForSingleObject(m_release.get(), 10000);
            (void)::ReleaseMutex(mutex.get());
        });
        (void)::WaitForSingleObject(owned.get(), 10000);
    }
    ~MutexHolder()
    {
        ::SetEvent(m_release.get());
        m_thread.join();
    }
    MutexHolder(const MutexHolder&) = delete;
    MutexHolder& operator=(const MutexHolder&) = delete;
    [[nodiscard]] bool owned() const { return m_owned; }

private:
    Fundor::ScopedHandle m_release{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> m_owned{false};
    std::thread m_thread;
};

std::string Narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }

// With kOptionDebugger each line goes to a listening monitor as the platform sends it, and a
// monitor whose senders' mutex is held, or that is never ready, costs one record the bounded wait
// and the next ones (during the back-off) none; every record still reaches the file.
TEST_F(FileLoggerTest, DebugOutputReachesAMonitorAndNeverWaitsLongForOne)
{
    const struct {
        const char* name;
        bool monitor;      // the monitor's objects exist
        bool ready;        // it is ready for text before each record
        bool sendersHeld;  // another thread holds the senders' mutex
        bool sent;
        bool firstWaits;
        DWORD sectionProtection = PAGE_READWRITE;
    } cases[] = {
        {"a ready monitor", true, true, false, true, false},
        {"senders' mutex held", true, true, true, false, true},
        {"a monitor never ready", true, false, false, false, true},
        {"no monitor", false, false, false, false, false},
        // Made by another process of the user with its pages only reserved: nothing is written there.
        {"a section of reserved pages", true, true, false, false, false, PAGE_READWRITE | SEC_RESERVE},
    };
    // Scheduling under Wine on a busy machine. A record that waited took the whole bound; one that
    // did not would need a stall of the machine nearly as long to count as one.
    constexpr double kSlackMs = 2000;
    const double longCall = CLogging::kLockWaitMs * 0.9;
    int caseNumber = 0;
    for (const auto& row : cases) {
        SCOPED_TRACE(row.name);
        const std::wstring group = L"dbg" + std::to_wstring(++caseNumber);
        WriteEnciphered(Folder(group) + L"\\log.ini", L"Options", static_cast<int>(CLogging::kOptionDebugger));
        TestMonitor monitor(row.sectionProtection);
        ASSERT_TRUE(monitor.valid());
        CLogging::DebugMonitorNames names = monitor.names;
        if (!row.monitor) {
            names.section = UniqueName(L"dbwin-none");
        }
        std::unique_ptr<MutexHolder> holder;
        if (row.sendersHeld) {
            holder = std::make_unique<MutexHolder>(names.senderMutex);
            ASSERT_TRUE(holder->owned());
        }
        CLogging logger(m_clock, std::make_shared<FakeKnownFolder>(m_programData.Path()), names);
        ASSERT_EQ(0u, logger.Initialize(group.c_str(), m_exe, nullptr, nullptr));

        std::wstring expected;
        for (int record = 0; record < 5; ++record) {
            const std::wstring text = L"debug " + std::to_wstring(record);
            const std::wstring line = L"12/08/2026 07:05:09 AM$ -- (Error)$ " + text + L"\r\n";
            expected += line;
            if (row.ready) {
                ASSERT_TRUE(::SetEvent(monitor.bufferReady.get()));
            }
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(0u, logger.WriteText(L"f", L"g", 1, kLevelError, text.c_str())) << record;
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
            EXPECT_LT(ms, CLogging::kLockWaitMs + kSlackMs) << record;
            if (record == 0 && row.firstWaits) {
                EXPECT_GE(ms, longCall) << "the first record did not wait for the monitor";
            } else {
                EXPECT_LT(ms, longCall) << record << ": waited again during the back-off";
            }
            const bool arrived = ::WaitForSingleObject(monitor.dataReady.get(), 0) == WAIT_OBJECT_0;
            EXPECT_EQ(row.sent, arrived) << record;
            if (row.sent && arrived) {
                EXPECT_EQ(std::make_pair(::GetCurrentProcessId(), Narrow(line)), monitor.Received()) << record;
            }
        }
        EXPECT_EQ(expected, ReadLog(Folder(group, L"core_tests") + L"\\core_tests000.log"));
    }
}

}  // namespace
}  // namespace ETWLogging
