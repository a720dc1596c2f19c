#include "access/InstallFolders.h"

#include "core/registry/ObfuscatedRegistry.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>
#include <vector>

using Fundor::testing::RegistryIsolatedTest;

namespace {

constexpr wchar_t kBracedClsid[] = L"{5A0D3C11-9E47-4B2C-8F31-7C2E64A90B15}";
constexpr wchar_t kBareClsid[] = L"5A0D3C11-9E47-4B2C-8F31-7C2E64A90B15";

void SetRaw(HKEY root, const std::wstring& subkey, const wchar_t* name, DWORD type, const void* data, DWORD bytes)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes));
    RegCloseKey(key);
}

void SetText(HKEY root, const std::wstring& subkey, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ)
{
    SetRaw(root, subkey, name, type, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void RegisterServer(const std::wstring& clsid, const wchar_t* kind, const std::wstring& path, DWORD type = REG_SZ)
{
    SetText(HKEY_CLASSES_ROOT, L"CLSID\\" + clsid + L"\\" + kind, nullptr, path, type);
}

std::wstring ShellFolder(int csidl)
{
    wchar_t path[MAX_PATH] = {};
    EXPECT_EQ(S_OK, SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path));
    return path;
}

// _ModulePathFromCLSID into a buffer of count characters followed by guard characters.
struct PathLookup {
    int result;
    std::wstring text;
    bool guardIntact;
};
PathLookup LookUp(const wchar_t* clsid, int count)
{
    std::vector<wchar_t> buffer(static_cast<std::size_t>(count) + 8, L'#');
    PathLookup lookup{};
    lookup.result = _ModulePathFromCLSID(clsid, buffer.data(), count);
    lookup.text = std::wstring(buffer.data(), wcsnlen(buffer.data(), static_cast<std::size_t>(count)));
    lookup.guardIntact = true;
    for (std::size_t i = static_cast<std::size_t>(count); i < buffer.size(); ++i) {
        lookup.guardIntact = lookup.guardIntact && buffer[i] == L'#';
    }
    return lookup;
}

using ModulePathFromClsid = RegistryIsolatedTest;
using InstallFolderLookup = RegistryIsolatedTest;

TEST_F(ModulePathFromClsid, FindsTheServerWithOrWithoutBracesAndDropsItsQuotes)
{
    RegisterServer(kBracedClsid, L"InprocServer32", L"\"C:\\Program Files\\Suite\\server.dll\"");
    for (const wchar_t* clsid : {kBracedClsid, kBareClsid}) {
        const PathLookup lookup = LookUp(clsid, MAX_PATH);
        EXPECT_NE(0, lookup.result) << clsid;
        EXPECT_EQ(L"C:\\Program Files\\Suite\\server.dll", lookup.text) << clsid;
    }
    // Only a pair of quotes around more than nothing is taken off.
    RegisterServer(kBracedClsid, L"InprocServer32", L"\"\"");
    EXPECT_EQ(L"\"\"", LookUp(kBracedClsid, MAX_PATH).text);
    RegisterServer(kBracedClsid, L"InprocServer32", L"\"C:\\half.dll");
    EXPECT_EQ(L"\"C:\\half.dll", LookUp(kBracedClsid, MAX_PATH).text);
}

TEST_F(ModulePathFromClsid, LocalServerIsTheSecondPlace)
{
    EXPECT_EQ(0, LookUp(kBracedClsid, MAX_PATH).result);
    RegisterServer(kBracedClsid, L"LocalServer32", L"C:\\Suite\\updater-host.exe");
    const PathLookup lookup = LookUp(kBracedClsid, MAX_PATH);
    EXPECT_NE(0, lookup.result);
    EXPECT_EQ(L"C:\\Suite\\updater-host.exe", lookup.text);
}

TEST_F(ModulePathFromClsid, OnlyTextValuesCountAndExpandableTextIsExpanded)
{
    const DWORD number = 0x12345678;
    SetRaw(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kBracedClsid + L"\\InprocServer32", nullptr, REG_DWORD,
           &number, sizeof(number));
    PathLookup lookup = LookUp(kBracedClsid, MAX_PATH);
    EXPECT_EQ(0, lookup.result);
    EXPECT_EQ(L"", lookup.text);

    const wchar_t multi[] = L"C:\\a.dll\0C:\\b.dll\0";
    SetRaw(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kBracedClsid + L"\\InprocServer32", nullptr, REG_MULTI_SZ,
           multi, sizeof(multi));
    EXPECT_EQ(0, LookUp(kBracedClsid, MAX_PATH).result);
    const BYTE binary[] = {'C', 0, ':', 0, '\\', 0, 'x', 0, 0, 0};
    SetRaw(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kBracedClsid + L"\\InprocServer32", nullptr, REG_BINARY,
           binary, sizeof(binary));
    EXPECT_EQ(0, LookUp(kBracedClsid, MAX_PATH).result);

    RegisterServer(kBracedClsid, L"InprocServer32", L"%SystemRoot%\\suite\\server.dll", REG_EXPAND_SZ);
    wchar_t expanded[MAX_PATH] = {};
    ASSERT_NE(0u, ExpandEnvironmentStringsW(L"%SystemRoot%\\suite\\server.dll", expanded, MAX_PATH));
    ASSERT_EQ(std::wstring::npos, std::wstring(expanded).find(L'%'));
    lookup = LookUp(kBracedClsid, MAX_PATH);
    EXPECT_NE(0, lookup.result);
    EXPECT_EQ(expanded, lookup.text);
    // Expanded text that does not fit the buffer is refused whole.
    lookup = LookUp(kBracedClsid, static_cast<int>(wcslen(expanded)));
    EXPECT_EQ(0, lookup.result);
    EXPECT_EQ(L"", lookup.text);
    EXPECT_TRUE(lookup.guardIntact);
}

TEST_F(ModulePathFromClsid, ReadsAtMostTheBufferLessOneAndAlwaysTerminates)
{
    const std::wstring path = L"C:\\S\\x.dll";  // 10 characters
    RegisterServer(kBracedClsid, L"InprocServer32", path);
    PathLookup lookup = LookUp(kBracedClsid, 11);
    EXPECT_NE(0, lookup.result);
    EXPECT_EQ(path, lookup.text);
    EXPECT_TRUE(lookup.guardIntact);

    for (int count : {10, 5, 1}) {
        lookup = LookUp(kBracedClsid, count);
        EXPECT_EQ(0, lookup.result) << count;
        EXPECT_EQ(L"", lookup.text) << count;
        EXPECT_TRUE(lookup.guardIntact) << count;
    }

    // Stored without its terminator: still read as the text, terminated.
    SetRaw(HKEY_CLASSES_ROOT, std::wstring(L"CLSID\\") + kBracedClsid + L"\\InprocServer32", nullptr, REG_SZ,
           path.data(), static_cast<DWORD>(path.size() * sizeof(wchar_t)));
    lookup = LookUp(kBracedClsid, 11);
    EXPECT_NE(0, lookup.result);
    EXPECT_EQ(path, lookup.text);
    EXPECT_TRUE(lookup.guardIntact);

    // Refused arguments: nothing is written past what the caller gave.
    wchar_t untouched[2] = {L'#', L'#'};
    EXPECT_EQ(0, _ModulePathFromCLSID(kBracedClsid, untouched, 0));
    EXPECT_EQ(L'#', untouched[0]);
    EXPECT_EQ(0, _ModulePathFromCLSID(kBracedClsid, nullptr, 10));
    EXPECT_EQ(0, _ModulePathFromCLSID(nullptr, untouched, 2));
    EXPECT_EQ(L'\0', untouched[0]);
    untouched[0] = L'#';
    EXPECT_EQ(0, _ModulePathFromCLSID(L"", untouched, 2));
    EXPECT_EQ(L'\0', untouched[0]);
}

// ---------------------------------------------------------------------------------------------

struct FolderLookup {
    DWORD result;
    std::wstring text;
};
FolderLookup ProductDir(int trailingBackslash, DWORD count = MAX_PATH)
{
    std::vector<wchar_t> buffer(count + 1, L'#');
    const DWORD result = GetProductInstallDir(buffer.data(), count, trailingBackslash);
    return {result, std::wstring(buffer.data(), wcsnlen(buffer.data(), count))};
}
FolderLookup CommonDir(int trailingBackslash, DWORD count = MAX_PATH)
{
    std::vector<wchar_t> buffer(count + 1, L'#');
    const DWORD result = GetCommonFilesDir(buffer.data(), count, trailingBackslash);
    return {result, std::wstring(buffer.data(), wcsnlen(buffer.data(), count))};
}

TEST_F(InstallFolderLookup, RegistryValueWithTheTrailingBackslashSettled)
{
    SetText(HKEY_LOCAL_MACHINE, kProductKey, kInstallDirValue, L"C:\\Suite\\QRN\\");
    SetText(HKEY_LOCAL_MACHINE, kProductKey, kCommonFilesDirValue, L"C:\\Suite\\Common");
    EXPECT_EQ(L"C:\\Suite\\QRN\\", ProductDir(1).text);
    EXPECT_EQ(L"C:\\Suite\\QRN", ProductDir(0).text);
    EXPECT_EQ(0u, ProductDir(0).result);
    EXPECT_EQ(L"C:\\Suite\\Common\\", CommonDir(1).text);
    EXPECT_EQ(L"C:\\Suite\\Common", CommonDir(0).text);
    EXPECT_EQ(0u, CommonDir(1).result);

    // A folder written in quotes loses both of them, before the backslash is settled.
    SetText(HKEY_LOCAL_MACHINE, kProductKey, kInstallDirValue, L"\"C:\\Quoted Suite\\\"");
    EXPECT_EQ(L"C:\\Quoted Suite", ProductDir(0).text);
    SetText(HKEY_LOCAL_MACHINE, kProductKey, kInstallDirValue, L"\"C:\\Quoted Suite\"");
    EXPECT_EQ(L"C:\\Quoted Suite\\", ProductDir(1).text);
}

TEST_F(InstallFolderLookup, ResultMustFitTheCallersBuffer)
{
    SetText(HKEY_LOCAL_MACHINE, kProductKey, kInstallDirValue, L"C:\\Suite");  // 8 characters
    FolderLookup lookup = ProductDir(0, 9);
    EXPECT_EQ(0u, lookup.result);
    EXPECT_EQ(L"C:\\Suite", lookup.text);
    lookup = ProductDir(0, 8);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), lookup.result);
    EXPECT_EQ(L"", lookup.text);
    lookup = ProductDir(1, 9);  // the added backslash needs a tenth character
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), lookup.result);
    EXPECT_EQ(L"", lookup.text);

    wchar_t out[4] = {};
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetProductInstallDir(nullptr, 4, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetProductInstallDir(out, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetCommonFilesDir(nullptr, 4, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER), GetCommonFilesDir(out, 0, 0));
}

TEST_F(InstallFolderLookup, ATextThatEndsUpEmptyIsAnErrorNeverASuccess)
{
    for (const wchar_t* value : {L"\"", L"\\", L"\"\\"}) {
        SetText(HKEY_LOCAL_MACHINE, kProductKey, kInstallDirValue, value);
        SetLastError(ERROR_SUCCESS);
        const FolderLookup lookup = ProductDir(0);
        EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), lookup.result) << value;
        EXPECT_EQ(L"", lookup.text) << value;
    }
    // With a backslash asked for, the same values give the bare backslash.
    SetText(HKEY_LOCAL_MACHINE, kProductKey, kInstallDirValue, L"\"");
    EXPECT_EQ(L"\\", ProductDir(1).text);
}

TEST_F(InstallFolderLookup, ProductFolderFallsBackToTheServersFolderThenTheShellFolder)
{
    // No value: the shell folders.
    FolderLookup lookup = ProductDir(0);
    EXPECT_EQ(0u, lookup.result);
    EXPECT_EQ(ShellFolder(CSIDL_PROGRAM_FILES) + L"\\Tervane\\QRN", lookup.text);
    EXPECT_EQ(ShellFolder(CSIDL_PROGRAM_FILES) + L"\\Tervane\\QRN\\", ProductDir(1).text);
    EXPECT_EQ(ShellFolder(CSIDL_PROGRAM_FILES_COMMON) + L"\\Tervane\\Platform", CommonDir(0).text);

    // The product's server: its folder, backslash included. The common-files folder never asks it.
    RegisterServer(kProductServerClsid, L"InprocServer32", L"\"D:\\Suite Install\\bin\\server.dll\"");
    EXPECT_EQ(L"D:\\Suite Install\\bin\\", ProductDir(1).text);
    EXPECT_EQ(L"D:\\Suite Install\\bin", ProductDir(0).text);
    EXPECT_EQ(ShellFolder(CSIDL_PROGRAM_FILES_COMMON) + L"\\Tervane\\Platform", CommonDir(0).text);

    // A server path without a folder names nothing: the shell folder again.
    RegisterServer(kProductServerClsid, L"InprocServer32", L"server.dll");
    EXPECT_EQ(ShellFolder(CSIDL_PROGRAM_FILES) + L"\\Tervane\\QRN", ProductDir(0).text);

    // Values that do not count: empty, not REG_SZ, or enciphered.
    RegisterServer(kProductServerClsid, L"InprocServer32", L"D:\\Suite\\server.dll");
    SetText(HKEY_LOCAL_MACHINE, kProductKey, kInstallDirValue, L"");
    EXPECT_EQ(L"D:\\Suite", ProductDir(0).text);
    SetText(HKEY_LOCAL_MACHINE, kProductKey, kInstallDirValue, L"C:\\Expand", REG_EXPAND_SZ);
    EXPECT_EQ(L"D:\\Suite", ProductDir(0).text);
    const std::wstring secret = L"C:\\Enciphered";
    ASSERT_EQ(ERROR_SUCCESS,
              Fundor::ObfuscatedRegSetValue(HKEY_LOCAL_MACHINE, kProductKey, kInstallDirValue, REG_SZ, secret.c_str(),
                                            static_cast<DWORD>((secret.size() + 1) * sizeof(wchar_t)),
                                            Fundor::kObfuscatedValueEnciphered | Fundor::kRegistryView64));
    EXPECT_EQ(L"D:\\Suite", ProductDir(0).text);
    SetText(HKEY_LOCAL_MACHINE, kProductKey, kInstallDirValue, L"C:\\Plain");
    EXPECT_EQ(L"C:\\Plain", ProductDir(0).text);
}

TEST_F(InstallFolderLookup, ReadRegValueExReadsPlainOrEncipheredInThe64BitView)
{
    const std::wstring text = L"C:\\Kept Secret";
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
    ASSERT_EQ(ERROR_SUCCESS, Fundor::ObfuscatedRegSetValue(HKEY_LOCAL_MACHINE, kProductKey, L"Secret", REG_SZ,
                                                           text.c_str(), bytes,
                                                           Fundor::kObfuscatedValueEnciphered | Fundor::kRegistryView64));
    SetText(HKEY_LOCAL_MACHINE, kProductKey, L"Plain", text);

    wchar_t data[MAX_PATH] = {};
    DWORD type = 0;
    DWORD size = sizeof(data);
    ASSERT_EQ(0u, ReadRegValueEx(HKEY_LOCAL_MACHINE, kProductKey, L"Secret", &type, data, &size, 1));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(text, data);

    // The plain reader sees the stored record, not the text.
    size = sizeof(data);
    ASSERT_EQ(0u, ReadRegValueEx(HKEY_LOCAL_MACHINE, kProductKey, L"Secret", &type, data, &size, 0));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(0, memcmp(data, "KVRG", 4));

    size = sizeof(data);
    ASSERT_EQ(0u, ReadRegValueEx(HKEY_LOCAL_MACHINE, kProductKey, L"Plain", &type, data, &size, 0));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(text, data);
    // A plain value is no valid record.
    size = sizeof(data);
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA),
              ReadRegValueEx(HKEY_LOCAL_MACHINE, kProductKey, L"Plain", &type, data, &size, 1));

    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_PARAMETER),
              ReadRegValueEx(HKEY_LOCAL_MACHINE, kProductKey, L"Plain", &type, data, nullptr, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BADKEY), ReadRegValueEx(nullptr, kProductKey, L"Plain", &type, data, &size, 0));
    size = sizeof(data);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND),
              ReadRegValueEx(HKEY_LOCAL_MACHINE, kProductKey, L"Missing", &type, data, &size, 0));
}

TEST(CopyPathToBuffer, CopiesOnlyWhatFitsWithItsTerminator)
{
    wchar_t buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_EQ(4, CopyPathToBuffer(L"C:\\a", buffer, 5));
    EXPECT_STREQ(L"C:\\a", buffer);
    EXPECT_EQ(L'#', buffer[5]);

    SetLastError(0);
    EXPECT_EQ(0, CopyPathToBuffer(L"C:\\ab", buffer, 5));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_STREQ(L"C:\\a", buffer);

    // A zero-sized destination is never written.
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    EXPECT_EQ(0, CopyPathToBuffer(L"", buffer, 0));
    EXPECT_EQ(L'#', buffer[0]);
    EXPECT_EQ(0, CopyPathToBuffer(nullptr, buffer, 8));
    EXPECT_EQ(0, CopyPathToBuffer(L"x", nullptr, 8));

    // Onto itself, as the folder lookups use it.
    wcscpy(buffer, L"C:\\xyz");
    EXPECT_EQ(6, CopyPathToBuffer(buffer, buffer, 8));
    EXPECT_STREQ(L"C:\\xyz", buffer);
}

}  // namespace
