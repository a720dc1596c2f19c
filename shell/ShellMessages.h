#pragma once
// Private messages of the main frame window.

#include <windows.h>

inline constexpr UINT WM_SHELL_INIT = 0x8001;               // set the title
inline constexpr UINT WM_SHELL_EXTERNAL_DESTROY = 0x8002;   // destroy without asking the page
inline constexpr UINT WM_SHELL_NAVIGATE = 0x8003;           // wParam: CNAVMSGDATA*, this thread only
inline constexpr UINT WM_SHELL_GET_CURRENT_URL = 0x8004;    // wParam: BSTR* out, this thread only
inline constexpr UINT WM_SHELL_CLOSE = 0x47B;               // close as the user would

inline constexpr UINT_PTR kZoomTimerId = 0x101010;
inline constexpr UINT kZoomTimerPeriodMs = 200;
inline constexpr unsigned kZoomPendingTicks = 10;
inline constexpr DWORD kMainWindowStyle = 0x80080000;       // popup with a system menu, hidden
inline constexpr DWORD kMainWindowExStyle = WS_EX_CONTROLPARENT;
inline constexpr DWORD kFrameStyle = 0x56000000;            // the style the sizing works with
