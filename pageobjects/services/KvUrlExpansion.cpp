// URL expansion: "substlink:" names from the override hives' "Links", Substitute tokens and
// query parameters.

#include "pageobjects/services/qrncmn.h"

#include "core/Logging/Logging.h"
#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"
#include "core/registry/ObfuscatedRegistry.h"
#include "pageobjects/services/KvPartnerCustomizationBase.h"
#include "pageobjects/services/_SplitRegPath.h"

#include <objbase.h>

#include <cwchar>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kSource[] = L"qrncmn";
constexpr REGSAM kQueryValue64 = KEY_QUERY_VALUE | KEY_WOW64_64KEY;  // 0x101
constexpr DWORD kTokenValueCharacters = 1040;
constexpr std::size_t kFormattedLimit = 520;
constexpr DWORD kLinkCharacters = 260;
constexpr const wchar_t* kPerBootValues[] = {L"domain", L"lcid", L"lang", L"affid"};
constexpr const wchar_t* kPerBootQueryParams[] = {L"affid", L"lang", L"langid", L"lcid"};

struct RegLocation {
    HKEY root = nullptr;
    std::wstring subkey;
};

DWORD Locate(const wchar_t* keyPath, RegLocation& location)
{
    wchar_t subkey[kSplitRegPathSubkeyCharacters];
    HKEY root = nullptr;
    if (!_SplitRegPath(keyPath, subkey, &root)) return ERROR_INVALID_PARAMETER;
    if (root == nullptr) return ERROR_BADKEY;
    location.root = root;
    location.subkey = subkey;
    return ERROR_SUCCESS;
}

bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix)
{
    return _wcsnicmp(text, prefix, wcslen(prefix)) == 0;
}

// Calls visit(name, value) for each named REG_SZ value of key in registry order, until visit
// returns a code other than 0. The unnamed (default) value is no token: "%%" would eat the join
// between two tokens.
template <typename Visit>
DWORD ForEachStringValue(HKEY key, int obfuscated, Visit visit)
{
    DWORD longestName = 0;
    if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return ERROR_SUCCESS;
    std::vector<wchar_t> name(longestName + 1);
    const DWORD flags = (obfuscated != 0 ? Fundor::kObfuscatedValueEnciphered : 0) | Fundor::kRegistryView64;
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = longestName + 1;  // reset for every index
        const LONG listed = RegEnumValueW(key, index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr);
        if (listed == ERROR_NO_MORE_ITEMS) break;
        if (listed != ERROR_SUCCESS || nameLength == 0) continue;
        std::vector<wchar_t> value(kTokenValueCharacters + 1, L'\0');
        DWORD type = REG_NONE;
        DWORD size = kTokenValueCharacters * sizeof(wchar_t);
        if (Fundor::ObfuscatedRegQueryValue(key, nullptr, name.data(), &type, value.data(), &size, flags) !=
                ERROR_SUCCESS ||
            type != REG_SZ)
            continue;
        const DWORD characters = size / sizeof(wchar_t);
        value[characters < kTokenValueCharacters ? characters : kTokenValueCharacters] = L'\0';
        const DWORD result = visit(name.data(), value.data());
        if (result != ERROR_SUCCESS) return result;
    }
    return ERROR_SUCCESS;
}

// Replaces every occurrence of token in text, left to right. The search goes on after the text
// put in, so a replacement that holds its own token is not expanded again (and cannot loop).
void KvReplaceToken(std::wstring& text, const std::wstring& token, const std::wstring& replacement)
{
    std::size_t at = 0;
    while ((at = text.find(token, at)) != std::wstring::npos) {
        text.replace(at, token.size(), replacement);
        at += replacement.size();
    }
}

DWORD KvReplaceSubstituteTokens(const RegLocation& location, const std::wstring& input, int obfuscated,
                                std::wstring& result)
{
    result = input;
    Fundor::ScopedRegKey key;
    if (RegOpenKeyExW(location.root, location.subkey.c_str(), 0, kQueryValue64, key.put()) != ERROR_SUCCESS)
        return ERROR_SUCCESS;
    return ForEachStringValue(key.get(), obfuscated, [&](const wchar_t* name, const wchar_t* value) -> DWORD {
        wchar_t token[kFormattedLimit];
        if (Fundor::FormatW(token, kFormattedLimit, L"%%%s%%", name) < 0) return ERROR_NOT_ENOUGH_MEMORY;
        KvReplaceToken(result, token, value);
        return ERROR_SUCCESS;
    });
}

DWORD KvAppendQueryParams(const RegLocation& location, const std::wstring& url, int obfuscated, std::wstring& result)
{
    result = url;
    Fundor::ScopedRegKey key;
    if (RegOpenKeyExW(location.root, (location.subkey + L"\\QueryParams").c_str(), 0, kQueryValue64, key.put()) !=
        ERROR_SUCCESS)
        return ERROR_SUCCESS;
    const bool hasQuery = url.find(L'?') != std::wstring::npos;
    bool firstAdded = true;
    return ForEachStringValue(key.get(), obfuscated, [&](const wchar_t* name, const wchar_t* value) -> DWORD {
        const std::wstring parameter = name;
        if (parameter.size() + wcslen(value) + 2 >= kFormattedLimit) return ERROR_SUCCESS;
        if (url.find(L"?" + parameter + L"=") != std::wstring::npos ||
            url.find(L"&" + parameter + L"=") != std::wstring::npos)
            return ERROR_SUCCESS;
        wchar_t text[kFormattedLimit];
        if (Fundor::FormatW(text, kFormattedLimit, firstAdded && !hasQuery ? L"?%s=%s" : L"&%s=%s", name, value) < 0)
            return ERROR_NOT_ENOUGH_MEMORY;
        firstAdded = false;
        result += text;
        return ERROR_SUCCESS;
    });
}

DWORD KvExpandWithKey(const RegLocation& location, const std::wstring& input, int appendQuery, int obfuscated,
                      std::wstring& result)
{
    std::wstring replaced;
    const DWORD status = KvReplaceSubstituteTokens(location, input, obfuscated, replaced);
    if (status != ERROR_SUCCESS || appendQuery == 0) {
        result = std::move(replaced);
        return status;
    }
    return KvAppendQueryParams(location, replaced, obfuscated, result);
}

// Copies one value of any type from source to target; a missing value is skipped.
void KvCopyRegValue(HKEY source, HKEY target, const wchar_t* name)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExW(source, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return;
    std::vector<BYTE> data(size + sizeof(wchar_t), 0);
    if (RegQueryValueExW(source, name, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) return;
    (void)RegSetValueExW(target, name, 0, type, data.data(), size);
}

// Makes the volatile copy of the per-boot values when it does not exist yet. Returns the open
// volatile key in `copy` (empty when it cannot be made); an error only when "SOFTWARE\Tervane"
// itself cannot be opened.
DWORD EnsureVolatileCopy(Fundor::ScopedRegKey& copy)
{
    Fundor::ScopedRegKey tervane;
    const LONG opened =
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane", 0, KEY_READ | KEY_WOW64_64KEY, tervane.put());
    if (opened != ERROR_SUCCESS) return static_cast<DWORD>(opened);
    DWORD disposition = 0;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kVolatileSubstituteKey, 0, nullptr, REG_OPTION_VOLATILE,
                        KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, copy.put(), &disposition) != ERROR_SUCCESS)
        return ERROR_SUCCESS;
    if (disposition != REG_CREATED_NEW_KEY) return ERROR_SUCCESS;

    Fundor::ScopedRegKey persistent;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSubstituteKey, 0, kQueryValue64, persistent.put()) == ERROR_SUCCESS) {
        for (const wchar_t* name : kPerBootValues) KvCopyRegValue(persistent.get(), copy.get(), name);
    }
    Fundor::ScopedRegKey volatileParams;
    if (RegCreateKeyExW(copy.get(), L"QueryParams", 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                        nullptr, volatileParams.put(), nullptr) != ERROR_SUCCESS)
        return ERROR_SUCCESS;
    Fundor::ScopedRegKey persistentParams;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (std::wstring(kSubstituteKey) + L"\\QueryParams").c_str(), 0, kQueryValue64,
                      persistentParams.put()) == ERROR_SUCCESS) {
        for (const wchar_t* name : kPerBootQueryParams)
            KvCopyRegValue(persistentParams.get(), volatileParams.get(), name);
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD KvExpandEnvironmentStringEx(const wchar_t* key, const wchar_t* input, int appendQuery, int obfuscated,
                                  wchar_t* out, DWORD* size, int useVolatile)
{
    if (key == nullptr || input == nullptr || size == nullptr) return ERROR_INVALID_PARAMETER;
    try {
        bool volatileAvailable = false;
        if (useVolatile != 0) {
            Fundor::ScopedRegKey copy;
            const DWORD made = EnsureVolatileCopy(copy);
            if (made != ERROR_SUCCESS) return made;
            volatileAvailable = static_cast<bool>(copy);
        }
        RegLocation given;
        const DWORD located = Locate(key, given);
        if (located != ERROR_SUCCESS) return located;

        std::wstring result;
        DWORD status = ERROR_SUCCESS;
        const bool persistentKey =
            given.root == HKEY_LOCAL_MACHINE && _wcsicmp(given.subkey.c_str(), kSubstituteKey) == 0;
        if (persistentKey || !volatileAvailable) {
            status = KvExpandWithKey(given, input, appendQuery, obfuscated, result);
        } else {
            const RegLocation copy{HKEY_LOCAL_MACHINE, kVolatileSubstituteKey};
            std::wstring intermediate;
            status = KvExpandWithKey(copy, input, appendQuery, obfuscated, intermediate);
            if (status == ERROR_SUCCESS) status = KvExpandWithKey(given, intermediate, appendQuery, obfuscated, result);
        }
        if (status != ERROR_SUCCESS) return status;

        const DWORD needed = static_cast<DWORD>(result.size() + 1);
        if (out == nullptr) {
            *size = needed;
            return ERROR_SUCCESS;
        }
        if (*size < needed) {
            if (*size > 0) out[0] = L'\0';
            *size = needed;
            return ERROR_MORE_DATA;
        }
        wmemcpy(out, result.c_str(), needed);
        *size = needed;
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

DWORD KvExpandSarnUrl(const wchar_t* url, wchar_t** out)
{
    if (url == nullptr || out == nullptr) return ERROR_INVALID_PARAMETER;
    *out = nullptr;
    constexpr wchar_t kFunction[] = L"CKvUtil::KvExpandSarnUrl";
    wchar_t link[kLinkCharacters + 1] = {};
    const wchar_t* source = url;
    static constexpr wchar_t kSubstLink[] = L"substlink:";
    if (StartsWithNoCase(url, kSubstLink)) {
        const wchar_t* name = url + wcslen(kSubstLink);
        if (StartsWithNoCase(name, L"extURL::")) {
            ETWLOG(ETWLogging::kLevelNormal, kSource, kFunction,
                   L"CKvUtil::KvExpandSarnUrl APP_EXTERNAL_URL detected.");
            ETWLOG(ETWLogging::kLevelWarning, kSource, kFunction,
                   L"CKvUtil::KvExpandSarnUrl APP_EXTERNAL_URL detected, but uknown verb passed.");
            return ERROR_INVALID_PARAMETER;
        }
        KvPartnerCustomizationBase customization;
        HRESULT read = customization.Initialize(nullptr);
        if (SUCCEEDED(read)) read = customization.Override().OpenKey(L"Links", KEY_READ | KEY_WOW64_64KEY);
        DWORD type = REG_NONE;
        if (SUCCEEDED(read)) {
            DWORD bytes = kLinkCharacters * sizeof(wchar_t);
            read = customization.Override().ReadValue(name, &type, link, &bytes, 0);
            const DWORD characters = bytes / sizeof(wchar_t);
            link[characters < kLinkCharacters ? characters : kLinkCharacters] = L'\0';
        }
        customization.Override().CloseKeys();
        if (FAILED(read)) return static_cast<DWORD>(read);
        if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
        source = link;
    }

    DWORD size = 0;
    DWORD status = KvExpandEnvironmentStringEx(kSubstituteKey, source, 1, 0, nullptr, &size, 1);
    if (status != ERROR_SUCCESS) {
        ETWLOG(ETWLogging::kLevelWarning, kSource, kFunction,
               L"CKvUtil::KvExpandEnvironmentStringEx failed - error %lu", status);
        return status;
    }
    auto* expanded = static_cast<wchar_t*>(CoTaskMemAlloc(static_cast<SIZE_T>(size) * sizeof(wchar_t)));
    if (expanded == nullptr) {
        ETWLOG(ETWLogging::kLevelWarning, kSource, kFunction, L"Not enough memory");
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    wmemset(expanded, L'\0', size);
    status = KvExpandEnvironmentStringEx(kSubstituteKey, source, 1, 0, expanded, &size, 1);
    if (status != ERROR_SUCCESS) {
        ETWLOG(ETWLogging::kLevelWarning, kSource, kFunction,
               L"CKvUtil::KvExpandEnvironmentStringEx failed - error %lu", status);
        CoTaskMemFree(expanded);
        return status;
    }
    ETWLOG(ETWLogging::kLevelWarning, kSource, kFunction, L"url %s has been expanded to %s", url, expanded);
    *out = expanded;
    return ERROR_SUCCESS;
}
