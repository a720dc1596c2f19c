#include "core/base/FileSystemHelpers.h"

#include "core/base/ScopedResource.h"

#include <sys/stat.h>

#include <cwchar>

namespace Fundor {
namespace {

constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_NORMAL |
                                      FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE |
                                      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_TEMPORARY;

bool IsEmpty(const wchar_t* text) { return text == nullptr || text[0] == L'\0'; }

bool StartsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

// Clears the read-only bit alone; the other attributes stay as they are.
void ClearReadOnly(const std::wstring& path, DWORD attributes)
{
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return;
    }
    DWORD cleared = attributes & kSettableAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (cleared == 0) {
        cleared = FILE_ATTRIBUTE_NORMAL;
    }
    ::SetFileAttributesW(path.c_str(), cleared);
}

// Removes a junction or directory symbolic link itself, never what it points to.
bool RemoveFolderLink(const std::wstring& path, DWORD attributes)
{
    ClearReadOnly(path, attributes);
    return ::RemoveDirectoryW(path.c_str()) != FALSE;
}

// Length of the root of an absolute path: "C:\", "\\server\share\", "\\?\C:\",
// "\\?\UNC\server\share\", "\\?\Volume{...}\" (the separator after the root included when
// present). 0 when the path has no recognisable root.
std::size_t RootLength(const std::wstring& path)
{
    auto afterComponents = [&path](std::size_t start, int components) -> std::size_t {
        std::size_t position = start;
        for (int i = 0; i < components; ++i) {
            const std::size_t separator = path.find(L'\\', position);
            if (separator == position) return 0;  // empty server, share or volume name
            if (separator == std::wstring::npos) return i + 1 == components ? path.size() : 0;
            position = separator + 1;
        }
        return position;
    };
    if (StartsWith(path, L"\\\\?\\")) {
        if (StartsWith(path, L"\\\\?\\UNC\\")) return afterComponents(8, 2);
        if (path.size() >= 6 && path[5] == L':') return path.size() > 6 && path[6] == L'\\' ? 7 : 6;
        return afterComponents(4, 1);
    }
    if (StartsWith(path, L"\\\\")) return afterComponents(2, 2);
    if (path.size() >= 3 && path[1] == L':' && path[2] == L'\\') return 3;
    return 0;
}

// Drops separators at the end, but not the root's own.
void TrimTrailingSeparators(std::wstring& path)
{
    const std::size_t root = RootLength(path);
    while (path.size() > root && path.size() > 1 && path.back() == L'\\') {
        path.pop_back();
    }
}

bool GetFullPath(const wchar_t* path, std::wstring& full)
{
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFullPathNameW(path, static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        if (length == 0) {
            return false;
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            full = std::move(buffer);
            return true;
        }
        buffer.resize(length);  // the needed size, terminator included
    }
}

// One folder whose parent exists: 0 when it is (or now is) a folder.
DWORD CreateOneFolder(const std::wstring& folder)
{
    if (IsDirectory(folder.c_str())) {
        return ERROR_SUCCESS;
    }
    if (::CreateDirectoryW(folder.c_str(), nullptr) != FALSE) {
        return ERROR_SUCCESS;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS) {
        // Made by someone else meanwhile, or a file of that name is in the way.
        return IsDirectory(folder.c_str()) ? ERROR_SUCCESS : ERROR_FILE_EXISTS;
    }
    return error;
}

}  // namespace

bool IsFile(const wchar_t* path)
{
    if (IsEmpty(path)) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsDirectory(const wchar_t* path)
{
    if (IsEmpty(path)) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FileExists(const wchar_t* path)
{
    if (IsEmpty(path)) {
        return false;
    }
    struct _stat64 status = {};
    return ::_wstat64(path, &status) == 0 && (status.st_mode & _S_IFREG) != 0;
}

bool SplitPath(const wchar_t* path, std::wstring& folder, bool separatorWithFolder, std::wstring& name)
{
    if (IsEmpty(path)) {
        return false;
    }
    const std::wstring text(path);
    const std::size_t separator = text.rfind(L'\\');
    if (separator == std::wstring::npos) {
        return false;
    }
    const std::size_t folderEnd = separatorWithFolder ? separator + 1 : separator;
    const std::size_t nameBegin = separatorWithFolder ? separator : separator + 1;
    std::wstring folderPart = text.substr(0, folderEnd);
    std::wstring namePart = text.substr(nameBegin);
    folder = std::move(folderPart);
    name = std::move(namePart);
    return true;
}

bool DeleteDirectoryTree(const wchar_t* pattern, bool recurse)
{
    if (IsEmpty(pattern)) {
        return false;
    }
    const std::wstring text(pattern);
    if (text == L"." || text == L"..") {
        return false;
    }
    const std::size_t separator = text.rfind(L'\\');
    if (separator == std::wstring::npos || separator + 1 == text.size()) {
        return false;
    }
    const std::wstring folder = text.substr(0, separator + 1);

    WIN32_FIND_DATAW entry = {};
    ScopedFindHandle search(::FindFirstFileW(pattern, &entry));
    if (!search) {
        return false;
    }
    bool allDeleted = true;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        const std::wstring path = folder + name;
        const DWORD attributes = entry.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            if (!recurse) {
                continue;
            }
            // A junction or directory link may point anywhere, even above this tree.
            const bool removed = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? RemoveFolderLink(path, attributes)
                                                                                 : RemoveDirectoryPath(path.c_str());
            allDeleted = removed && allDeleted;
        } else {
            ClearReadOnly(path, attributes);
            allDeleted = ::DeleteFileW(path.c_str()) != FALSE && allDeleted;
        }
    } while (::FindNextFileW(search.get(), &entry) != FALSE);
    return allDeleted;
}

bool RemoveDirectoryPath(const wchar_t* folder)
{
    if (IsEmpty(folder)) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return false;
    }
    std::wstring path(folder);
    TrimTrailingSeparators(path);
    // A root can never be removed; emptying it first would only destroy data.
    std::wstring full;
    if (StartsWith(path, L"\\\\?\\")) {
        full = path;
    } else if (!GetFullPath(path.c_str(), full)) {
        return false;
    }
    TrimTrailingSeparators(full);
    const std::size_t root = RootLength(full);
    if (root == 0 || full.size() <= root) {
        return false;
    }
    // Everything from here works on the checked full path: the folder as given may be drive-
    // relative ("C:"), and joined with "\*.*" it would name the root instead.
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        return RemoveFolderLink(full, attributes);
    }
    const std::wstring pattern = full + L"\\*.*";
    const bool treeDeleted = DeleteDirectoryTree(pattern.c_str(), true);
    ClearReadOnly(full, ::GetFileAttributesW(full.c_str()));
    const bool removed = ::RemoveDirectoryW(full.c_str()) != FALSE;
    return treeDeleted && removed;
}

bool CreateDirectoryPath(const wchar_t* path, DWORD* error)
{
    auto finish = [error](DWORD code, bool result) {
        if (error != nullptr) {
            *error = code;
        }
        return result;
    };
    if (IsEmpty(path)) {
        return finish(ERROR_INVALID_PARAMETER, false);
    }
    std::wstring full;
    if (StartsWith(path, L"\\\\?\\")) {
        full = path;  // taken literally, as the prefix asks
    } else if (!GetFullPath(path, full)) {
        const DWORD code = ::GetLastError();
        return finish(code != ERROR_SUCCESS ? code : ERROR_INVALID_PARAMETER, false);
    }
    TrimTrailingSeparators(full);

    const DWORD attributes = ::GetFileAttributesW(full.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? finish(ERROR_ALREADY_EXISTS, true)
                                                            : finish(ERROR_FILE_EXISTS, false);
    }
    const std::size_t root = RootLength(full);
    if (root == 0 || root >= full.size()) {
        return finish(ERROR_BAD_PATHNAME, false);
    }
    // Every folder below the root, from the outermost in.
    for (std::size_t separator = full.find(L'\\', root); ; separator = full.find(L'\\', separator + 1)) {
        const std::wstring folder = full.substr(0, separator);
        const DWORD code = CreateOneFolder(folder);
        if (code != ERROR_SUCCESS) {
            return finish(code, false);
        }
        if (separator == std::wstring::npos) {
            break;
        }
    }
    return finish(ERROR_SUCCESS, true);
}

bool GetModuleFileNameOnly(HMODULE module, std::wstring& name)
{
    // Module paths are at most a UNICODE_STRING long.
    constexpr std::size_t kLongestPath = 32768;
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return false;
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        if (buffer.size() >= kLongestPath) {
            return false;
        }
        buffer.resize(buffer.size() * 2);
    }
    const std::size_t separator = buffer.find_last_of(L"\\/");
    std::wstring fileName = separator == std::wstring::npos ? buffer : buffer.substr(separator + 1);
    if (fileName.empty()) {
        return false;
    }
    name = std::move(fileName);
    return true;
}

}  // namespace Fundor
