#pragma once
// Whole-program runs of Ordwell.exe with the signed stand-ins (browser control, utility DLL, bus)
// and the URL library, trusted through the validation-service stand-in. Shared by the run tests
// and the benchmarks, so nothing here depends on the test framework.
//
// HostRunEnvironment takes the Halvorn turn (the validation service's key is one for the whole
// prefix) and, for its lifetime, owns the machine values a host reads: the trusted files, where the
// utility DLL, the browser control, the URL library and the UI configuration are found, and the
// product's resource DLLs. Each value is saved and put back afterwards.

#include "access/tests/TrustTestSupport.h"
#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/UniqueHostId.h"

#include <tlhelp32.h>
#include <windows.h>

#include <cwchar>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace HostRun {

inline std::wstring BinFolder() { return TrustTesting::ProgramFolder(); }
inline std::wstring OrdwellPath() { return BinFolder() + L"\\Ordwell.exe"; }

// One registry value (in the given view), saved on construction and put back on destruction.
class SavedValue {
public:
    SavedValue(HKEY root, std::wstring subkey, std::wstring name, REGSAM view)
        : m_root(root), m_subkey(std::move(subkey)), m_name(std::move(name)), m_view(view)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(m_root, m_subkey.c_str(), 0, KEY_QUERY_VALUE | m_view, &key) == ERROR_SUCCESS) {
            DWORD size = 0;
            if (RegQueryValueExW(key, m_name.c_str(), nullptr, &m_type, nullptr, &size) == ERROR_SUCCESS) {
                m_saved.resize(size);
                if (RegQueryValueExW(key, m_name.c_str(), nullptr, &m_type, m_saved.data(), &size) == ERROR_SUCCESS) {
                    m_saved.resize(size);
                    m_had = true;
                }
            }
            RegCloseKey(key);
        }
    }
    ~SavedValue()
    {
        if (m_had) {
            Write(m_type, m_saved.data(), static_cast<DWORD>(m_saved.size()));
        } else {
            Remove();
        }
    }
    SavedValue(const SavedValue&) = delete;
    SavedValue& operator=(const SavedValue&) = delete;

    bool SetText(const std::wstring& text)
    {
        return Write(REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }
    bool SetDword(DWORD value) { return Write(REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)); }
    bool SetMultiText(const std::vector<std::wstring>& texts)
    {
        std::wstring list;
        for (const std::wstring& text : texts) list += text + L'\0';
        list += L'\0';
        return Write(REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list.data()),
                     static_cast<DWORD>(list.size() * sizeof(wchar_t)));
    }
    void Remove()
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(m_root, m_subkey.c_str(), 0, KEY_SET_VALUE | m_view, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, m_name.c_str());
            RegCloseKey(key);
        }
    }

private:
    bool Write(DWORD type, const BYTE* data, DWORD size)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(m_root, m_subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE | m_view, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
            return false;
        }
        const bool written = RegSetValueExW(key, m_name.c_str(), 0, type, data, size) == ERROR_SUCCESS;
        RegCloseKey(key);
        return written;
    }

    HKEY m_root;
    std::wstring m_subkey;
    std::wstring m_name;
    REGSAM m_view;
    DWORD m_type = REG_NONE;
    std::vector<BYTE> m_saved;
    bool m_had = false;
};

inline constexpr wchar_t kTessilClassKey[] =
    L"Software\\Classes\\CLSID\\{AD6E7ABF-E06F-4ff6-B734-D04F22DAE042}";
inline constexpr wchar_t kApplicationInfoQrnKey[] = L"SOFTWARE\\Tervane\\QRN\\Settings\\ApplicationInfo\\qrn";

// A fresh folder under the prefix's temporary folder, removed with what it holds.
class RunFolder {
public:
    explicit RunFolder(const wchar_t* prefix)
    {
        wchar_t temp[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, temp);
        wchar_t name[64] = {};
        _snwprintf_s(name, _countof(name), _TRUNCATE, L"%ls%lu_%llu", prefix, GetCurrentProcessId(),
                     static_cast<unsigned long long>(GetTickCount64()));
        m_path = std::wstring(temp) + name;
        CreateDirectoryW(m_path.c_str(), nullptr);
    }
    ~RunFolder()
    {
        WIN32_FIND_DATAW found{};
        HANDLE search = FindFirstFileW((m_path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                    DeleteFileW((m_path + L"\\" + found.cFileName).c_str());
                }
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(m_path.c_str());
    }
    RunFolder(const RunFolder&) = delete;
    RunFolder& operator=(const RunFolder&) = delete;
    [[nodiscard]] const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
};

// Everything a host needs to run from the build's bin folder. Check Ready() before use.
class HostRunEnvironment {
public:
    HostRunEnvironment() : m_folder(L"hostrun")
    {
        const std::wstring bin = BinFolder();
        m_ready = m_turn.owned();
        m_ready = m_halvornFolder.SetText(bin + L"\\halvorn") && m_ready;
        m_ready = m_halvornVersion.SetText(L"15.9") && m_ready;
        m_trustedFiles = {bin + L"\\kvutil\\KvUtil.dll", bin + L"\\kvbrwsr2\\KvBrwsr2.dll", bin + L"\\Tessil.dll",
                          bin + L"\\Corvane.dll"};
        m_ready = m_trusted.SetMultiText(m_trustedFiles) && m_ready;
        m_ready = m_kvUtilFolder.SetText(bin + L"\\kvutil") && m_ready;
        // The browser control is looked for beside the program, then in the common-files folder.
        m_ready = m_commonFiles.SetText(bin + L"\\kvbrwsr2") && m_ready;
        // The UI configuration file lies in the product install folder.
        m_ready = m_installDir.SetText(m_folder.Path()) && m_ready;
        m_ready = m_resDll.SetText(bin + L"\\resources\\locale\\qrnres.dll") && m_ready;
        // The URL library finds page DLLs in the UI DLL's folder.
        m_ready = m_uiDll.SetText(bin + L"\\resources\\hostrun\\qrnui.dll") && m_ready;
        m_ready = m_tessilServer.SetText(bin + L"\\Tessil.dll") && m_ready;
        m_ready = CopyFileW((bin + L"\\resources\\hostrun\\qrnuicfg.dat").c_str(),
                            (m_folder.Path() + L"\\qrnuicfg.dat").c_str(), FALSE) != FALSE &&
                  m_ready;
        m_browserLog = m_folder.Path() + L"\\browser.log";
        m_busLog = m_folder.Path() + L"\\bus.log";
        SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_LOG", m_browserLog.c_str());
        SetEnvironmentVariableW(L"CORVANE_STANDIN_LOG", m_busLog.c_str());
        SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_ZOOM_PENDING", nullptr);
        SetEnvironmentVariableW(L"ORDWELL_KVUTIL_ADMIN", nullptr);
    }
    ~HostRunEnvironment()
    {
        SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_LOG", nullptr);
        SetEnvironmentVariableW(L"CORVANE_STANDIN_LOG", nullptr);
        SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_ZOOM_PENDING", nullptr);
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kTessilClassKey);
        RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kTessilClassKey, KEY_WOW64_64KEY, 0);
    }
    HostRunEnvironment(const HostRunEnvironment&) = delete;
    HostRunEnvironment& operator=(const HostRunEnvironment&) = delete;

    [[nodiscard]] bool Ready() const { return m_ready; }
    // Adds a file to the trusted list for the rest of the run (put back with the list).
    bool TrustAlso(const std::wstring& path)
    {
        m_trustedFiles.push_back(path);
        return m_trusted.SetMultiText(m_trustedFiles);
    }
    [[nodiscard]] const std::wstring& BrowserLog() const { return m_browserLog; }
    [[nodiscard]] const std::wstring& BusLog() const { return m_busLog; }
    [[nodiscard]] const std::wstring& Folder() const { return m_folder.Path(); }

private:
    // Declared first: every value below is written and put back inside the turn.
    TrustTesting::HalvornKeyTurn m_turn;
    RunFolder m_folder;
    SavedValue m_halvornFolder{HKEY_LOCAL_MACHINE, L"Software\\Tervane\\Halvorn", L"szInstallDir64", KEY_WOW64_32KEY};
    SavedValue m_halvornVersion{HKEY_LOCAL_MACHINE, L"Software\\Tervane\\Halvorn", L"halvorn_version",
                                KEY_WOW64_32KEY};
    SavedValue m_trusted{HKEY_LOCAL_MACHINE, L"Software\\Tervane\\Halvorn", L"trusted_paths", KEY_WOW64_32KEY};
    SavedValue m_kvUtilFolder{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\Platform", L"kvutil64_install_dir",
                              KEY_WOW64_64KEY};
    SavedValue m_commonFiles{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN", L"CommonFiles Dir", KEY_WOW64_64KEY};
    SavedValue m_installDir{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN", L"Install Dir", KEY_WOW64_64KEY};
    SavedValue m_resDll{HKEY_LOCAL_MACHINE, kApplicationInfoQrnKey, L"ResDll", KEY_WOW64_64KEY};
    SavedValue m_uiDll{HKEY_LOCAL_MACHINE, kApplicationInfoQrnKey, L"UIDll", KEY_WOW64_64KEY};
    SavedValue m_tessilServer{HKEY_LOCAL_MACHINE, std::wstring(kTessilClassKey) + L"\\InprocServer32", L"",
                              KEY_WOW64_64KEY};
    std::vector<std::wstring> m_trustedFiles;
    std::wstring m_browserLog;
    std::wstring m_busLog;
    bool m_ready = false;
};

// A started Ordwell.exe (or any program); ended by force when still running at destruction.
using Process = Fundor::testing::ChildProcess;

inline std::wstring PidPrefix(DWORD pid) { return L"pid=" + std::to_wstring(pid) + L" "; }

// The lines of a UTF-8 log that several processes append to.
inline std::vector<std::wstring> ReadLogLines(const std::wstring& path)
{
    std::vector<std::wstring> lines;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return lines;
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    if (!bytes.empty()) ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    CloseHandle(file);
    bytes.resize(read);
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos) break;  // a line still being written
        std::size_t length = end - start;
        if (length > 0 && bytes[start + length - 1] == '\r') --length;
        const int wide = MultiByteToWideChar(CP_UTF8, 0, bytes.data() + start, static_cast<int>(length), nullptr, 0);
        std::wstring line(static_cast<std::size_t>(wide), L'\0');
        if (wide > 0) MultiByteToWideChar(CP_UTF8, 0, bytes.data() + start, static_cast<int>(length), line.data(), wide);
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// Lines of process pid that contain every one of the texts.
inline std::vector<std::wstring> LinesOf(const std::wstring& path, DWORD pid, std::initializer_list<std::wstring> texts)
{
    std::vector<std::wstring> found;
    const std::wstring prefix = PidPrefix(pid);
    for (const std::wstring& line : ReadLogLines(path)) {
        if (line.compare(0, prefix.size(), prefix) != 0) continue;
        bool all = true;
        for (const std::wstring& text : texts) all = all && line.find(text) != std::wstring::npos;
        if (all) found.push_back(line);
    }
    return found;
}

// Polls condition every 20 ms until it holds or the time is up; its last answer.
inline bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds)
{
    const ULONGLONG end = GetTickCount64() + milliseconds;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= end) return condition();
        Sleep(20);
    }
}

// The top-level window of process pid whose class is className, or null.
inline HWND FindProcessWindow(DWORD pid, const std::wstring& className)
{
    struct Search {
        DWORD pid;
        const std::wstring* className;
        HWND found;
    } search{pid, &className, nullptr};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* wanted = reinterpret_cast<Search*>(parameter);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            wchar_t name[300] = {};
            GetClassNameW(window, name, 300);
            if (owner == wanted->pid && *wanted->className == name) {
                wanted->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

using Fundor::testing::UniqueHostId;

// Hands a message to the bus stand-in inside process pid, as if another bus client published it.
// The number of callbacks it reached, or nullopt when the stand-in did not answer in time.
inline std::optional<DWORD> InjectBusMessage(DWORD pid, const std::wstring& name, const std::wstring& data,
                                             DWORD senderSession)
{
    const std::wstring key = L"Software\\Tervane\\CorvaneStandIn\\Inject\\" + std::to_wstring(pid);
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS) {
        return std::nullopt;
    }
    auto setText = [&](const wchar_t* value, const std::wstring& text) {
        RegSetValueExW(handle, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    };
    setText(L"name", name);
    setText(L"source", L"HostRunTest");
    setText(L"data", data);
    RegSetValueExW(handle, L"sender_session", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&senderSession),
                   sizeof(senderSession));
    RegDeleteValueW(handle, L"delivered");
    std::optional<DWORD> delivered;
    HANDLE done = OpenEventW(SYNCHRONIZE, FALSE, (L"CorvaneStandIn.Delivered." + std::to_wstring(pid)).c_str());
    HANDLE inject = OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"CorvaneStandIn.Inject." + std::to_wstring(pid)).c_str());
    if (done != nullptr && inject != nullptr && SetEvent(inject) && WaitForSingleObject(done, 10000) == WAIT_OBJECT_0) {
        DWORD count = 0;
        DWORD size = sizeof(count);
        if (RegQueryValueExW(handle, L"delivered", nullptr, nullptr, reinterpret_cast<BYTE*>(&count), &size) ==
            ERROR_SUCCESS) {
            delivered = count;
        }
    }
    if (done != nullptr) CloseHandle(done);
    if (inject != nullptr) CloseHandle(inject);
    RegCloseKey(handle);
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
    return delivered;
}

// A host started on body page of the test page DLL, with the host ID given.
inline std::wstring HostArguments(const std::wstring& id, const std::wstring& page)
{
    return L"/id:" + id + L" /body:sarn://hostpages.dll::" + page;
}

}  // namespace HostRun
