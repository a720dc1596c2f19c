#pragma once
// A file that is started (or handed to a program) by the name of the very file that was looked
// at: the one owner behind every start of a program the suite checks before it runs.
//
// A program is opened, readable by others but neither writable nor deletable, before anything is
// decided about it, and held until the owner goes (Resolve only learns where a document is,
// holding nothing against its writers). From then on the file is named by its final path as
// the held handle gives it, never by the text it was asked for: a junction or link on the way
// that is re-pointed after the check cannot change which file a later start names, and every
// spelling the platform would normalise (trailing dots and blanks, "\\?\" forms, forward slashes,
// short names, "..") comes down to the one file it opened.
//
// Nothing here logs or throws.

#include "core/base/ScopedResource.h"

#include <windows.h>

#include <string>

class CheckedProgramFile {
public:
    CheckedProgramFile() = default;
    CheckedProgramFile(CheckedProgramFile&&) noexcept = default;
    CheckedProgramFile& operator=(CheckedProgramFile&&) noexcept = default;
    CheckedProgramFile(const CheckedProgramFile&) = delete;
    CheckedProgramFile& operator=(const CheckedProgramFile&) = delete;
    ~CheckedProgramFile() = default;

    // Opens and holds the file that path names, without a trust check. path must be fully
    // qualified: "X:\...", "\\server\share\...", or either behind "\\?\" ("\\?\UNC\..." for a
    // share). Whatever was held before is let go first; nothing is held on failure. 0;
    // ERROR_INVALID_PARAMETER null, relative, device or volume path, or a name with a stream (":")
    // or one of * ? " < > | or a control character; CreateFileW's error (ERROR_FILE_NOT_FOUND,
    // ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION ...) when the file cannot
    // be held; ERROR_FILE_NOT_FOUND a folder; ERROR_FILENAME_EXCED_RANGE the final path does not
    // fit MAX_PATH characters; ERROR_ACCESS_DENIED the final path does not open the held file again
    // (a name the platform would read otherwise); ERROR_NOT_ENOUGH_MEMORY no memory.
    [[nodiscard]] DWORD Hold(const wchar_t* path);

    // As Hold, but the file is opened only to learn its final path: others may go on writing or
    // deleting it (a document another program has open). Validate and Start then answer
    // ERROR_INVALID_HANDLE.
    [[nodiscard]] DWORD Resolve(const wchar_t* path);

    // Hold, then Validate.
    // 0 trusted and held; Hold's codes; ERROR_ACCESS_DENIED not trusted (nothing held then).
    [[nodiscard]] DWORD Check(const wchar_t* path);

    // The module trust check (ValidateModulePath) of the held file's final path, the file staying
    // held. 0 trusted; ERROR_ACCESS_DENIED not trusted (the file is let go); ERROR_INVALID_HANDLE
    // nothing held.
    [[nodiscard]] DWORD Validate();

    // Whether a file is held against change (Hold or Check succeeded).
    [[nodiscard]] bool held() const noexcept { return m_hold.valid() && m_locked; }

    // The final path of the file, a drive or UNC path without "\\?\"; empty when none is held or
    // resolved.
    [[nodiscard]] const std::wstring& path() const noexcept { return m_path; }

    // The extension of the final path with its dot ("" when it has none or there is no file).
    [[nodiscard]] const wchar_t* extension() const noexcept;

    // Starts the held file with the shell's "open" verb and the parameters (null or empty for
    // none), by its final path, while it is still held. 0 started; ERROR_INVALID_HANDLE nothing
    // held; else ShellStart's code.
    [[nodiscard]] DWORD Start(const wchar_t* parameters) const;

    // Lets the file go.
    void reset() noexcept;

private:
    [[nodiscard]] DWORD Open(const wchar_t* path, bool lock);

    Fundor::ScopedHandle m_hold;
    std::wstring m_path;
    bool m_locked = false;
};

// Whether path is a drive path, "X:\..." or "\\?\X:\...", as GetFullPathNameW gives it: no share,
// device, pipe or volume path, which opening would reach over the network or in another process.
// Decided on the text alone, before anything is opened.
[[nodiscard]] bool IsDrivePath(const wchar_t* path) noexcept;

// ShellExecuteW(no window, verb, file, parameters, no folder, SW_SHOWNORMAL). 0 started; the
// shell's code (2..32) when not; ERROR_NOT_ENOUGH_MEMORY for the shell's 0 ("out of memory or
// resources").
[[nodiscard]] DWORD ShellStart(const wchar_t* verb, const wchar_t* file, const wchar_t* parameters);

namespace TrustDetail {
// The call behind every ShellStart. Tests put their own in place of ShellExecuteW to act between
// a check and its start (and to see what reaches the shell); null puts ShellExecuteW back. Returns
// the one that was in place.
using ShellExecuteFunction = HINSTANCE(WINAPI*)(HWND window, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                                                LPCWSTR folder, INT show);
ShellExecuteFunction ExchangeShellExecute(ShellExecuteFunction replacement) noexcept;
}  // namespace TrustDetail
