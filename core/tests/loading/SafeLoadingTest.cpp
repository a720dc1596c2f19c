#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"
#include "core/loading/SafeLoading.h"
#include "core/testsupport/ProgramFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace Fundor {
namespace {

using Fundor::testing::ProgramFolder;

TEST(SafeLoading, DefaultSearchIsLimitedToTheSystemFolder)
{
    EXPECT_TRUE(IsSetDefaultDllDirectoriesApplied());
    // The probe lies beside this program, which the default search would otherwise look in first.
    ScopedModule byName(::LoadLibraryW(L"OrdwellSearchProbe.dll"));
    EXPECT_FALSE(byName.valid());
    const std::wstring fullPath = ProgramFolder() + L"\\OrdwellSearchProbe.dll";
    ScopedModule byPath(LoadQualifiedLibrary(fullPath.c_str(), 0));
    ASSERT_TRUE(byPath.valid()) << ::GetLastError();
    EXPECT_NE(nullptr, ::GetProcAddress(byPath.get(), "SearchProbeAnswer"));
}

TEST(SafeLoading, QualifiedLoaderRefusesPathsThatAreNotFullyQualified)
{
    for (const wchar_t* path : {L"x.dll", L"a\\b.dll", L"C:b.dll", L"\\x.dll", L"C:\\x.dll",
                                L"\\\\server\\x.dll", L"", L"..\\x.dll", L"C:\\folder\\"}) {
        ::SetLastError(0);
        EXPECT_EQ(nullptr, LoadQualifiedLibrary(path, 0)) << path;
        EXPECT_EQ(ERROR_INVALID_PARAMETER, ::GetLastError()) << path;
    }
    EXPECT_EQ(nullptr, LoadQualifiedLibrary(nullptr, 0));
    EXPECT_TRUE(IsFullyQualifiedFilePath(L"C:\\windows\\system32\\kernel32.dll"));
    EXPECT_TRUE(IsFullyQualifiedFilePath(L"\\\\server\\share\\folder\\x.dll"));
    EXPECT_TRUE(IsFullyQualifiedFilePath(L"\\\\?\\C:\\folder\\x.dll"));
}

TEST(SafeLoading, SystemLibraryComesFromTheSystemFolder)
{
    ScopedModule shfolder(LoadSystemLibrary(L"shfolder.dll"));
    ASSERT_TRUE(shfolder.valid());
    wchar_t loaded[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetModuleFileNameW(shfolder.get(), loaded, MAX_PATH));
    wchar_t system[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetSystemDirectoryW(system, MAX_PATH));
    EXPECT_EQ(0, ::_wcsnicmp(loaded, system, wcslen(system))) << loaded;
    EXPECT_EQ(nullptr, LoadSystemLibrary(nullptr));
    EXPECT_EQ(nullptr, LoadSystemLibrary(L"OrdwellSearchProbe.dll"));
}

TEST(StringFormat, PercentSIsWideAndOutputIsBoundedAndTerminated)
{
    wchar_t buffer[8];
    EXPECT_EQ(5, FormatW(buffer, 8, L"%s-%d", L"abc", 7));
    EXPECT_STREQ(L"abc-7", buffer);
    EXPECT_EQ(-1, FormatW(buffer, 8, L"%s", L"0123456789"));
    EXPECT_STREQ(L"0123456", buffer);
    EXPECT_EQ(2, FormatW(buffer, 8, L"%hs", "ab"));
    EXPECT_STREQ(L"ab", buffer);
    EXPECT_EQ(-1, FormatW(buffer, 8, nullptr));
    EXPECT_STREQ(L"", buffer);
    EXPECT_EQ(-1, FormatW(nullptr, 8, L"x"));
    EXPECT_EQ(std::wstring(300, L'z') + L"|42", FormatString(L"%s|%u", std::wstring(300, L'z').c_str(), 42u));
    EXPECT_EQ(L"", FormatString(nullptr));
}

TEST(ScopedResource, MoveTransfersOwnershipAndResetCloses)
{
    ScopedHandle event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(event.valid());
    const HANDLE raw = event.get();
    ScopedHandle moved(std::move(event));
    EXPECT_FALSE(event.valid());
    EXPECT_EQ(raw, moved.get());
    DWORD flags = 0;
    EXPECT_TRUE(::GetHandleInformation(raw, &flags));
    moved.reset();
    EXPECT_FALSE(::GetHandleInformation(raw, &flags));  // closed exactly once, by the owner
    ScopedHandle invalid(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(invalid.valid());
}

}  // namespace
}  // namespace Fundor
