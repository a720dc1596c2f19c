#pragma once
// Rewrites a "sarn://" URL in the browser control's buffer into a resource URL of one of the
// suite's resource DLLs: "sarn://" + DLL path + "::" + resource name. Keeps no state between
// calls; every call reads the registry and the file system afresh.

#include "core/base/UrlLimits.h"

#include <windows.h>

#include <cstddef>

class CKvSarnUrlHandler {
public:
    static constexpr std::size_t kPathCharacters = 260;
    static constexpr std::size_t kFolderCharacters = 520;

    // The export's work. code other than 1: 0, url untouched. Null url: ERROR_INVALID_PARAMETER.
    // Else 0 done (also when the URL passes unchanged), ERROR_INVALID_DATA not understood or not
    // found, ERROR_CALL_NOT_IMPLEMENTED unknown token, or the install-folder lookup's code. Where a
    // step fails after the URL was taken apart, the caller's buffer keeps its URL; the "@" forms
    // empty it first. Throws std::bad_alloc only.
    [[nodiscard]] static DWORD HandleNotification(int code, wchar_t* url);

    // 0 with bodyOffset behind "sarn://" and up to two "/" or "\"; ERROR_INVALID_DATA for another
    // scheme (case-sensitive) or nothing behind it.
    [[nodiscard]] static DWORD _StripSchemePrefix(const wchar_t* url, std::size_t& bodyOffset);
    // body begins with "@". Empties url, then dispatches on what follows the "@".
    [[nodiscard]] static DWORD _ProcessAtUrl(const wchar_t* body, wchar_t* url);
    // "sarn://" + short install folder + "\" + body behind "@".
    [[nodiscard]] static DWORD _ProcessInstallFolderUrl(const wchar_t* body, wchar_t* url);
    // token: the body from its "{".
    [[nodiscard]] static DWORD _ProcessTokenUrl(const wchar_t* token, const wchar_t* body, wchar_t* url);
    [[nodiscard]] static DWORD _ProcessLogoResource(const wchar_t* logo, wchar_t* url);
    // False when the token is malformed or a lookup failed; url may then hold the formed URL.
    [[nodiscard]] static bool _ProcessCobrandedResource(const wchar_t* body, wchar_t* url);
    // Whether install folder + dll holds an RT_HTML resource of that name.
    [[nodiscard]] static bool _HasHtmlResource(const wchar_t* dll, const wchar_t* resource);
    // HKLM "SOFTWARE\Tervane\QRN\Settings\ApplicationInfo\<appCode>" "UIDll" into out
    // (kPathCharacters). Only REG_SZ and REG_EXPAND_SZ (expanded) count. out is emptied on failure.
    [[nodiscard]] static DWORD _GetAppUIDllPath(const wchar_t* appCode, wchar_t* out);
};
