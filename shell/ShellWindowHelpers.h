#pragma once
// Small shell helpers shared by the module and the main window.

#include <windows.h>
#include <oaidl.h>

#include <string>

// Brings window to the front; with attach and a foreground window of another thread, through that
// thread's input (restoring a minimised window first). 87 for a null window, else 0.
DWORD ForceForegroundWindow(HWND window, BOOL attach);

// Whether the page lets the window close, from its "closeBtnEnabled" answer: only a boolean false
// or a numeric 0 refuses; a failed query, an empty or null value and anything else allow it.
[[nodiscard]] bool PageAllowsClose(HRESULT queryResult, const VARIANT& value) noexcept;

// Whether the sibling component's "destroyed" message data names windowId: the id must occur
// followed by the end of the data or a non-digit ("...Session.1" is not found in "...Session.12");
// an empty id matches nothing.
[[nodiscard]] bool DataNamesWindow(const wchar_t* data, const wchar_t* windowId) noexcept;

// The page name of a body URL for the window size: the URL's first 2,048 characters cut at the
// first "?", then the text behind its last ":" with the ":", "\" and "/" directly behind it
// skipped. Empty when the URL has no ":".
[[nodiscard]] std::wstring PageNameFromUrl(const wchar_t* url);
