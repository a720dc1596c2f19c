#include "access/ModuleTrust.h"
#include "access/TrustedPublisherList.h"
#include "access/tests/TrustTestSupport.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using namespace TrustTesting;
using Fundor::testing::ScratchFolder;
using Fundor::testing::UniqueName;
using ::testing::_;
using ::testing::Return;

namespace {

std::wstring ListFile(const wchar_t* name) { return SignedFile((std::wstring(L"lists\\") + name).c_str()); }

struct ListOnDisk {
    ScratchFolder folder;
    std::wstring atom = UniqueName(L"TrustAtom");
    std::wstring path = folder.File(L"trusted.js");
    TrustedPublisherList list{path, ListSignerPin(), atom, 7, 300};
    ~ListOnDisk()
    {
        while (ATOM found = GlobalFindAtomW(atom.c_str())) GlobalDeleteAtom(found);
    }
    void Place(const wchar_t* name) { ASSERT_TRUE(CopyFileW(ListFile(name).c_str(), path.c_str(), FALSE)); }
    int Check(const wchar_t* file) { return CheckAgainstTrustLists(SignedFile(file).c_str(), TestBuiltInList(), list); }
};

TEST(CheckAgainstTrustLists, BuiltInListAppliesWhileNoListFileIsInForce)
{
    ListOnDisk disk;  // no file at all
    EXPECT_EQ(1, disk.Check(L"good.dll"));
    EXPECT_EQ(0, disk.Check(L"othername.dll"));
    EXPECT_FALSE(disk.list.IsLoaded());
}

TEST(CheckAgainstTrustLists, ANewerListFileReplacesTheBuiltInList)
{
    ListOnDisk disk;
    disk.Place(L"v8-other.js");
    EXPECT_EQ(1, disk.Check(L"good.dll"));  // the built-in list answers before the file is loaded
    EXPECT_FALSE(disk.list.IsLoaded());
    EXPECT_EQ(1, disk.Check(L"othername.dll"));  // loads the file, whose list names this signer
    ASSERT_TRUE(disk.list.IsLoaded());
    EXPECT_EQ(0, disk.Check(L"good.dll"));  // named only by the built-in list: no longer trusted
    EXPECT_EQ(1, disk.Check(L"othername.dll"));
    EXPECT_EQ(1, CheckSignerTrust(SignedFile(L"othername.dll").c_str(), TestBuiltInList(), disk.list));
}

TEST(CheckAgainstTrustLists, AListFileNotAboveTheBuiltInVersionNeverTakesItsPlace)
{
    ListOnDisk disk;
    disk.Place(L"v7-other.js");
    EXPECT_EQ(0, disk.Check(L"othername.dll"));
    EXPECT_TRUE(disk.list.IsLoaded());       // loaded, yet not in force
    EXPECT_EQ(1, disk.Check(L"good.dll"));   // the built-in list still decides
    EXPECT_EQ(0, disk.Check(L"othername.dll"));
}

TEST(CheckAgainstTrustLists, AReplacedListIsReloadedOnceTheAtomIsSeen)
{
    ListOnDisk disk;
    disk.Place(L"v8-other.js");
    ASSERT_EQ(1, disk.Check(L"othername.dll"));
    EXPECT_EQ(0, disk.Check(L"good.dll"));
    // Another user installs version 9 (which names both makers) and sets the atom.
    TrustedPublisherList writer(disk.path, ListSignerPin(), disk.atom, 7, 300);
    ASSERT_TRUE(writer.Replace(ListFile(L"v9-both.js").c_str()));
    EXPECT_EQ(1, disk.Check(L"good.dll"));
    TrustedPublisherList::SharedView view(disk.list);
    EXPECT_EQ(9u, view.version());
}

TEST(CheckAgainstTrustLists, AFailedReloadFallsBackToTheBuiltInListNotToAnySigner)
{
    ListOnDisk disk;
    disk.Place(L"v8-other.js");
    ASSERT_EQ(1, disk.Check(L"othername.dll"));
    // The file on disk turns into an unsigned copy and the atom appears: the reload fails.
    disk.Place(L"v8-other-unsigned.js");
    GlobalAddAtomW(disk.atom.c_str());
    EXPECT_EQ(1, disk.Check(L"good.dll"));  // built-in list in force again
    EXPECT_FALSE(disk.list.IsLoaded());
    EXPECT_EQ(0, disk.Check(L"othername.dll"));
    EXPECT_EQ(0, disk.Check(L"unsigned.dll"));
}

TEST(CheckAgainstTrustLists, AReloadedListNotAboveTheBuiltInVersionLeavesTheBuiltInListDeciding)
{
    ListOnDisk disk;
    disk.Place(L"v8-other.js");
    ASSERT_EQ(1, disk.Check(L"othername.dll"));
    // The file becomes a version-7 list and the atom appears: the reload succeeds, but that list
    // is not in force, so the built-in one decides.
    disk.Place(L"v7-other.js");
    GlobalAddAtomW(disk.atom.c_str());
    EXPECT_EQ(1, disk.Check(L"good.dll"));
    EXPECT_TRUE(disk.list.IsLoaded());
    EXPECT_EQ(0, disk.Check(L"othername.dll"));
}

TEST(CheckAgainstTrustLists, ASkipListInTheFilePassesOverItsSerial)
{
    ListOnDisk disk;
    disk.Place(L"v8-skipother.js");  // names "Other Maker Ltd" but skips its serial 1002
    EXPECT_EQ(0, disk.Check(L"othername.dll"));
    EXPECT_TRUE(disk.list.IsLoaded());
}

TEST(CheckSignerTrust, AFailingCabinetInstallsItsNewerListAndIsCheckedAgain)
{
    ListOnDisk disk;
    const std::wstring cabinet = SignedFile(L"cabs\\v9-both.cab");
    // The same cabinet under a ".dll" name is never opened as a cabinet.
    const std::wstring disguised = disk.folder.File(L"cabinet.dll");
    ASSERT_TRUE(CopyFileW(cabinet.c_str(), disguised.c_str(), FALSE));
    EXPECT_EQ(0, CheckSignerTrust(disguised.c_str(), TestBuiltInList(), disk.list));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(disk.path.c_str()));

    const std::wstring upper = disk.folder.File(L"LIST.CAB");
    ASSERT_TRUE(CopyFileW(cabinet.c_str(), upper.c_str(), FALSE));
    EXPECT_EQ(1, CheckSignerTrust(upper.c_str(), TestBuiltInList(), disk.list));  // signed by "Other Maker Ltd"
    TrustedPublisherList::SharedView view(disk.list);
    EXPECT_EQ(9u, view.version());
}

TEST(CheckSignerTrust, ACabinetWhoseListIsNotNewerStaysUntrusted)
{
    ListOnDisk disk;
    EXPECT_EQ(0, CheckSignerTrust(SignedFile(L"cabs\\v7-other.cab").c_str(), TestBuiltInList(), disk.list));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(disk.path.c_str()));
    disk.Place(L"v9-both.js");
    // v8 is not above the list on disk; the cabinet's signer is named by v9 all the same.
    EXPECT_EQ(1, CheckSignerTrust(SignedFile(L"cabs\\v8-other.cab").c_str(), TestBuiltInList(), disk.list));
    TrustedPublisherList::SharedView view(disk.list);
    EXPECT_EQ(9u, view.version());
}

class MockValidator final : public ModuleValidator {
public:
    MOCK_METHOD(DWORD, IsTrusted, (const wchar_t* path), (override));
};

TEST(IsFileTrusted, TheValidatorIsAskedFirstAndTheSignerListsDecideOtherwise)
{
    ListOnDisk disk;
    MockValidator validator;
    const std::wstring unsignedFile = SignedFile(L"unsigned.dll");
    const std::wstring good = SignedFile(L"good.dll");
    EXPECT_CALL(validator, IsTrusted(_)).WillRepeatedly(Return(5));
    EXPECT_CALL(validator, IsTrusted(::testing::StrEq(unsignedFile.c_str()))).WillOnce(Return(0)).WillOnce(Return(5));
    EXPECT_EQ(0u, IsFileTrusted(&validator, unsignedFile.c_str(), TestBuiltInList(), disk.list));
    EXPECT_EQ(5u, IsFileTrusted(&validator, unsignedFile.c_str(), TestBuiltInList(), disk.list));
    EXPECT_EQ(0u, IsFileTrusted(&validator, good.c_str(), TestBuiltInList(), disk.list));
    EXPECT_EQ(5u, IsFileTrusted(&validator, SignedFile(L"tampered.dll").c_str(), TestBuiltInList(), disk.list));
    EXPECT_EQ(0u, IsFileTrusted(nullptr, good.c_str(), TestBuiltInList(), disk.list));
}

TEST(IsFileTrusted, AnEmptyPathConsultsNothing)
{
    ListOnDisk disk;
    MockValidator validator;
    EXPECT_CALL(validator, IsTrusted(_)).Times(0);
    EXPECT_EQ(87u, IsFileTrusted(&validator, L"", TestBuiltInList(), disk.list));
    EXPECT_EQ(87u, IsFileTrusted(&validator, nullptr, TestBuiltInList(), disk.list));
    EXPECT_EQ(87u, IsFileTrusted(&validator, L""));
    EXPECT_EQ(87u, ValidateModulePath(L""));
    EXPECT_EQ(87u, ValidateModulePath(nullptr));
}

TEST(IsFileTrusted, AThrowingValidatorAnswersNotTrusted)
{
    ListOnDisk disk;
    MockValidator validator;
    EXPECT_CALL(validator, IsTrusted(_)).WillRepeatedly(::testing::Throw(std::bad_alloc()));
    EXPECT_EQ(5u, IsFileTrusted(&validator, SignedFile(L"good.dll").c_str(), TestBuiltInList(), disk.list));
}

TEST(ModuleTrust, TestSignedFilesAreNotTrustedByTheProductionLists)
{
    HalvornKeyTurn noService;  // the process-wide validator finds no service
    ASSERT_TRUE(noService.owned());
    // No validation service in the test prefix, and the test roots are not the maker's.
    EXPECT_EQ(5u, ValidateModulePath(SignedFile(L"good.dll").c_str()));
    EXPECT_EQ(5u, ValidateModulePath(SignedFile(L"unsigned.dll").c_str()));
    EXPECT_EQ(7u, BuiltInSignerList().version);
    EXPECT_EQ(6u, BuiltInSignerList().thumbprintCount);
    EXPECT_STREQ(L"Velmo Corporation", BuiltInSignerList().organisationNames[0]);
    EXPECT_STREQ(L"Tervane, LLC.", BuiltInSignerList().organisationNames[3]);
    EXPECT_EQ(nullptr, BuiltInSignerList().organisationNames[4]);
    EXPECT_EQ(nullptr, BuiltInSignerList().serialSkipList);
}

TEST(ModuleTrust, CheckedLoadRefusesUntrustedAndRelativePathsWithoutLoading)
{
    HalvornKeyTurn noService;  // the process-wide validator finds no service
    ASSERT_TRUE(noService.owned());
    const std::wstring unsignedFile = SignedFile(L"unsigned.dll");
    SetLastError(0);
    EXPECT_EQ(nullptr, LoadValidatedLibraryEx(unsignedFile.c_str(), 0));
    EXPECT_EQ(5u, GetLastError());
    EXPECT_EQ(nullptr, GetModuleHandleW(unsignedFile.c_str()));
    for (const wchar_t* relative : {L"unsigned.dll", L"files\\unsigned.dll", L""}) {
        SetLastError(0);
        EXPECT_EQ(nullptr, LoadValidatedLibraryEx(relative, 0)) << relative;
        EXPECT_EQ(87u, GetLastError()) << relative;
    }
}

TEST(ModuleTrust, TheFileIsHeldAgainstWritesAndDeletionFromCheckToLoad)
{
    ScratchFolder folder;
    const std::wstring copy = folder.File(L"held.dll");
    ASSERT_TRUE(CopyFileW(SignedFile(L"good.dll").c_str(), copy.c_str(), FALSE));
    struct Probe {
        DWORD writeError = 0;
        bool deleted = true;
        bool readable = false;
    } probe;
    auto check = [](const wchar_t* path, void* context) -> DWORD {
        auto* p = static_cast<Probe*>(context);
        HANDLE writer = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
        p->writeError = writer == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
        p->deleted = DeleteFileW(path) != FALSE;
        HANDLE reader = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        p->readable = reader != INVALID_HANDLE_VALUE;
        if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);
        return 0;
    };
    HMODULE module = TrustDetail::LoadLibraryAfterCheck(copy.c_str(), 0, check, &probe);
    ASSERT_NE(nullptr, module) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), probe.writeError);
    EXPECT_FALSE(probe.deleted);
    EXPECT_TRUE(probe.readable);
    EXPECT_NE(nullptr, GetProcAddress(module, "TrustTargetClassObject"));
    FreeLibrary(module);

    auto refuse = [](const wchar_t*, void*) -> DWORD { return 5; };
    SetLastError(0);
    EXPECT_EQ(nullptr, TrustDetail::LoadLibraryAfterCheck(copy.c_str(), 0, refuse, nullptr));
    EXPECT_EQ(5u, GetLastError());
    EXPECT_EQ(nullptr, GetModuleHandleW(copy.c_str()));
}

TEST(ModuleTrust, FindsTheModuleOfAnAddress)
{
    HalvornKeyTurn noService;  // the process-wide validator finds no service
    ASSERT_TRUE(noService.owned());
    wchar_t path[MAX_PATH] = {};
    ASSERT_EQ(0u, FindModuleOfAddress(reinterpret_cast<const void*>(&FindModuleOfAddress), path));
    wchar_t own[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    EXPECT_EQ(0, _wcsicmp(own, path)) << path;

    ASSERT_EQ(0u, FindModuleOfAddress(reinterpret_cast<const void*>(&GetProcAddress), path));
    EXPECT_NE(nullptr, wcsstr(_wcslwr(path), L"kernel"));

    wchar_t untouched[MAX_PATH] = L"untouched";
    EXPECT_EQ(87u, FindModuleOfAddress(nullptr, untouched));
    EXPECT_EQ(87u, FindModuleOfAddress(&path, nullptr));
    EXPECT_EQ(5u, FindModuleOfAddress(reinterpret_cast<const void*>(0x10), untouched));
    EXPECT_STREQ(L"untouched", untouched);
    EXPECT_EQ(87u, ValidateModuleOfAddress(reinterpret_cast<const void*>(0x10)));
    EXPECT_EQ(87u, ValidateModuleOfAddress(nullptr));
    // The test program itself is unsigned.
    EXPECT_EQ(5u, ValidateModuleOfAddress(reinterpret_cast<const void*>(&FindModuleOfAddress)));
}

}  // namespace
