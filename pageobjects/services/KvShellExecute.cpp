// Opening URLs: the updater for web links, the associated program for everything else, and the
// module trust check for any target that is itself a program.

#include "pageobjects/services/qrncmn.h"

#include "access/CheckedProgramFile.h"
#include "access/KvUpdateLauncher.h"
#include "core/Logging/Logging.h"
#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"
#include "core/base/UrlLimits.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cwchar>
#include <cwctype>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kSource[] = L"qrncmn";
constexpr DWORD kProgramCharacters = 500;
// The updater's argument is built in a URL buffer.
constexpr std::size_t kArgumentCharacters = Fundor::kUrlBufferCharacters;
// A name ShellExecuteW resolves by itself (a URL whose scheme names no program of its own).
constexpr std::size_t kShellNameCharacters = MAX_PATH;

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

// "file:///" + path with '\' as '/' and blanks as "%20", then the extra part. A '%' or '#' of the
// file name is encoded too, or the browser would read it as an escape or a fragment and open
// another file. 14 when longer than an argument may be.
DWORD KvMakeFileUrl(const std::wstring& path, const std::wstring& extra, std::wstring& url)
{
    url = L"file:///";
    for (const wchar_t c : path) {
        if (c == L'\\') url += L'/';
        else if (c == L' ') url += L"%20";
        else if (c == L'%') url += L"%25";
        else if (c == L'#') url += L"%23";
        else url += c;
    }
    url += extra;
    return url.size() < kArgumentCharacters ? ERROR_SUCCESS : ERROR_OUTOFMEMORY;
}

// A local path (and the extra part of its URL) as one quoted argument: the path as it stands,
// since its program opens it by that name; only the extra part is encoded. 14 when too long.
[[nodiscard]] DWORD QuotePathArgument(const std::wstring& path, const std::wstring& extra, std::wstring& argument)
{
    if (path.find(L'"') != std::wstring::npos) return ERROR_INVALID_PARAMETER;
    argument = L"\"" + path + PercentEncodeUnsafe(extra);
    if (argument.size() > kArgumentCharacters) return ERROR_OUTOFMEMORY;
    std::size_t backslashes = 0;
    while (backslashes + 1 < argument.size() && argument[argument.size() - 1 - backslashes] == L'\\') ++backslashes;
    argument.append(backslashes, L'\\');
    argument += L'"';
    return ERROR_SUCCESS;
}

// Everything the shell runs as code when it opens the file: a file of these types is started only
// when it is a trusted module. The type is taken from the file that exists, never from the text
// that names it.
bool IsProgramType(const wchar_t* extension)
{
    static constexpr const wchar_t* kTypes[] = {
        L".exe", L".com",   L".bat", L".cmd", L".pif",  L".scr", L".cpl",  L".msi",         L".msp",
        L".mst", L".lnk",   L".url", L".hta", L".js",   L".jse", L".vbs",  L".vbe",         L".wsf",
        L".wsh", L".ws",    L".wsc", L".sct", L".ps1",  L".psm1", L".psc1", L".reg",        L".inf",
        L".jar", L".msc",   L".chm", L".hlp", L".scf",  L".shb", L".shs",  L".application", L".appref-ms",
        L".gadget", L".website", L".settingcontent-ms", L".diagcab", L".library-ms", L".search-ms"};
    for (const wchar_t* type : kTypes) {
        if (_wcsicmp(extension, type) == 0) return true;
    }
    return false;
}

bool HasUrlScheme(const std::wstring& text)
{
    const std::size_t colon = text.find(L':');
    // One letter before the colon is a drive.
    if (colon == std::wstring::npos || colon < 2 || !iswalpha(text[0])) return false;
    for (std::size_t i = 0; i < colon; ++i) {
        if (!iswalnum(text[i]) && text[i] != L'+' && text[i] != L'-' && text[i] != L'.') return false;
    }
    return true;
}

std::size_t FindNoCase(const std::wstring& text, const wchar_t* part)
{
    const std::size_t length = wcslen(part);
    for (std::size_t at = 0; at + length <= text.size(); ++at) {
        if (_wcsnicmp(text.c_str() + at, part, length) == 0) return at;
    }
    return std::wstring::npos;
}

// How a URL is opened. The file it names, if any, stays held until the start returns.
struct LaunchPlan {
    CheckedProgramFile target;  // the file a local or file URL names, resolved to its final path
    bool targetIsProgram = false;  // then it is trusted and started itself with the arguments
    std::wstring program;          // else the program its type or scheme is opened with
    std::wstring arguments;
    std::wstring shellName;  // else a name the shell opens by itself (no program of its own known)
};

void LogRefusal(const std::wstring& path)
{
    ETWLOG(ETWLogging::kLevelError, kSource, L"CKvUtil::KvShellExecute", L"failed to validate module of %s", path);
}

// The file a local path names, and how to open it: a program only when trusted, a document with
// its type's program. The decision is the existing file's, by its final path.
[[nodiscard]] DWORD PlanLocalFile(const std::wstring& path, const std::wstring& extra, LaunchPlan& plan)
{
    // A document may be open for writing elsewhere: resolving it holds nothing against that.
    const DWORD resolved = plan.target.Resolve(path.c_str());
    if (resolved != ERROR_SUCCESS) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CKvUtil::KvShellExecute", L"No file to open at %s: %u", path,
               unsigned{resolved});
        return resolved;
    }
    const wchar_t* extension = plan.target.extension();
    if (*extension == L'\0') return ERROR_INVALID_PARAMETER;
    if (IsProgramType(extension)) {
        // The program is held from here until it has started, and checked as held: a file put
        // in its place since it was resolved is the one checked.
        const std::wstring finalPath = plan.target.path();
        if (plan.target.Check(finalPath.c_str()) != ERROR_SUCCESS) {
            LogRefusal(finalPath);
            return ERROR_ACCESS_DENIED;
        }
        plan.targetIsProgram = true;
        return ERROR_SUCCESS;
    }
    const std::wstring type = extension;
    DWORD made = ERROR_SUCCESS;
    if (KvIsHtmlAssociatedWithBrowser(type.c_str())) {
        std::wstring fileUrl;
        made = KvMakeFileUrl(plan.target.path(), extra, fileUrl);
        if (made == ERROR_SUCCESS) plan.arguments = QuoteUrlArgument(fileUrl);
    } else {
        made = QuotePathArgument(plan.target.path(), extra, plan.arguments);
    }
    if (made != ERROR_SUCCESS) return made;
    if (AssocExecutable(type.c_str(), plan.program) != ERROR_SUCCESS) {
        // No program of its own: the shell opens the document by its final path.
        plan.arguments.clear();
        plan.shellName = plan.target.path();
    }
    return ERROR_SUCCESS;
}

// Finds how to open url (web links of the updater included). Every local file, by a path or a
// file URL, is resolved to the one file that exists; no text of the page reaches the shell as a
// name it would resolve again.
DWORD KvFindDefaultBrowser(const std::wstring& url, LaunchPlan& plan)
{
    if (url.empty()) return ERROR_INVALID_PARAMETER;
    if (StartsWithNoCase(url, L"file:")) {
        // In a file URL a '?' or '#' of a file name is escaped: the first one begins the extra part.
        const std::size_t extraAt = url.find_first_of(L"?#");
        const std::wstring withoutExtra = url.substr(0, extraAt);
        const std::wstring extra = extraAt == std::wstring::npos ? std::wstring() : url.substr(extraAt);
        wchar_t local[MAX_PATH] = {};
        DWORD localLength = MAX_PATH;
        if (FAILED(PathCreateFromUrlW(withoutExtra.c_str(), local, &localLength, 0))) return ERROR_INVALID_PARAMETER;
        return PlanLocalFile(local, extra, plan);
    }

    // A program and the text for it: the text up to ".exe" (any case) and a blank names the
    // program, the text after that blank goes to it as one argument.
    const std::size_t exe = FindNoCase(url, L".exe");
    if (exe != std::wstring::npos && exe + 4 < url.size() && url[exe + 4] == L' ') {
        const std::wstring program = url.substr(0, exe + 4);
        if (HasUrlScheme(program)) {
            // A URL is no file that could be checked.
            LogRefusal(program);
            return ERROR_ACCESS_DENIED;
        }
        const DWORD checked = plan.target.Check(program.c_str());
        if (checked != ERROR_SUCCESS) {
            if (checked == ERROR_ACCESS_DENIED) LogRefusal(program);
            return checked;
        }
        plan.targetIsProgram = true;
        if (exe + 5 < url.size()) plan.arguments = QuoteUrlArgument(url.substr(exe + 5));
        return ERROR_SUCCESS;
    }
    if (!HasUrlScheme(url)) return PlanLocalFile(url, std::wstring(), plan);
    if (exe != std::wstring::npos) {
        LogRefusal(url);
        return ERROR_ACCESS_DENIED;
    }

    plan.arguments = QuoteUrlArgument(url);
    const std::wstring scheme = url.substr(0, url.find(L':'));
    if (AssocExecutable(scheme.c_str(), plan.program) != ERROR_SUCCESS) {
        // Only a registered URL protocol goes to the shell to resolve: it reads names of its own
        // ("shell:" folders and the like) as paths to files, programs among them.
        if (::RegGetValueW(HKEY_CLASSES_ROOT, scheme.c_str(), L"URL Protocol", RRF_RT_REG_SZ, nullptr, nullptr,
                           nullptr) != ERROR_SUCCESS) {
            ETWLOG(ETWLogging::kLevelError, kSource, L"CKvUtil::KvShellExecute",
                   L"No program and no URL protocol for %s", scheme);
            return SE_ERR_NOASSOC;
        }
        // The shell puts a URL into its handler's command template: a URL must not be able to end
        // the quoted argument there either. It copies the name into fixed buffers, which about
        // 1,000 characters overflow: a longer one is refused.
        plan.arguments.clear();
        plan.shellName = PercentEncodeUnsafe(url);
        if (plan.shellName.size() >= kShellNameCharacters) return ERROR_INVALID_PARAMETER;
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD KvShellExecute(const wchar_t* url)
{
    if (url == nullptr || *url == L'\0') return ERROR_INVALID_PARAMETER;
    constexpr wchar_t kFunction[] = L"CKvUtil::KvShellExecute";
    // The longest URL the platform's URL functions take. ShellExecuteW overflows its stack on longer
    // names and the process dies: longer URLs are refused first.
    if (wcsnlen(url, Fundor::kMaxUrlCharacters + 1) > Fundor::kMaxUrlCharacters) {
        ETWLOG(ETWLogging::kLevelError, kSource, kFunction, L"The URL is longer than %d characters",
               static_cast<int>(Fundor::kMaxUrlCharacters));
        return ERROR_INVALID_PARAMETER;
    }
    try {
        const std::wstring target = url;
        if ((StartsWithNoCase(target, L"http://") || StartsWithNoCase(target, L"https://")) &&
            !ThisProgramIsTheUpdater()) {
            ETWLOG(ETWLogging::kLevelNormal, kSource, kFunction,
                   L"the calling process is not kvupdate.exe, launch kvupdate.exe to open the link");
            return LaunchKvUpdate(QuoteUrlArgument(L"/link:" + target).c_str());
        }

        LaunchPlan plan;
        const DWORD found = KvFindDefaultBrowser(target, plan);
        if (found != ERROR_SUCCESS) return found;
        if (plan.targetIsProgram) return plan.target.Start(plan.arguments.c_str());
        // A document is no code: its program may open it for writing at once.
        plan.target.reset();
        if (!plan.shellName.empty()) return ShellStart(L"Open", plan.shellName.c_str(), nullptr);
        return ShellStart(L"open", plan.program.c_str(), plan.arguments.empty() ? nullptr : plan.arguments.c_str());
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD KvOpenBrowser(const wchar_t* url, const wchar_t* query)
{
    if (url == nullptr || *url == L'\0') return ERROR_INVALID_PARAMETER;
    constexpr wchar_t kFunction[] = L"CSessionMgr2::OpenBrowser";
    ETWLOG(ETWLogging::kLevelNormal, L"SessionMgr", kFunction, L"enter, bstrUrl = %s", url);
    wchar_t* expanded = nullptr;
    const DWORD status = KvExpandSarnUrl(url, &expanded);
    if (status != ERROR_SUCCESS) {
        // Nothing to open: the expansion's code is the answer.
        ETWLOG(ETWLogging::kLevelError, L"SessionMgr", kFunction, L"KvExpandSarnUrl() failed, dwRet = %d",
               static_cast<int>(status));
        return status;
    }
    Fundor::ScopedCoTaskMemory owner(expanded);
    try {
        std::wstring text = expanded;
        // The page's query joins the link's own; a link without one gets it as its query.
        if (query != nullptr && *query != L'\0')
            text += std::wstring(text.find(L'?') == std::wstring::npos ? L"?" : L"&") + query;
        ETWLOG(ETWLogging::kLevelNormal, L"SessionMgr", kFunction, L"launch url: %s", text);
        return KvShellExecute(text.c_str());
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD KvOpenBrowserAsIs(const wchar_t* url)
{
    if (url == nullptr || *url == L'\0') return ERROR_INVALID_PARAMETER;
    constexpr wchar_t kFunction[] = L"CSessionMgr2::OpenBrowserAsIs";
    ETWLOG(ETWLogging::kLevelNormal, L"SessionMgr", kFunction, L"enter, bstrUrl = %s", url);
    const DWORD result = KvShellExecute(url);
    ETWLOG(ETWLogging::kLevelNormal, L"SessionMgr", kFunction, L"exit, return code:%d", static_cast<int>(result));
    return result;
}
