#pragma once
// Small shell helpers shared by the module and the main window.

#include <windows.h>
#include <oaidl.h>

#include <string>

// Brings window to the front; with attach and a foreground window of another thread, through that
// thread's input (restoring a minimised window first). ERROR_INVALID_PARAMETER for a null window,
// else 0.
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

// Where a handed-over "sarn://" URL takes its DLL from, read as the URL library reads it (the scheme
// in any case, since the browser control may load a URL the library declined as it stands; one or
// two slashes skipped behind it).
// - OwnPath: the DLL part (before the first "::") names a folder or drive of its own; the URL
//   library passes such a URL on unchanged and the DLL is loaded from wherever it names.
// - BelowInstallFolder: an "@" form whose part behind "@" names a folder (".." included): the URL
//   library puts the product's install folder in front of it.
// - Suite: anything else: a bare DLL or page name, which the URL library resolves beside the
//   product's UI DLL or in its install folder, or a token resolved from the machine's settings.
struct SarnDllReference {
    enum class Kind { Suite, OwnPath, BelowInstallFolder };
    Kind kind = Kind::Suite;
    std::wstring dll;       // the DLL part as the URL gives it (behind "@" for BelowInstallFolder)
    std::wstring resource;  // the rest of the URL from its "::" on
};
[[nodiscard]] SarnDllReference ReadSarnDllReference(const wchar_t* url);
