#include "core/testsupport/RegistryIsolation.h"

#include "core/base/ScopedResource.h"
#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/Narrow.h"
#include "core/testsupport/ProgramFolder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <array>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace Fundor::testing {
namespace {

constexpr ULONGLONG kHour = 60ULL * 60 * 10'000'000;  // FILETIME units

LONG OpenStatus(HKEY root, const std::wstring& path)
{
    ScopedRegKey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put());
}

// What HKLM, HKCU and HKCR show of a key each real hive of the prefix has: ERROR_SUCCESS for the
// real keys, ERROR_FILE_NOT_FOUND for empty scratch keys.
std::array<LONG, 3> RealKeysSeen()
{
    return {OpenStatus(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion"),
            OpenStatus(HKEY_CURRENT_USER, L"Control Panel"), OpenStatus(HKEY_CLASSES_ROOT, L"CLSID")};
}
constexpr std::array<LONG, 3> kReal = {ERROR_SUCCESS, ERROR_SUCCESS, ERROR_SUCCESS};
constexpr std::array<LONG, 3> kIsolated = {ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND, ERROR_FILE_NOT_FOUND};

// Subkeys plus values of a root: 0 for a fresh scratch key.
DWORD Entries(HKEY root)
{
    DWORD subkeys = 0, values = 0;
    EXPECT_EQ(ERROR_SUCCESS, ::RegQueryInfoKeyW(root, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                                                nullptr, nullptr, nullptr, nullptr));
    return subkeys + values;
}

ULONGLONG StartedAt(HANDLE process)
{
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    EXPECT_TRUE(::GetProcessTimes(process, &created, &exited, &kernel, &user));
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

std::wstring Hex16(ULONGLONG value)
{
    wchar_t text[17] = {};
    for (int i = 15; i >= 0; --i, value >>= 4) text[i] = L"0123456789ABCDEF"[value & 0xF];
    return text;
}

// A scratch key name of the form the header gives.
std::wstring ScratchKeyName(ULONGLONG created, DWORD processId, ULONGLONG started)
{
    return Hex16(created) + L"_" + std::to_wstring(processId) + L"_" + Hex16(started) + L"_1_" + UniqueName(L"t");
}

// Names below the real scratch parent that carry this process's id and creation time.
std::vector<std::wstring> ScratchKeysOfThisProcess()
{
    const std::wstring owner =
        L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" + Hex16(StartedAt(::GetCurrentProcess())) + L"_";
    std::vector<std::wstring> names;
    ScopedRegKey parent;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kScratchParentKey, 0, KEY_READ, parent.put()) != ERROR_SUCCESS) return names;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = ARRAYSIZE(name);
        if (::RegEnumKeyExW(parent.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (std::wstring(name, length).find(owner) == 16) names.emplace_back(name, length);
    }
    return names;
}

TEST(RegistryIsolation, ASetUpThatFailsAtAnyStepLeavesNoRedirectAndNoScratchKey)
{
    using Step = RegistryIsolation::Step;
    const Step steps[] = {Step::OpenScratchParent, Step::CreateScratchKey, Step::CreateMachineKey,
                          Step::CreateUserKey,     Step::CreateClassesKey, Step::RedirectMachine,
                          Step::RedirectClasses,   Step::RedirectUser};
    ASSERT_EQ(kReal, RealKeysSeen());
    for (const Step step : steps) {
        SCOPED_TRACE(static_cast<int>(step));
        const std::vector<std::wstring> before = ScratchKeysOfThisProcess();
        try {
            RegistryIsolation failing(step);
            ADD_FAILURE() << "the set-up did not fail";
        } catch (const std::runtime_error& error) {
            EXPECT_NE(nullptr, std::strstr(error.what(), "failed with error 5;")) << error.what();
        }
        EXPECT_EQ(kReal, RealKeysSeen());
        EXPECT_EQ(before, ScratchKeysOfThisProcess());

        // The failure left nothing that keeps the next isolation from working.
        RegistryIsolation next;
        EXPECT_EQ(kIsolated, RealKeysSeen());
    }
}

// A started test program that never runs: a live process other than this one.
ChildProcess SuspendedProcess()
{
    ChildProcess process(ThisProgramPath(), L"--gtest_list_tests", {.flags = CREATE_SUSPENDED});
    EXPECT_TRUE(process.valid()) << ::GetLastError();
    return process;
}

TEST(RegistryIsolationProcess, StaleScratchKeysAreRemovedAndThoseOfLiveProcessesKept)
{
    const ChildProcess live = SuspendedProcess();
    const ChildProcess endedHeldOpen = SuspendedProcess();
    ChildProcess endedGone = SuspendedProcess();
    ASSERT_TRUE(live.valid() && endedHeldOpen.valid() && endedGone.valid());
    const ULONGLONG liveStarted = StartedAt(live.handle());
    const ULONGLONG heldOpenStarted = StartedAt(endedHeldOpen.handle());
    const ULONGLONG goneStarted = StartedAt(endedGone.handle());
    const DWORD goneId = endedGone.id();
    endedHeldOpen.Kill(9);
    endedGone.Kill(9);
    endedGone = ChildProcess();

    FILETIME nowTime = {};
    ::GetSystemTimeAsFileTime(&nowTime);
    const ULONGLONG now = (static_cast<ULONGLONG>(nowTime.dwHighDateTime) << 32) | nowTime.dwLowDateTime;
    struct Case {
        const char* what;
        std::wstring name;
        bool kept;
    };
    const Case cases[] = {
        {"a live process's key of two days ago", ScratchKeyName(now - 48 * kHour, live.id(), liveStarted), false},
        {"a live process's key of 23 hours ago", ScratchKeyName(now - 23 * kHour, live.id(), liveStarted), true},
        {"a fresh key of this process", ScratchKeyName(now, ::GetCurrentProcessId(), StartedAt(::GetCurrentProcess())),
         true},
        {"a fresh key of an ended process no longer held", ScratchKeyName(now, goneId, goneStarted), false},
        {"a fresh key of an ended process still held open", ScratchKeyName(now, endedHeldOpen.id(), heldOpenStarted),
         false},
        {"a fresh key of an earlier process with a live one's id",
         ScratchKeyName(now, live.id(), liveStarted - kHour), false},
        {"a key of two days ago of another form", L"reg_" + UniqueName(L"Old") + L"_" + Hex16(now - 48 * kHour), true},
    };

    ScopedRegKey parent;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CURRENT_USER, kScratchParentKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                               nullptr, parent.put(), nullptr));
    // Whatever the outcome, none of the test's keys stays behind.
    struct RemovedAtEnd {
        HKEY parent;
        const Case (&cases)[7];
        ~RemovedAtEnd()
        {
            for (const Case& test : cases) (void)::RegDeleteTreeW(parent, test.name.c_str());
        }
    } removedAtEnd{parent.get(), cases};
    for (const Case& test : cases) {
        // With content, as a crashed run leaves it: a key with subkeys needs a tree removal.
        ScopedRegKey machine;
        ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(parent.get(), (test.name + L"\\HKLM\\Software").c_str(), 0,
                                                   nullptr, 0, KEY_ALL_ACCESS, nullptr, machine.put(), nullptr));
    }

    { RegistryIsolation next; }

    for (const Case& test : cases) {
        EXPECT_EQ(test.kept ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND, OpenStatus(parent.get(), test.name)) << test.what;
    }
}

TEST(RegistryIsolation, EachIsolationStartsEmptyAndANestedOneIsRefused)
{
    const std::wstring path = L"Software\\" + UniqueName(L"Written");
    const HKEY roots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT};
    std::vector<std::wstring> scratchPaths;
    for (DWORD round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        RegistryIsolation isolation;
        scratchPaths.push_back(isolation.ScratchPath());
        EXPECT_EQ(kIsolated, RealKeysSeen());
        for (const HKEY root : roots) {
            EXPECT_EQ(0u, Entries(root));
            ScopedRegKey key;
            ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                       key.put(), nullptr));
            ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), L"Round", 0, REG_DWORD,
                                                      reinterpret_cast<const BYTE*>(&round), sizeof(round)));
        }

        EXPECT_THROW(RegistryIsolation nested, std::logic_error);

        // Still this isolation's keys, with what this round wrote.
        EXPECT_EQ(kIsolated, RealKeysSeen());
        for (const HKEY root : roots) {
            DWORD value = 0;
            DWORD size = sizeof(value);
            EXPECT_EQ(ERROR_SUCCESS, ::RegGetValueW(root, path.c_str(), L"Round", RRF_RT_REG_DWORD, nullptr, &value, &size));
            EXPECT_EQ(round, value);
        }
    }

    EXPECT_EQ(kReal, RealKeysSeen());
    for (const std::wstring& scratch : scratchPaths) {
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenStatus(HKEY_CURRENT_USER, scratch)) << Narrow(scratch);
    }
    for (const HKEY root : roots) {
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, OpenStatus(root, path));
        (void)::RegDeleteTreeW(root, path.c_str());  // should the isolation have let a write through
    }
}

}  // namespace
}  // namespace Fundor::testing
