#pragma once
// Starts the maker's updater "KvUpdate.exe", which lives beside the server registered for
// {E0EC0F2B-773D-4dd7-BE6C-7D85D6AA6269}. Nothing here logs or throws.

#include <windows.h>

inline constexpr wchar_t kUpdaterServerClsid[] = L"{E0EC0F2B-773D-4dd7-BE6C-7D85D6AA6269}";
inline constexpr wchar_t kUpdaterFileName[] = L"KvUpdate.exe";

// Binds the utility library for the time of the call (it must be loadable; its code is returned
// when it is not), finds the updater, checks it with the module trust check and starts it with the
// shell's "open" verb and the given arguments (may be null). The file stays open against writing
// and deletion from before the check until the start returns, and the start names it by the final
// path of the file checked (CheckedProgramFile). 0 started; ERROR_PATH_NOT_FOUND the CLSID names no
// server; ERROR_INVALID_NAME the server path holds no backslash; ERROR_FILENAME_EXCED_RANGE the
// updater's path does not fit MAX_PATH characters; ERROR_ACCESS_DENIED the updater cannot be held
// or is not trusted; the shell's own result (32 or below) when the start fails,
// ERROR_NOT_ENOUGH_MEMORY when the shell reports no resources (0).
[[nodiscard]] DWORD LaunchKvUpdate(const wchar_t* arguments);
