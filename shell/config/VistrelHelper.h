#pragma once
// What the shell knows of the sibling UI component Vistrel: whether it is installed (HKLM
// "SOFTWARE\Tervane\Vistrel" "Install Dir"), enabled ("Enabled_Override", else "Enabled") or
// running (its event "VistrelRunningSingleton"), and the name of this session's Vistrel window.
// Nothing here throws.

#include <windows.h>

#include <string>

inline constexpr wchar_t kVistrelKey[] = L"SOFTWARE\\Tervane\\Vistrel";
inline constexpr wchar_t kVistrelRunningEvent[] = L"VistrelRunningSingleton";
inline constexpr wchar_t kVistrelWindowIdPrefix[] = L"Vistrel.Window.for.Session.";

class VistrelHelper {
public:
    // 1 when "Install Dir" is a REG_SZ value, else 0.
    [[nodiscard]] static int IsInstalled();
    // 0 when not installed; else 1 unless "Enabled_Override" (or, when that is missing or not a
    // REG_DWORD, "Enabled") is a REG_DWORD of 0.
    [[nodiscard]] static int IsEnabled();
    // 1 when the event opens for SYNCHRONIZE.
    [[nodiscard]] static int IsVistrelRunning();
    // "Vistrel.Window.for.Session.<session id of this process>", or empty when the session id
    // cannot be had (or out of memory).
    [[nodiscard]] static std::wstring CurrentSessionWindowId();

    // "Install Dir" without a trailing backslash into folder. False (folder emptied) when the key
    // or value is missing or the value is not REG_SZ.
    [[nodiscard]] static bool ReadInstallDir(std::wstring& folder);
};
