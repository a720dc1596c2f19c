#include "access/CKvUtilLib.h"
#include "access/KvUpdateLauncher.h"
#include "access/tests/KvUtilTestSupport.h"
#include "access/tests/LaunchTestSupport.h"
#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Fundor::testing::ScratchFolder;
using namespace KvUtilTesting;

namespace {

void MakeFolder(const std::wstring& path, DWORD extraAttributes = 0)
{
    ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << GetLastError();
    if (extraAttributes != 0) {
        ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_DIRECTORY | extraAttributes));
        ASSERT_EQ(FILE_ATTRIBUTE_DIRECTORY | extraAttributes, GetFileAttributesW(path.c_str()))
            << "the file system must keep the attribute for this test";
    }
}

void MakeFile(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
}

std::wstring Newest(const std::wstring& folder, DWORD count = MAX_PATH)
{
    std::vector<wchar_t> out(count + 1, L'#');
    const int found = FindNewestVersionFolder(folder.c_str(), out.data(), count);
    const std::wstring text(out.data(), wcsnlen(out.data(), count));
    return found != 0 ? text : L"<none:" + text + L">";
}

// Sub-folders matching "*,*,*,*" in the order the file system enumerates them.
std::vector<std::wstring> EnumerationOrder(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry = {};
    HANDLE find = FindFirstFileW((folder + L"\\*,*,*,*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do names.push_back(entry.cFileName);
    while (FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

TEST(VersionFolder, HighestFourNumberFolderWinsAndAnythingElseIsIgnored)
{
    ScratchFolder root;
    const std::wstring& folder = root.Path();
    EXPECT_EQ(L"<none:>", Newest(folder));
    MakeFolder(folder + L"\\9,9,9,9");
    MakeFolder(folder + L"\\10,0,0,1");
    MakeFolder(folder + L"\\10,0,0,0");
    MakeFolder(folder + L"\\1,2,3");
    MakeFolder(folder + L"\\11,0,0,0", FILE_ATTRIBUTE_HIDDEN);
    // (Wine keeps no read-only attribute on a folder, so that case is not built here.)
    MakeFile(folder + L"\\12,0,0,0");
    // Neither a minus sign nor a number past 32 bits wraps into a huge version.
    MakeFolder(folder + L"\\-1,0,0,0");
    MakeFolder(folder + L"\\4294967296,0,0,0");
    MakeFolder(folder + L"\\10,x,0,0");
    EXPECT_EQ(folder + L"\\10,0,0,1", Newest(folder));

    // The full path must fit the caller's buffer; a cut path is never handed out.
    const std::wstring expected = folder + L"\\10,0,0,1";
    EXPECT_EQ(expected, Newest(folder, static_cast<DWORD>(expected.size() + 1)));
    EXPECT_EQ(L"<none:>", Newest(folder, static_cast<DWORD>(expected.size())));

    wchar_t out[MAX_PATH];
    EXPECT_EQ(0, FindNewestVersionFolder(nullptr, out, MAX_PATH));
    EXPECT_EQ(0, FindNewestVersionFolder(L"", out, MAX_PATH));
    EXPECT_EQ(0, FindNewestVersionFolder(folder.c_str(), nullptr, MAX_PATH));
    EXPECT_EQ(0, FindNewestVersionFolder(folder.c_str(), out, 0));
}

TEST(VersionFolder, EqualVersionsKeepTheFolderEnumeratedFirst)
{
    ScratchFolder root;
    const std::wstring& folder = root.Path();
    MakeFolder(folder + L"\\2,0,0,5");
    MakeFolder(folder + L"\\02,0,0,5");
    MakeFolder(folder + L"\\2,00,0,05");
    MakeFolder(folder + L"\\1,9,9,9");
    const std::vector<std::wstring> order = EnumerationOrder(folder);
    ASSERT_EQ(4u, order.size());
    std::wstring firstOfTheTie;
    for (const std::wstring& name : order) {
        if (name != L"1,9,9,9") {
            firstOfTheTie = name;
            break;
        }
    }
    EXPECT_EQ(folder + L"\\" + firstOfTheTie, Newest(folder));
}

TEST(VersionFolder, NamesReadAsFourUnsignedNumbers)
{
    std::array<DWORD, 4> version{};
    ASSERT_TRUE(ParseVersionFolderName(L"10,0,0,1", version));
    EXPECT_EQ((std::array<DWORD, 4>{10, 0, 0, 1}), version);
    ASSERT_TRUE(ParseVersionFolderName(L"4294967295, 7,+8,9 and more", version));
    EXPECT_EQ((std::array<DWORD, 4>{4294967295u, 7, 8, 9}), version);
    for (const wchar_t* refused : {L"1,2,3", L"", L"1,2,3,", L"1,2,,4", L"1;2;3;4", L"-1,2,3,4", L"1,2,3,-4",
                                   L"4294967296,0,0,0", L"a,b,c,d", L"1 ,2,3,4"}) {
        EXPECT_FALSE(ParseVersionFolderName(refused, version)) << refused;
    }
}

TEST(KvUtilLibBinding, NothingBoundAnswers120AndCallsNothing)
{
    CKvUtilLib utility;
    EXPECT_EQ(nullptr, utility.Module());
    EXPECT_STREQ(L"KvUtil.dll", utility.FileName());
    for (std::size_t slot = 0; slot < kKvUtilExportCount; ++slot) EXPECT_EQ(nullptr, utility.Export(slot));
    DWORD flag = 7;
    EXPECT_EQ(120u, utility.KvIsNTAdmin(&flag));
    EXPECT_EQ(7u, flag);
    EXPECT_TRUE(utility.BindExports());
}

TEST(KvUtilLibBinding, ProcessAdminAgreesWithTheTokenMembershipCheck)
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                         0, 0, 0, 0, &administrators));
    BOOL member = FALSE;
    ASSERT_TRUE(CheckTokenMembership(nullptr, administrators, &member));
    FreeSid(administrators);
    DWORD memberButDisabled = 7;
    EXPECT_EQ(member ? 1 : 0, CKvUtilLib::IsProcessAdmin(&memberButDisabled));
    if (member) {
        EXPECT_EQ(0u, memberButDisabled);
    }
    EXPECT_EQ(member ? 1 : 0, CKvUtilLib::IsProcessAdmin(nullptr));
}

TEST(KvUtilLibBinding, AFolderWhosePathDoesNotFitFailsThatAttempt)
{
    ScratchFolder root;
    // 260 characters minus "\KvUtil.dll" and one more: the library path cannot be built.
    std::wstring folder = root.Path() + L"\\";
    folder.append(MAX_PATH - 11 - folder.size(), L'a');
    CKvUtilLib utility;
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), utility.LoadFrom(folder.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), utility.LoadFrom((folder + L"\\").c_str()));
    // One character shorter fits, and is then simply not there.
    folder.pop_back();
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), utility.LoadFrom(folder.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), utility.LoadFrom(root.Path().c_str()));
    EXPECT_EQ(nullptr, utility.Module());
}

// ---------------------------------------------------------------------------------------------
// Real loads of the signed stand-ins, trusted through the validation-service stand-in. Each test
// needs a process of its own (as CTest runs them): the validator is built once per process.

using RealBinding = RealKvUtilBinding;

TEST_F(RealBinding, RegistryFolderBindsTheTrustedLibraryAndKvIsNTAdminAnswersBothWays)
{
    const std::wstring library = SignedKvUtilFolder() + L"\\KvUtil.dll";
    Trust({library});
    m_installDir.Set(SignedKvUtilFolder());
    {
        CKvUtilLib utility;
        ASSERT_EQ(0u, utility.Initialize());
        ASSERT_NE(nullptr, utility.Module());
        EXPECT_EQ(0, _wcsicmp(library.c_str(), ModulePath(utility.Module()).c_str()));
        for (std::size_t slot = 0; slot < kKvUtilExportCount; ++slot) {
            EXPECT_NE(nullptr, utility.Export(slot)) << kKvUtilExportNames[slot];
            EXPECT_EQ(GetProcAddress(utility.Module(), kKvUtilExportNames[slot]), utility.Export(slot));
        }

        DWORD flag = 7;
        SetEnvironmentVariableW(kKvUtilStandInAdminVariable, L"1");
        EXPECT_EQ(0u, utility.KvIsNTAdmin(&flag));
        EXPECT_EQ(1u, flag);
        SetEnvironmentVariableW(kKvUtilStandInAdminVariable, L"0");
        EXPECT_EQ(0u, utility.KvIsNTAdmin(&flag));
        EXPECT_EQ(0u, flag);
        flag = 7;
        SetEnvironmentVariableW(kKvUtilStandInAdminVariable, L"error:1314");
        EXPECT_EQ(1314u, utility.KvIsNTAdmin(&flag));
        EXPECT_EQ(7u, flag);
        auto calls = reinterpret_cast<KvUtilStandInCallCountFunction>(
            reinterpret_cast<void*>(GetProcAddress(utility.Module(), kKvUtilStandInCallCountExport)));
        ASSERT_NE(nullptr, calls);
        EXPECT_EQ(3, calls());
    }
    // The binding's end frees the library.
    EXPECT_EQ(nullptr, GetModuleHandleW(library.c_str()));
}

TEST_F(RealBinding, AnUntrustedLibraryIsNeverLoaded)
{
    const std::wstring library = SignedKvUtilFolder() + L"\\KvUtil.dll";
    Trust({});
    m_installDir.Set(SignedKvUtilFolder());
    CKvUtilLib utility;
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), utility.Initialize());
    EXPECT_EQ(nullptr, utility.Module());
    EXPECT_EQ(nullptr, GetModuleHandleW(library.c_str()));
    DWORD flag = 7;
    EXPECT_EQ(120u, utility.KvIsNTAdmin(&flag));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), utility.LoadFrom(SignedKvUtilFolder().c_str()));
    EXPECT_EQ(nullptr, GetModuleHandleW(library.c_str()));

    // The very same file, once loaded in the process, is taken as it is.
    HMODULE loaded = LoadLibraryW(library.c_str());
    ASSERT_NE(nullptr, loaded);
    EXPECT_EQ(0u, utility.LoadFrom(SignedKvUtilFolder().c_str()));
    EXPECT_EQ(loaded, utility.Module());
    FreeLibrary(loaded);
}

TEST_F(RealBinding, ALibraryWithoutKvIsNTAdminBindsTheRestAndAnswers120)
{
    const std::wstring library = SignedKvUtilWithoutIsNTAdminFolder() + L"\\KvUtil.dll";
    Trust({library});
    m_installDir.Set(SignedKvUtilWithoutIsNTAdminFolder());
    CKvUtilLib utility;
    ASSERT_EQ(0u, utility.Initialize());
    EXPECT_EQ(0, _wcsicmp(library.c_str(), ModulePath(utility.Module()).c_str()));
    for (std::size_t slot = 0; slot < kKvUtilExportCount; ++slot) {
        if (slot == kKvIsNTAdminSlot) {
            EXPECT_EQ(nullptr, utility.Export(slot));
        } else {
            EXPECT_NE(nullptr, utility.Export(slot)) << kKvUtilExportNames[slot];
        }
    }
    DWORD flag = 7;
    SetEnvironmentVariableW(kKvUtilStandInAdminVariable, L"1");
    EXPECT_EQ(120u, utility.KvIsNTAdmin(&flag));
    EXPECT_EQ(7u, flag);
}

TEST_F(RealBinding, NewestVersionFolderUnderCommonFilesIsLoadedAndRemembered)
{
    const std::wstring signedLibrary = SignedKvUtilFolder() + L"\\KvUtil.dll";
    const std::wstring versions = m_commonFiles.Path() + L"\\kvutil";
    MakeFolder(versions);
    std::vector<std::wstring> trusted;
    for (const wchar_t* name : {L"9,9,9,9", L"10,0,0,1", L"11,0,0,0"}) {
        const std::wstring folder = versions + L"\\" + name;
        MakeFolder(folder, name == std::wstring(L"11,0,0,0") ? FILE_ATTRIBUTE_HIDDEN : 0);
        ASSERT_TRUE(CopyFileW(signedLibrary.c_str(), (folder + L"\\KvUtil.dll").c_str(), TRUE));
        trusted.push_back(folder + L"\\KvUtil.dll");
    }
    // A library directly in the common-files folder comes only after the version folders.
    ASSERT_TRUE(CopyFileW(signedLibrary.c_str(), m_commonFiles.File(L"KvUtil.dll").c_str(), TRUE));
    trusted.push_back(m_commonFiles.File(L"KvUtil.dll"));
    Trust(trusted);
    // A remembered folder without the library falls through.
    ScratchFolder empty;
    m_installDir.Set(empty.Path());

    const std::wstring expected = versions + L"\\10,0,0,1";
    {
        CKvUtilLib utility;
        ASSERT_EQ(0u, utility.Initialize());
        EXPECT_EQ(0, _wcsicmp((expected + L"\\KvUtil.dll").c_str(), ModulePath(utility.Module()).c_str()));
        EXPECT_NE(nullptr, utility.Export(kKvIsNTAdminSlot));
    }
    if (CKvUtilLib::IsProcessAdmin(nullptr) != 0) {
        EXPECT_EQ(expected, m_installDir.Get().value_or(L"<none>"));
    } else {
        EXPECT_EQ(empty.Path(), m_installDir.Get().value_or(L"<none>"));
    }

    // Without a version folder the common-files folder itself is the last place.
    m_installDir.Remove();
    for (const wchar_t* name : {L"9,9,9,9", L"10,0,0,1", L"11,0,0,0"}) {
        const std::wstring folder = versions + L"\\" + name;
        SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_DIRECTORY);
        ASSERT_TRUE(DeleteFileW((folder + L"\\KvUtil.dll").c_str()));
        ASSERT_TRUE(RemoveDirectoryW(folder.c_str()));
    }
    CKvUtilLib utility;
    ASSERT_EQ(0u, utility.Initialize());
    EXPECT_EQ(0, _wcsicmp(m_commonFiles.File(L"KvUtil.dll").c_str(), ModulePath(utility.Module()).c_str()));
    EXPECT_EQ(std::nullopt, m_installDir.Get());
}

// Runs the probe copied into folder, under token when one is given; returns its report
// "<Initialize result>\n<bound library path>\n<IsProcessAdmin>,<member but disabled>".
std::wstring RunProbe(const std::wstring& folder, const std::wstring& report, HANDLE token = nullptr)
{
    const Fundor::testing::ChildProcess probe(folder + L"\\KvUtilProbe.exe", L"\"" + report + L"\"",
                                              {.flags = CREATE_NO_WINDOW, .token = token});
    if (!probe.valid()) {
        return L"<not started: " + std::to_wstring(GetLastError()) + L">";
    }
    EXPECT_TRUE(probe.Wait(60000).has_value());
    return ReadWholeFile(report);
}

std::wstring CopyProbeInto(const ScratchFolder& folder)
{
    const std::wstring copy = folder.File(L"KvUtilProbe.exe");
    EXPECT_TRUE(CopyFileW((TrustTesting::ProgramFolder() + L"\\KvUtilProbe.exe").c_str(), copy.c_str(), TRUE));
    return copy;
}

std::wstring ProcessAdminLine()
{
    DWORD memberButDisabled = 0;
    const int admin = CKvUtilLib::IsProcessAdmin(&memberButDisabled);
    return std::to_wstring(admin) + L"," + std::to_wstring(memberButDisabled);
}

TEST_F(RealBinding, TheProgramsOwnFolderWinsOverTheRegistryFolder)
{
    ScratchFolder program;
    const std::wstring signedLibrary = SignedKvUtilFolder() + L"\\KvUtil.dll";
    CopyProbeInto(program);
    ASSERT_TRUE(CopyFileW(signedLibrary.c_str(), program.File(L"KvUtil.dll").c_str(), TRUE));
    Trust({program.File(L"KvUtil.dll"), signedLibrary});
    m_installDir.Set(SignedKvUtilFolder());

    std::wstring report = RunProbe(program.Path(), program.File(L"report-1.txt"));
    EXPECT_EQ(0, _wcsicmp((L"0\n" + program.File(L"KvUtil.dll") + L"\n" + ProcessAdminLine()).c_str(),
                          report.c_str())) << report;

    // The registry folder is the next place.
    ASSERT_TRUE(DeleteFileW(program.File(L"KvUtil.dll").c_str()));
    report = RunProbe(program.Path(), program.File(L"report-2.txt"));
    EXPECT_EQ(0, _wcsicmp((L"0\n" + signedLibrary + L"\n" + ProcessAdminLine()).c_str(), report.c_str()))
        << report;
}

TEST_F(RealBinding, OnlyAnAdministratorProcessRemembersTheVersionFolder)
{
    const std::wstring folder = m_commonFiles.Path() + L"\\kvutil\\3,0,0,0";
    MakeFolder(m_commonFiles.Path() + L"\\kvutil");
    MakeFolder(folder);
    ASSERT_TRUE(CopyFileW((SignedKvUtilFolder() + L"\\KvUtil.dll").c_str(), (folder + L"\\KvUtil.dll").c_str(), TRUE));
    Trust({folder + L"\\KvUtil.dll"});
    ScratchFolder program;
    CopyProbeInto(program);

    // The same user with the Administrators group kept for deny only.
    HANDLE own = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own));
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    ASSERT_TRUE(AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0,
                                         0, 0, 0, 0, &administrators));
    SID_AND_ATTRIBUTES denyOnly = {administrators, 0};
    HANDLE restricted = nullptr;
    const BOOL made = CreateRestrictedToken(own, 0, 1, &denyOnly, 0, nullptr, 0, nullptr, &restricted);
    FreeSid(administrators);
    CloseHandle(own);
    ASSERT_TRUE(made) << GetLastError();
    std::wstring report = RunProbe(program.Path(), program.File(L"report-restricted.txt"), restricted);
    CloseHandle(restricted);
    EXPECT_EQ(0, _wcsicmp((L"0\n" + folder + L"\\KvUtil.dll\n0,1").c_str(), report.c_str())) << report;
    EXPECT_EQ(std::nullopt, m_installDir.Get());

    report = RunProbe(program.Path(), program.File(L"report-admin.txt"));
    EXPECT_EQ(0, _wcsicmp((L"0\n" + folder + L"\\KvUtil.dll\n1,0").c_str(), report.c_str())) << report;
    EXPECT_EQ(folder, m_installDir.Get().value_or(L"<none>"));
}

// Waits for the updater stand-in's record; empty when none came.
std::wstring WaitForRecord(const std::wstring& log)
{
    for (int waited = 0; waited < 300; ++waited) {
        if (GetFileAttributesW(log.c_str()) != INVALID_FILE_ATTRIBUTES) return ReadWholeFile(log);
        Sleep(100);
    }
    return {};
}

TEST_F(RealBinding, LaunchKvUpdateStartsTheTrustedUpdaterBesideItsServer)
{
    const std::wstring updater = SignedKvUpdateFolder() + L"\\KvUpdate.exe";
    ScratchFolder records;
    const std::wstring log = records.File(L"kvupdate.log");
    SetEnvironmentVariableW(L"ORDWELL_KVUPDATE_LOG", log.c_str());
    const wchar_t* arguments = L"/url \"sarn://help/page one\" -silent";

    // No utility library anywhere: its binding's result.
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), LaunchKvUpdate(arguments));

    m_installDir.Set(SignedKvUtilFolder());
    Trust({SignedKvUtilFolder() + L"\\KvUtil.dll"});
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), LaunchKvUpdate(arguments));
    RegisterUpdaterServer(L"KvUpdateHost.exe");
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_NAME), LaunchKvUpdate(arguments));
    // The updater beside the server, not yet trusted: never started.
    RegisterUpdaterServer(L"\"" + SignedKvUpdateFolder() + L"\\KvUpdateHost.exe\"");
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), LaunchKvUpdate(arguments));

    Trust({SignedKvUtilFolder() + L"\\KvUtil.dll", updater});
    ASSERT_EQ(0u, LaunchKvUpdate(arguments));
    const std::wstring record = WaitForRecord(log);
    const std::size_t lineEnd = record.find(L'\n');
    ASSERT_NE(std::wstring::npos, lineEnd) << record;
    EXPECT_EQ(0, _wcsicmp(updater.c_str(), record.substr(0, lineEnd).c_str())) << record;
    EXPECT_EQ(arguments, record.substr(lineEnd + 1));
    // The temporary binding is gone with the call.
    EXPECT_EQ(nullptr, GetModuleHandleW((SignedKvUtilFolder() + L"\\KvUtil.dll").c_str()));
}

TEST_F(RealBinding, LaunchKvUpdateStartsTheFileItCheckedThoughALinkIsRePointedInBetween)
{
    LaunchTesting::RePointableUpdater updater(SignedKvUpdateFolder() + L"\\KvUpdate.exe", UnsignedKvUpdate());
    ScratchFolder records;
    const std::wstring log = records.File(L"kvupdate.log");
    SetEnvironmentVariableW(L"ORDWELL_KVUPDATE_LOG", log.c_str());
    m_installDir.Set(SignedKvUtilFolder());
    // Trusted under both of its names, so only the re-pointing can bring in the planted file.
    Trust({SignedKvUtilFolder() + L"\\KvUtil.dll", updater.checked, updater.viaLink});
    RegisterUpdaterServer(updater.link.path() + L"\\KvUpdateHost.exe");
    {
        LaunchTesting::ShellStartSpy spy([&] { updater.RePoint(); });
        ASSERT_EQ(0u, LaunchKvUpdate(L"-x"));
        ASSERT_EQ(1u, spy.files().size());
        EXPECT_EQ(0, _wcsicmp(updater.checked.c_str(), spy.files()[0].c_str()));
    }
    const auto record = LaunchTesting::TakeRecord(log);
    ASSERT_TRUE(record.has_value());
    EXPECT_EQ(0, _wcsicmp(updater.checked.c_str(), record->first.c_str()));
    EXPECT_EQ(L"-x", record->second);
}

TEST_F(RealBinding, LaunchKvUpdateReturnsTheShellsCodeWhenTheStartFails)
{
    // A trusted "KvUpdate.exe" that is no program: the shell refuses to start it.
    ScratchFolder server;
    HANDLE file = CreateFileW(server.File(L"KvUpdate.exe").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, "not a program", 13, &written, nullptr);
    CloseHandle(file);
    m_installDir.Set(SignedKvUtilFolder());
    Trust({SignedKvUtilFolder() + L"\\KvUtil.dll", server.File(L"KvUpdate.exe")});
    RegisterUpdaterServer(server.File(L"KvUpdateHost.exe"));
    const DWORD result = LaunchKvUpdate(L"-x");
    // The shell's code as it stands: a file that is no program is a bad format.
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_FORMAT), result);
}

}  // namespace
