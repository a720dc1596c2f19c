#include "access/PathSearch.h"
#include "access/tests/VelmoFakes.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace VelmoTesting;
using Fundor::testing::ScratchFolder;

namespace {

void MakeFile(const std::wstring& path)
{
    std::ofstream file(path.c_str());
    file << "x";
}

}  // namespace

TEST(PathSearch, JoinAddsOneSeparator)
{
    EXPECT_EQ(L"C:\\a\\Corvane.dll", Velmo::JoinFolderAndName(L"C:\\a", L"Corvane.dll"));
    EXPECT_EQ(L"C:\\a\\Corvane.dll", Velmo::JoinFolderAndName(L"C:\\a\\", L"Corvane.dll"));
    EXPECT_EQ(L"C:/a/Corvane.dll", Velmo::JoinFolderAndName(L"C:/a/", L"Corvane.dll"));
    EXPECT_EQ(L"\\Corvane.dll", Velmo::JoinFolderAndName(L"", L"Corvane.dll"));
}

TEST(PathSearch, FolderListIsKeptInOrder)
{
    Velmo::PathSearch search(std::make_shared<FakePathAPI>());
    EXPECT_TRUE(search.getSearchPaths().empty());
    search.addSearchPath(L"A");
    search.addSearchPaths({L"B", L"C"});
    search.addSearchPath(L"A");
    EXPECT_EQ((std::vector<std::wstring>{L"A", L"B", L"C", L"A"}), search.getSearchPaths());
    search.setSearchPaths({L"D"});
    EXPECT_EQ(std::vector<std::wstring>{L"D"}, search.getSearchPaths());
    // A copy: changing it changes nothing in the object.
    auto copy = search.getSearchPaths();
    copy.push_back(L"E");
    EXPECT_EQ(1u, search.getSearchPaths().size());
}

TEST(PathSearch, FirstFolderThatHoldsTheFileWins)
{
    auto paths = std::make_shared<FakePathAPI>();
    Velmo::PathSearch search(paths);
    std::wstring folder = L"untouched";

    // No folders: nothing is probed.
    EXPECT_FALSE(search.findFilePath(L"Corvane.dll", folder));
    EXPECT_TRUE(paths->probes.empty());

    paths->files = {L"C:\\two\\Corvane.dll", L"C:\\three\\Corvane.dll"};
    search.addSearchPaths({L"C:\\one", L"C:\\two\\", L"C:\\three"});
    EXPECT_TRUE(search.findFilePath(L"Corvane.dll", folder));
    EXPECT_EQ(L"C:\\two\\", folder);
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\one\\Corvane.dll", L"C:\\two\\Corvane.dll"}), paths->probes);

    folder = L"untouched";
    EXPECT_FALSE(search.findFilePath(L"Garrow.dll", folder));
    EXPECT_EQ(L"untouched", folder);
}

TEST(PathSearch, RealFilesOnlyAFileCounts)
{
    ScratchFolder scratch;
    const std::wstring first = scratch.File(L"first");
    const std::wstring second = scratch.File(L"second");
    const std::wstring third = scratch.File(L"third");
    for (const auto& folder : {first, second, third}) ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    // A folder with the file's name is not the file.
    ASSERT_TRUE(CreateDirectoryW((first + L"\\Corvane.dll").c_str(), nullptr));
    MakeFile(second + L"\\Corvane.dll");
    MakeFile(third + L"\\Corvane.dll");

    Velmo::PathSearch search;
    search.setSearchPaths({first, second, third});
    std::wstring folder;
    ASSERT_TRUE(search.findFilePath(L"Corvane.dll", folder));
    EXPECT_EQ(second, folder);
    EXPECT_FALSE(search.checkIfExists(first + L"\\Corvane.dll"));
    EXPECT_TRUE(search.checkIfExists(third + L"\\Corvane.dll"));
    EXPECT_FALSE(search.checkIfExists(L""));
}
