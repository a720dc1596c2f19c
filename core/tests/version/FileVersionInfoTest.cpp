#include "core/testsupport/ProgramFolder.h"
#include "core/testsupport/RegistryIsolation.h"
#include "core/version/FileVersionInfo.h"
#include "core/version/OSInfoProxy.h"
#include "core/version/SystemFileVersionInfo.h"

#include <gtest/gtest.h>
#include <knownfolders.h>

#include <cstring>
#include <string>

namespace Fundor {
namespace {

using Fundor::testing::ProgramFolder;

std::wstring Probe(const wchar_t* name) { return ProgramFolder() + L"\\" + name; }

// Known-folder seam that answers with a folder of the test's choosing, or fails.
class FakeShlObjAPI : public ShlObjAPI {
public:
    explicit FakeShlObjAPI(std::wstring folder, HRESULT result = S_OK) : m_folder(std::move(folder)), m_result(result) {}

    HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD flags, HANDLE token, PWSTR* path) override
    {
        ++calls;
        askedForSystem = ::IsEqualGUID(folderId, FOLDERID_System) != FALSE;
        lastFlags = flags;
        lastToken = token;
        *path = nullptr;
        if (FAILED(m_result)) {
            return m_result;
        }
        const std::size_t bytes = (m_folder.size() + 1) * sizeof(wchar_t);
        *path = static_cast<PWSTR>(::CoTaskMemAlloc(bytes));
        std::memcpy(*path, m_folder.c_str(), bytes);
        return m_result;
    }

    int calls = 0;
    bool askedForSystem = false;
    DWORD lastFlags = 99;
    HANDLE lastToken = INVALID_HANDLE_VALUE;

private:
    std::wstring m_folder;
    HRESULT m_result;
};

TEST(FileVersionInfo, ReadsStringsThroughTheFirstTranslationThatHasThemAndKeepsTheFirstFile)
{
    FileVersionInfo info;
    EXPECT_EQ(L"", info.QueryString(L"CompanyName"));  // nothing loaded yet
    ASSERT_TRUE(info.Load(Probe(L"OrdwellVersionProbe.dll").c_str()));
    EXPECT_TRUE(info.IsLoaded());
    // The probe's first translation (0409/1200) has no string table; the second (0407/1252) has.
    EXPECT_EQ(L"Ordwell Probe Works", info.QueryString(L"CompanyName"));
    EXPECT_EQ(L"1.2.3.4", info.QueryString(VersionStringKey::FileVersion));
    EXPECT_EQ(L"5.6.7.8", info.QueryString(VersionStringKey::ProductVersion));
    EXPECT_EQ(L"(c) nobody", info.QueryString(VersionStringKey::Copyright));
    EXPECT_EQ(L"Version Probe", info.QueryString(VersionStringKey::ProductName));
    EXPECT_EQ(L"", info.QueryString(VersionStringKey::FileDescription));
    EXPECT_EQ(L"", info.QueryString(L"LegalCopyright"));
    EXPECT_EQ(L"", info.QueryString(nullptr));

    EXPECT_FALSE(info.Load(Probe(L"OrdwellVersionProbeNoTranslation.dll").c_str()));
    EXPECT_EQ(L"Ordwell Probe Works", info.QueryString(L"CompanyName"));

    const std::array<std::wstring, 6> names = {L"CompanyName", L"FileVersion", L"FileDescription",
                                               L"Copyright",   L"ProductName", L"ProductVersion"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(names[i], kVersionStringKeyNames[i]);
        EXPECT_EQ(names[i], VersionStringKeyName(static_cast<VersionStringKey>(i)));
    }
}

TEST(FileVersionInfo, FilesWithoutAUsableVersionResourceGiveEmptyStrings)
{
    FileVersionInfo untranslated;
    ASSERT_TRUE(untranslated.Load(Probe(L"OrdwellVersionProbeNoTranslation.dll").c_str()));
    EXPECT_EQ(L"", untranslated.QueryString(L"CompanyName"));
    EXPECT_EQ(L"", untranslated.QueryString(VersionStringKey::ProductVersion));

    // No version resource at all, a missing file, no path: nothing loaded, and a later load of a
    // good file still works.
    FileVersionInfo info;
    EXPECT_FALSE(info.Load(Probe(L"OrdwellSearchProbe.dll").c_str()));
    EXPECT_FALSE(info.Load(Probe(L"NoSuchFile.dll").c_str()));
    EXPECT_FALSE(info.Load(nullptr));
    EXPECT_FALSE(info.IsLoaded());
    EXPECT_EQ(L"", info.QueryString(L"CompanyName"));
    EXPECT_TRUE(info.Load(Probe(L"OrdwellVersionProbe.dll").c_str()));
    EXPECT_EQ(L"Version Probe", info.QueryString(L"ProductName"));
}

TEST(SystemFileVersionInfo, ReadsKernel32OfTheRealSystemFolder)
{
    SystemFileVersionInfo kernel;
    ASSERT_TRUE(kernel.Load(L"kernel32.dll"));
    const std::wstring productVersion = kernel.QueryString(VersionStringKey::ProductVersion);
    ProductVersionNumbers numbers;
    EXPECT_TRUE(internal::ParseProductVersion(productVersion, numbers)) << productVersion;

    wchar_t system[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetSystemDirectoryW(system, MAX_PATH));
    FileVersionInfo direct;
    ASSERT_TRUE(direct.Load((std::wstring(system) + L"\\kernel32.dll").c_str()));
    EXPECT_EQ(direct.QueryString(L"ProductVersion"), productVersion);

    EXPECT_FALSE(SystemFileVersionInfo().Load(L"OrdwellNoSuchSystemFile.dll"));
    EXPECT_FALSE(SystemFileVersionInfo().Load(L""));
    EXPECT_FALSE(SystemFileVersionInfo().Load(nullptr));
}

TEST(SystemFileVersionInfo, AsksForTheSystemFolderOnceAndLoadsTheNamedFileInIt)
{
    testing::ScratchFolder folder;
    ASSERT_TRUE(::CopyFileW(Probe(L"OrdwellVersionProbe.dll").c_str(), folder.File(L"probe.dll").c_str(), FALSE));
    auto shell = std::make_shared<FakeShlObjAPI>(folder.Path());
    SystemFileVersionInfo info(shell);
    EXPECT_FALSE(info.Load(L"missing.dll"));
    ASSERT_TRUE(info.Load(L"probe.dll"));
    EXPECT_EQ(L"Ordwell Probe Works", info.QueryString(L"CompanyName"));
    EXPECT_EQ(1, shell->calls);
    EXPECT_TRUE(shell->askedForSystem);
    EXPECT_EQ(0u, shell->lastFlags);
    EXPECT_EQ(nullptr, shell->lastToken);
}

TEST(SystemFileVersionInfo, WithoutTheSystemFolderNothingIsReadNotEvenAtTheDriveRoot)
{
    // A probe at the root of the current drive: where a bare "\" folder would lead.
    const std::wstring rootFile = L"C:\\" + testing::UniqueName(L"rootprobe") + L".dll";
    if (!::CopyFileW(Probe(L"OrdwellVersionProbe.dll").c_str(), rootFile.c_str(), TRUE)) {
        GTEST_SKIP() << "the drive root is not writable here: " << ::GetLastError();
    }
    wchar_t previous[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetCurrentDirectoryW(MAX_PATH, previous));
    ASSERT_TRUE(::SetCurrentDirectoryW(L"C:\\"));

    auto shell = std::make_shared<FakeShlObjAPI>(L"", E_FAIL);
    SystemFileVersionInfo info(shell);
    const bool loaded = info.Load(rootFile.c_str() + 3);
    auto emptyFolder = std::make_shared<FakeShlObjAPI>(L"");
    SystemFileVersionInfo emptyInfo(emptyFolder);
    const bool loadedFromEmpty = emptyInfo.Load(rootFile.c_str() + 3);

    ::SetCurrentDirectoryW(previous);
    ::DeleteFileW(rootFile.c_str());
    EXPECT_FALSE(loaded);
    EXPECT_FALSE(info.IsLoaded());
    EXPECT_EQ(L"", info.QueryString(L"CompanyName"));
    EXPECT_EQ(1, shell->calls);
    EXPECT_FALSE(loadedFromEmpty);
}

}  // namespace
}  // namespace Fundor
