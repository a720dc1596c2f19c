#include "core/base/ScopedResource.h"
#include "core/loading/RtMui.h"
#include "core/loading/RtMuiImpl.h"
#include "core/loading/SafeLoading.h"
#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/EnvironmentBlock.h"
#include "core/testsupport/EnvironmentVariable.h"
#include "core/testsupport/Narrow.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace Fundor {
namespace {

using testing::ScratchFolder;
using Lines = std::vector<std::string>;

constexpr const wchar_t* kLogVariable = L"KVRTMUI_STANDIN_LOG";
constexpr UINT kStringBlock7 = 7;  // holds string ids 96 to 111

std::wstring BinFile(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, length);
    return text.substr(0, text.find_last_of(L'\\') + 1) + name;
}

using Fundor::testing::Narrow;

std::string ReadFile(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);  // mingw's fstream opens wide paths
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

Lines ReadLines(const std::wstring& path)
{
    Lines lines;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

using Fundor::testing::EnvironmentVariable;

// Points the stand-in's log of this process at a fresh file, and back afterwards.
class StandInLog {
public:
    explicit StandInLog(const ScratchFolder& scratch)
        : m_path(scratch.File(L"standin.log")), m_saved(EnvironmentVariable(kLogVariable))
    {
        ::SetEnvironmentVariableW(kLogVariable, m_path.c_str());
    }
    ~StandInLog() { ::SetEnvironmentVariableW(kLogVariable, m_saved ? m_saved->c_str() : nullptr); }
    [[nodiscard]] Lines Read() const { return ReadLines(m_path); }

private:
    std::wstring m_path;
    std::optional<std::wstring> m_saved;
};

class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::wstring& folder)
    {
        m_saved.resize(MAX_PATH);
        m_saved.resize(::GetCurrentDirectoryW(MAX_PATH, m_saved.data()));
        ::SetCurrentDirectoryW(folder.c_str());
    }
    ~CurrentDirectory() { ::SetCurrentDirectoryW(m_saved.c_str()); }

private:
    std::wstring m_saved;
};

class CheckedWrapper final : public CDllWrapperBase {
public:
    DWORD CheckPath(const wchar_t*) override
    {
        ++checks;
        return refusal;
    }
    DWORD refusal = ERROR_SUCCESS;
    int checks = 0;
};

TEST(DllWrapperBase, PathCheckDecidesAndTheFirstBoundDllIsKeptUntilDestruction)
{
    ScratchFolder scratch;
    StandInLog log(scratch);
    const std::wstring standIn = BinFile(L"KvRtMui.dll");
    {
        CheckedWrapper wrapper;
        wrapper.refusal = ERROR_ACCESS_DENIED;
        EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), wrapper.Bind(standIn.c_str()));
        EXPECT_EQ(nullptr, wrapper.Module());
        EXPECT_TRUE(log.Read().empty());

        wrapper.refusal = ERROR_SUCCESS;
        ASSERT_EQ(0u, wrapper.Bind(standIn.c_str()));
        const HMODULE first = wrapper.Module();
        EXPECT_EQ(::GetModuleHandleW(standIn.c_str()), first);
        EXPECT_EQ(0u, wrapper.Bind(BinFile(L"KvRtMuiTestStrings.dll").c_str()));
        EXPECT_EQ(first, wrapper.Module());
        EXPECT_EQ(3, wrapper.checks);
        ::SetLastError(1234);
        EXPECT_EQ(nullptr, wrapper.FindExport("NoSuchExport"));
        EXPECT_EQ(1234u, ::GetLastError());
        EXPECT_NE(nullptr, wrapper.FindExport("RtMUIGetMappedLocale"));
    }
    const Lines expected = {"attach", "DllAddRef", "DllRelease", "detach"};
    EXPECT_EQ(expected, log.Read());
    EXPECT_EQ(nullptr, ::GetModuleHandleW(standIn.c_str()));

    // A DLL without the reference hooks binds and is freed all the same.
    const std::wstring strings = BinFile(L"KvRtMuiTestStrings.dll");
    {
        CheckedWrapper wrapper;
        EXPECT_EQ(0u, wrapper.Bind(strings.c_str()));
        EXPECT_NE(nullptr, ::GetModuleHandleW(strings.c_str()));
    }
    EXPECT_EQ(nullptr, ::GetModuleHandleW(strings.c_str()));
}

TEST(RtMuiBinding, FullDllServesEachWrapperThroughItsPlainOrLanguageExport)
{
    ScratchFolder scratch;
    StandInLog log(scratch);
    const std::wstring stringsPath = BinFile(L"KvRtMuiTestStrings.dll");
    ScopedModule strings(LoadQualifiedLibrary(stringsPath.c_str(), 0));
    ASSERT_TRUE(strings.valid());
    const HICON applicationIcon = ::LoadIconW(nullptr, IDI_APPLICATION);
    {
        RtMuiImpl mui(BinFile(L"KvRtMui.dll").c_str());
        ASSERT_TRUE(mui.IsAvailable()) << mui.Status();
        EXPECT_EQ(0u, mui.Status());
        EXPECT_EQ(1031, RtMuiGetMappedLocale(mui));

        wchar_t text[64] = {};
        EXPECT_EQ(27, RtMuiLoadString(mui, strings.get(), 101, text, 64, 0));
        EXPECT_STREQ(L"[KvRtMui] Built-in text 101", text);
        EXPECT_EQ(32, RtMuiLoadString(mui, strings.get(), 102, text, 64, 1031));
        EXPECT_STREQ(L"[KvRtMui 1031] Built-in text 102", text);

        ScopedModule loaded(RtMuiLoadLibrary(mui, stringsPath.c_str()));
        EXPECT_EQ(strings.get(), loaded.get());
        ScopedModule loadedEx(RtMuiLoadLibraryEx(mui, stringsPath.c_str(), nullptr, 0));
        EXPECT_EQ(strings.get(), loadedEx.get());

        EXPECT_NE(nullptr, RtMuiFindResource(mui, strings.get(), MAKEINTRESOURCEW(kStringBlock7), RT_STRING, 0));
        EXPECT_NE(nullptr, RtMuiFindResource(mui, strings.get(), MAKEINTRESOURCEW(kStringBlock7), RT_STRING, 1033));
        EXPECT_EQ(nullptr, RtMuiFindResource(mui, strings.get(), MAKEINTRESOURCEW(kStringBlock7), RT_STRING, 1031));

        const HANDLE sharedIcon = ::LoadImageW(nullptr, IDI_APPLICATION, IMAGE_ICON, 0, 0, LR_SHARED);
        EXPECT_EQ(sharedIcon, RtMuiLoadImage(mui, nullptr, IDI_APPLICATION, IMAGE_ICON, 0, 0, LR_SHARED, 0));
        EXPECT_EQ(sharedIcon, RtMuiLoadImage(mui, nullptr, IDI_APPLICATION, IMAGE_ICON, 0, 0, LR_SHARED, 1031));
        ::DeleteObject(RtMuiLoadBitmap(mui, strings.get(), MAKEINTRESOURCEW(5), 0));
        ::DeleteObject(RtMuiLoadBitmap(mui, strings.get(), MAKEINTRESOURCEW(5), 1031));
        EXPECT_EQ(applicationIcon, RtMuiLoadIcon(mui, nullptr, IDI_APPLICATION, 0));
        EXPECT_EQ(applicationIcon, RtMuiLoadIcon(mui, nullptr, IDI_APPLICATION, 1031));
    }
    const std::string file = Narrow(stringsPath);
    const Lines expected = {
        "attach",
        "DllAddRef",
        "RtMUIGetMappedLocale reserved=null",
        "RtMUILoadString id=101 max=64 reserved=null",
        "RtMUILoadStringEx id=102 max=64 lang=1031 reserved=null",
        "RtMUILoadLibrary file=" + file + " reserved=null",
        "RtMUILoadLibraryEx file=" + file + " flags=0x0 reserved=null",
        "RtMUIFindResource name=#7 type=#6 reserved=null",
        "RtMUIFindResourceEx name=#7 type=#6 lang=1033 reserved=null",
        "RtMUIFindResourceEx name=#7 type=#6 lang=1031 reserved=null",
        "RtMUILoadImage name=#32512 type=1 size=0x0 flags=0x8000 reserved=null",
        "RtMUILoadImageEx name=#32512 type=1 size=0x0 flags=0x8000 lang=1031 reserved=null",
        "RtMUILoadBitmap name=#5 reserved=null",
        "RtMUILoadBitmapEx name=#5 lang=1031 reserved=null",
        "RtMUILoadIcon name=#32512 reserved=null",
        "RtMUILoadIconEx name=#32512 lang=1031 reserved=null",
        "DllRelease",
        "detach",
    };
    EXPECT_EQ(expected, log.Read());
}

TEST(RtMuiBinding, DllLackingOneExportIsNotUsedAtAll)
{
    ScratchFolder scratch;
    StandInLog log(scratch);
    const std::wstring stringsPath = BinFile(L"KvRtMuiTestStrings.dll");
    ScopedModule strings(LoadQualifiedLibrary(stringsPath.c_str(), 0));
    ASSERT_TRUE(strings.valid());

    const std::wstring partialPath = BinFile(L"KvRtMuiWithoutLoadIconEx.dll");
    RtMuiImpl mui(partialPath.c_str());
    EXPECT_FALSE(mui.IsAvailable());
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), mui.Status());
    // Released and freed at once, no pointer into it kept.
    EXPECT_EQ(nullptr, mui.Module());
    EXPECT_EQ(nullptr, ::GetModuleHandleW(partialPath.c_str()));
    EXPECT_EQ(nullptr, mui.Functions().getMappedLocale);
    EXPECT_EQ(nullptr, mui.Functions().loadIcon);
    const Lines bindingOnly = {"attach", "DllAddRef", "DllRelease", "detach"};
    EXPECT_EQ(bindingOnly, log.Read());

    EXPECT_EQ(1033, RtMuiGetMappedLocale(mui));
    wchar_t text[64] = {};
    for (const LANGID language : {LANGID{0}, LANGID{1031}}) {
        EXPECT_EQ(17, RtMuiLoadString(mui, strings.get(), 101, text, 64, language));
        EXPECT_STREQ(L"Built-in text 101", text);
    }
    EXPECT_EQ(4, RtMuiLoadString(mui, strings.get(), 102, text, 5, 0));  // LoadStringW cuts and terminates
    EXPECT_STREQ(L"Buil", text);
    ScopedModule loaded(RtMuiLoadLibrary(mui, stringsPath.c_str()));
    EXPECT_EQ(strings.get(), loaded.get());
    // LoadLibraryW under the restricted search: a bare name beside the program is not found.
    EXPECT_EQ(nullptr, ::LoadLibraryW(L"OrdwellSearchProbe.dll"));
    const DWORD plainError = ::GetLastError();
    ::SetLastError(0);
    EXPECT_EQ(nullptr, RtMuiLoadLibrary(mui, L"OrdwellSearchProbe.dll"));
    EXPECT_EQ(plainError, ::GetLastError());
    EXPECT_NE(nullptr, RtMuiFindResource(mui, strings.get(), MAKEINTRESOURCEW(kStringBlock7), RT_STRING, 1031));
    EXPECT_EQ(::LoadIconW(nullptr, IDI_APPLICATION), RtMuiLoadIcon(mui, nullptr, IDI_APPLICATION, 1031));
    EXPECT_EQ(bindingOnly, log.Read());

    RtMuiImpl missing(scratch.File(L"KvRtMui.dll").c_str());
    EXPECT_FALSE(missing.IsAvailable());
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), missing.Status());
}

TEST(RtMuiBinding, PathsThatAreNotFullyQualifiedLoadNothing)
{
    ScratchFolder scratch;
    StandInLog log(scratch);
    const std::wstring binFolder = BinFile(L"");
    CurrentDirectory inBin(binFolder);
    const std::wstring driveRelative = binFolder.substr(0, 2) + L"KvRtMui.dll";
    for (const wchar_t* path : {L"KvRtMui.dll", L".\\KvRtMui.dll", L"..\\bin\\KvRtMui.dll", driveRelative.c_str(),
                                L"", static_cast<const wchar_t*>(nullptr)}) {
        RtMuiImpl mui(path);
        EXPECT_FALSE(mui.IsAvailable()) << (path ? path : L"(null)");
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), mui.Status()) << (path ? path : L"(null)");
        EXPECT_EQ(1033, RtMuiGetMappedLocale(mui));
    }
    EXPECT_EQ(nullptr, ::GetModuleHandleW(L"KvRtMui.dll"));
    EXPECT_TRUE(log.Read().empty());
}

// ---- The single binding of a process, seen from child processes of this test program ----
//
// Wine sets "CommonProgramFiles" afresh in every new process, so the child applies the wanted
// value itself before the first use of the wrappers.

constexpr const wchar_t* kReportVariable = L"ORDWELL_RTMUI_REPORT";
constexpr const wchar_t* kStringsVariable = L"ORDWELL_RTMUI_STRINGS";
constexpr const wchar_t* kCommonFilesSetupVariable = L"ORDWELL_RTMUI_COMMON_FILES";  // "unset" or "value:<text>"
constexpr const wchar_t* kOverrideVariable = L"ORDWELL_RTMUI_OVERRIDE";
constexpr const wchar_t* kCommonFilesVariable = L"CommonProgramFiles";

// Run in a child process only (started by the tests below): uses the wrappers' single binding as
// the variables describe, and writes what it saw to the report file.
TEST(RtMuiProcess, DISABLED_ReportSingleBinding)
{
    const std::optional<std::wstring> reportPath = EnvironmentVariable(kReportVariable);
    const std::optional<std::wstring> stringsPath = EnvironmentVariable(kStringsVariable);
    const std::optional<std::wstring> commonFiles = EnvironmentVariable(kCommonFilesSetupVariable);
    ASSERT_TRUE(reportPath && stringsPath && commonFiles) << "started only by the RtMuiProcess tests";
    if (*commonFiles == L"unset") {
        ASSERT_TRUE(::SetEnvironmentVariableW(kCommonFilesVariable, nullptr));
    } else {
        ASSERT_EQ(0u, commonFiles->rfind(L"value:", 0));
        ASSERT_TRUE(::SetEnvironmentVariableW(kCommonFilesVariable, commonFiles->c_str() + 6));
    }
    std::string report;
    if (const std::optional<std::wstring> overridePath = EnvironmentVariable(kOverrideVariable)) {
        report += RtMuiImpl::SetOverridePath(overridePath->c_str()) ? "override=accepted " : "override=refused ";
    }
    // The first uses race each other; the binding must still happen once.
    std::atomic<bool> go = false;
    std::vector<LANGID> locales(4);
    std::vector<std::thread> threads;
    for (LANGID& locale : locales) {
        threads.emplace_back([&go, &locale] {
            while (!go) std::this_thread::yield();
            locale = RtMuiGetMappedLocale();
        });
    }
    go = true;
    for (std::thread& thread : threads) thread.join();
    ASSERT_TRUE(std::all_of(locales.begin(), locales.end(), [&](LANGID l) { return l == locales[0]; }));

    ScopedModule strings(LoadQualifiedLibrary(stringsPath->c_str(), 0));
    ASSERT_TRUE(strings.valid());
    wchar_t text[64] = {};
    (void)RtMuiLoadString(strings.get(), 101, text, 64, 1031);
    ScopedModule loaded(RtMuiLoadLibrary(stringsPath->c_str()));
    const RtMuiImpl& mui = RtMuiImpl::Instance();
    report += "status=" + std::to_string(mui.Status()) + " available=" + std::to_string(mui.IsAvailable()) +
              " locale=" + std::to_string(locales[0]) + " string=" + Narrow(text) +
              " library=" + (loaded.get() == strings.get() ? "same" : "other") +
              " late-override=" + (RtMuiImpl::SetOverridePath(L"C:\\elsewhere\\KvRtMui.dll") ? "accepted" : "refused");
    std::ofstream(reportPath->c_str(), std::ios::binary) << report;
}

struct ChildSetup {
    std::optional<std::wstring> commonFiles;  // none: the variable is removed
    std::optional<std::wstring> overridePath;
    std::optional<std::wstring> log;
};

struct ChildRun {
    DWORD exitCode = 0xFFFFFFFF;
    std::string report;
    std::string output;
};

// Starts this program's child report with the given setup.
ChildRun RunChild(const ScratchFolder& scratch, const ChildSetup& setup)
{
    const std::wstring reportPath = scratch.File(L"report.txt");
    ::DeleteFileW(reportPath.c_str());
    std::wstring block = Fundor::testing::EnvironmentBlock({
        {kReportVariable, reportPath},
        {kStringsVariable, BinFile(L"KvRtMuiTestStrings.dll")},
        {kCommonFilesSetupVariable, setup.commonFiles ? L"value:" + *setup.commonFiles : L"unset"},
        {kOverrideVariable, setup.overridePath},
        {kLogVariable, setup.log},
    });
    ChildRun run;
    const std::optional<DWORD> exitCode = Fundor::testing::RunProgram(
        BinFile(L"core_tests.exe"), Fundor::testing::SingleTestArguments(L"RtMuiProcess.DISABLED_ReportSingleBinding"),
        60000, {.environment = std::move(block), .output = &run.output});
    run.exitCode = exitCode.value_or(run.exitCode);
    run.report = ReadFile(reportPath);
    return run;
}

// Places a copy of the full stand-in at folder\Tervane\Platform\fileName.
void InstallStandIn(const std::wstring& folder, const wchar_t* fileName)
{
    const std::wstring platform = folder + L"\\Tervane\\Platform";
    ASSERT_EQ(0, ::SHCreateDirectoryExW(nullptr, platform.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(BinFile(L"KvRtMui.dll").c_str(), (platform + L"\\" + fileName).c_str(), TRUE));
}

constexpr const char* kUnavailable =
    "available=0 locale=1033 string=Built-in text 101 library=same late-override=refused";
constexpr const char* kBound =
    "status=0 available=1 locale=1031 string=[KvRtMui 1031] Built-in text 101 library=same late-override=refused";

TEST(RtMuiProcess, SingleBindingComesFromCommonProgramFilesOrFallsBack)
{
    ScratchFolder scratch;
    const std::wstring log = scratch.File(L"standin.log");
    InstallStandIn(scratch.Path(), L"KvRtMui.dll");

    ChildRun run = RunChild(scratch, {std::nullopt, std::nullopt, log});
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ(std::string("status=203 ") + kUnavailable, run.report) << run.output;

    run = RunChild(scratch, {L"", std::nullopt, log});
    EXPECT_EQ(std::string("status=203 ") + kUnavailable, run.report) << run.output;

    run = RunChild(scratch, {L"Tervane", std::nullopt, log});
    EXPECT_EQ(std::string("status=87 ") + kUnavailable, run.report) << run.output;
    EXPECT_TRUE(ReadLines(log).empty());

    run = RunChild(scratch, {scratch.Path(), std::nullopt, log});
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ(kBound, run.report) << run.output;
    const Lines expected = {
        "attach",
        "DllAddRef",
        "RtMUIGetMappedLocale reserved=null",
        "RtMUIGetMappedLocale reserved=null",
        "RtMUIGetMappedLocale reserved=null",
        "RtMUIGetMappedLocale reserved=null",
        "RtMUILoadStringEx id=101 max=64 lang=1031 reserved=null",
        "RtMUILoadLibrary file=" + Narrow(BinFile(L"KvRtMuiTestStrings.dll")) + " reserved=null",
        "DllRelease",  // the single binding ends with the process
        "detach",
    };
    EXPECT_EQ(expected, ReadLines(log));
}

TEST(RtMuiProcess, OverridePathWinsAndAnOverlongPathIsRefusedNotCut)
{
    ScratchFolder scratch;
    const std::wstring log = scratch.File(L"standin.log");
    InstallStandIn(scratch.Path(), L"KvRtMui.dll");

    // Set before first use, the override names the DLL even with a full one below CommonProgramFiles.
    ChildRun run = RunChild(scratch, {scratch.Path(), BinFile(L"KvRtMuiWithoutLoadIconEx.dll"), log});
    EXPECT_EQ(std::string("override=accepted status=127 ") + kUnavailable, run.report) << run.output;
    const Lines bindingOnly = {"attach", "DllAddRef", "DllRelease", "detach"};
    EXPECT_EQ(bindingOnly, ReadLines(log));
    run = RunChild(scratch, {scratch.Path(), L"C:\\" + std::wstring(MAX_PATH, L'x') + L"\\KvRtMui.dll", std::nullopt});
    EXPECT_EQ(std::string("override=refused ") + kBound, run.report) << run.output;

    // A folder of 233 characters: with the DLL's part the path needs 262, and cut to 259 it would
    // read "...\Tervane\Platform\KvRtMui." and load the file "KvRtMui" that lies there.
    const std::wstring longFolder = scratch.Path() + L"\\" + std::wstring(232 - scratch.Path().size(), L'p');
    InstallStandIn(longFolder, L"KvRtMui");
    const std::wstring cutPath = (longFolder + L"\\Tervane\\Platform\\KvRtMui.dll").substr(0, MAX_PATH - 1);
    ASSERT_EQ(L"KvRtMui.", cutPath.substr(cutPath.size() - 8));
    {
        ScopedModule wouldLoad(LoadQualifiedLibrary(cutPath.c_str(), 0));
        ASSERT_TRUE(wouldLoad.valid()) << "the cut path must name a loadable file for this check to mean anything";
    }
    ::DeleteFileW(log.c_str());
    run = RunChild(scratch, {longFolder, std::nullopt, log});
    EXPECT_EQ(std::string("status=206 ") + kUnavailable, run.report) << run.output;
    EXPECT_TRUE(ReadLines(log).empty());
}

}  // namespace
}  // namespace Fundor
