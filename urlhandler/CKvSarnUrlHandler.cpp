#include "urlhandler/CKvSarnUrlHandler.h"

#include "access/InstallFolders.h"
#include "core/Logging/Logging.h"
#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"
#include "core/registry/ObfuscatedRegistry.h"
#include "pageobjects/services/kvshortpath.h"
#include "urlhandler/KvPartnerCustomizationCommon.h"

#include <cwchar>
#include <string>
#include <string_view>

namespace {

constexpr wchar_t kScheme[] = L"sarn://";
constexpr std::size_t kSchemeLength = 7;
constexpr wchar_t kProductAppCode[] = L"QRN";
constexpr wchar_t kApplicationInfoKey[] = L"SOFTWARE\\Tervane\\QRN\\Settings\\ApplicationInfo\\%s";
constexpr WORD kHtmlResourceType = 23;
// Short paths are formed with one character of room beyond the path buffers.
constexpr unsigned kShortDllPathCharacters = CKvSarnUrlHandler::kPathCharacters + 1;

constexpr std::size_t kUrl = Fundor::kUrlBufferCharacters;
constexpr std::size_t kPath = CKvSarnUrlHandler::kPathCharacters;
constexpr std::size_t kFolder = CKvSarnUrlHandler::kFolderCharacters;

// The log lines keep the source name and line numbers their readers know them by.
template <typename... Arguments>
void Log(ETWLogging::LogLevel level, const wchar_t* function, int line, const wchar_t* format,
         const Arguments&... arguments)
{
    if (ETWLogging::IsLogLevelEnabled(level)) {
        ETWLogging::LogMessage(level, L"Tessil", function, line, format, arguments...);
    }
}

constexpr wchar_t kCobranded[] = L"_ProcessCobrandedResource";

bool IsSlash(wchar_t c)
{
    return c == L'/' || c == L'\\';
}

// Appends text to buffer[capacity] holding length characters; false (buffer unchanged beyond
// length) when it does not fit with the terminator.
bool Append(wchar_t* buffer, std::size_t capacity, std::size_t& length, std::wstring_view text)
{
    if (text.size() >= capacity - length) {
        return false;
    }
    wmemcpy(buffer + length, text.data(), text.size());
    length += text.size();
    buffer[length] = L'\0';
    return true;
}

// The text behind the last "\" (the whole text when it has none).
std::wstring_view AfterLastBackslash(std::wstring_view text)
{
    const std::size_t slash = text.rfind(L'\\');
    return slash == std::wstring_view::npos ? text : text.substr(slash + 1);
}

// "sarn://" + folder + "\" + tail into url; empties url and gives 13 when it does not fit.
DWORD WriteInstallFolderUrl(const wchar_t* folder, const wchar_t* tail, wchar_t* url)
{
    if (Fundor::FormatW(url, kUrl, L"%s%s\\%s", kScheme, folder, tail) < 0) {
        url[0] = L'\0';
        return ERROR_INVALID_DATA;
    }
    return ERROR_SUCCESS;
}

// The product install folder with its trailing backslash, in its short form.
DWORD GetShortInstallFolder(wchar_t (&folder)[kFolder])
{
    const DWORD status = GetProductInstallDir(folder, kFolder, 1);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (KvGetShortPathName(folder, folder, kFolder) == 0) {
        return ERROR_INVALID_DATA;
    }
    return ERROR_SUCCESS;
}

// Completes a rewrite of the work copy behind its scheme and slashes: prefix + shortPath + "::"
// + resource. The caller's buffer is written only when all of it fits.
DWORD FinishRewrite(const wchar_t* work, std::size_t prefixLength, const wchar_t* shortPath,
                    std::wstring_view resource, wchar_t* url)
{
    wchar_t result[kUrl];
    std::size_t length = 0;
    result[0] = L'\0';
    if (!Append(result, kUrl, length, std::wstring_view(work, prefixLength)) ||
        !Append(result, kUrl, length, shortPath) || !Append(result, kUrl, length, L"::") ||
        !Append(result, kUrl, length, resource)) {
        return ERROR_INVALID_DATA;
    }
    wmemcpy(url, result, length + 1);
    Log(ETWLogging::kLevelNormal, L"QrnBrwNfHandler", 502, L"URL Output:%s", url);
    return ERROR_SUCCESS;
}

DWORD PassUnchanged(const wchar_t* url)
{
    Log(ETWLogging::kLevelNormal, L"QrnBrwNfHandler", 502, L"URL Output:%s", url);
    return ERROR_SUCCESS;
}

}  // namespace

DWORD CKvSarnUrlHandler::HandleNotification(int code, wchar_t* url)
{
    if (code != 1) {
        return ERROR_SUCCESS;
    }
    if (url == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    // The caller's buffer holds kUrl characters; one without a terminator in them is refused.
    const std::size_t inputLength = wcsnlen(url, kUrl);
    if (inputLength == kUrl) {
        return ERROR_INVALID_DATA;
    }
    wchar_t work[kUrl];
    wmemcpy(work, url, inputLength + 1);
    Log(ETWLogging::kLevelNormal, L"QrnBrwNfHandler", 366, L"URL Input:%s", work);

    std::size_t bodyOffset = 0;
    if (_StripSchemePrefix(work, bodyOffset) != ERROR_SUCCESS) {
        return ERROR_INVALID_DATA;
    }
    const wchar_t* body = work + bodyOffset;
    if (body[0] == L'@') {
        return _ProcessAtUrl(body, url);
    }

    wchar_t uiDll[kPath];
    const std::wstring_view bodyText(body, inputLength - bodyOffset);
    const std::size_t separator = bodyText.find(L"::");
    if (separator != std::wstring_view::npos) {
        const std::wstring_view dllPart = bodyText.substr(0, separator);
        const std::wstring_view resourcePart = bodyText.substr(separator + 2);
        // A DLL part with a folder (or drive) of its own names its file already.
        if (dllPart.find_last_of(L"\\/:") != std::wstring_view::npos) {
            return PassUnchanged(url);
        }
        if (dllPart.size() >= kPath) {
            return ERROR_INVALID_DATA;
        }
        if (_GetAppUIDllPath(kProductAppCode, uiDll) != ERROR_SUCCESS) {
            return PassUnchanged(url);
        }
        // The named DLL lies beside the product's UI DLL.
        const std::wstring_view uiDllText(uiDll);
        const std::size_t lastBackslash = uiDllText.rfind(L'\\');
        if (lastBackslash == std::wstring_view::npos) {
            return ERROR_INVALID_DATA;
        }
        wchar_t dllPath[kShortDllPathCharacters];
        std::size_t length = 0;
        dllPath[0] = L'\0';
        if (!Append(dllPath, kPath, length, uiDllText.substr(0, lastBackslash + 1)) ||
            !Append(dllPath, kPath, length, dllPart) ||
            KvGetShortPathName(dllPath, dllPath, kShortDllPathCharacters) == 0) {
            return ERROR_INVALID_DATA;
        }
        return FinishRewrite(work, bodyOffset, dllPath, AfterLastBackslash(resourcePart), url);
    }

    // A bare resource name belongs to the product's UI DLL; a DLL named without "::" is not
    // understood (the test is case-sensitive).
    if (bodyText.find(L".dll") != std::wstring_view::npos) {
        return ERROR_INVALID_DATA;
    }
    if (_GetAppUIDllPath(kProductAppCode, uiDll) != ERROR_SUCCESS) {
        return PassUnchanged(url);
    }
    wchar_t shortDll[kShortDllPathCharacters];
    if (KvGetShortPathName(uiDll, shortDll, kShortDllPathCharacters) == 0) {
        return ERROR_INVALID_DATA;
    }
    return FinishRewrite(work, bodyOffset, shortDll, AfterLastBackslash(bodyText), url);
}

DWORD CKvSarnUrlHandler::_StripSchemePrefix(const wchar_t* url, std::size_t& bodyOffset)
{
    if (url == nullptr || std::wcsncmp(url, kScheme, kSchemeLength) != 0) {
        return ERROR_INVALID_DATA;
    }
    std::size_t offset = kSchemeLength;
    for (int skipped = 0; skipped < 2 && IsSlash(url[offset]); ++skipped) {
        ++offset;
    }
    if (url[offset] == L'\0') {
        return ERROR_INVALID_DATA;
    }
    bodyOffset = offset;
    return ERROR_SUCCESS;
}

DWORD CKvSarnUrlHandler::_ProcessAtUrl(const wchar_t* body, wchar_t* url)
{
    if (body == nullptr || body[0] == L'\0' || url == nullptr) {
        return ERROR_INVALID_DATA;
    }
    url[0] = L'\0';
    if (body[1] != L'{') {
        return _ProcessInstallFolderUrl(body, url);
    }
    if (KvPackages::AsciiStartsWithNoCase(body + 1, L"{tk:")) {
        return _ProcessTokenUrl(body + 1, body, url);
    }
    return ERROR_CALL_NOT_IMPLEMENTED;
}

DWORD CKvSarnUrlHandler::_ProcessInstallFolderUrl(const wchar_t* body, wchar_t* url)
{
    wchar_t folder[kFolder];
    const DWORD status = GetShortInstallFolder(folder);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // The folder already ends in "\", which the format doubles; readers take the URL as formed.
    return WriteInstallFolderUrl(folder, body + 1, url);
}

DWORD CKvSarnUrlHandler::_ProcessTokenUrl(const wchar_t* token, const wchar_t* body, wchar_t* url)
{
    if (KvPackages::AsciiStartsWithNoCase(token, L"{tk:logo_")) {
        wchar_t lowered[kPath];
        const std::size_t length = wcsnlen(token, kPath - 1);
        wmemcpy(lowered, token, length);
        lowered[length] = L'\0';
        KvPackages::AsciiLowerInPlace(lowered, length);
        const wchar_t* logo = std::wcschr(lowered, L'l');
        const wchar_t* close = logo != nullptr ? std::wcschr(logo, L'}') : nullptr;
        if (close == nullptr) {
            return ERROR_INVALID_DATA;
        }
        const std::wstring logoName(logo, close);
        return _ProcessLogoResource(logoName.c_str(), url);
    }
    if (KvPackages::AsciiStartsWithNoCase(token, L"{tk:appid_")) {
        return _ProcessCobrandedResource(body, url) ? ERROR_SUCCESS : ERROR_INVALID_DATA;
    }
    return ERROR_CALL_NOT_IMPLEMENTED;
}

DWORD CKvSarnUrlHandler::_ProcessLogoResource(const wchar_t* logo, wchar_t* url)
{
    CKvPackagesInfor packages;
    packages.Init();
    // With exactly one active package its own logo comes first; a name that does not fit the
    // resource-name buffer is not probed.
    wchar_t packageLogo[kPath];
    const auto& active = packages.ActivePackages();
    const bool probePackageLogo =
        active.size() == 1 && Fundor::FormatW(packageLogo, kPath, L"%s_%s", active.front().c_str(), logo) >= 0;

    struct Probe {
        const wchar_t* dll;
        const wchar_t* resource;
        bool enabled;
    };
    const Probe probes[] = {
        {L"oemuild.dll", packageLogo, probePackageLogo},
        {L"oemuild.dll", logo, true},
        {L"qrnuild.dll", packageLogo, probePackageLogo},
        {L"qrnuild.dll", logo, true},
    };
    const Probe* hit = nullptr;
    for (const Probe& probe : probes) {
        if (probe.enabled && _HasHtmlResource(probe.dll, probe.resource)) {
            hit = &probe;
            break;
        }
    }
    if (hit == nullptr) {
        return ERROR_INVALID_DATA;
    }
    wchar_t atUrl[kFolder];
    if (Fundor::FormatW(atUrl, kFolder, L"@%s::%s", hit->dll, hit->resource) < 0) {
        return ERROR_INVALID_DATA;
    }
    wchar_t folder[kFolder];
    const DWORD status = GetShortInstallFolder(folder);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return WriteInstallFolderUrl(folder, atUrl + 1, url);
}

bool CKvSarnUrlHandler::_ProcessCobrandedResource(const wchar_t* body, wchar_t* url)
{
    Log(ETWLogging::kLevelNormal, kCobranded, 218, L"Input URL - %s", body);
    const std::wstring_view text(body);
    const std::size_t underscore = text.find(L'_');
    const std::size_t close = text.find(L'}');
    if (underscore == std::wstring_view::npos || close == std::wstring_view::npos || close < underscore) {
        Log(ETWLogging::kLevelError, kCobranded, 229, L"Failed to process url");
        return false;
    }
    const std::wstring appCode(text.substr(underscore + 1, close - underscore - 1));
    const std::wstring resource(text.substr(close + 1));
    if (appCode.size() >= kPath || resource.size() >= kPath) {
        Log(ETWLogging::kLevelError, kCobranded, 229, L"Failed to process url");
        return false;
    }

    bool result = true;
    wchar_t uiDll[kPath];
    if (_GetAppUIDllPath(appCode.c_str(), uiDll) != ERROR_SUCCESS) {
        Log(ETWLogging::kLevelError, kCobranded, 235, L"Failed to get Resource Dll Path");
        result = false;
    }
    wchar_t folder[kFolder];
    if (GetProductInstallDir(folder, kFolder, 1) != ERROR_SUCCESS) {
        Log(ETWLogging::kLevelError, kCobranded, 241, L"Failed to get SARN Path");
        folder[0] = L'\0';
        result = false;
    }
    const std::wstring partnerDll = std::wstring(folder) + L"OemUI.dll";
    const wchar_t* dllPath = _HasHtmlResource(L"OemUI.dll", resource.c_str()) ? partnerDll.c_str() : uiDll;
    if (Fundor::FormatW(url, kUrl, L"%s%s::%s", kScheme, dllPath, resource.c_str()) < 0) {
        url[0] = L'\0';
        Log(ETWLogging::kLevelError, kCobranded, 229, L"Failed to process url");
        return false;
    }
    Log(ETWLogging::kLevelNormal, kCobranded, 255, L"Output URL - %s", url);
    return result;
}

bool CKvSarnUrlHandler::_HasHtmlResource(const wchar_t* dll, const wchar_t* resource)
{
    wchar_t path[kFolder];
    if (GetProductInstallDir(path, kFolder, 1) != ERROR_SUCCESS) {
        return false;
    }
    std::size_t length = wcsnlen(path, kFolder);
    if (!Append(path, kFolder, length, dll)) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    const Fundor::ScopedModule module(::LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module) {
        return false;
    }
    return ::FindResourceW(module.get(), resource, MAKEINTRESOURCEW(kHtmlResourceType)) != nullptr;
}

DWORD CKvSarnUrlHandler::_GetAppUIDllPath(const wchar_t* appCode, wchar_t* out)
{
    if (out == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    wmemset(out, L'\0', kPath);
    wchar_t keyPath[kPath];
    if (appCode == nullptr || Fundor::FormatW(keyPath, kPath, kApplicationInfoKey, appCode) < 0) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    DWORD type = REG_NONE;
    DWORD size = static_cast<DWORD>(kPath * sizeof(wchar_t));
    const LONG status =
        Fundor::ObfuscatedRegQueryValue(HKEY_LOCAL_MACHINE, keyPath, L"UIDll", &type, out, &size, Fundor::kRegistryView64);
    if (status != ERROR_SUCCESS) {
        out[0] = L'\0';
        return static_cast<DWORD>(status);
    }
    out[kPath - 1] = L'\0';
    if (type == REG_SZ) {
        return ERROR_SUCCESS;
    }
    if (type == REG_EXPAND_SZ) {
        wchar_t expanded[kPath];
        const DWORD needed = ::ExpandEnvironmentStringsW(out, expanded, kPath);
        if (needed != 0 && needed <= kPath) {
            wmemcpy(out, expanded, needed);
            out[kPath - 1] = L'\0';
            return ERROR_SUCCESS;
        }
        out[0] = L'\0';
        return ERROR_INSUFFICIENT_BUFFER;
    }
    out[0] = L'\0';
    return ERROR_INVALID_DATA;
}
