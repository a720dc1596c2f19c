#include "core/base/FileSystemHelpers.h"
#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <string>

namespace Fundor {
namespace {

using testing::ScratchFolder;
using testing::UniqueName;

void WriteFile(const std::wstring& path, const char* text = "x")
{
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << ::GetLastError();
    DWORD written = 0;
    ::WriteFile(file, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    ::CloseHandle(file);
}

DWORD Attributes(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()); }

bool Exists(const std::wstring& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

// Sets the current directory for the lifetime of the object.
class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::wstring& folder)
    {
        ::GetCurrentDirectoryW(MAX_PATH, m_previous);
        m_changed = ::SetCurrentDirectoryW(folder.c_str()) != FALSE;
    }
    ~CurrentDirectory() { ::SetCurrentDirectoryW(m_previous); }
    [[nodiscard]] bool Changed() const { return m_changed; }

private:
    wchar_t m_previous[MAX_PATH] = {};
    bool m_changed = false;
};

// Runs a program of the host system in folder and waits until done() holds (Wine starts a host
// program without a process handle to wait on).
template <typename Done>
bool RunHostCommand(const wchar_t* program, const std::wstring& arguments, const std::wstring& folder, Done done)
{
    if (!testing::ChildProcess(program, arguments, {.folder = folder}).started()) return false;
    for (int i = 0; i < 250 && !done(); ++i) ::Sleep(20);
    return done();
}

bool IsFolderLink(const std::wstring& path)
{
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Makes folder\linkName a directory link to the relative target. Windows makes it with
// CreateSymbolicLinkW. Wine 8 only pretends to (it returns TRUE and makes nothing) and cannot
// set mount points, but shows a symbolic link of the host as a reparse-point folder; so there
// the host's ln makes it.
bool MakeFolderLink(const std::wstring& folder, const wchar_t* linkName, const wchar_t* relativeTarget)
{
    const std::wstring link = folder + L"\\" + linkName;
    if (::CreateSymbolicLinkW(link.c_str(), relativeTarget,
                              SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
        IsFolderLink(link)) {
        return true;
    }
    std::wstring hostTarget = relativeTarget;
    for (wchar_t& c : hostTarget) {
        if (c == L'\\') c = L'/';
    }
    return RunHostCommand(L"Z:\\bin\\ln", L"-s " + hostTarget + L" " + linkName, folder,
                          [&] { return IsFolderLink(link); });
}

void RemoveHostLink(const std::wstring& folder, const wchar_t* linkName)
{
    // Unconditionally: a link whose target is gone no longer shows.
    const std::wstring link = folder + L"\\" + linkName;
    RunHostCommand(L"Z:\\bin\\rm", std::wstring(L"-f ") + linkName, folder, [&] { return !Exists(link); });
}

TEST(FileSystemHelpers, FileAndFolderTests)
{
    ScratchFolder scratch;
    const std::wstring file = scratch.File(L"a.txt");
    WriteFile(file);
    for (const wchar_t* nothing : {static_cast<const wchar_t*>(nullptr), L""}) {
        EXPECT_FALSE(IsFile(nothing));
        EXPECT_FALSE(IsDirectory(nothing));
        EXPECT_FALSE(FileExists(nothing));
    }
    EXPECT_TRUE(IsFile(file.c_str()));
    EXPECT_FALSE(IsDirectory(file.c_str()));
    EXPECT_TRUE(FileExists(file.c_str()));
    EXPECT_FALSE(IsFile(scratch.Path().c_str()));
    EXPECT_TRUE(IsDirectory(scratch.Path().c_str()));
    EXPECT_FALSE(FileExists(scratch.Path().c_str()));
    const std::wstring missing = scratch.File(L"missing.txt");
    EXPECT_FALSE(IsFile(missing.c_str()));
    EXPECT_FALSE(IsDirectory(missing.c_str()));
    EXPECT_FALSE(FileExists(missing.c_str()));
}

TEST(FileSystemHelpers, SplitPathAtTheLastBackslash)
{
    std::wstring folder = L"keep", name = L"keep";
    ASSERT_TRUE(SplitPath(L"C:\\dir\\file.txt", folder, true, name));
    EXPECT_EQ(L"C:\\dir\\", folder);
    EXPECT_EQ(L"\\file.txt", name);
    ASSERT_TRUE(SplitPath(L"C:\\dir\\file.txt", folder, false, name));
    EXPECT_EQ(L"C:\\dir", folder);
    EXPECT_EQ(L"file.txt", name);
    ASSERT_TRUE(SplitPath(L"C:\\dir\\", folder, false, name));
    EXPECT_EQ(L"C:\\dir", folder);
    EXPECT_EQ(L"", name);
    ASSERT_TRUE(SplitPath(L"\\\\server\\share\\a.log", folder, false, name));
    EXPECT_EQ(L"\\\\server\\share", folder);
    EXPECT_EQ(L"a.log", name);

    folder = name = L"keep";
    EXPECT_FALSE(SplitPath(L"file.txt", folder, true, name));
    EXPECT_FALSE(SplitPath(L"C:/dir/file.txt", folder, true, name));
    EXPECT_FALSE(SplitPath(L"", folder, false, name));
    EXPECT_FALSE(SplitPath(nullptr, folder, false, name));
    EXPECT_EQ(L"keep", folder);
    EXPECT_EQ(L"keep", name);
}

TEST(FileSystemHelpers, CreateDirectoryPathCreatesEveryMissingFolder)
{
    ScratchFolder scratch;
    const std::wstring a = scratch.File(L"a");
    ASSERT_TRUE(::CreateDirectoryW(a.c_str(), nullptr));
    DWORD error = 99;
    EXPECT_TRUE(CreateDirectoryPath((a + L"\\b\\c").c_str(), &error));
    EXPECT_EQ(0u, error);
    EXPECT_TRUE(IsDirectory((a + L"\\b\\c").c_str()));
    EXPECT_TRUE(CreateDirectoryPath((a + L"\\b\\c").c_str(), &error));
    EXPECT_EQ(183u, error);
    EXPECT_TRUE(CreateDirectoryPath((a + L"\\b").c_str()));  // the error is optional

    // Forward slashes, a trailing separator and dot segments are a path like any other.
    EXPECT_TRUE(CreateDirectoryPath((scratch.Path() + L"/s1/./s2/../s3\\").c_str(), &error));
    EXPECT_EQ(0u, error);
    EXPECT_TRUE(IsDirectory(scratch.File(L"s1\\s3").c_str()));
    EXPECT_FALSE(Exists(scratch.File(L"s1\\s2")));

    // "\\?\" paths are taken literally and may be longer than MAX_PATH.
    std::wstring deep = L"\\\\?\\" + scratch.Path();
    for (int i = 0; i < 7; ++i) deep += L"\\" + std::wstring(40, static_cast<wchar_t>(L'k' + i));
    ASSERT_GT(deep.size(), 300u);
    EXPECT_TRUE(CreateDirectoryPath(deep.c_str(), &error));
    EXPECT_EQ(0u, error);
    EXPECT_TRUE(IsDirectory(deep.c_str()));
    // The shell's delete behind ScratchFolder cannot reach that deep.
    EXPECT_TRUE(RemoveDirectoryPath((L"\\\\?\\" + scratch.File(L"kkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkkk")).c_str()));

    for (const wchar_t* nothing : {static_cast<const wchar_t*>(nullptr), L""}) {
        error = 99;
        EXPECT_FALSE(CreateDirectoryPath(nothing, &error));
        EXPECT_EQ(87u, error);
    }
}

TEST(FileSystemHelpers, CreateDirectoryPathFailsWhereAFileStandsInTheWay)
{
    ScratchFolder scratch;
    const std::wstring file = scratch.File(L"taken");
    WriteFile(file);
    DWORD error = 99;
    EXPECT_FALSE(CreateDirectoryPath(file.c_str(), &error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), error);
    EXPECT_FALSE(CreateDirectoryPath((file + L"\\below").c_str(), &error));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_EXISTS), error);
    EXPECT_TRUE(IsFile(file.c_str()));
}

TEST(FileSystemHelpers, CreateDirectoryPathResolvesRelativeAndUncPathsAsPaths)
{
    ScratchFolder scratch;
    CurrentDirectory here(scratch.Path());
    ASSERT_TRUE(here.Changed());
    const std::wstring name = UniqueName(L"rel");
    DWORD error = 99;
    // Relative to the current directory, not to the root of its drive.
    EXPECT_TRUE(CreateDirectoryPath((name + L"\\inner").c_str(), &error));
    EXPECT_EQ(0u, error);
    EXPECT_TRUE(IsDirectory(scratch.File((name + L"\\inner").c_str()).c_str()));
    EXPECT_FALSE(Exists(L"C:\\" + name));
    EXPECT_TRUE(CreateDirectoryPath((L"..\\" + scratch.Path().substr(scratch.Path().rfind(L'\\') + 1) + L"\\up").c_str(),
                                    &error));
    EXPECT_TRUE(IsDirectory(scratch.File(L"up").c_str()));

    // A share that cannot be reached fails; nothing is made on a local drive in its stead.
    const std::wstring server = UniqueName(L"nosrv");
    EXPECT_FALSE(CreateDirectoryPath((L"\\\\" + server + L"\\share\\folder").c_str(), &error));
    EXPECT_NE(0u, error);
    EXPECT_NE(183u, error);
    EXPECT_FALSE(Exists(L"C:\\" + server));
    EXPECT_FALSE(Exists(scratch.File(server.c_str())));
}

TEST(FileSystemHelpers, DeleteDirectoryTreeDeletesFilesAndOnlyOnRequestFolders)
{
    ScratchFolder scratch;
    WriteFile(scratch.File(L"plain.txt"));
    WriteFile(scratch.File(L"readonly.txt"));
    ASSERT_TRUE(::SetFileAttributesW(scratch.File(L"readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(::CreateDirectoryW(scratch.File(L"sub").c_str(), nullptr));
    WriteFile(scratch.File(L"sub\\inner.txt"));

    const std::wstring pattern = scratch.Path() + L"\\*.*";
    EXPECT_TRUE(DeleteDirectoryTree(pattern.c_str(), false));
    EXPECT_FALSE(Exists(scratch.File(L"plain.txt")));
    EXPECT_FALSE(Exists(scratch.File(L"readonly.txt")));
    EXPECT_TRUE(Exists(scratch.File(L"sub\\inner.txt")));

    EXPECT_TRUE(DeleteDirectoryTree(pattern.c_str(), true));
    EXPECT_FALSE(Exists(scratch.File(L"sub")));
    EXPECT_TRUE(IsDirectory(scratch.Path().c_str()));  // the pattern's own folder stays
    EXPECT_TRUE(DeleteDirectoryTree(pattern.c_str(), true));  // empty: "." and ".." only

    for (const wchar_t* bad : {static_cast<const wchar_t*>(nullptr), L"", L".", L"..", L"*.*"}) {
        EXPECT_FALSE(DeleteDirectoryTree(bad, true));
    }
    EXPECT_FALSE(DeleteDirectoryTree((scratch.Path() + L"\\").c_str(), true));
    EXPECT_FALSE(DeleteDirectoryTree((scratch.Path() + L"\\*.nomatch").c_str(), true));
}

TEST(FileSystemHelpers, ClearingReadOnlyChangesNoOtherAttribute)
{
    ScratchFolder scratch;
    const std::wstring plain = scratch.File(L"plain.txt");
    const std::wstring readOnly = scratch.File(L"readonly.txt");
    WriteFile(plain);
    WriteFile(readOnly);
    ASSERT_TRUE(::SetFileAttributesW(plain.c_str(), FILE_ATTRIBUTE_ARCHIVE));
    ASSERT_TRUE(::SetFileAttributesW(readOnly.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    // Held open without delete sharing, so that both files survive the delete attempt.
    HANDLE holdPlain = ::CreateFileW(plain.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    HANDLE holdReadOnly =
        ::CreateFileW(readOnly.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holdPlain);
    ASSERT_NE(INVALID_HANDLE_VALUE, holdReadOnly);
    const bool deleted = DeleteDirectoryTree((scratch.Path() + L"\\*.txt").c_str(), false);
    const DWORD plainAfter = Attributes(plain);
    const DWORD readOnlyAfter = Attributes(readOnly);
    ::CloseHandle(holdPlain);
    ::CloseHandle(holdReadOnly);

    EXPECT_FALSE(deleted);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), plainAfter);
    EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_ARCHIVE), readOnlyAfter);
}

TEST(FileSystemHelpers, RemoveDirectoryPathRemovesAWholeTree)
{
    ScratchFolder scratch;
    const std::wstring top = scratch.File(L"top");
    ASSERT_TRUE(CreateDirectoryPath((top + L"\\one\\two").c_str()));
    WriteFile(top + L"\\a.txt");
    WriteFile(top + L"\\one\\b.txt");
    WriteFile(top + L"\\one\\two\\c.txt");
    ASSERT_TRUE(::SetFileAttributesW((top + L"\\one\\two\\c.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(::SetFileAttributesW((top + L"\\one\\b.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(::SetFileAttributesW((top + L"\\one").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(RemoveDirectoryPath((top + L"\\").c_str()));
    EXPECT_FALSE(Exists(top));

    WriteFile(scratch.File(L"file.txt"));
    EXPECT_FALSE(RemoveDirectoryPath(scratch.File(L"file.txt").c_str()));
    EXPECT_TRUE(Exists(scratch.File(L"file.txt")));
    EXPECT_FALSE(RemoveDirectoryPath(scratch.File(L"missing").c_str()));
    EXPECT_FALSE(RemoveDirectoryPath(L""));
    EXPECT_FALSE(RemoveDirectoryPath(nullptr));
}

TEST(FileSystemHelpers, RecursiveDeleteRemovesFolderLinksWithoutEnteringThem)
{
    ScratchFolder scratch;
    const std::wstring target = scratch.File(L"target");
    const std::wstring tree = scratch.File(L"tree");
    ASSERT_TRUE(CreateDirectoryPath((target + L"\\deeper").c_str()));
    WriteFile(target + L"\\keep.txt");
    WriteFile(target + L"\\deeper\\keep2.txt");
    ASSERT_TRUE(::CreateDirectoryW(tree.c_str(), nullptr));
    WriteFile(tree + L"\\own.txt");
    if (!MakeFolderLink(tree, L"link", L"..\\target")) {
        GTEST_SKIP() << "no way to make a directory link here";
    }
    ASSERT_TRUE(Exists(tree + L"\\link\\keep.txt"));  // the link leads into the target

    const bool removed = RemoveDirectoryPath(tree.c_str());
    const bool ownDeleted = !Exists(tree + L"\\own.txt");
    const bool linkGone = !Exists(tree + L"\\link");
    RemoveHostLink(tree, L"link");

    EXPECT_TRUE(Exists(target + L"\\keep.txt"));
    EXPECT_TRUE(Exists(target + L"\\deeper\\keep2.txt"));
    EXPECT_TRUE(ownDeleted);
    // Wine cannot remove a host link as a link (it answers "not empty"); Windows removes it, and
    // then the tree.
    if (removed) {
        EXPECT_TRUE(linkGone);
        EXPECT_FALSE(Exists(tree));
    }

    // A link handed over directly is removed as a link too.
    if (MakeFolderLink(scratch.Path(), L"direct", L"target")) {
        const bool directRemoved = RemoveDirectoryPath(scratch.File(L"direct").c_str());
        const bool directGone = !Exists(scratch.File(L"direct"));
        RemoveHostLink(scratch.Path(), L"direct");
        EXPECT_TRUE(Exists(target + L"\\keep.txt"));
        EXPECT_EQ(directRemoved, directGone);
    }
}

TEST(FileSystemHelpers, RemoveDirectoryPathRefusesADriveRoot)
{
    // A spare drive letter whose root is a scratch folder: Wine's drives are the host's
    // "dosdevices" links, so the host's ln makes one.
    ScratchFolder scratch;
    WriteFile(scratch.File(L"precious.txt"));
    using UnixNameFn = char*(CDECL*)(const wchar_t*);
    auto unixName = reinterpret_cast<UnixNameFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    wchar_t prefix[MAX_PATH] = {};
    if (unixName == nullptr || ::GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH) == 0) {
        GTEST_SKIP() << "not under Wine; no spare drive to map";
    }
    wchar_t letter = 0;
    for (wchar_t candidate = L'Y'; candidate >= L'M' && letter == 0; --candidate) {
        const wchar_t root[] = {candidate, L':', L'\\', L'\0'};
        if (::GetDriveTypeW(root) == DRIVE_NO_ROOT_DIR) letter = candidate;
    }
    ASSERT_NE(0, letter);
    char* scratchUnix = unixName(scratch.Path().c_str());
    ASSERT_NE(nullptr, scratchUnix);
    std::wstring scratchHost;
    for (const char* p = scratchUnix; *p != '\0'; ++p) scratchHost.push_back(static_cast<unsigned char>(*p));
    ::HeapFree(::GetProcessHeap(), 0, scratchUnix);
    const wchar_t lower = static_cast<wchar_t>(std::towlower(letter));
    const std::wstring device = std::wstring(prefix) + L"/dosdevices/" + lower + L":";
    const std::wstring root = std::wstring(1, letter) + L":\\";
    ASSERT_TRUE(RunHostCommand(L"Z:\\bin\\ln", L"-s " + scratchHost + L" " + device, scratch.Path(),
                               [&] { return Exists(root + L"precious.txt"); }));

    const bool rootRemoved = RemoveDirectoryPath(root.c_str());
    const bool bareRemoved = RemoveDirectoryPath(root.substr(0, 2).c_str());
    // "Y:" with the current directory below the root names that directory, never the root.
    const std::wstring below = root + L"below";
    const bool belowMade = ::CreateDirectoryW(below.c_str(), nullptr) != FALSE;
    WriteFile(below + L"\\inside.txt");
    wchar_t savedDirectory[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, savedDirectory);
    const bool entered = ::SetCurrentDirectoryW(below.c_str()) != FALSE;
    (void)RemoveDirectoryPath(root.substr(0, 2).c_str());
    ::SetCurrentDirectoryW(savedDirectory);
    const bool insideGone = !Exists(below + L"\\inside.txt");
    const bool preciousKept = Exists(root + L"precious.txt");
    RunHostCommand(L"Z:\\bin\\rm", device, scratch.Path(), [&] { return !Exists(root); });

    EXPECT_FALSE(rootRemoved);
    EXPECT_FALSE(bareRemoved);
    EXPECT_TRUE(belowMade);
    EXPECT_TRUE(entered);
    EXPECT_TRUE(insideGone);
    EXPECT_TRUE(preciousKept);
    EXPECT_TRUE(Exists(scratch.File(L"precious.txt")));
}

TEST(FileSystemHelpers, ModuleFileNameWithoutFolder)
{
    std::wstring name = L"untouched";
    ASSERT_TRUE(GetModuleFileNameOnly(nullptr, name));
    EXPECT_EQ(L"core_tests.exe", name);
    ASSERT_TRUE(GetModuleFileNameOnly(::GetModuleHandleW(L"kernel32.dll"), name));
    EXPECT_EQ(0, ::_wcsicmp(L"kernel32.dll", name.c_str())) << name;

    name = L"untouched";
    EXPECT_FALSE(GetModuleFileNameOnly(reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x10)), name));
    EXPECT_EQ(L"untouched", name);

    // A module whose path is longer than MAX_PATH.
    ScratchFolder scratch;
    std::wstring deep = L"\\\\?\\" + scratch.Path();
    for (int i = 0; i < 7; ++i) deep += L"\\" + std::wstring(40, static_cast<wchar_t>(L'a' + i));
    ASSERT_TRUE(CreateDirectoryPath(deep.c_str()));
    wchar_t program[MAX_PATH] = {};
    ASSERT_NE(0u, ::GetModuleFileNameW(nullptr, program, MAX_PATH));
    std::wstring probe(program);
    probe = probe.substr(0, probe.rfind(L'\\')) + L"\\OrdwellVersionProbe.dll";
    const std::wstring copy = deep + L"\\OrdwellLongPathProbe.dll";
    ASSERT_TRUE(::CopyFileW(probe.c_str(), copy.c_str(), FALSE));
    HMODULE module = ::LoadLibraryExW(copy.c_str(), nullptr, 0);
    const std::wstring deepTop = L"\\\\?\\" + scratch.File(L"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa");
    if (module == nullptr) {
        const DWORD loadError = ::GetLastError();
        (void)RemoveDirectoryPath(deepTop.c_str());
        GTEST_SKIP() << "a module cannot be loaded from a long path here: " << loadError;
    }
    wchar_t truncated[MAX_PATH];
    EXPECT_EQ(static_cast<DWORD>(MAX_PATH), ::GetModuleFileNameW(module, truncated, MAX_PATH));
    EXPECT_TRUE(GetModuleFileNameOnly(module, name));
    ::FreeLibrary(module);
    EXPECT_EQ(L"OrdwellLongPathProbe.dll", name);
    EXPECT_TRUE(RemoveDirectoryPath(deepTop.c_str()));
}

}  // namespace
}  // namespace Fundor
