#include "shell/config/CKvSARNLocale2.h"

#include "core/Logging/Logging.h"
#include "core/base/StringFormat.h"
#include "core/loading/RtMui.h"
#include "shell/config/ApplicationInfo.h"

#include <cwchar>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr wchar_t kLogFile[] = L"CKvSARNLocale2.cpp";
// A load before Initialize (the platform's "application initialisation failed").
constexpr DWORD kErrorNotInitialized = 575;
// Longest string text a load takes; string-table entries of the suite are far shorter.
constexpr int kTextCapacity = 4096;
// Only the first 260 characters of a token list count.
constexpr std::size_t kTokenListLimit = 260;

// The folder part of path, up to and including its last backslash; the whole text when it has
// none.
std::wstring_view FolderOf(const wchar_t* path)
{
    std::wstring_view text(path);
    const std::size_t slash = text.rfind(L'\\');
    return slash == std::wstring_view::npos ? text : text.substr(0, slash + 1);
}

// Replaces every token of tokenList in text (see LoadResString). 0, 13 or 87.
DWORD ReplaceTokens(std::wstring& text, const wchar_t* tokenList, const wchar_t* const* replacements,
                    std::size_t replacementCount)
{
    if (tokenList == nullptr || *tokenList == L'\0') {
        return 0;
    }
    const std::wstring_view list(tokenList, ::wcsnlen(tokenList, kTokenListLimit));
    std::size_t percents = 0;
    for (wchar_t c : list) {
        percents += c == L'%' ? 1 : 0;
    }
    if (percents < 2) {
        return 0;
    }
    if (percents % 2 != 0) {
        return ERROR_INVALID_DATA;
    }
    std::vector<std::wstring_view> tokens;
    for (std::size_t start = 0;;) {
        const std::size_t comma = list.find(L',', start);
        tokens.push_back(list.substr(start, comma == std::wstring_view::npos ? std::wstring_view::npos : comma - start));
        if (comma == std::wstring_view::npos) {
            break;
        }
        start = comma + 1;
    }
    if (tokens.size() != replacementCount) {
        return ERROR_INVALID_DATA;
    }
    if (replacements == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    for (std::size_t i = 0; i < replacementCount; ++i) {
        if (replacements[i] == nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
    }
    // Bounded by the replacements' own count, equal to the tokens' (checked above).
    for (std::size_t i = 0; i < replacementCount; ++i) {
        const std::wstring_view token = tokens[i];
        if (token.empty()) {
            continue;  // an empty token would match everywhere
        }
        std::wstring_view replacement(replacements[i]);
        if (token == CKvSARNLocale2::kCompanyNameToken && replacement == L" ") {
            replacement = std::wstring_view();
        }
        for (std::size_t at = text.find(token); at != std::wstring::npos;
             at = text.find(token, at + replacement.size())) {
            text.replace(at, token.size(), replacement);
        }
    }
    return 0;
}

DWORD CopyOut(const std::wstring& text, wchar_t* buffer, DWORD capacity)
{
    if (text.size() + 1 > capacity) {
        buffer[0] = L'\0';
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::wmemcpy(buffer, text.c_str(), text.size() + 1);
    return 0;
}

}  // namespace

CKvSARNLocale2::~CKvSARNLocale2() { _FreeModules(); }

void CKvSARNLocale2::_FreeModules()
{
    m_resourceDll.reset();
    m_uiDll.reset();
    m_oemResourceDll.reset();
    m_oemUiDll.reset();
}

DWORD CKvSARNLocale2::Initialize(const wchar_t* path, DWORD mode)
{
    _FreeModules();
    m_initialized = false;
    m_mode = mode;
    m_resourceDllPath[0] = L'\0';
    m_uiDllPath[0] = L'\0';
    if (path != nullptr && std::wcschr(path, L'\\') == nullptr) {
        return ERROR_PATH_NOT_FOUND;
    }
    wchar_t resourceValue[MAX_PATH] = {};
    wchar_t uiValue[MAX_PATH] = {};
    DWORD code = GetApplicationInfoValue(L"qrn", resourceValue, MAX_PATH, kApplicationInfoResDll);
    if (code == 0) {
        code = GetApplicationInfoValue(L"qrn", uiValue, MAX_PATH, kApplicationInfoUIDll);
    }
    if (code != 0) {
        return code;
    }
    if (path == nullptr) {
        (void)::wcscpy_s(m_resourceDllPath, MAX_PATH, resourceValue);
        (void)::wcscpy_s(m_uiDllPath, MAX_PATH, uiValue);
    } else {
        if (::wcscpy_s(m_resourceDllPath, MAX_PATH, path) != 0 || ::wcscpy_s(m_uiDllPath, MAX_PATH, path) != 0) {
            m_resourceDllPath[0] = L'\0';
            m_uiDllPath[0] = L'\0';
            return ERROR_INSUFFICIENT_BUFFER;
        }
        if (*path != L'\0') {
            (void)::wcscpy_s(resourceValue, MAX_PATH, path);
        }
    }

    const std::wstring folder(FolderOf(resourceValue));
    wchar_t oemPath[MAX_PATH];
    if (Fundor::FormatW(oemPath, MAX_PATH, L"%s%u\\%s", folder.c_str(),
                        static_cast<unsigned>(Fundor::RtMuiGetMappedLocale()), L"KvOemRes.dll") >= 0) {
        m_oemResourceDll.reset(Fundor::RtMuiLoadLibrary(oemPath));
    }
    const std::wstring uiFolder(FolderOf(uiValue));
    if (Fundor::FormatW(oemPath, MAX_PATH, L"%s%s", uiFolder.c_str(), L"OemUI.dll") >= 0) {
        m_oemUiDll.reset(Fundor::RtMuiLoadLibrary(oemPath));
    }
    m_initialized = true;
    return 0;
}

DWORD CKvSARNLocale2::_LoadResourceDll()
{
    if (m_resourceDll) {
        return 0;
    }
    if (!m_initialized || m_resourceDllPath[0] == L'\0') {
        ETWLOG(ETWLogging::kLevelError, kLogFile, L"CKvSARNLocale2::LoadResDll", L"Initialize not called.");
        return kErrorNotInitialized;
    }
    if (m_mode != 0 && m_mode != 1) {
        return ERROR_NOT_SUPPORTED;
    }
    m_resourceDll.reset(Fundor::RtMuiLoadLibrary(m_resourceDllPath));
    if (!m_resourceDll) {
        const DWORD error = ::GetLastError();
        ETWLOG(ETWLogging::kLevelError, kLogFile, L"CKvSARNLocale2::LoadResDll",
               L"Loadlibrary for resource dll failed. Error:%d", error);
        return error != 0 ? error : ERROR_MOD_NOT_FOUND;
    }
    return 0;
}

DWORD CKvSARNLocale2::_LoadUiDll()
{
    if (m_uiDll) {
        return 0;
    }
    if (!m_initialized || m_uiDllPath[0] == L'\0') {
        ETWLOG(ETWLogging::kLevelError, kLogFile, L"CKvSARNLocale2::LoadUIDll", L"Initialize not called.");
        return kErrorNotInitialized;
    }
    m_uiDll.reset(Fundor::RtMuiLoadLibrary(m_uiDllPath));
    if (!m_uiDll) {
        const DWORD error = ::GetLastError();
        ETWLOG(ETWLogging::kLevelError, kLogFile, L"CKvSARNLocale2::LoadUIDll", L"Loadlibrary(%s) failed with error:%d",
               m_uiDllPath, error);
        return error != 0 ? error : ERROR_MOD_NOT_FOUND;
    }
    return 0;
}

DWORD CKvSARNLocale2::_LoadText(UINT id, wchar_t* text, int capacity, int* length)
{
    *length = 0;
    text[0] = L'\0';
    if (m_oemResourceDll) {
        const int loaded = Fundor::RtMuiLoadString(m_oemResourceDll.get(), id, text, capacity, 0);
        if (loaded > 0) {
            *length = loaded;
            return 0;
        }
    }
    const DWORD code = _LoadResourceDll();
    if (code != 0) {
        return code;
    }
    const int loaded = Fundor::RtMuiLoadString(m_resourceDll.get(), id, text, capacity, 0);
    if (loaded <= 0) {
        text[0] = L'\0';
        return ERROR_NOT_FOUND;
    }
    *length = loaded;
    return 0;
}

DWORD CKvSARNLocale2::LoadResString(UINT id, wchar_t* buffer, DWORD capacity, const wchar_t* tokenList,
                                    const wchar_t* const* replacements, std::size_t replacementCount)
{
    if (buffer == nullptr || capacity == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    buffer[0] = L'\0';
    try {
        std::vector<wchar_t> loaded(kTextCapacity);
        int length = 0;
        DWORD code = _LoadText(id, loaded.data(), kTextCapacity, &length);
        if (code != 0) {
            return code;
        }
        std::wstring text(loaded.data(), static_cast<std::size_t>(length));
        code = ReplaceTokens(text, tokenList, replacements, replacementCount);
        return code != 0 ? code : CopyOut(text, buffer, capacity);
    } catch (...) {
        buffer[0] = L'\0';
        return ERROR_OUTOFMEMORY;
    }
}

DWORD CKvSARNLocale2::LoadPkgString(DWORD packageId, DWORD id, wchar_t* buffer, DWORD capacity,
                                    const wchar_t* tokenList, const wchar_t* const* replacements,
                                    std::size_t replacementCount)
{
    if (buffer == nullptr || capacity == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    buffer[0] = L'\0';
    try {
        std::vector<wchar_t> loaded(kTextCapacity);
        int length = 0;
        std::wstring text;
        bool haveText = false;
        DWORD code = 0;
        if (packageId != 0 && id > 0xFFFF) {
            wchar_t base[MAX_PATH] = {};
            int baseLength = 0;
            code = packageId <= 0xFFFF ? _LoadText(packageId, base, MAX_PATH, &baseLength) : ERROR_NOT_FOUND;
            ETWLOG(ETWLogging::kLevelNormal, kLogFile, L"CKvSARNLocale2::LoadPkgString",
                   L"LoadPkgString dwPkgId=%d wBase=%s dwResID=%d dwRet=%d", packageId, base, id, code);
            if (code == 0) {
                // The package's base is a string number: base + offset must stay one.
                const unsigned long baseNumber = std::wcstoul(base, nullptr, 10);
                const unsigned long long number = static_cast<unsigned long long>(baseNumber) + (id >> 16);
                if (number > 0xFFFF || baseNumber > 0xFFFF) {
                    return ERROR_INVALID_DATA;
                }
                code = _LoadText(static_cast<UINT>(number), loaded.data(), kTextCapacity, &length);
                if (code == 0) {
                    text.assign(loaded.data(), static_cast<std::size_t>(length));
                    haveText = true;
                    ETWLOG(ETWLogging::kLevelNormal, kLogFile, L"CKvSARNLocale2::LoadPkgString",
                           L"LoadPkgString lpwBuffer=%s", text.c_str());
                }
            }
        }
        if (!haveText) {
            // The package has no text of its own for this id: the plain id answers.
            code = _LoadText(id & 0xFFFF, loaded.data(), kTextCapacity, &length);
            ETWLOG(ETWLogging::kLevelNormal, kLogFile, L"CKvSARNLocale2::LoadPkgString",
                   L"LoadPkgString 1 dwResID=%d lpwBuffer=%s", id & 0xFFFF, loaded.data());
            if (code != 0) {
                return code;
            }
            text.assign(loaded.data(), static_cast<std::size_t>(length));
            if (text.find(kCompanyNameToken) != std::wstring::npos) {
                wchar_t company[MAX_PATH] = {};
                int companyLength = 0;
                if (_LoadText(kCompanyNameStringId, company, MAX_PATH, &companyLength) == 0) {
                    const wchar_t* const companyName[] = {company};
                    (void)ReplaceTokens(text, kCompanyNameToken, companyName, 1);
                }
            }
        }
        code = ReplaceTokens(text, tokenList, replacements, replacementCount);
        return code != 0 ? code : CopyOut(text, buffer, capacity);
    } catch (...) {
        buffer[0] = L'\0';
        return ERROR_OUTOFMEMORY;
    }
}

HANDLE CKvSARNLocale2::LoadImage(const wchar_t* name, UINT type, int cx, int cy, UINT flags, DWORD* error)
{
    // A miss in the OEM DLLs is not reported: only the UI DLL's own error is.
    for (HMODULE oem : {m_oemUiDll.get(), m_oemResourceDll.get()}) {
        if (oem != nullptr) {
            HANDLE image = Fundor::RtMuiLoadImage(oem, name, type, cx, cy, flags, 0);
            if (image != nullptr) {
                return image;
            }
        }
    }
    const DWORD code = _LoadUiDll();
    if (code != 0) {
        if (error != nullptr) {
            *error = code;
        }
        return nullptr;
    }
    HANDLE image = Fundor::RtMuiLoadImage(m_uiDll.get(), name, type, cx, cy, flags, 0);
    if (image == nullptr) {
        const DWORD lastError = ::GetLastError();
        if (error != nullptr) {
            *error = lastError != 0 ? lastError : ERROR_RESOURCE_NAME_NOT_FOUND;
        }
    }
    return image;
}
