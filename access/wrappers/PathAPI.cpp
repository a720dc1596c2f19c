#include "access/wrappers/PathAPI.h"

#include "core/base/FileSystemHelpers.h"

#include <shlwapi.h>

#include <fstream>
#include <iterator>

namespace Velmo {

PathAPI::~PathAPI() = default;

bool PathAPI::isFile(const std::wstring& path) { return Fundor::IsFile(path.c_str()); }

bool PathAPI::isDirectory(const std::wstring& path) { return Fundor::IsDirectory(path.c_str()); }

bool PathAPI::isRegularFile(const std::wstring& path) { return Fundor::FileExists(path.c_str()); }

bool PathAPI::deleteTree(const std::wstring& path, bool removeRoot)
{
    if (removeRoot) {
        return Fundor::RemoveDirectoryPath(path.c_str());
    }
    if (path.empty()) {
        return false;
    }
    const bool endsWithSeparator = path.back() == L'\\' || path.back() == L'/';
    const std::wstring pattern = path + (endsWithSeparator ? L"*.*" : L"\\*.*");
    return Fundor::DeleteDirectoryTree(pattern.c_str(), true);
}

bool PathAPI::createDirectoryPath(const std::wstring& path) { return Fundor::CreateDirectoryPath(path.c_str()); }

bool PathAPI::removeDirectory(const std::wstring& path) { return Fundor::RemoveDirectoryPath(path.c_str()); }

HANDLE PathAPI::createFile(const wchar_t* path, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES* security,
                           DWORD disposition, DWORD flags, HANDLE templateFile)
{
    return ::CreateFileW(path, access, shareMode, security, disposition, flags, templateFile);
}

bool PathAPI::moveFile(const wchar_t* existing, const wchar_t* newName)
{
    return ::MoveFileW(existing, newName) != FALSE;
}

bool PathAPI::deleteFile(const wchar_t* path) { return ::DeleteFileW(path) != FALSE; }

bool PathAPI::readDirectoryChanges(HANDLE folder, void* buffer, DWORD bufferLength, bool watchSubtree, DWORD filter,
                                   DWORD* bytesReturned, OVERLAPPED* overlapped,
                                   LPOVERLAPPED_COMPLETION_ROUTINE completion)
{
    return ::ReadDirectoryChangesW(folder, buffer, bufferLength, watchSubtree ? TRUE : FALSE, filter, bytesReturned,
                                   overlapped, completion) != FALSE;
}

const wchar_t* PathAPI::pathFindFileName(const wchar_t* path) { return ::PathFindFileNameW(path); }

DWORD PathAPI::getLongPathName(const wchar_t* shortPath, wchar_t* longPath, DWORD characters)
{
    return ::GetLongPathNameW(shortPath, longPath, characters);
}

DWORD PathAPI::sleepEx(DWORD milliseconds, bool alertable) { return ::SleepEx(milliseconds, alertable ? TRUE : FALSE); }

bool PathAPI::cancelIoEx(HANDLE file, OVERLAPPED* overlapped) { return ::CancelIoEx(file, overlapped) != FALSE; }

bool PathAPI::closeHandle(HANDLE handle) { return ::CloseHandle(handle) != FALSE; }

HANDLE PathAPI::findFirstFile(const wchar_t* pattern, WIN32_FIND_DATAW* data)
{
    return ::FindFirstFileW(pattern, data);
}

bool PathAPI::findNextFile(HANDLE search, WIN32_FIND_DATAW* data) { return ::FindNextFileW(search, data) != FALSE; }

bool PathAPI::findClose(HANDLE search) { return ::FindClose(search) != FALSE; }

DWORD PathAPI::getLastError() { return ::GetLastError(); }

bool PathAPI::readFile(const std::wstring& path, std::wstring& text)
{
    // The C run-time opens stream files shared for reading and writing (no deny mode).
    std::wifstream stream(path.c_str(), std::ios::in);
    if (!stream.is_open()) {
        return false;
    }
    std::wstring content((std::istreambuf_iterator<wchar_t>(stream)), std::istreambuf_iterator<wchar_t>());
    if (stream.bad()) {
        return false;
    }
    text = std::move(content);
    return true;
}

bool PathAPI::writeFile(const std::wstring& path, const std::wstring& text)
{
    std::wofstream stream(path.c_str(), std::ios::out | std::ios::trunc);
    if (!stream.is_open()) {
        return false;
    }
    stream << text;
    stream.flush();
    return stream.good();
}

}  // namespace Velmo
