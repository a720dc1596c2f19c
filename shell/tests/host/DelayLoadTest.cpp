// The system DLLs that Ordwell.exe binds at their first call: every delay-loaded function has a
// stand-in, the stand-ins fail the way their functions do with the loader's error, and a program
// linked like the host runs on, logging, when such a DLL cannot be loaded.

#include "core/base/FileSystemHelpers.h"
#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/ProgramFolder.h"
#include "shell/host/DelayLoadFallbacks.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <bcrypt.h>
#include <oleauto.h>
#include <wininet.h>
#include <winver.h>

#include <fstream>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using Name = std::pair<std::string, std::string>;  // DLL, function

std::string Upper(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The functions the .def files of the delay-import libraries name, DLL names upper-cased.
std::set<Name> NamesInDefinitionFiles()
{
    std::set<Name> names;
    for (const char* file : {"bcrypt.def", "oleaut32.def", "version.def", "wininet.def"}) {
        std::ifstream in(std::string(ORDWELL_DELAYLOAD_DEF_DIR) + "\\" + file);
        EXPECT_TRUE(in.good()) << file;
        std::string dll;
        std::string line;
        bool exports = false;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.rfind("LIBRARY ", 0) == 0) {
                dll = line.substr(8);
                if (dll.size() > 1 && dll.front() == '"') dll = dll.substr(1, dll.size() - 2);
            } else if (line == "EXPORTS") {
                exports = true;
            } else if (exports && !line.empty()) {
                names.emplace(Upper(dll), line);
            }
        }
    }
    return names;
}

TEST(DelayLoad, EveryDelayLoadedFunctionHasAStandInAndNoOtherNameHasOne)
{
    std::size_t count = 0;
    const DelayLoad::Fallback* fallbacks = DelayLoad::Fallbacks(&count);
    std::set<Name> standIns;
    for (std::size_t i = 0; i < count; ++i) {
        EXPECT_NE(nullptr, fallbacks[i].standIn) << fallbacks[i].function;
        standIns.emplace(Upper(fallbacks[i].dll), fallbacks[i].function);
        // Found by the DLL's name in any case, by the function's exactly.
        EXPECT_EQ(fallbacks[i].standIn, DelayLoad::FallbackFor(Upper(fallbacks[i].dll).c_str(), fallbacks[i].function));
    }
    const std::set<Name> defined = NamesInDefinitionFiles();
    EXPECT_EQ(33u, defined.size());
    EXPECT_EQ(defined, standIns);
    EXPECT_EQ(nullptr, DelayLoad::FallbackFor("OLEAUT32.dll", "sysallocstring"));
    EXPECT_EQ(nullptr, DelayLoad::FallbackFor("KERNEL32.dll", "CreateFileW"));
    EXPECT_EQ(nullptr, DelayLoad::FallbackFor(nullptr, "SysAllocString"));
}

// What the helper hands the hook.
DelayLoadInfo Info(const char* dll, const char* function, HMODULE current, DWORD error)
{
    DelayLoadInfo info = {};
    info.cb = sizeof(info);
    info.szDll = dll;
    info.dlp.fImportByName = TRUE;
    info.dlp.szProcName = function;
    info.hmodCur = current;
    info.dwLastError = error;
    return info;
}

template <typename Function>
Function StandIn(unsigned notification, const char* dll, const char* function, HMODULE current, DWORD error)
{
    DelayLoadInfo info = Info(dll, function, current, error);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(DelayLoad::OnDelayLoadFailure(notification, &info)));
}

TEST(DelayLoad, StandInsFailLikeTheirFunctionsWithTheLoadersError)
{
    const HMODULE program = GetModuleHandleW(nullptr);
    // A DLL that cannot be loaded is answered with the program, where no function is found.
    DelayLoadInfo load = Info("WININET.dll", nullptr, nullptr, ERROR_MOD_NOT_FOUND);
    load.dlp.fImportByName = FALSE;
    EXPECT_EQ(reinterpret_cast<void*>(program), reinterpret_cast<void*>(DelayLoad::OnDelayLoadFailure(dliFailLoadLib, &load)));
    const auto crack = StandIn<decltype(&InternetCrackUrlW)>(dliFailGetProc, "WININET.dll", "InternetCrackUrlW", program, 0);
    ASSERT_NE(nullptr, crack);
    URL_COMPONENTSW parts = {};
    SetLastError(0);
    EXPECT_FALSE(crack(L"https://example.test/", 0, 0, &parts));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());

    // A function the loaded DLL lacks: its own error (127) is what its stand-ins report.
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto open = StandIn<decltype(&BCryptOpenAlgorithmProvider)>(dliFailGetProc, "bcrypt.dll",
                                                                      "BCryptOpenAlgorithmProvider", kernel,
                                                                      ERROR_PROC_NOT_FOUND);
    ASSERT_NE(nullptr, open);
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    EXPECT_EQ(static_cast<NTSTATUS>(0xC007007F), open(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0));
    EXPECT_EQ(nullptr, algorithm);
    EXPECT_EQ(static_cast<DWORD>(ERROR_PROC_NOT_FOUND), GetLastError());

    const auto size = StandIn<decltype(&GetFileVersionInfoSizeW)>(dliFailGetProc, "VERSION.dll",
                                                                 "GetFileVersionInfoSizeW", program, 0);
    DWORD handle = 0;
    EXPECT_EQ(0u, size(L"C:\\windows\\system32\\kernel32.dll", &handle));
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), GetLastError());

    DelayLoadInfo automation = Info("OLEAUT32.dll", nullptr, nullptr, ERROR_MOD_NOT_FOUND);
    (void)DelayLoad::OnDelayLoadFailure(dliFailLoadLib, &automation);
    const auto allocate = StandIn<decltype(&SysAllocString)>(dliFailGetProc, "OLEAUT32.dll", "SysAllocString", program, 0);
    EXPECT_EQ(nullptr, allocate(L"text"));
    const auto load1 = StandIn<decltype(&LoadTypeLibEx)>(dliFailGetProc, "OLEAUT32.dll", "LoadTypeLibEx", program, 0);
    ITypeLib* library = reinterpret_cast<ITypeLib*>(1);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), load1(L"stdole2.tlb", REGKIND_NONE, &library));
    const auto length = StandIn<decltype(&SysStringLen)>(dliFailGetProc, "OLEAUT32.dll", "SysStringLen", program, 0);
    EXPECT_EQ(0u, length(nullptr));
    StandIn<decltype(&SysFreeString)>(dliFailGetProc, "OLEAUT32.dll", "SysFreeString", program, 0)(nullptr);
    // VariantInit cannot fail: the variant is emptied all the same.
    VARIANT variant;
    V_VT(&variant) = VT_BSTR;
    StandIn<decltype(&VariantInit)>(dliFailGetProc, "OLEAUT32.dll", "VariantInit", program, 0)(&variant);
    EXPECT_EQ(VT_EMPTY, V_VT(&variant));

    // A name the program does not delay-load has no stand-in: the helper then raises as it would.
    EXPECT_EQ(nullptr, (StandIn<FARPROC>(dliFailGetProc, "OLEAUT32.dll", "VarAdd", program, 0)));
    EXPECT_EQ(nullptr, (StandIn<FARPROC>(dliNoteEndProcessing, "OLEAUT32.dll", "SysAllocString", program, 0)));
}

using Fundor::testing::ProgramFolder;

// Runs the probe; its output lines, or nothing when it did not end with 0.
std::vector<std::string> RunProbe(const std::wstring& group)
{
    std::string output;
    const std::optional<DWORD> code = Fundor::testing::RunProgram(ProgramFolder() + L"\\OrdwellDelayLoadProbe.exe",
                                                                  group, 30000, {.output = &output});
    EXPECT_EQ(std::optional<DWORD>(0), code) << std::hex << code.value_or(0);
    std::vector<std::string> lines;
    for (std::size_t start = 0, end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string one = output.substr(start, end - start);
        if (!one.empty() && one.back() == '\r') one.pop_back();
        lines.push_back(one);
    }
    return code == 0u ? lines : std::vector<std::string>{};
}

// Wine's per-program DLL overrides: an empty value keeps the DLL from loading in that program.
class DisabledDlls {
public:
    DisabledDlls(const wchar_t* program, std::initializer_list<const wchar_t*> dlls)
        : m_key(std::wstring(L"Software\\Wine\\AppDefaults\\") + program)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, (m_key + L"\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr) == ERROR_SUCCESS) {
            for (const wchar_t* dll : dlls) RegSetValueExW(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), 2);
            RegCloseKey(key);
        }
    }
    ~DisabledDlls() { RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str()), RegDeleteKeyW(HKEY_CURRENT_USER, m_key.c_str()); }
    DisabledDlls(const DisabledDlls&) = delete;
    DisabledDlls& operator=(const DisabledDlls&) = delete;

private:
    std::wstring m_key;
};

// The lines of a UTF-16 log file, byte-order mark dropped.
std::vector<std::wstring> ReadUtf16Lines(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        char buffer[4096];
        DWORD read = 0;
        while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) bytes.append(buffer, read);
        CloseHandle(file);
    }
    std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    if (!text.empty() && text.front() == 0xFEFF) text.erase(0, 1);
    std::vector<std::wstring> lines;
    for (std::size_t start = 0, end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

TEST(DelayLoad, AProgramWhoseDelayLoadedDllsCannotBeLoadedLogsAndFailsTheirCallsWithoutCrashing)
{
    wchar_t programData[MAX_PATH] = {};
    ASSERT_NE(0u, GetEnvironmentVariableW(L"ProgramData", programData, MAX_PATH));
    const std::wstring group = L"_delayload_" + std::to_wstring(GetCurrentProcessId());
    const std::wstring groupFolder = std::wstring(programData) + L"\\Tervane\\KVLOGS\\" + group;
    struct RemoveFolder {
        std::wstring path;
        ~RemoveFolder() { (void)Fundor::RemoveDirectoryPath(path.c_str()); }
    } cleanup{groupFolder};

    // With every DLL there, the calls reach the real functions.
    const std::vector<std::string> normal = RunProbe(group);
    ASSERT_EQ(6u, normal.size());
    EXPECT_EQ("InternetCrackUrlW 1 -", normal[0]);
    EXPECT_EQ("SysAllocString set -", normal[1]);
    EXPECT_EQ("VariantInit 0", normal[2]);
    EXPECT_EQ("LoadTypeLibEx 0x00000000", normal[3]);
    EXPECT_EQ("BCryptOpenAlgorithmProvider 0x00000000", normal[5]);

    // WinINet and OLE automation missing: each call fails as its function reports failure.
    const DisabledDlls disabled(L"OrdwellDelayLoadProbe.exe", {L"wininet", L"oleaut32"});
    const std::vector<std::string> missing = RunProbe(group);
    ASSERT_EQ(6u, missing.size());
    EXPECT_EQ("InternetCrackUrlW 0 126", missing[0]);
    EXPECT_EQ("SysAllocString null 126", missing[1]);
    EXPECT_EQ("VariantInit 0", missing[2]);
    EXPECT_EQ("LoadTypeLibEx 0x8007007E", missing[3]);
    EXPECT_EQ(normal[4], missing[4]);
    EXPECT_EQ(normal[5], missing[5]);

    // One line for each DLL that could not be loaded, one for each of its functions called.
    const std::vector<std::wstring> lines = ReadUtf16Lines(
        groupFolder + L"\\OrdwellDelayLoadProbe\\OrdwellDelayLoadProbe_probe000.log");
    const auto count = [&](const std::wstring& text) {
        std::size_t found = 0;
        for (const std::wstring& line : lines) found += line.find(text) != std::wstring::npos ? 1 : 0;
        return found;
    };
    EXPECT_EQ(1u, count(L"(Error)$  System DLL WININET.dll could not be loaded (error 126): its functions fail from now on"));
    EXPECT_EQ(1u, count(L"(Error)$  System DLL OLEAUT32.dll could not be loaded (error 126): its functions fail from now on"));
    for (const wchar_t* function : {L"WININET.dll!InternetCrackUrlW", L"OLEAUT32.dll!SysAllocString",
                                    L"OLEAUT32.dll!SysFreeString", L"OLEAUT32.dll!VariantInit",
                                    L"OLEAUT32.dll!LoadTypeLibEx"}) {
        EXPECT_EQ(1u, count(std::wstring(function) + L" fails: the DLL could not be loaded")) << function;
    }
    EXPECT_EQ(7u, lines.size());
}

}  // namespace
