#pragma once
// Free functions for testing, creating and deleting files and folders. Paths are wide; no
// function logs or throws.

#include <windows.h>

#include <string>

namespace Fundor {

// GetFileAttributesW succeeds and the entry is not a folder. False for a null or empty path.
[[nodiscard]] bool IsFile(const wchar_t* path);

// GetFileAttributesW succeeds and the entry is a folder. False for a null or empty path.
[[nodiscard]] bool IsDirectory(const wchar_t* path);

// The C run-time's _wstat64 succeeds and reports a regular file.
[[nodiscard]] bool FileExists(const wchar_t* path);

// Splits path at its last '\'. With separatorWithFolder both parts keep that '\' (folder
// "C:\dir\", name "\file.txt"); without it neither does ("C:\dir", "file.txt"). False, with the
// outputs untouched, for a null or empty path or one without '\'.
[[nodiscard]] bool SplitPath(const wchar_t* path, std::wstring& folder, bool separatorWithFolder, std::wstring& name);

// Deletes what the FindFirstFileW pattern (a folder, '\', then a file pattern such as "*.*")
// matches: files are deleted (their read-only attribute cleared first); sub-folders are removed
// with RemoveDirectoryPath only when recurse is set. A folder that is a junction or symbolic
// link is removed as a link and never entered. The pattern's folder itself stays. True when
// every deletion succeeded; false for a null, empty, "." or ".." pattern, one without '\' or
// ending in '\', and when nothing matches.
[[nodiscard]] bool DeleteDirectoryTree(const wchar_t* pattern, bool recurse);

// Removes the folder with everything in it (read-only attributes cleared). A folder that is a
// junction or symbolic link is removed as a link; its target is left alone. False for a null or
// empty path, a path that is not a folder, and a drive or share root (nothing is deleted then).
[[nodiscard]] bool RemoveDirectoryPath(const wchar_t* folder);

// Creates the folder and every missing folder above it. Relative, drive-relative and UNC paths are
// made absolute with GetFullPathNameW; a "\\?\" path is taken as it is. *error (when error is
// given) receives 0 on success, ERROR_ALREADY_EXISTS with true when the folder already existed,
// ERROR_INVALID_PARAMETER for a null or empty path, ERROR_FILE_EXISTS when a file stands where a
// folder is needed, else the Win32 error of the step that failed.
[[nodiscard]] bool CreateDirectoryPath(const wchar_t* path, DWORD* error = nullptr);

// The file name without its folder of the module (null: the process's executable), however
// long its path. False, with name untouched, when it cannot be had.
[[nodiscard]] bool GetModuleFileNameOnly(HMODULE module, std::wstring& name);

}  // namespace Fundor
