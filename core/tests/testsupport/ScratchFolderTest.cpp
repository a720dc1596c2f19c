#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace Fundor::testing {
namespace {

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(ScratchFolder, RemovesATreeDeeperThanMaxPathAndNothingOutsideIt)
{
    // A file in the current directory with the same relative name as one in the tree: a delete
    // that loses the folder part would hit it.
    const std::wstring canaryName = UniqueName(L"canary");
    const std::wstring canary = L".\\" + canaryName;
    HANDLE created = ::CreateFileW(canary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, created);
    ::CloseHandle(created);

    std::wstring root;
    {
        ScratchFolder scratch;
        root = scratch.Path();
        std::wstring deep = L"\\\\?\\" + root;
        while (deep.size() < 2 * MAX_PATH) {
            deep += L"\\" + std::wstring(40, L'd');
            ASSERT_TRUE(::CreateDirectoryW(deep.c_str(), nullptr)) << ::GetLastError();
        }
        const std::wstring deepFile = deep + L"\\" + canaryName;
        created = ::CreateFileW(deepFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_READONLY, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, created);
        ::CloseHandle(created);
    }
    EXPECT_FALSE(Exists(root));
    EXPECT_TRUE(Exists(canary));
    ::DeleteFileW(canary.c_str());
}

}  // namespace
}  // namespace Fundor::testing
