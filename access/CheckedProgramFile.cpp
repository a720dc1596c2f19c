#include "access/CheckedProgramFile.h"

#include "access/ModuleTrust.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <atomic>
#include <cwchar>
#include <new>
#include <vector>

using Fundor::ScopedHandle;

namespace {

std::atomic<TrustDetail::ShellExecuteFunction> g_shellExecute{&::ShellExecuteW};

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// Past "server\share\" of a UNC path: where the names below the share begin, or null. A server
// named "." or "?" is the device or the literal namespace, never a share.
const wchar_t* BelowShare(const wchar_t* server, bool anySeparator)
{
    auto separator = [anySeparator](wchar_t c) { return anySeparator ? IsSeparator(c) : c == L'\\'; };
    const wchar_t* p = server;
    while (*p != L'\0' && !separator(*p)) ++p;
    if (p == server || *p == L'\0') return nullptr;
    if (p - server == 1 && (server[0] == L'.' || server[0] == L'?')) return nullptr;
    const wchar_t* share = ++p;
    while (*p != L'\0' && !separator(*p)) ++p;
    if (p == share || *p == L'\0') return nullptr;
    return p + 1;
}

// Where the part that may only hold plain names begins (the server of a share, the first folder
// below a drive), or null when path is not fully qualified.
const wchar_t* NamesOf(const wchar_t* path)
{
    if (std::wcsncmp(path, L"\\\\?\\", 4) == 0) {
        const wchar_t* rest = path + 4;
        if (IsDriveLetter(rest[0]) && rest[1] == L':' && rest[2] == L'\\') return rest + 3;
        if (_wcsnicmp(rest, L"UNC\\", 4) == 0 && BelowShare(rest + 4, false) != nullptr) return rest + 4;
        return nullptr;  // volume names, "GLOBALROOT" and the like
    }
    if (IsDriveLetter(path[0]) && path[1] == L':' && IsSeparator(path[2])) return path + 3;
    if (IsSeparator(path[0]) && IsSeparator(path[1]) && BelowShare(path + 2, true) != nullptr) return path + 2;
    return nullptr;
}

// A fully qualified name of a file (not of a stream, and no pattern) with something below its
// root.
bool IsQualifiedFileName(const wchar_t* path)
{
    const wchar_t* names = NamesOf(path);
    if (names == nullptr || *names == L'\0') return false;
    for (const wchar_t* p = names; *p != L'\0'; ++p) {
        if (*p < 0x20 || std::wcschr(L":*?\"<>|", *p) != nullptr) return false;
    }
    return true;
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// The final path of the held file as a drive or UNC path.
DWORD FinalPathOf(HANDLE file, std::wstring& path)
{
    std::vector<wchar_t> buffer(MAX_PATH + 16, L'\0');
    const DWORD length = ::GetFinalPathNameByHandleW(file, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) {
        const DWORD error = ::GetLastError();
        return error != 0 ? error : ERROR_ACCESS_DENIED;
    }
    if (length >= buffer.size()) return ERROR_FILENAME_EXCED_RANGE;
    const std::wstring text(buffer.data(), length);
    if (text.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
        path = L"\\\\" + text.substr(8);
    } else if (text.compare(0, 4, L"\\\\?\\") == 0) {
        path = text.substr(4);
    } else {
        path = text;
    }
    return path.size() < MAX_PATH ? ERROR_SUCCESS : ERROR_FILENAME_EXCED_RANGE;
}

// Whether name, read the way every later user reads it, opens the held file again.
bool NamesHeldFile(const std::wstring& name, const BY_HANDLE_FILE_INFORMATION& held)
{
    if (NamesOf(name.c_str()) == nullptr || std::wcsncmp(name.c_str(), L"\\\\?\\", 4) == 0) return false;
    // Attributes only: no sharing conflict with the hold.
    ScopedHandle again(::CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    return again && ::GetFileInformationByHandle(again.get(), &info) != FALSE && SameFile(info, held);
}

}  // namespace

DWORD CheckedProgramFile::Hold(const wchar_t* path) { return Open(path, true); }

DWORD CheckedProgramFile::Resolve(const wchar_t* path) { return Open(path, false); }

DWORD CheckedProgramFile::Open(const wchar_t* path, bool lock)
{
    reset();
    if (path == nullptr || !IsQualifiedFileName(path)) return ERROR_INVALID_PARAMETER;
    try {
        // Held: readable by others (a start reads it) but neither writable nor deletable.
        ScopedHandle file(::CreateFileW(
            path, lock ? GENERIC_READ : FILE_READ_ATTRIBUTES,
            lock ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
            FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            const DWORD error = ::GetLastError();
            return error != 0 ? error : ERROR_FILE_NOT_FOUND;
        }
        BY_HANDLE_FILE_INFORMATION info = {};
        if (::GetFileInformationByHandle(file.get(), &info) == FALSE) return ERROR_ACCESS_DENIED;
        if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return ERROR_FILE_NOT_FOUND;
        std::wstring finalPath;
        const DWORD named = FinalPathOf(file.get(), finalPath);
        if (named != ERROR_SUCCESS) return named;
        if (!NamesHeldFile(finalPath, info)) return ERROR_ACCESS_DENIED;
        m_path = std::move(finalPath);
        m_hold = std::move(file);
        m_locked = lock;
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        reset();
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD CheckedProgramFile::Check(const wchar_t* path)
{
    const DWORD held = Hold(path);
    return held == ERROR_SUCCESS ? Validate() : held;
}

DWORD CheckedProgramFile::Validate()
{
    if (!held()) return ERROR_INVALID_HANDLE;
    if (ValidateModulePath(m_path.c_str()) != ERROR_SUCCESS) {
        reset();
        return ERROR_ACCESS_DENIED;
    }
    return ERROR_SUCCESS;
}

const wchar_t* CheckedProgramFile::extension() const noexcept
{
    return m_hold ? ::PathFindExtensionW(m_path.c_str()) : L"";
}

DWORD CheckedProgramFile::Start(const wchar_t* parameters) const
{
    if (!held()) return ERROR_INVALID_HANDLE;
    return ShellStart(L"open", m_path.c_str(), parameters != nullptr && *parameters != L'\0' ? parameters : nullptr);
}

void CheckedProgramFile::reset() noexcept
{
    m_hold.reset();
    m_path.clear();
    m_locked = false;
}

bool IsDrivePath(const wchar_t* path) noexcept
{
    if (path == nullptr) return false;
    if (std::wcsncmp(path, L"\\\\?\\", 4) == 0) path += 4;
    return IsDriveLetter(path[0]) && path[1] == L':' && path[2] == L'\\';
}

DWORD ShellStart(const wchar_t* verb, const wchar_t* file, const wchar_t* parameters)
{
    const auto started =
        reinterpret_cast<INT_PTR>(g_shellExecute.load()(nullptr, verb, file, parameters, nullptr, SW_SHOWNORMAL));
    if (started > 32) return ERROR_SUCCESS;
    // 0 is the shell's "out of memory or resources", never a success.
    return started == 0 ? ERROR_NOT_ENOUGH_MEMORY : static_cast<DWORD>(started);
}

TrustDetail::ShellExecuteFunction TrustDetail::ExchangeShellExecute(ShellExecuteFunction replacement) noexcept
{
    return g_shellExecute.exchange(replacement != nullptr ? replacement : &::ShellExecuteW);
}
