#include "tests/e2e/support/SuiteInstall.h"

#include "core/base/FileSystemHelpers.h"
#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"
#include "core/ini/CObfuscatedIniReader.h"
#include "core/registry/AnsiRegKey.h"
#include "core/registry/ObfuscatedRegistry.h"
#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/ProgramFolder.h"

#include <knownfolders.h>
#include <oleauto.h>
#include <tlhelp32.h>
#include <shlobj.h>
#include <wrl/client.h>

#include <fstream>
#include <optional>
#include <sstream>

namespace SuiteInstall {
namespace {

struct FileCopy {
    const wchar_t* from;  // relative to the build's bin folder
    int folder;           // 0 product, 1 KvUtil's version folder, 2 common files, 3 Halvorn
    const wchar_t* name;  // the installed file's name
};

// Signed stand-ins where the build signs them; the resource DLLs hold no code.
constexpr FileCopy kFiles[] = {
    {L"Ordwell.exe", 0, L"Ordwell.exe"},
    {L"Tessil.dll", 0, L"Tessil.dll"},
    {L"kvbrwsr2\\KvBrwsr2.dll", 0, L"KvBrwsr2.dll"},
    {L"Corvane.dll", 0, L"Corvane.dll"},
    {L"KvUiCfg.dll", 0, L"KvUiCfg.dll"},
    {L"surrogate\\KvSurrogate.exe", 0, L"KvSurrogate.exe"},
    {L"resources\\locale\\qrnres.dll", 0, L"qrnres.dll"},
    {L"resources\\locale\\qrnui.dll", 0, L"qrnui.dll"},
    {L"resources\\pages\\qrnuild.dll", 0, L"qrnuild.dll"},
    {L"kvutil\\KvUtil.dll", 1, L"KvUtil.dll"},
    {L"kvupdate\\KvUpdate.exe", 2, L"KvUpdate.exe"},
    {L"halvorn\\qdxnroa.dll", 3, L"qdxnroa.dll"},
    // The uninstaller's interfaces, which cross into the surrogate program once registered.
    {L"typelib\\KvUnInstShim.tlb", 2, L"KvUnInstShim.tlb"},
};

// Type libraries registered as the suite's components register theirs (RegisterTypeLib writes
// each interface's ProxyStubClsid32 and TypeLib with its version, and TypeLib\{libid}\1.0\0\win64),
// so that their interfaces marshal between the hosts and the surrogate program.
constexpr const wchar_t* kTypeLibraries[] = {L"KvUnInstShim.tlb"};

// The window sizes of the demo's pages, read by the host from the product folder.
constexpr char kUiConfiguration[] = R"(<?xml version="1.0" encoding="utf-8"?>
<qrnuicfg>
  <sarn_ordwell>
    <en-us>
      <hires>
        <font codepage="1252" point_size="9" face_name="Tahoma"/>
        <welcome.html width="760" height="420" position="0"/>
        <handover.html width="760" height="420" position="0"/>
      </hires>
      <lores>
        <welcome.html width="640" height="400" position="0"/>
        <handover.html width="640" height="400" position="0"/>
      </lores>
    </en-us>
  </sarn_ordwell>
</qrnuicfg>
)";

constexpr wchar_t kUpdaterClsid[] = L"{E0EC0F2B-773D-4dd7-BE6C-7D85D6AA6269}";
constexpr wchar_t kShimClsid[] = L"{AD6E7ABF-E06F-4ff6-B734-D04F22DAE042}";
constexpr wchar_t kHalvornKey[] = L"Software\\Tervane\\Halvorn";

std::wstring FolderOf(const Layout& layout, int folder)
{
    switch (folder) {
    case 0: return layout.productDir;
    case 1: return KvUtilFolder(layout);
    case 2: return layout.commonDir;
    default: return layout.halvornDir;
    }
}

std::wstring KnownFolder(REFKNOWNFOLDERID id)
{
    PWSTR path = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path);
    const Fundor::ScopedCoTaskMemory owner(path);
    return SUCCEEDED(hr) ? std::wstring(path) : std::wstring();
}

LONG SetText(HKEY root, const std::wstring& subkey, const wchar_t* name, const std::wstring& text, REGSAM view)
{
    HKEY key = nullptr;
    LONG result = RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) return result;
    result = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return result;
}

std::wstring Describe(const wchar_t* what, const std::wstring& detail, LONG code)
{
    return std::wstring(what) + L" " + detail + L": " + std::to_wstring(code);
}

bool IsCode(const FileCopy& file)
{
    return wcsstr(file.from, L"resources\\") == nullptr && wcsstr(file.from, L".tlb") == nullptr;
}

std::wstring RegisterTypeLibrary(const std::wstring& path)
{
    Microsoft::WRL::ComPtr<ITypeLib> library;
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.GetAddressOf());
    std::wstring registered = path;
    if (SUCCEEDED(hr)) hr = RegisterTypeLib(library.Get(), registered.data(), nullptr);
    return FAILED(hr) ? Describe(L"cannot register the type library", path, hr) : std::wstring();
}

std::wstring WriteRegistry(const Layout& layout)
{
    const REGSAM v64 = KEY_WOW64_64KEY;
    const std::wstring product = layout.productDir;
    struct Value {
        HKEY root;
        std::wstring key;
        const wchar_t* name;
        std::wstring text;
        REGSAM view;
    };
    const std::wstring appInfo = L"SOFTWARE\\Tervane\\QRN\\Settings\\ApplicationInfo\\";
    const Value values[] = {
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN", L"Install Dir", product + L"\\", v64},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN", L"CommonFiles Dir", layout.commonDir, v64},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\Platform", L"kvutil64_install_dir", KvUtilFolder(layout), v64},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\TERVANE\\BRANN", L"Install Dir", product, v64},
        {HKEY_LOCAL_MACHINE, appInfo + L"QRN", L"ResDll", product + L"\\qrnres.dll", v64},
        {HKEY_LOCAL_MACHINE, appInfo + L"QRN", L"UIDll", product + L"\\qrnui.dll", v64},
        {HKEY_LOCAL_MACHINE, appInfo + L"QRN", L"HelpFile", product + L"\\qrnhelp.chm", v64},
        {HKEY_LOCAL_MACHINE, appInfo + L"ZEB", L"ResDll", product + L"\\qrnres.dll", v64},
        {HKEY_LOCAL_MACHINE, appInfo + L"ZEB", L"UIDll", product + L"\\qrnui.dll", v64},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN\\Packages", L"activeuipackages", L"5", v64},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN\\Packages\\5", L"features", L"QRN;ZEB", v64},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN\\Packages\\AppCode\\QRN", L"AppID", L"QRN", v64},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN\\Packages\\AppCode\\ZEB", L"AppID", L"ZEB", v64},
        // The URL handler is looked for in the folder of this class's server.
        {HKEY_LOCAL_MACHINE, std::wstring(L"Software\\Classes\\CLSID\\") + kShimClsid + L"\\InprocServer32", L"",
         product + L"\\KvQrnCShim.dll", v64},
        {HKEY_LOCAL_MACHINE, std::wstring(L"Software\\Classes\\CLSID\\") + kUpdaterClsid + L"\\LocalServer32", L"",
         layout.commonDir + L"\\KvUpdate.exe", v64},
        {HKEY_LOCAL_MACHINE, kHalvornKey, L"szInstallDir64", layout.halvornDir, KEY_WOW64_32KEY},
        {HKEY_LOCAL_MACHINE, kHalvornKey, L"halvorn_version", L"15.9", KEY_WOW64_32KEY},
    };
    for (const Value& value : values) {
        const LONG result = SetText(value.root, value.key, value.name, value.text, value.view);
        if (result != ERROR_SUCCESS) return Describe(L"registry value", value.key + L" " + value.name, result);
    }
    if (!SetTrustedFiles(TrustedFiles(layout))) return L"trusted_paths could not be written";

    // The file logger, chosen by the enciphered value.
    const DWORD fileLogger = 1;
    const LONG logging = Fundor::ObfuscatedRegSetValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\Logging",
                                                       L"Logging Mechanism", REG_DWORD, &fileLogger,
                                                       sizeof(fileLogger), Fundor::kObfuscatedValueEnciphered);
    if (logging != ERROR_SUCCESS) return Describe(L"registry value", L"Logging Mechanism", logging);
    return {};
}

std::wstring WriteLogSettings()
{
    const std::wstring folder = OrdwellLogFolder();
    if (folder.empty() || !Fundor::CreateDirectoryPath(folder.c_str())) return L"log folder " + folder;
    Fundor::CObfuscatedIniReader ini;
    (void)ini.Load(folder + L"\\log.ini");
    // Every level, the process and thread column, and room enough that no record rotates away.
    if (!ini.WriteInt(L"Config", L"Severity", 1) || !ini.WriteInt(L"Config", L"Options", 20) ||
        !ini.WriteInt(L"Config", L"MaxSize", 0xA00000) || !ini.WriteInt(L"Config", L"MaxEntries", 100)) {
        return L"log.ini in " + folder;
    }
    return {};
}

}  // namespace

std::wstring ThisProgramFolder() { return Fundor::testing::ProgramFolder(); }

std::wstring PrefixTempFolder()
{
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, path);
    if (length == 0 || length > MAX_PATH) return {};
    std::wstring folder(path, length);
    if (folder.back() == L'\\') folder.pop_back();
    return folder;
}

Layout DefaultLayout(const std::wstring& buildBin)
{
    const std::wstring programFiles = KnownFolder(FOLDERID_ProgramFiles);
    const std::wstring common = KnownFolder(FOLDERID_ProgramFilesCommon);
    return Layout{buildBin, programFiles + L"\\Tervane\\QRN", common + L"\\Tervane\\Platform",
                  programFiles + L"\\Tervane\\Halvorn"};
}

std::wstring ProgramPath(const Layout& layout) { return layout.productDir + L"\\Ordwell.exe"; }
std::wstring KvUtilFolder(const Layout& layout) { return layout.commonDir + L"\\kvutil\\1.0.0.0"; }

std::vector<std::wstring> TrustedFiles(const Layout& layout)
{
    std::vector<std::wstring> paths;
    for (const FileCopy& file : kFiles) {
        if (IsCode(file)) paths.push_back(FolderOf(layout, file.folder) + L"\\" + file.name);
    }
    // A local server's class object arrives through the platform's proxy code.
    const std::wstring system = KnownFolder(FOLDERID_System);
    for (const wchar_t* module : {L"oleaut32.dll", L"combase.dll", L"ole32.dll", L"rpcrt4.dll"}) {
        paths.push_back(system + L"\\" + module);
    }
    return paths;
}

bool SetTrustedFiles(const std::vector<std::wstring>& paths)
{
    std::wstring list;
    for (const std::wstring& path : paths) list += path + L'\0';
    list += L'\0';
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kHalvornKey, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_32KEY, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LONG result = RegSetValueExW(key, L"trusted_paths", 0, REG_MULTI_SZ,
                                       reinterpret_cast<const BYTE*>(list.data()),
                                       static_cast<DWORD>(list.size() * sizeof(wchar_t)));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

void EndInstalledPrograms()
{
    Fundor::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, L"KvSurrogate.exe") != 0 && _wcsicmp(entry.szExeFile, L"Ordwell.exe") != 0) {
            continue;
        }
        Fundor::ScopedHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        if (!process.valid()) continue;
        TerminateProcess(process.get(), 0);
        WaitForSingleObject(process.get(), 5000);
    }
}

std::wstring Install(const Layout& layout)
{
    // A host an earlier run left behind, or a surrogate program COM started for one, holds its file open.
    EndInstalledPrograms();
    for (int folder = 0; folder < 4; ++folder) {
        const std::wstring path = FolderOf(layout, folder);
        if (!Fundor::CreateDirectoryPath(path.c_str())) return L"cannot make the folder " + path;
    }
    for (const FileCopy& file : kFiles) {
        const std::wstring from = layout.buildBin + L"\\" + file.from;
        const std::wstring to = FolderOf(layout, file.folder) + L"\\" + file.name;
        if (!CopyFileW(from.c_str(), to.c_str(), FALSE)) {
            return Describe(L"cannot copy", from + L" to " + to, static_cast<LONG>(GetLastError()));
        }
    }
    {
        const std::wstring config = layout.productDir + L"\\qrnuicfg.dat";
        Fundor::ScopedHandle file(CreateFileW(config.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        if (!file.valid() ||
            !WriteFile(file.get(), kUiConfiguration, sizeof(kUiConfiguration) - 1, &written, nullptr)) {
            return L"cannot write " + config;
        }
    }
    std::wstring failure = WriteRegistry(layout);
    if (!failure.empty()) return failure;
    for (const wchar_t* library : kTypeLibraries) {
        failure = RegisterTypeLibrary(layout.commonDir + L"\\" + library);
        if (!failure.empty()) return failure;
    }
    failure = WriteLogSettings();
    if (!failure.empty()) return failure;

    // The surrogate program registers its own class and type library.
    const std::wstring surrogate = layout.productDir + L"\\KvSurrogate.exe";
    const Fundor::testing::ChildProcess registration(surrogate, L"-RegServer");
    if (!registration.valid()) return Describe(L"cannot start", surrogate, static_cast<LONG>(GetLastError()));
    const std::optional<DWORD> code = registration.Wait(30000);
    if (code != 0u) return Describe(L"registration failed:", surrogate, static_cast<LONG>(code.value_or(1)));
    return {};
}

std::wstring OrdwellLogFolder()
{
    const std::wstring programData = KnownFolder(FOLDERID_ProgramData);
    return programData.empty() ? programData : programData + L"\\Tervane\\KVLOGS\\_no_group\\Ordwell";
}

std::vector<std::wstring> OrdwellLogFiles()
{
    std::vector<std::wstring> files;
    for (unsigned index = 0; index < 100; ++index) {
        wchar_t name[48] = {};
        (void)Fundor::FormatW(name, 48, L"\\Ordwell__no_host%03u.log", index);
        const std::wstring path = OrdwellLogFolder() + name;
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) files.push_back(path);
    }
    return files;
}

void ClearOrdwellLogs()
{
    for (const std::wstring& file : OrdwellLogFiles()) DeleteFileW(file.c_str());
    Fundor::CObfuscatedIniReader ini;
    (void)ini.Load(OrdwellLogFolder() + L"\\log.ini");
    (void)ini.WriteInt(L"Config", L"LastLogIdx", 0);
}

std::vector<std::wstring> ReadOrdwellLogLines()
{
    std::vector<std::wstring> lines;
    for (const std::wstring& path : OrdwellLogFiles()) {
        Fundor::ScopedHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, 0, nullptr));
        if (!file.valid()) continue;
        const DWORD size = GetFileSize(file.get(), nullptr);
        std::wstring text(size / sizeof(wchar_t), L'\0');
        DWORD read = 0;
        if (!text.empty()) (void)ReadFile(file.get(), text.data(), size, &read, nullptr);
        text.resize(read / sizeof(wchar_t));
        if (!text.empty() && text[0] == L'\xFEFF') text.erase(0, 1);
        std::size_t begin = 0;
        while (begin < text.size()) {
            std::size_t end = text.find(L"\r\n", begin);
            if (end == std::wstring::npos) end = text.size();
            lines.push_back(text.substr(begin, end - begin));
            begin = end + 2;
        }
    }
    return lines;
}

std::vector<std::wstring> OrdwellLogLinesOf(DWORD pid, const wchar_t* text)
{
    wchar_t column[32] = {};
    (void)Fundor::FormatW(column, std::size(column), L"[PID:%5lu ", pid);
    std::vector<std::wstring> found;
    for (const std::wstring& line : ReadOrdwellLogLines()) {
        if (line.find(column) != std::wstring::npos && line.find(text) != std::wstring::npos) found.push_back(line);
    }
    return found;
}

std::vector<std::string> PageRecordLines(const std::wstring& path, DWORD pid, const std::string& text)
{
    std::vector<std::string> found;
    std::ifstream file(std::string(path.begin(), path.end()));
    const std::string prefix = "pid=" + std::to_string(pid) + " ";
    std::string line;
    while (std::getline(file, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind(prefix, 0) == 0 && line.find(text) != std::string::npos) found.push_back(line);
    }
    return found;
}

}  // namespace SuiteInstall
