#pragma once
// File and folder calls of the Velmo library, behind an interface so that the path search and
// other logic can run against a substitute. The default implementation forwards to the core
// library's file helpers (FileSystemHelpers.h) and to the platform calls of the same role, and
// returns their results unchanged (BOOL results as bool). It keeps no state; any thread may use
// it. Handles returned by an operation belong to the caller.

#include <windows.h>

#include <string>

namespace Velmo {

class PathAPI {
public:
    PathAPI() = default;
    PathAPI(const PathAPI&) = delete;
    PathAPI& operator=(const PathAPI&) = delete;
    virtual ~PathAPI();

    // An existing path that is not a folder.
    [[nodiscard]] virtual bool isFile(const std::wstring& path);
    // An existing folder.
    [[nodiscard]] virtual bool isDirectory(const std::wstring& path);
    // An existing regular file (the C run-time's stat).
    [[nodiscard]] virtual bool isRegularFile(const std::wstring& path);
    // Deletes everything inside the folder, sub-folders included; with removeRoot the folder
    // itself goes too.
    [[nodiscard]] virtual bool deleteTree(const std::wstring& path, bool removeRoot);
    // Creates every missing folder of the path (an existing folder counts as success).
    [[nodiscard]] virtual bool createDirectoryPath(const std::wstring& path);
    // Removes the folder with its contents.
    [[nodiscard]] virtual bool removeDirectory(const std::wstring& path);
    [[nodiscard]] virtual HANDLE createFile(const wchar_t* path, DWORD access, DWORD shareMode,
                                            SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags,
                                            HANDLE templateFile);
    [[nodiscard]] virtual bool moveFile(const wchar_t* existing, const wchar_t* newName);
    [[nodiscard]] virtual bool deleteFile(const wchar_t* path);
    [[nodiscard]] virtual bool readDirectoryChanges(HANDLE folder, void* buffer, DWORD bufferLength,
                                                    bool watchSubtree, DWORD filter, DWORD* bytesReturned,
                                                    OVERLAPPED* overlapped,
                                                    LPOVERLAPPED_COMPLETION_ROUTINE completion);
    // Points into path (PathFindFileNameW).
    [[nodiscard]] virtual const wchar_t* pathFindFileName(const wchar_t* path);
    [[nodiscard]] virtual DWORD getLongPathName(const wchar_t* shortPath, wchar_t* longPath, DWORD characters);
    virtual DWORD sleepEx(DWORD milliseconds, bool alertable);
    [[nodiscard]] virtual bool cancelIoEx(HANDLE file, OVERLAPPED* overlapped);
    [[nodiscard]] virtual bool closeHandle(HANDLE handle);
    [[nodiscard]] virtual HANDLE findFirstFile(const wchar_t* pattern, WIN32_FIND_DATAW* data);
    [[nodiscard]] virtual bool findNextFile(HANDLE search, WIN32_FIND_DATAW* data);
    [[nodiscard]] virtual bool findClose(HANDLE search);
    [[nodiscard]] virtual DWORD getLastError();
    // The whole file read through a wide input file stream in text mode (one character per
    // byte, the stream's default conversion). False, with text untouched, when it cannot be
    // opened or read.
    [[nodiscard]] virtual bool readFile(const std::wstring& path, std::wstring& text);
    // Writes text through a wide output file stream in text mode, replacing the file. False when
    // it cannot be opened or written, or a character does not fit one byte.
    [[nodiscard]] virtual bool writeFile(const std::wstring& path, const std::wstring& text);
};

}  // namespace Velmo
