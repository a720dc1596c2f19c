#pragma once
// Shared by the tests of every program start that is checked first (the updater, the session
// manager's launches): a folder link that is re-pointed between the check and the start, and a
// look at what reaches the shell.

#include "access/CheckedProgramFile.h"
#include "core/base/ScopedResource.h"
#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>
#include <shellapi.h>
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace LaunchTesting {

// The final path of a file or folder as the platform resolves it ("" when it cannot be opened).
inline std::wstring ResolvedPath(const std::wstring& path)
{
    Fundor::ScopedHandle opened(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    wchar_t final[1024] = {};
    if (!opened || GetFinalPathNameByHandleW(opened.get(), final, 1024, 0) == 0) return {};
    return std::wstring(final).substr(std::wstring(final).rfind(L"\\\\?\\", 0) == 0 ? 4 : 0);
}

// The record of a stand-in started as a recorder (the updater stand-in writes its own path, a
// line feed and its arguments, UTF-16, into the file ORDWELL_KVUPDATE_LOG names): program and
// arguments, nullopt when none came within `tenths` tenths of a second. The record is removed.
inline std::optional<std::pair<std::wstring, std::wstring>> TakeRecord(const std::wstring& log, int tenths = 300)
{
    for (int waited = 0; waited < tenths && GetFileAttributesW(log.c_str()) == INVALID_FILE_ATTRIBUTES; ++waited)
        Sleep(100);
    std::wstring record;
    {
        Fundor::ScopedHandle file(
            CreateFileW(log.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file) return std::nullopt;
        record.resize(GetFileSize(file.get(), nullptr) / sizeof(wchar_t));
        DWORD read = 0;
        if (!record.empty())
            ReadFile(file.get(), record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)), &read, nullptr);
        record.resize(read / sizeof(wchar_t));
    }
    DeleteFileW(log.c_str());
    const std::size_t lineEnd = record.find(L'\n');
    if (lineEnd == std::wstring::npos) return std::nullopt;
    return std::make_pair(record.substr(0, lineEnd), record.substr(lineEnd + 1));
}

// A folder link, pointed at one folder and re-pointed at another, removed (never what it points
// at) when the object goes. A Windows attacker would use a junction; Wine 8 makes none
// (FSCTL_SET_REPARSE_POINT answers 50) but follows the host's symbolic links exactly as Windows
// follows junctions, so the link is made by the host's "ln", which Wine starts like any program.
class FolderLink {
public:
    explicit FolderLink(std::wstring link) : m_link(std::move(link)) {}
    ~FolderLink()
    {
        Run(L"/bin/rm", L"-f \"" + HostPath(m_link) + L"\"");
        for (int tenth = 0; tenth < 100 && GetFileAttributesW(m_link.c_str()) != INVALID_FILE_ATTRIBUTES; ++tenth)
            Sleep(100);
    }
    FolderLink(const FolderLink&) = delete;
    FolderLink& operator=(const FolderLink&) = delete;

    const std::wstring& path() const { return m_link; }

    // Points the link at folder; true once the platform resolves it there.
    bool PointAt(const std::wstring& folder) const
    {
        Run(L"/bin/ln", L"-sfn \"" + HostPath(folder) + L"\" \"" + HostPath(m_link) + L"\"");
        const std::wstring wanted = ResolvedPath(folder);
        for (int tenth = 0; tenth < 200; ++tenth) {
            if (!wanted.empty() && _wcsicmp(ResolvedPath(m_link).c_str(), wanted.c_str()) == 0) return true;
            Sleep(100);
        }
        return false;
    }

private:
    // The host's name of a Windows path (its folder must exist).
    static std::wstring HostPath(const std::wstring& path)
    {
        using ToHost = char*(CDECL*)(LPCWSTR);
        const auto toHost =
            reinterpret_cast<ToHost>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"),
                                                                            "wine_get_unix_file_name")));
        char* host = toHost != nullptr ? toHost(path.c_str()) : nullptr;
        EXPECT_NE(nullptr, host) << "no host name for a path";
        const std::string text = host != nullptr ? host : "";
        HeapFree(GetProcessHeap(), 0, host);
        return std::wstring(text.begin(), text.end());
    }
    // Wine hands host programs no process handle to wait on: callers wait for the effect.
    static void Run(const wchar_t* program, const std::wstring& arguments)
    {
        ASSERT_TRUE(Fundor::testing::ChildProcess(program, arguments).started());
    }

    std::wstring m_link;
};

// Stands between every checked start and the shell for its lifetime: it notes the file each start
// names, runs `between` (the attacker's move after the check) and then lets the real shell start
// that very file.
class ShellStartSpy {
public:
    explicit ShellStartSpy(std::function<void()> between)
    {
        s_between = std::move(between);
        s_files.clear();
        m_previous = TrustDetail::ExchangeShellExecute(&Start);
    }
    ~ShellStartSpy()
    {
        TrustDetail::ExchangeShellExecute(m_previous);
        s_between = nullptr;
    }
    ShellStartSpy(const ShellStartSpy&) = delete;
    ShellStartSpy& operator=(const ShellStartSpy&) = delete;

    // The files the shell was asked to start, in order.
    static const std::vector<std::wstring>& files() { return s_files; }

private:
    static HINSTANCE WINAPI Start(HWND window, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR folder,
                                  INT show)
    {
        s_files.emplace_back(file != nullptr ? file : L"<null>");
        if (s_between) s_between();
        return ShellExecuteW(window, verb, file, parameters, folder, show);
    }

    static inline std::function<void()> s_between;
    static inline std::vector<std::wstring> s_files;
    TrustDetail::ShellExecuteFunction m_previous = nullptr;
};

// Two copies of the updater stand-in, each in a folder of its own below a scratch folder, and a
// link "current" pointing at the first: "checked\KvUpdate.exe" (the one a test trusts) and
// "planted\KvUpdate.exe" (what an attacker re-points the link to after the check).
struct RePointableUpdater {
    RePointableUpdater(const std::wstring& trustedCopy, const std::wstring& plantedCopy)
    {
        EXPECT_TRUE(CreateDirectoryW(scratch.File(L"checked").c_str(), nullptr));
        EXPECT_TRUE(CreateDirectoryW(scratch.File(L"planted").c_str(), nullptr));
        EXPECT_TRUE(CopyFileW(trustedCopy.c_str(), scratch.File(L"checked\\KvUpdate.exe").c_str(), FALSE));
        EXPECT_TRUE(CopyFileW(plantedCopy.c_str(), scratch.File(L"planted\\KvUpdate.exe").c_str(), FALSE));
        EXPECT_TRUE(link.PointAt(scratch.File(L"checked")));
        checked = ResolvedPath(scratch.File(L"checked\\KvUpdate.exe"));
        viaLink = link.path() + L"\\KvUpdate.exe";
    }
    // The attacker's move between the check and the start.
    void RePoint() const { EXPECT_TRUE(link.PointAt(scratch.File(L"planted"))); }

    Fundor::testing::ScratchFolder scratch;
    FolderLink link{scratch.File(L"current")};  // declared after the scratch folder: removed first
    std::wstring checked;                       // the final path of the trusted copy
    std::wstring viaLink;                       // the updater's name through the link
};

}  // namespace LaunchTesting
