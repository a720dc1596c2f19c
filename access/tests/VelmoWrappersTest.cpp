#include "access/tests/VelmoFakes.h"
#include "access/wrappers/DllAPI.h"
#include "access/wrappers/PathAPI.h"
#include "access/wrappers/ProcessAPI.h"
#include "access/wrappers/RegistryAPI.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>

#include <fstream>

using Fundor::testing::ScratchFolder;

TEST(VelmoPathAPI, FileTestsAndTreeDeletion)
{
    ScratchFolder scratch;
    Velmo::PathAPI api;
    const std::wstring folder = scratch.File(L"tree");
    const std::wstring inner = folder + L"\\inner";
    ASSERT_TRUE(api.createDirectoryPath(inner));
    ASSERT_TRUE(api.createDirectoryPath(inner));  // already there
    const std::wstring file = inner + L"\\a.txt";
    ASSERT_TRUE(api.writeFile(file, L"line one\nline two\n"));

    EXPECT_TRUE(api.isFile(file));
    EXPECT_TRUE(api.isRegularFile(file));
    EXPECT_FALSE(api.isDirectory(file));
    EXPECT_TRUE(api.isDirectory(inner));
    EXPECT_FALSE(api.isFile(inner));
    EXPECT_FALSE(api.isRegularFile(inner));
    EXPECT_FALSE(api.isFile(L""));
    EXPECT_FALSE(api.isDirectory(L""));

    std::wstring text = L"untouched";
    ASSERT_TRUE(api.readFile(file, text));
    EXPECT_EQ(L"line one\nline two\n", text);
    text = L"untouched";
    EXPECT_FALSE(api.readFile(inner + L"\\missing.txt", text));
    EXPECT_EQ(L"untouched", text);

    // Without the root: the contents go, the folder stays.
    EXPECT_TRUE(api.deleteTree(folder, false));
    EXPECT_TRUE(api.isDirectory(folder));
    EXPECT_FALSE(api.isDirectory(inner));
    ASSERT_TRUE(api.createDirectoryPath(inner));
    EXPECT_TRUE(api.deleteTree(folder, true));
    EXPECT_FALSE(api.isDirectory(folder));
    EXPECT_FALSE(api.deleteTree(L"", false));
}

TEST(VelmoDllAPI, TrustAndValidatedLoadRefuseWhatTheyCannotCheck)
{
    Velmo::DllAPI api;
    EXPECT_FALSE(api.isTrusted(L""));
    HMODULE module = reinterpret_cast<HMODULE>(0x7777);
    // Relative and bare names never reach the loader.
    EXPECT_FALSE(api.loadLibrary(L"kernel32.dll", module));
    EXPECT_EQ(87u, GetLastError());
    EXPECT_FALSE(api.loadLibrary(L"", module));
    EXPECT_EQ(reinterpret_cast<HMODULE>(0x7777), module);

    // A handle by name takes a reference that freeLibrary gives back.
    HMODULE kernel = nullptr;
    ASSERT_TRUE(api.getModuleHandleEx(0, L"kernel32.dll", kernel));
    EXPECT_EQ(GetModuleHandleW(L"kernel32.dll"), kernel);
    EXPECT_NE(nullptr, api.getProcAddress(kernel, "GetTickCount"));
    EXPECT_EQ(nullptr, api.getProcAddress(kernel, "NoSuchExport"));
    EXPECT_TRUE(api.freeLibrary(kernel));
    HMODULE none = nullptr;
    EXPECT_FALSE(api.getModuleHandleEx(0, L"NoSuchModule.dll", none));
}

TEST(VelmoProcessAPI, SessionOfThisProcess)
{
    Velmo::ProcessAPI api;
    EXPECT_EQ(GetCurrentProcessId(), api.getCurrentProcessId());
    EXPECT_EQ(GetCurrentProcessId(), api.getProcessId(api.getCurrentProcess()));
    DWORD session = 0xFFFFFFFF;
    ASSERT_TRUE(api.processIdToSessionId(api.getCurrentProcessId(), &session));
    DWORD expected = 0xEEEEEEEE;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &expected));
    EXPECT_EQ(expected, session);

    // The snapshot lists this process.
    HANDLE snapshot = api.createToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    ASSERT_NE(INVALID_HANDLE_VALUE, snapshot);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (bool more = api.process32First(snapshot, &entry); more; more = api.process32Next(snapshot, &entry)) {
        found = found || entry.th32ProcessID == GetCurrentProcessId();
    }
    EXPECT_TRUE(found);
    EXPECT_TRUE(api.closeHandle(snapshot));
    EXPECT_FALSE(api.closeHandle(nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), api.getLastError());
}

class VelmoRegistryAPI : public Fundor::testing::RegistryIsolatedTest {};

TEST_F(VelmoRegistryAPI, ReadsStringsAndNumbersOfHklmOnly)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\TERVANE\\BRANN", 0, nullptr, 0, KEY_ALL_ACCESS,
                                             nullptr, &key, nullptr));
    const std::wstring text = L"C:\\Brann";
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"Install Dir", 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
    const DWORD number = 42;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                            sizeof(number)));
    RegCloseKey(key);
    HKEY user = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\TERVANE\\USERONLY", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &user, nullptr));
    RegCloseKey(user);

    Velmo::RegistryAPI api;
    std::wstring value = L"untouched";
    EXPECT_EQ(0u, api.readString(L"SOFTWARE\\TERVANE\\BRANN", L"Install Dir", value));
    EXPECT_EQ(text, value);
    DWORD read = 7;
    EXPECT_EQ(0u, api.readNumber(L"SOFTWARE\\TERVANE\\BRANN", L"Count", read));
    EXPECT_EQ(42u, read);

    value = L"untouched";
    read = 7;
    EXPECT_EQ(Velmo::MODULE_STATUS_UNSUCCESSFUL, api.readString(L"SOFTWARE\\TERVANE\\BRANN", L"Count", value));
    EXPECT_EQ(Velmo::MODULE_STATUS_UNSUCCESSFUL, api.readNumber(L"SOFTWARE\\TERVANE\\BRANN", L"Install Dir", read));
    EXPECT_EQ(Velmo::MODULE_STATUS_UNSUCCESSFUL, api.readString(L"SOFTWARE\\TERVANE\\BRANN", L"Missing", value));
    EXPECT_EQ(Velmo::MODULE_STATUS_UNSUCCESSFUL, api.readString(L"SOFTWARE\\TERVANE\\NONE", L"Install Dir", value));
    EXPECT_EQ(Velmo::MODULE_STATUS_UNSUCCESSFUL, api.readNumber(L"SOFTWARE\\TERVANE\\USERONLY", L"", read));
    EXPECT_EQ(L"untouched", value);
    EXPECT_EQ(7u, read);
}

TEST(ModuleStatus, NamesOfTheCodes)
{
    EXPECT_STREQ(L"MODULE_STATUS_SUCCESS", Velmo::ModuleStatusName(0));
    EXPECT_STREQ(L"MODULE_STATUS_NOT_SUPPORTED", Velmo::ModuleStatusName(0x80000001));
    EXPECT_STREQ(L"MODULE_STATUS_UNSUCCESSFUL", Velmo::ModuleStatusName(0x80000002));
    EXPECT_STREQ(L"MODULE_STATUS_INVALID_HANDLE", Velmo::ModuleStatusName(0x80000007));
    EXPECT_STREQ(L"MODULE_STATUS_NOT_FOUND", Velmo::ModuleStatusName(0x8000000A));
    EXPECT_STREQ(L"MODULE_STATUS_UNKNOWN_EXCEPTION", Velmo::ModuleStatusName(0x8000000F));
    EXPECT_STREQ(L"MODULE_STATUS_SESSION_INVALID", Velmo::ModuleStatusName(0x80000015));
    EXPECT_STREQ(L"MODULE_STATUS_INVALID_STATE", Velmo::ModuleStatusName(0x800000FF));
    for (const Velmo::ModuleStatus other : {0x80000016u, 0x80000000u, 0x800000FEu, 1u, 0xFFFFFFFFu}) {
        EXPECT_STREQ(L"MODULE_STATUS_UNKNOWN", Velmo::ModuleStatusName(other)) << other;
    }
}
