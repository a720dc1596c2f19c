#pragma once
// Private messages of the main frame window, and the senders of the two that carry a pointer.

#include <windows.h>
#include <oleauto.h>

class CNAVMSGDATA;

inline constexpr UINT WM_SHELL_INIT = 0x8001;               // set the title
inline constexpr UINT WM_SHELL_EXTERNAL_DESTROY = 0x8002;   // destroy without asking the page
inline constexpr UINT WM_SHELL_NAVIGATE = 0x8003;           // wParam: CNAVMSGDATA*, SendNavigateMessage only
inline constexpr UINT WM_SHELL_GET_CURRENT_URL = 0x8004;    // wParam: BSTR* out, SendGetCurrentUrlMessage only
inline constexpr UINT WM_SHELL_CLOSE = 0x47B;               // close as the user would

inline constexpr UINT_PTR kZoomTimerId = 0x101010;
inline constexpr UINT kZoomTimerPeriodMs = 200;
inline constexpr unsigned kZoomPendingTicks = 10;
inline constexpr DWORD kMainWindowStyle = 0x80080000;       // popup with a system menu, hidden
inline constexpr DWORD kMainWindowExStyle = WS_EX_CONTROLPARENT;
inline constexpr DWORD kFrameStyle = 0x56000000;            // the style the sizing works with

// Any process can post or send these message numbers, and nested loops (the move loop, COM's
// modal loop, dialogs) dispatch posted messages as if this thread had sent them. So the pointer
// of WM_SHELL_NAVIGATE and WM_SHELL_GET_CURRENT_URL is registered on this thread for the length
// of its send, and the window serves a message only with the registered pointer, once.

// Sends WM_SHELL_NAVIGATE with record (not released here) to window; the window's result.
LRESULT SendNavigateMessage(HWND window, CNAVMSGDATA* record) noexcept;
// Sends WM_SHELL_GET_CURRENT_URL to window; *url receives the current URL (freed by the caller)
// or is left alone.
LRESULT SendGetCurrentUrlMessage(HWND window, BSTR* url) noexcept;

// For the window: true when pointer is what this thread's sender registered for message and the
// registration was not used yet; it is used up. False for any other message, pointer or thread.
[[nodiscard]] bool TakeRegisteredPointer(UINT message, WPARAM pointer) noexcept;
