#pragma once
// Safe DLL loading: from the System folder or by a fully qualified path only.
//
// Linking the core library also restricts the process's default DLL search to the System folder
// (SetDefaultDllDirectories with LOAD_LIBRARY_SEARCH_SYSTEM32), done by a static initialiser
// before the entry point runs.

#include <windows.h>

namespace Fundor {

// Loads name from the System folder (LoadLibraryExW with flags 0). Null name or no System
// folder: null. The caller owns the module.
[[nodiscard]] HMODULE LoadSystemLibrary(const wchar_t* name);

// Loads path with LoadLibraryExW(path, null, flags) only when it is fully qualified (a drive
// or server share, a root directory, a folder and a file name); otherwise null with no attempt
// and last error ERROR_INVALID_PARAMETER.
[[nodiscard]] HMODULE LoadQualifiedLibrary(const wchar_t* path, DWORD flags);

// True when path names a file by drive or share, root and at least one folder level.
[[nodiscard]] bool IsFullyQualifiedFilePath(const wchar_t* path);

// Whether the start-up restriction of the DLL search took effect in this process.
[[nodiscard]] bool IsSetDefaultDllDirectoriesApplied();

}  // namespace Fundor
