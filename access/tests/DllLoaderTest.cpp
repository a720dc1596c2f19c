#include "access/dll/DllLoader.h"
#include "access/tests/TrustTestSupport.h"
#include "access/tests/VelmoFakes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

using namespace VelmoTesting;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;
using ::testing::StrEq;
using ::testing::StrictMock;
using ::testing::Throw;

namespace {
const HMODULE kLoaded = reinterpret_cast<HMODULE>(0x50000);
const HMODULE kUntouched = reinterpret_cast<HMODULE>(0x7777);
}  // namespace

TEST(DllLoader, LoadedModuleIsTakenWithAReferenceWithoutLoadingAgain)
{
    auto api = std::make_shared<StrictMock<MockDllAPI>>();
    Velmo::DllLoader loader(api);
    EXPECT_CALL(*api, getModuleHandleEx(0u, StrEq(L"C:\\x\\Corvane.dll"), _))
        .WillOnce(DoAll(SetArgReferee<2>(kLoaded), Return(true)));
    HMODULE module = kUntouched;
    EXPECT_TRUE(loader.loadDLL(L"C:\\x\\Corvane.dll", &module));
    EXPECT_EQ(kLoaded, module);
    EXPECT_EQ(api, loader.dllApi());
}

TEST(DllLoader, OtherwiseTheValidatedLoadDecides)
{
    auto api = std::make_shared<StrictMock<MockDllAPI>>();
    Velmo::DllLoader loader(api);
    EXPECT_CALL(*api, getModuleHandleEx(0u, _, _)).WillRepeatedly(Return(false));
    EXPECT_CALL(*api, loadLibrary(std::wstring(L"C:\\x\\a.dll"), _))
        .WillOnce(DoAll(SetArgReferee<1>(kLoaded), Return(true)));
    EXPECT_CALL(*api, loadLibrary(std::wstring(L"C:\\x\\b.dll"), _)).WillOnce(Return(false));
    EXPECT_CALL(*api, loadLibrary(std::wstring(L"C:\\x\\c.dll"), _)).WillOnce(Throw(std::runtime_error("boom")));

    HMODULE module = kUntouched;
    EXPECT_TRUE(loader.loadDLL(L"C:\\x\\a.dll", &module));
    EXPECT_EQ(kLoaded, module);
    module = kUntouched;
    EXPECT_FALSE(loader.loadDLL(L"C:\\x\\b.dll", &module));
    EXPECT_EQ(kUntouched, module);
    EXPECT_FALSE(loader.loadDLL(L"C:\\x\\c.dll", &module));
    EXPECT_EQ(kUntouched, module);
    // No handle to fill: nothing is asked of the system.
    EXPECT_FALSE(loader.loadDLL(L"C:\\x\\a.dll", nullptr));
}

TEST(DllLoader, ExportLookupReportsMissingAndThrowingAsStatus)
{
    auto api = std::make_shared<StrictMock<MockDllAPI>>();
    Velmo::DllLoader loader(api);
    const FARPROC address = reinterpret_cast<FARPROC>(0x1234);
    EXPECT_CALL(*api, getProcAddress(kLoaded, StrEq("CreateObject"))).WillOnce(Return(address));
    EXPECT_CALL(*api, getProcAddress(kLoaded, StrEq("Missing"))).WillOnce(Return(nullptr));
    EXPECT_CALL(*api, getProcAddress(kLoaded, StrEq("Throws"))).WillOnce(Throw(std::bad_alloc()));

    FARPROC found = nullptr;
    EXPECT_EQ(0u, loader.getProcAddress(kLoaded, "CreateObject", &found));
    EXPECT_EQ(address, found);
    EXPECT_EQ(Velmo::MODULE_STATUS_INVALID_HANDLE, loader.getProcAddress(kLoaded, "Missing", &found));
    EXPECT_EQ(Velmo::MODULE_STATUS_UNKNOWN_EXCEPTION, loader.getProcAddress(kLoaded, "Throws", &found));
    EXPECT_EQ(address, found);
    EXPECT_EQ(Velmo::MODULE_STATUS_INVALID_PARAMETER, loader.getProcAddress(kLoaded, "CreateObject", nullptr));
}

TEST(DllLoader, RealModulesThroughTheDefaultWrapper)
{
    Velmo::DllLoader loader;
    // kernel32 is loaded: it is taken by reference, and the reference is given back.
    wchar_t system[MAX_PATH] = {};
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    const std::wstring kernel32 = std::wstring(system) + L"\\kernel32.dll";
    HMODULE module = nullptr;
    ASSERT_TRUE(loader.loadDLL(kernel32, &module));
    EXPECT_EQ(GetModuleHandleW(L"kernel32.dll"), module);
    FARPROC address = nullptr;
    EXPECT_EQ(0u, loader.getProcAddress(module, "GetTickCount", &address));
    EXPECT_EQ(reinterpret_cast<FARPROC>(GetProcAddress(module, "GetTickCount")), address);
    EXPECT_EQ(Velmo::MODULE_STATUS_INVALID_HANDLE, loader.getProcAddress(module, "NoSuchExport", &address));
    EXPECT_TRUE(loader.dllApi()->freeLibrary(module));

    // A file that is not loaded and not trusted is refused by the validated load (with no
    // validation service installed, which the turn on its key guarantees).
    TrustTesting::HalvornKeyTurn turn;
    ASSERT_TRUE(turn.owned());
    module = nullptr;
    EXPECT_FALSE(loader.loadDLL(ProgramFolderWithSeparator() + L"velmotest-unsigned\\VelmoTestLibrary.dll", &module));
    EXPECT_EQ(nullptr, module);
    EXPECT_EQ(nullptr, GetModuleHandleW(L"VelmoTestLibrary.dll"));
}
