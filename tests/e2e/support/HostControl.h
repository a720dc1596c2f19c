#pragma once
// Starting, finding, closing and measuring Ordwell.exe hosts from another process.

#include "core/testsupport/ChildProcess.h"

#include <windows.h>

#include <optional>
#include <string>

namespace HostControl {

// Where a second start leaves its page for the running host: one value per host, named by the
// program from the host event name (the ID's first 260 characters, cut at its first "?") behind
// "Ordwellsecinst_".
inline constexpr wchar_t kHandOverKey[] = L"Volatile Environment\\SOFTWARE\\Tervane\\QRN\\Settings\\ui";
[[nodiscard]] std::wstring HandOverValueName(const std::wstring& hostId);
// The host's private close request.
inline constexpr UINT kCloseMessage = 0x8002;

// A started host or second start; killed when still running as its owner goes.
using Process = Fundor::testing::ChildProcess;

// The host's main window (its class is the host ID), or null.
[[nodiscard]] HWND FindHostWindow(const std::wstring& hostId);
// Waits until the host's window exists and is visible; null when it did not show in time.
[[nodiscard]] HWND WaitUntilShown(const std::wstring& hostId, DWORD timeout);
// Posts the private close request; false when there is no window.
[[nodiscard]] bool RequestClose(const std::wstring& hostId);

// The text of the hand-over value of the host ID, or nullopt when there is none.
[[nodiscard]] std::optional<std::wstring> HandOverValue(const std::wstring& hostId);

// The process whose window is the host window of the ID, or 0.
[[nodiscard]] DWORD HostProcessId(const std::wstring& hostId);
// Suspends every thread of the process (it then reads no hand-over); false when none could be.
[[nodiscard]] bool SuspendProcess(DWORD processId);

struct Figures {
    SIZE_T privateBytes = 0;
    DWORD handles = 0;
};
// GetProcessMemoryInfo and GetProcessHandleCount. Wine answers 0 for another process; then the
// private bytes come from the Linux process whose command line holds "marker" (its VmData, read
// through the Z: drive), and the handles are counted in the system's handle table. A figure that
// neither way yields stays 0; nullopt when both do.
[[nodiscard]] std::optional<Figures> Measure(HANDLE process, const std::wstring& marker);

}  // namespace HostControl
