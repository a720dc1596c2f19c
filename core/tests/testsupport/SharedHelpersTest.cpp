#include "core/base/ScopedResource.h"
#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/EnvironmentBlock.h"
#include "core/testsupport/Narrow.h"
#include "core/testsupport/ProgramFolder.h"
#include "core/testsupport/RunnerLocks.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <cwchar>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace Fundor::testing {
namespace {

// Sets or removes a variable of this process for the owner's lifetime.
class VariableForTheTest {
public:
    VariableForTheTest(const wchar_t* name, const wchar_t* value) : m_name(name)
    {
        wchar_t saved[512] = {};
        const DWORD length = ::GetEnvironmentVariableW(name, saved, 512);
        if (length > 0 && length < 512) m_saved = std::wstring(saved, length);
        EXPECT_TRUE(::SetEnvironmentVariableW(name, value) != FALSE || value == nullptr);
    }
    ~VariableForTheTest() { ::SetEnvironmentVariableW(m_name, m_saved ? m_saved->c_str() : nullptr); }
    VariableForTheTest(const VariableForTheTest&) = delete;
    VariableForTheTest& operator=(const VariableForTheTest&) = delete;

private:
    const wchar_t* m_name;
    std::optional<std::wstring> m_saved;
};

TEST(RunnerLocks, ATestHoldsExactlyTheLocksTheRunnerNamedAndEveryLockWhenRunAlone)
{
    struct Case {
        const wchar_t* value;  // of ORDWELL_TEST_LOCKS; null: unset
        bool holdsHalvorn;
        bool holdsSession;
    };
    const Case cases[] = {
        {nullptr, true, true},  // not started by the runner: nothing else runs
        {L"none", false, false},
        {L"halvorn_registry", true, false},
        {L"session_sync,halvorn_registry", true, true},
        {L"halvorn_registry,session_sync", true, true},
        {L"halvorn_registry_old", false, false},  // a name only begins like the lock
        {L"old_halvorn_registry", false, false},
        {L"halvorn,registry", false, false},
        {L",,session_sync,", false, true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.value != nullptr ? Narrow(test.value) : "unset");
        VariableForTheTest locks(L"ORDWELL_TEST_LOCKS", test.value);
        EXPECT_EQ(test.holdsHalvorn, HoldsRunnerLock(L"halvorn_registry"));
        EXPECT_EQ(test.holdsSession, HoldsRunnerLock(L"session_sync"));
    }
}

// The entries of a block, in order, without the terminators.
std::vector<std::wstring> Entries(const std::wstring& block)
{
    std::vector<std::wstring> entries;
    for (std::size_t at = 0; at < block.size() && block[at] != L'\0'; at += entries.back().size() + 1) {
        entries.emplace_back(block.c_str() + at);
    }
    return entries;
}

TEST(EnvironmentBlock, SetsReplacesAndRemovesVariablesWhateverTheirCaseAndKeepsTheRestSorted)
{
    VariableForTheTest kept(L"ORDWELL_BLOCK_KEPT", L"kept");
    VariableForTheTest replaced(L"Ordwell_Block_Replaced", L"old");
    VariableForTheTest removed(L"ORDWELL_BLOCK_REMOVED", L"gone");
    VariableForTheTest prefix(L"ORDWELL_BLOCK_REPLACED_LONGER", L"stays");

    const std::wstring block = EnvironmentBlock({
        {L"ORDWELL_BLOCK_REPLACED", L"new"},
        {L"ordwell_block_removed", std::nullopt},
        {L"ORDWELL_BLOCK_ADDED", L"added=with equals"},
    });
    ASSERT_GE(block.size(), 2u);
    EXPECT_EQ(L'\0', block[block.size() - 1]);
    EXPECT_EQ(L'\0', block[block.size() - 2]);

    const std::vector<std::wstring> entries = Entries(block);
    std::vector<std::wstring> ours;
    for (const std::wstring& entry : entries) {
        if (::_wcsnicmp(entry.c_str(), L"ORDWELL_BLOCK_", 14) == 0) ours.push_back(entry);
    }
    EXPECT_EQ((std::vector<std::wstring>{L"ORDWELL_BLOCK_ADDED=added=with equals", L"ORDWELL_BLOCK_KEPT=kept",
                                         L"ORDWELL_BLOCK_REPLACED=new", L"ORDWELL_BLOCK_REPLACED_LONGER=stays"}),
              ours);
    for (std::size_t i = 1; i < entries.size(); ++i) {
        EXPECT_LE(::_wcsicmp(entries[i - 1].c_str(), entries[i].c_str()), 0) << Narrow(entries[i]);
    }
}

// The children of this process that still run, by id.
std::vector<DWORD> RunningChildren()
{
    std::vector<DWORD> children;
    const ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ParentProcessID == ::GetCurrentProcessId()) children.push_back(entry.th32ProcessID);
    }
    return children;
}

TEST(ChildProcessProcess, WhatStillRunsIsKilledWhenItsOwnerGoesOrItsRunTimesOutUnlessReleased)
{
    // A suspended child never ends by itself.
    const ChildOptions suspended = {.flags = CREATE_SUSPENDED};
    struct Case {
        const char* what;
        std::function<void()> step;
        bool runsOn;
    };
    const Case cases[] = {
        {"an owner that goes while its child runs",
         [&] {
             const ChildProcess child(ThisProgramPath(), L"--gtest_list_tests", suspended);
             EXPECT_TRUE(child.Running());
             EXPECT_EQ(std::nullopt, child.Wait(100));
         },
         false},
        {"RunProgram past its time-out",
         [&] { EXPECT_EQ(std::nullopt, RunProgram(ThisProgramPath(), L"--gtest_list_tests", 200, suspended)); },
         false},
        {"a released child",
         [&] {
             ChildProcess child(ThisProgramPath(), L"--gtest_list_tests", suspended);
             EXPECT_TRUE(child.Running());
             child.Release();
             EXPECT_FALSE(child.valid());
         },
         true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        ASSERT_EQ(std::vector<DWORD>{}, RunningChildren());
        test.step();
        const std::vector<DWORD> running = RunningChildren();
        EXPECT_EQ(test.runsOn ? 1u : 0u, running.size());
        for (const DWORD id : running) {
            const ScopedHandle left(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
            ::TerminateProcess(left.get(), 1);
            ::WaitForSingleObject(left.get(), 10000);
        }
    }
}

TEST(Narrow, GivesUtf8AndKeepsAsciiAndEmbeddedZerosAsTheyAre)
{
    EXPECT_EQ("", Narrow(L""));
    EXPECT_EQ("C:\\x\\report.txt", Narrow(L"C:\\x\\report.txt"));
    EXPECT_EQ("\xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80", Narrow(L"\u00e9t\u00e9 \u20ac \U0001F600"));
    EXPECT_EQ(std::string("a\0b", 3), Narrow(std::wstring(L"a\0b", 3)));
}

}  // namespace
}  // namespace Fundor::testing
