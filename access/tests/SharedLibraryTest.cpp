#include "access/ModuleException.h"
#include "access/dll/LibraryBlockList.h"
#include "access/dll/SharedLibrary.h"
#include "access/tests/TrustTestSupport.h"
#include "access/tests/VelmoFakes.h"
#include "core/registry/CObfuscatedRegKey.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

using namespace VelmoTesting;
using Fundor::testing::ScratchFolder;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;

namespace {

// A shared library over fakes: module calls counted, files only where the test puts them, the
// Brannock folder from a fake registry (failing unless set).
struct FakeWorld {
    std::shared_ptr<CountingDllAPI> dll = std::make_shared<CountingDllAPI>();
    std::shared_ptr<FakePathAPI> paths = std::make_shared<FakePathAPI>();
    std::shared_ptr<MockRegistryAPI> registry = std::make_shared<::testing::NiceMock<MockRegistryAPI>>();
    std::shared_ptr<MockOSInfo> osInfo = std::make_shared<::testing::NiceMock<MockOSInfo>>();

    FakeWorld()
    {
        ON_CALL(*registry, readString(_, _, _)).WillByDefault(Return(Velmo::MODULE_STATUS_UNSUCCESSFUL));
    }

    std::unique_ptr<Velmo::SharedLibrary> Make(const std::wstring& name, std::vector<std::wstring> folders)
    {
        return std::make_unique<Velmo::SharedLibrary>(
            name, std::move(folders), std::make_shared<Velmo::DllLoader>(dll),
            std::make_shared<Velmo::PathHelpers>(std::make_shared<FakeShlObjAPI>(), osInfo, registry),
            std::make_shared<Velmo::PathSearch>(paths));
    }
};

// The text of the ModuleException the call throws; "" when it throws none.
std::string ModuleExceptionText(const std::function<void()>& call)
{
    try {
        call();
    } catch (const Velmo::ModuleException& e) {
        return e.what();
    }
    return {};
}

std::wstring UnsignedLibrary(const wchar_t* name)
{
    return ProgramFolderWithSeparator() + L"velmotest-unsigned\\" + name;
}

}  // namespace

TEST(SharedLibrary, BindsTheFourExportsInOrderAndFreesOnDestruction)
{
    FakeWorld world;
    world.paths->files = {L"C:\\Brann\\Corvane.dll", L"D:\\later\\Corvane.dll"};
    ON_CALL(*world.registry, readString(std::wstring(L"SOFTWARE\\TERVANE\\BRANN"), std::wstring(L"Install Dir"), _))
        .WillByDefault(DoAll(SetArgReferee<2>(std::wstring(L"C:\\Brann")), Return(Velmo::MODULE_STATUS_SUCCESS)));
    {
        auto library = world.Make(L"Corvane.dll", {L"$(Brannock.InstallDir)", L"D:\\later"});
        EXPECT_EQ(std::vector<std::wstring>{L"C:\\Brann\\Corvane.dll"}, world.dll->loadPaths);
        EXPECT_EQ(L"C:\\Brann\\Corvane.dll", library->getLibraryPath());
        EXPECT_EQ((std::vector<std::wstring>{L"C:\\Brann", L"D:\\later"}), library->getSearchFolders());
        EXPECT_EQ((std::vector<std::string>{"CreateObject", "ReleaseObject", "GetVersionStr", "GetVersionNum"}),
                  world.dll->requestedExports);
        const Velmo::SharedLibraryFunctions* functions = library->getFunctions();
        const auto base = reinterpret_cast<ULONG_PTR>(library->getModule());
        EXPECT_EQ(base + 1, reinterpret_cast<ULONG_PTR>(functions->CreateObject));
        EXPECT_EQ(base + 2, reinterpret_cast<ULONG_PTR>(functions->ReleaseObject));
        EXPECT_EQ(base + 3, reinterpret_cast<ULONG_PTR>(functions->GetVersionStr));
        EXPECT_EQ(base + 4, reinterpret_cast<ULONG_PTR>(functions->GetVersionNum));
        EXPECT_EQ(1, world.dll->outstanding());
    }
    EXPECT_EQ(0, world.dll->outstanding());
    EXPECT_EQ(1u, world.dll->freed.size());
}

TEST(SharedLibrary, NoLeakWhenAnExportIsMissing)
{
    FakeWorld world;
    world.paths->files = {L"C:\\app\\Corvane.dll"};
    world.dll->missingExports = {"GetVersionNum"};
    EXPECT_EQ("Failed to import functions from library",
              ModuleExceptionText([&] { world.Make(L"Corvane.dll", {L"C:\\app"}); }));
    EXPECT_EQ((std::vector<std::string>{"CreateObject", "ReleaseObject", "GetVersionStr", "GetVersionNum"}),
              world.dll->requestedExports);
    EXPECT_EQ(1, world.dll->loads);
    EXPECT_EQ(0, world.dll->outstanding());

    // The first missing one ends the binding.
    FakeWorld early;
    early.paths->files = {L"C:\\app\\Corvane.dll"};
    early.dll->missingExports = {"ReleaseObject"};
    EXPECT_EQ("Failed to import functions from library",
              ModuleExceptionText([&] { early.Make(L"Corvane.dll", {L"C:\\app"}); }));
    EXPECT_EQ((std::vector<std::string>{"CreateObject", "ReleaseObject"}), early.dll->requestedExports);
    EXPECT_EQ(0, early.dll->outstanding());

    // A module that was already in the process is given back its reference too.
    FakeWorld loaded;
    loaded.paths->files = {L"C:\\app\\Corvane.dll"};
    loaded.dll->alreadyLoaded = true;
    loaded.dll->missingExports = {"CreateObject"};
    EXPECT_EQ("Failed to import functions from library",
              ModuleExceptionText([&] { loaded.Make(L"Corvane.dll", {L"C:\\app"}); }));
    EXPECT_TRUE(loaded.dll->loadPaths.empty());
    EXPECT_EQ(1, loaded.dll->loads);
    EXPECT_EQ(0, loaded.dll->outstanding());
}

TEST(SharedLibrary, LoadFailuresThrowWithNothingHeld)
{
    FakeWorld refused;
    refused.paths->files = {L"C:\\app\\Corvane.dll"};
    refused.dll->failLoad = true;
    EXPECT_EQ("Failed to load library", ModuleExceptionText([&] { refused.Make(L"Corvane.dll", {L"C:\\app"}); }));
    EXPECT_EQ(std::vector<std::wstring>{L"C:\\app\\Corvane.dll"}, refused.dll->loadPaths);
    EXPECT_TRUE(refused.dll->freed.empty());

    FakeWorld throwing;
    throwing.paths->files = {L"C:\\app\\Corvane.dll"};
    throwing.dll->throwOnLoad = true;
    EXPECT_EQ("Failed to load library", ModuleExceptionText([&] { throwing.Make(L"Corvane.dll", {L"C:\\app"}); }));
    EXPECT_TRUE(throwing.dll->freed.empty());

    // In no folder: no load is even attempted.
    FakeWorld missing;
    EXPECT_EQ("Failed to load library",
              ModuleExceptionText([&] { missing.Make(L"Corvane.dll", {L"C:\\app", L"D:\\other"}); }));
    EXPECT_TRUE(missing.dll->loadPaths.empty());
    EXPECT_TRUE(missing.dll->handleQueries.empty());
    EXPECT_EQ((std::vector<std::wstring>{L"C:\\app\\Corvane.dll", L"D:\\other\\Corvane.dll"}), missing.paths->probes);
}

TEST(SharedLibrary, EmptyAndRelativeFoldersAreNeverProbed)
{
    FakeWorld world;
    // Whatever a careless join would make of them exists.
    world.paths->files = {L"\\Corvane.dll", L"Corvane.dll", L"relative\\Corvane.dll", L"C:Corvane.dll",
                          L"C:\\Corvane.dll", L"$(Unknown)\\Corvane.dll", L"E:\\good\\Corvane.dll"};
    auto library = world.Make(L"Corvane.dll", {L"", L"$(Brannock.InstallDir)", L"relative", L"C:", L"C:\\",
                                               L"$(Unknown)", L".\\", L"E:\\good"});
    EXPECT_EQ(std::vector<std::wstring>{L"E:\\good\\Corvane.dll"}, world.paths->probes);
    EXPECT_EQ(L"E:\\good\\Corvane.dll", library->getLibraryPath());

    // Only such folders: not found, nothing probed, nothing loaded.
    FakeWorld none;
    none.paths->files = world.paths->files;
    EXPECT_EQ("Failed to load library",
              ModuleExceptionText([&] { none.Make(L"Corvane.dll", {L"$(Brannock.InstallDir)", L"", L"dir"}); }));
    EXPECT_TRUE(none.paths->probes.empty());
    EXPECT_TRUE(none.dll->loadPaths.empty());
}

TEST(SharedLibrary, LoadingAgainGivesBackTheModuleHeld)
{
    FakeWorld world;
    world.paths->files = {L"C:\\app\\Corvane.dll"};
    auto library = world.Make(L"Corvane.dll", {L"C:\\app"});
    const HMODULE first = library->getModule();
    ASSERT_NE(nullptr, first);

    ASSERT_EQ(0u, library->loadLibrary());
    EXPECT_EQ(std::vector<HMODULE>{first}, world.dll->freed);
    EXPECT_EQ(1, world.dll->outstanding());
    EXPECT_EQ(nullptr, library->getFunctions()->CreateObject);  // not bound again yet
    EXPECT_EQ(0u, library->importFunctions());

    world.paths->files.clear();
    EXPECT_EQ(Velmo::MODULE_STATUS_NOT_FOUND, library->loadLibrary());
    EXPECT_EQ(0, world.dll->outstanding());
    EXPECT_EQ(nullptr, library->getModule());
    EXPECT_EQ(L"", library->getLibraryPath());
    EXPECT_EQ(Velmo::MODULE_STATUS_INVALID_HANDLE, library->importFunctions());

    world.paths->files = {L"C:\\app\\Corvane.dll"};
    world.dll->failLoad = true;
    EXPECT_EQ(Velmo::MODULE_STATUS_UNSUCCESSFUL, library->loadLibrary());

    // A failed free is only logged; the handle is not kept.
    world.dll->failLoad = false;
    world.dll->failFree = true;
    ASSERT_EQ(0u, library->loadLibrary());
    library->unloadLibrary();
    EXPECT_EQ(nullptr, library->getModule());
    library->unloadLibrary();
    EXPECT_EQ(3u, world.dll->freed.size());
}

TEST(LibraryBlockList, ExemptNamesCompareWithoutCase)
{
    EXPECT_EQ((std::vector<std::wstring>{L"Garrow.dll", L"Dellith.dll", L"Fennick.dll", L"Corvane.dll"}),
              Velmo::internal::LibraryBlockList::exemptNames());
    for (const wchar_t* name : {L"Corvane.dll", L"CORVANE.DLL", L"corvane.dll", L"gArRoW.dll", L"DELLITH.dll",
                                L"fennick.DLL"}) {
        EXPECT_TRUE(Velmo::internal::LibraryBlockList::isExempt(name)) << name;
    }
    for (const wchar_t* name : {L"", L"Corvane", L"Corvane.dll.bak", L"xCorvane.dll", L"Corvane.dl", L"C:\\Corvane.dll",
                                L"Corvane.exe"}) {
        EXPECT_FALSE(Velmo::internal::LibraryBlockList::isExempt(name)) << name;
    }
}

// The block list is read from HKLM "SOFTWARE\Tervane\Brann\List\<name>", enciphered; the files
// are copies of a test library whose "FileVersion" is "3.1.4.1".
class VersionBlockList : public Fundor::testing::RegistryIsolatedTest {
protected:
    std::wstring Copy(const wchar_t* name)
    {
        const std::wstring target = m_folder.File(name);
        EXPECT_TRUE(CopyFileW(UnsignedLibrary(L"VelmoTestLibrary.dll").c_str(), target.c_str(), TRUE));
        return target;
    }
    static void BlockEnciphered(const wchar_t* library, const wchar_t* name, const wchar_t* text)
    {
        Fundor::CObfuscatedRegKey key;
        const std::wstring path = std::wstring(L"SOFTWARE\\Tervane\\Brann\\List\\") + library;
        ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, path.c_str()));
        ASSERT_EQ(ERROR_SUCCESS, key.SetStringValue(name, text));
    }
    static void BlockPlain(const wchar_t* library, const wchar_t* name, const wchar_t* text)
    {
        const std::wstring path = std::wstring(L"SOFTWARE\\Tervane\\Brann\\List\\") + library;
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                 &key, nullptr));
        const std::wstring data = text;
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                                                static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))));
        RegCloseKey(key);
    }
    std::unique_ptr<Velmo::SharedLibrary> Make(const wchar_t* name)
    {
        return m_world.Make(name, {m_folder.Path()});
    }

    ScratchFolder m_folder;
    FakeWorld m_world;
};

TEST_F(VersionBlockList, EncipheredVersionValueBlocksThatVersion)
{
    using Velmo::internal::LibraryBlockList;
    const std::wstring blocked = Copy(L"Blocked.dll");
    m_world.paths->files = {blocked};
    EXPECT_FALSE(LibraryBlockList::isBlocked(L"Blocked.dll", blocked));

    // Another version's value, or the right name with other text, blocks nothing.
    BlockEnciphered(L"Blocked.dll", L"3.1.4.2", L"3.1.4.2");
    BlockEnciphered(L"Blocked.dll", L"3.1.4.1", L"3.1.4.10");
    EXPECT_FALSE(LibraryBlockList::isBlocked(L"Blocked.dll", blocked));
    auto library = Make(L"Blocked.dll");
    EXPECT_EQ(1, m_world.dll->loads);

    BlockEnciphered(L"Blocked.dll", L"3.1.4.1", L"3.1.4.1");
    EXPECT_TRUE(LibraryBlockList::isBlocked(L"Blocked.dll", blocked));
    EXPECT_EQ(Velmo::MODULE_STATUS_NOT_SUPPORTED, library->loadLibrary());
    EXPECT_EQ(1, m_world.dll->loads);
    EXPECT_EQ(0, m_world.dll->outstanding());
    EXPECT_EQ("Failed to load library", ModuleExceptionText([&] { Make(L"Blocked.dll"); }));
    EXPECT_EQ(1, m_world.dll->loads);

    // The key is the file name; the test is the file's version, not its name.
    EXPECT_FALSE(LibraryBlockList::isBlocked(L"Other.dll", blocked));
    EXPECT_FALSE(LibraryBlockList::isBlocked(L"", blocked));
    EXPECT_FALSE(LibraryBlockList::isBlocked(L"Blocked.dll", m_folder.File(L"Absent.dll")));
}

TEST_F(VersionBlockList, PlainValueCountsForNothing)
{
    const std::wstring plain = Copy(L"Plain.dll");
    m_world.paths->files = {plain};
    BlockPlain(L"Plain.dll", L"3.1.4.1", L"3.1.4.1");
    EXPECT_FALSE(Velmo::internal::LibraryBlockList::isBlocked(L"Plain.dll", plain));
    auto library = Make(L"Plain.dll");
    EXPECT_EQ(1, m_world.dll->loads);
}

TEST_F(VersionBlockList, ExemptLibraryIsNeverBlocked)
{
    const std::wstring corvane = Copy(L"CORVANE.DLL");
    m_world.paths->files = {corvane};
    BlockEnciphered(L"CORVANE.DLL", L"3.1.4.1", L"3.1.4.1");
    BlockEnciphered(L"Corvane.dll", L"3.1.4.1", L"3.1.4.1");
    EXPECT_FALSE(Velmo::internal::LibraryBlockList::isBlocked(L"CORVANE.DLL", corvane));
    auto library = Make(L"CORVANE.DLL");
    EXPECT_EQ(std::vector<std::wstring>{corvane}, m_world.dll->loadPaths);

    // The same file under a name that is not exempt is refused.
    const std::wstring other = Copy(L"Corvane2.dll");
    BlockEnciphered(L"Corvane2.dll", L"3.1.4.1", L"3.1.4.1");
    EXPECT_TRUE(Velmo::internal::LibraryBlockList::isBlocked(L"Corvane2.dll", other));
}

// Real loads through the default loader: trust comes from the validation-service stand-in,
// which vouches for the paths listed in HKLM "Software\Tervane\Halvorn" "trusted_paths".
class SharedLibraryRealLoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_turn.owned());
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Tervane\\Halvorn", 0, nullptr, 0,
                                                 KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &m_key, nullptr));
        SetText(L"szInstallDir64", ProgramFolderWithSeparator() + L"halvorn");
        SetText(L"halvorn_version", L"15.9");
    }
    void TearDown() override
    {
        if (m_key != nullptr) RegCloseKey(m_key);
    }
    void SetText(const wchar_t* name, const std::wstring& value)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
    }
    void Trust(const std::wstring& path)
    {
        const std::wstring list = path + L'\0' + L'\0';
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(m_key, L"trusted_paths", 0, REG_MULTI_SZ,
                                                reinterpret_cast<const BYTE*>(list.data()),
                                                static_cast<DWORD>(list.size() * sizeof(wchar_t))));
    }

    TrustTesting::HalvornKeyTurn m_turn;
    HKEY m_key = nullptr;
};

TEST_F(SharedLibraryRealLoad, SignedLibraryFoundByMacroIsTrustedLoadedAndBound)
{
    const std::wstring path = ProgramFolderWithSeparator() + L"velmotest\\VelmoTestLibrary.dll";
    Trust(path);
    {
        Velmo::SharedLibrary library(L"VelmoTestLibrary.dll",
                                     {L"$(App.Folder)no-such-folder", L"$(App.Folder)velmotest", L"$(App.Folder)"});
        EXPECT_EQ(path, library.getLibraryPath());
        EXPECT_EQ(GetModuleHandleW(path.c_str()), library.getModule());
        ASSERT_NE(nullptr, library.getFunctions()->GetVersionNum);
        const auto versionNum = Velmo::ExportAs<unsigned long (*)()>(library.getFunctions()->GetVersionNum);
        const auto versionStr = Velmo::ExportAs<const char* (*)()>(library.getFunctions()->GetVersionStr);
        const auto create = Velmo::ExportAs<void* (*)(unsigned long)>(library.getFunctions()->CreateObject);
        EXPECT_EQ(0x03010401ul, versionNum());
        EXPECT_STREQ("3.1.4.1", versionStr());
        EXPECT_NE(nullptr, create(2001000));
    }
    EXPECT_EQ(nullptr, GetModuleHandleW(path.c_str()));
}

TEST_F(SharedLibraryRealLoad, UntrustedLibraryIsRefused)
{
    // The unsigned build, listed nowhere.
    Trust(ProgramFolderWithSeparator() + L"velmotest\\VelmoTestLibrary.dll");
    EXPECT_EQ("Failed to load library", ModuleExceptionText([] {
                  Velmo::SharedLibrary library(L"VelmoTestLibrary.dll", {L"$(App.Folder)velmotest-unsigned"});
              }));
    EXPECT_EQ(nullptr, GetModuleHandleW(UnsignedLibrary(L"VelmoTestLibrary.dll").c_str()));
}

TEST_F(SharedLibraryRealLoad, TrustedLibraryLackingAnExportIsLoadedThenFreed)
{
    const std::wstring path = UnsignedLibrary(L"VelmoTestPartial.dll");
    Trust(path);
    EXPECT_EQ("Failed to import functions from library", ModuleExceptionText([] {
                  Velmo::SharedLibrary library(L"VelmoTestPartial.dll", {L"$(App.Folder)velmotest-unsigned\\"});
              }));
    EXPECT_EQ(nullptr, GetModuleHandleW(path.c_str()));
}
