// Opening URLs: the updater for web links, the associated program for everything else, and the
// module trust check for any target that is itself a program.

#include "qrncmn.h"

#include "KvUpdateLauncher.h"
#include "Logging/Logging.h"
#include "ModuleTrust.h"
#include "ScopedResource.h"
#include "StringFormat.h"
#include "kvshortpath.h"

#include <shellapi.h>
#include <shlwapi.h>
#include <wininet.h>

#include <cwchar>
#include <cwctype>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kSource[] = L"qrncmn";
constexpr DWORD kProgramCharacters = 500;
constexpr DWORD kArgumentCharacters = 2084;

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix)
{
    return _wcsnicmp(text.c_str(), prefix, wcslen(prefix)) == 0;
}

// The updater must not hand web links back to itself: its own image name decides, never text
// that may appear among this program's arguments.
bool ThisProgramIsTheUpdater()
{
    std::vector<wchar_t> path(32768, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0 || length >= path.size()) return false;
    return _wcsicmp(PathFindFileNameW(path.data()), L"kvupdate.exe") == 0;
}

// The text as one command-line argument that arrives unchanged: '"', blanks and control
// characters percent-encoded (so the text can neither end the argument nor add another), the
// whole in double quotes, and backslashes before the closing quote doubled.
std::wstring PercentEncodeUnsafe(const std::wstring& text)
{
    std::wstring encoded;
    for (const wchar_t c : text) {
        if (c == L'"' || c == L' ' || c < 0x20 || c == 0x7F) {
            wchar_t escaped[4];
            (void)Fundor::FormatW(escaped, 4, L"%%%02X", static_cast<unsigned>(c));
            encoded += escaped;
        } else {
            encoded += c;
        }
    }
    return encoded;
}

std::wstring QuoteUrlArgument(const std::wstring& text)
{
    std::wstring quoted = L"\"" + PercentEncodeUnsafe(text);
    std::size_t backslashes = 0;
    while (backslashes + 1 < quoted.size() && quoted[quoted.size() - 1 - backslashes] == L'\\') ++backslashes;
    quoted.append(backslashes, L'\\');
    quoted += L'"';
    return quoted;
}

// The program of the "open" verb of a scheme or file extension.
DWORD AssocExecutable(const wchar_t* association, std::wstring& program)
{
    wchar_t executable[kProgramCharacters] = {};
    DWORD characters = kProgramCharacters;
    if (FAILED(AssocQueryStringW(ASSOCF_NOTRUNCATE | ASSOCF_INIT_IGNOREUNKNOWN, ASSOCSTR_EXECUTABLE, association,
                                 L"open", executable, &characters)))
        return ERROR_INVALID_PARAMETER;
    program = executable;
    return ERROR_SUCCESS;
}

bool KvIsHtmlAssociatedWithBrowser(const wchar_t* extension)
{
    if (_wcsicmp(extension, L".html") == 0) return true;
    std::wstring html;
    std::wstring mine;
    return AssocExecutable(L".html", html) == ERROR_SUCCESS && AssocExecutable(extension, mine) == ERROR_SUCCESS &&
           _wcsicmp(html.c_str(), mine.c_str()) == 0;
}

// "file:///" + path with '\' as '/' and blanks as "%20", then the extra part. 14 when longer
// than an argument may be.
DWORD KvMakeFileUrl(const std::wstring& path, const std::wstring& extra, std::wstring& url)
{
    url = L"file:///";
    for (const wchar_t c : path) {
        if (c == L'\\') url += L'/';
        else if (c == L' ') url += L"%20";
        else url += c;
    }
    url += extra;
    return url.size() < kArgumentCharacters ? ERROR_SUCCESS : ERROR_OUTOFMEMORY;
}

struct LaunchPlan {
    std::wstring program;
    std::wstring arguments;
    bool programIsTarget = false;  // the URL names the program itself
};

DWORD KvFindDefaultBrowser(const std::wstring& url, LaunchPlan& plan)
{
    if (url.empty()) return ERROR_INVALID_PARAMETER;
    wchar_t scheme[32] = {};
    std::vector<wchar_t> path(2048, L'\0');
    std::vector<wchar_t> extra(kArgumentCharacters, L'\0');
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszScheme = scheme;
    parts.dwSchemeLength = 32;
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    parts.lpszExtraInfo = extra.data();
    parts.dwExtraInfoLength = static_cast<DWORD>(extra.size());
    if (!InternetCrackUrlW(url.c_str(), 0, ICU_ESCAPE, &parts)) return GetLastError();

    if (parts.nScheme != INTERNET_SCHEME_FILE) {
        const std::size_t exe = url.find(L".exe");
        if (exe != std::wstring::npos) {
            plan.program = url.substr(0, exe + 4);
            plan.arguments = exe + 5 < url.size() ? url.substr(exe + 5) : std::wstring();
            plan.programIsTarget = true;
            return ERROR_SUCCESS;
        }
        plan.arguments = QuoteUrlArgument(url);
        return AssocExecutable(scheme, plan.program);
    }

    // The local path of the file URL (without its extra part), as the shell reads file URLs.
    const std::wstring extraText = extra.data();
    std::wstring withoutExtra = url.substr(0, url.size() - (extraText.size() <= url.size() ? extraText.size() : 0));
    wchar_t local[MAX_PATH] = {};
    DWORD localLength = MAX_PATH;
    if (FAILED(PathCreateFromUrlW(withoutExtra.c_str(), local, &localLength, 0))) return ERROR_INVALID_PARAMETER;
    const wchar_t* extension = PathFindExtensionW(local);
    if (*extension == L'\0') return ERROR_INVALID_PARAMETER;
    if (_wcsicmp(extension, L".exe") == 0) {
        wchar_t shortPath[MAX_PATH] = {};
        if (KvGetShortPathName(local, shortPath, MAX_PATH) == 0) return ERROR_INVALID_PARAMETER;
        plan.program = shortPath;
        plan.programIsTarget = true;
        return ERROR_SUCCESS;
    }
    if (KvIsHtmlAssociatedWithBrowser(extension)) {
        std::wstring fileUrl;
        const DWORD made = KvMakeFileUrl(local, extraText, fileUrl);
        if (made != ERROR_SUCCESS) return made;
        plan.arguments = QuoteUrlArgument(fileUrl);
    } else {
        const std::wstring target = std::wstring(local) + extraText;
        if (target.size() >= kArgumentCharacters) return ERROR_OUTOFMEMORY;
        plan.arguments = QuoteUrlArgument(target);
    }
    return AssocExecutable(extension, plan.program);
}

// The file a URL names on this machine or a share: a file URL's path, or a text that is no URL of
// another scheme (a drive path, a UNC path, a relative name). nullopt for other URLs.
std::optional<std::wstring> LocalTargetOf(const std::wstring& url)
{
    if (StartsWithNoCase(url, L"file:")) {
        std::wstring withoutExtra = url.substr(0, url.find_first_of(L"?#"));
        wchar_t local[MAX_PATH] = {};
        DWORD length = MAX_PATH;
        if (FAILED(PathCreateFromUrlW(withoutExtra.c_str(), local, &length, 0))) return withoutExtra;
        return std::wstring(local);
    }
    const std::size_t colon = url.find(L':');
    if (colon != std::wstring::npos && colon >= 2 && iswalpha(url[0])) {
        bool scheme = true;
        for (std::size_t i = 0; i < colon && scheme; ++i)
            scheme = iswalnum(url[i]) || url[i] == L'+' || url[i] == L'-' || url[i] == L'.';
        if (scheme) return std::nullopt;
    }
    return url;
}

bool IsExecutableType(const std::wstring& path)
{
    static constexpr const wchar_t* kTypes[] = {L".exe", L".com", L".bat", L".cmd", L".pif", L".scr", L".cpl",
                                                L".msi", L".msp", L".lnk", L".hta", L".js",  L".jse", L".vbs",
                                                L".vbe", L".wsf", L".wsh", L".ps1", L".reg", L".jar"};
    const wchar_t* extension = PathFindExtensionW(path.c_str());
    for (const wchar_t* type : kTypes) {
        if (_wcsicmp(extension, type) == 0) return true;
    }
    return false;
}

// Holds a program file against writing and deletion from before its trust check until the start
// returns, so the file checked is the file started.
class CheckedProgram {
public:
    DWORD Check(const std::wstring& path)
    {
        Fundor::ScopedHandle hold(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
        const DWORD verdict = ValidateModulePath(path.c_str());
        if (verdict != ERROR_SUCCESS || !hold) {
            ETWLOG(4, kSource, L"CKvUtil::KvShellExecute", L"failed to validate module of %s", path);
            return ERROR_ACCESS_DENIED;
        }
        m_holds.push_back(std::move(hold));
        return ERROR_SUCCESS;
    }

private:
    std::vector<Fundor::ScopedHandle> m_holds;
};

DWORD ShellResult(HINSTANCE started)
{
    const auto code = reinterpret_cast<INT_PTR>(started);
    if (code > 32) return ERROR_SUCCESS;
    // 0 is the shell's "out of memory or resources", never a success.
    return code == 0 ? ERROR_NOT_ENOUGH_MEMORY : static_cast<DWORD>(code);
}

}  // namespace

DWORD KvShellExecute(const wchar_t* url)
{
    if (url == nullptr || *url == L'\0') return ERROR_INVALID_PARAMETER;
    try {
        const std::wstring target = url;
        if ((StartsWithNoCase(target, L"http://") || StartsWithNoCase(target, L"https://")) &&
            !ThisProgramIsTheUpdater()) {
            ETWLOG(1, kSource, L"CKvUtil::KvShellExecute",
                   L"the calling process is not kvupdate.exe, launch kvupdate.exe to open the link");
            return LaunchKvUpdate(QuoteUrlArgument(L"/link:" + target).c_str());
        }

        CheckedProgram checked;
        if (const std::optional<std::wstring> local = LocalTargetOf(target); local && IsExecutableType(*local)) {
            const DWORD verdict = checked.Check(*local);
            if (verdict != ERROR_SUCCESS) return verdict;
        }
        LaunchPlan plan;
        if (KvFindDefaultBrowser(target, plan) == ERROR_SUCCESS) {
            if (plan.programIsTarget) {
                const DWORD verdict = checked.Check(plan.program);
                if (verdict != ERROR_SUCCESS) return verdict;
            }
            return ShellResult(ShellExecuteW(nullptr, L"open", plan.program.c_str(),
                                             plan.arguments.empty() ? nullptr : plan.arguments.c_str(), nullptr,
                                             SW_SHOWNORMAL));
        }
        // The shell puts a URL into its handler's command template: a URL must not be able to end
        // the quoted argument there either. A path keeps its blanks.
        const bool isUrl = !LocalTargetOf(target) || StartsWithNoCase(target, L"file:");
        const std::wstring opened = isUrl ? PercentEncodeUnsafe(target) : target;
        return ShellResult(ShellExecuteW(nullptr, L"Open", opened.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD KvOpenBrowser(const wchar_t* url, const wchar_t* query)
{
    if (url == nullptr || *url == L'\0') return ERROR_INVALID_PARAMETER;
    constexpr wchar_t kFunction[] = L"CSessionMgr2::OpenBrowser";
    ETWLOG(1, L"SessionMgr", kFunction, L"enter, bstrUrl = %s", url);
    wchar_t* expanded = nullptr;
    const DWORD status = KvExpandSarnUrl(url, &expanded);
    if (status != ERROR_SUCCESS) {
        // Nothing to open: the expansion's code is the answer.
        ETWLOG(4, L"SessionMgr", kFunction, L"KvExpandSarnUrl() failed, dwRet = %d", static_cast<int>(status));
        return status;
    }
    Fundor::ScopedCoTaskMemory owner(expanded);
    try {
        std::wstring text = expanded;
        // The page's query joins the link's own; a link without one gets it as its query.
        if (query != nullptr && *query != L'\0')
            text += std::wstring(text.find(L'?') == std::wstring::npos ? L"?" : L"&") + query;
        ETWLOG(1, L"SessionMgr", kFunction, L"launch url: %s", text);
        return KvShellExecute(text.c_str());
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD KvOpenBrowserAsIs(const wchar_t* url)
{
    if (url == nullptr || *url == L'\0') return ERROR_INVALID_PARAMETER;
    constexpr wchar_t kFunction[] = L"CSessionMgr2::OpenBrowserAsIs";
    ETWLOG(1, L"SessionMgr", kFunction, L"enter, bstrUrl = %s", url);
    const DWORD result = KvShellExecute(url);
    ETWLOG(1, L"SessionMgr", kFunction, L"exit, return code:%d", static_cast<int>(result));
    return result;
}
