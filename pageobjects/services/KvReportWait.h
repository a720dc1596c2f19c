#pragma once
// Closing behind the report page: before the host's window closes, the page's side gets a few
// seconds to write its report while the window, hidden, shows the report page.

#include <windows.h>

inline constexpr wchar_t kKvReportPage[] = L"sarn://qrnjsres.dll::report.html";
// One manual-reset event for the whole session, set by the report page's side when it is done.
inline constexpr wchar_t kKvReportSyncEvent[] = L"ordwellsync";
inline constexpr DWORD kKvReportWaitMilliseconds = 5000;

// Hides window, sends it the report page, then waits at most 5,000 ms in all for "ordwellsync"
// while dispatching this thread's messages (steady input does not extend the wait). A WM_QUIT
// taken during the wait ends it and is posted again, so that the thread's own loop still sees it.
// waiting is true while messages are dispatched (a call arriving through them can tell) and false
// on return. Without the event (it cannot be made) it returns after the navigation. Never throws.
void KvShowReportAndWait(HWND window, bool& waiting) noexcept;
