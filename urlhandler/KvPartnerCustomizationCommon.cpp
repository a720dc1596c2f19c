#include "urlhandler/KvPartnerCustomizationCommon.h"

#include "core/Logging/Logging.h"
#include "core/base/ScopedResource.h"

#include <cwchar>
#include <utility>

namespace {

constexpr wchar_t kPackagesKey[] = L"SOFTWARE\\Tervane\\QRN\\Packages";
constexpr wchar_t kAppCodeKey[] = L"SOFTWARE\\Tervane\\QRN\\Packages\\AppCode\\";
constexpr REGSAM kReadAccess = KEY_READ | KEY_WOW64_64KEY;  // 0x20119
constexpr std::size_t kListCharacters = 1024;
constexpr std::size_t kAppIdCharacters = 520;
constexpr DWORD kSubkeyNameCharacters = 1024;

// The log lines of this reader keep the line numbers their readers know them by.
template <typename... Arguments>
void LogInitError(int line, const wchar_t* format, const Arguments&... arguments)
{
    if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelError)) {
        ETWLogging::LogMessage(ETWLogging::kLevelError, L"KvPartnerCustomizationCommon", L"CKvPackagesInfor::Init",
                               line, format, arguments...);
    }
}

constexpr wchar_t kQueryFailed[] = L"Failed query regkey %s value when getting packages information.";

wchar_t AsciiLowerChar(wchar_t c) noexcept
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

struct FallbackAppCode {
    const wchar_t* feature;
    const wchar_t* appCode;
};
constexpr FallbackAppCode kFallbackAppCodes[] = {
    {L"dru", L"xup"},
    {L"qemp", L"qem"},
    {L"wotap", L"wota"},
};

bool EqualsNoCase(const std::wstring& text, const wchar_t* other)
{
    return std::wcslen(other) == text.size() && KvPackages::AsciiStartsWithNoCase(text.c_str(), other);
}

}  // namespace

namespace KvPackages {

void AsciiLowerInPlace(wchar_t* text, std::size_t length) noexcept
{
    for (std::size_t i = 0; i < length; ++i) {
        text[i] = AsciiLowerChar(text[i]);
    }
}

std::wstring AsciiLower(std::wstring text)
{
    AsciiLowerInPlace(text.data(), text.size());
    return text;
}

bool AsciiStartsWithNoCase(const wchar_t* text, const wchar_t* prefix) noexcept
{
    for (; *prefix != L'\0'; ++text, ++prefix) {
        if (*text == L'\0' || AsciiLowerChar(*text) != AsciiLowerChar(*prefix)) {
            return false;
        }
    }
    return true;
}

std::vector<std::wstring> SplitList(const wchar_t* value)
{
    std::vector<std::wstring> items;
    if (value == nullptr || value[0] == L'\0') {
        return items;
    }
    const wchar_t* start = value;
    for (;;) {
        const wchar_t* separator = std::wcschr(start, L';');
        if (separator == nullptr) {
            items.emplace_back(start);
            break;
        }
        items.emplace_back(start, separator);
        start = separator + 1;
        if (*start == L'\0') {
            break;
        }
    }
    return items;
}

bool IsWellFormedString(LONG status, DWORD type, const wchar_t* buffer, DWORD bytes, std::size_t capacity) noexcept
{
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        return false;
    }
    if (bytes == 0) {
        return true;
    }
    if (bytes % sizeof(wchar_t) != 0 || bytes / sizeof(wchar_t) > capacity) {
        return false;
    }
    return buffer[bytes / sizeof(wchar_t) - 1] == L'\0';
}

bool ReadRegistryString(HKEY key, const wchar_t* valueName, std::size_t capacity, std::wstring& out)
{
    out.clear();
    std::wstring buffer(capacity, L'\0');  // zero-filled before the read
    DWORD type = REG_NONE;
    DWORD bytes = static_cast<DWORD>(capacity * sizeof(wchar_t));
    const LONG status =
        ::RegQueryValueExW(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    if (!IsWellFormedString(status, type, buffer.c_str(), bytes, capacity)) {
        return false;
    }
    buffer[capacity - 1] = L'\0';
    out.assign(buffer.c_str());  // the value ends at its first NUL
    return true;
}

}  // namespace KvPackages

std::wstring GetAppCodeForFeature(const std::wstring& featureCode)
{
    std::wstring appId;
    bool read = false;
    {
        Fundor::ScopedRegKey key;
        const std::wstring path = kAppCodeKey + featureCode;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, kReadAccess, key.put()) == ERROR_SUCCESS) {
            read = KvPackages::ReadRegistryString(key.get(), L"AppID", kAppIdCharacters, appId);
        }
    }
    if (read && !appId.empty()) {
        return KvPackages::AsciiLower(std::move(appId));
    }
    for (const FallbackAppCode& row : kFallbackAppCodes) {
        if (EqualsNoCase(featureCode, row.feature)) {
            return row.appCode;
        }
    }
    return KvPackages::AsciiLower(featureCode);
}

void CKvPackagesInfor::Init()
{
    m_activePackages.clear();
    m_packageFeatures.clear();
    m_packageAdditionalFeatures.clear();
    m_featureByAppCode.clear();

    Fundor::ScopedRegKey packages;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPackagesKey, 0, kReadAccess, packages.put()) != ERROR_SUCCESS) {
        LogInitError(456, L"Failed open key %s when getting packages information.", kPackagesKey);
        return;
    }

    std::wstring active;
    if (!KvPackages::ReadRegistryString(packages.get(), L"activeuipackages", kListCharacters, active) ||
        active.empty()) {
        LogInitError(465, kQueryFailed, L"activeuipackages");
        if (!KvPackages::ReadRegistryString(packages.get(), L"activepackages", kListCharacters, active)) {
            LogInitError(477, kQueryFailed, L"activepackages");
        }
    }
    m_activePackages = KvPackages::SplitList(active.c_str());

    std::wstring name(kSubkeyNameCharacters, L'\0');
    for (DWORD index = 0;; ++index) {
        DWORD nameLength = kSubkeyNameCharacters;  // the call overwrites it: reset for every index
        if (::RegEnumKeyExW(packages.get(), index, name.data(), &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        ReadPackage(packages.get(), std::wstring(name.c_str(), nameLength));
    }
}

void CKvPackagesInfor::ReadPackage(HKEY packages, const std::wstring& packageId)
{
    Fundor::ScopedRegKey package;
    if (::RegOpenKeyExW(packages, packageId.c_str(), 0, kReadAccess, package.put()) != ERROR_SUCCESS) {
        return;
    }
    std::wstring value;
    if (!KvPackages::ReadRegistryString(package.get(), L"features", kListCharacters, value)) {
        return;
    }
    std::vector<std::wstring> features;
    for (std::wstring& feature : KvPackages::SplitList(value.c_str())) {
        // The whole key is kept, however long: cutting it could merge two packages' entries.
        std::wstring key = KvPackages::AsciiLower(packageId + L":" + GetAppCodeForFeature(feature));
        m_featureByAppCode.emplace(std::move(key), feature);
        features.push_back(std::move(feature));
    }
    m_packageFeatures.emplace(packageId, std::move(features));

    if (!KvPackages::ReadRegistryString(package.get(), L"additionalfeatures", kListCharacters, value)) {
        return;
    }
    std::vector<std::wstring> switchedOn;
    for (const std::wstring& item : KvPackages::SplitList(value.c_str())) {
        const std::size_t equals = item.find(L'=');
        if (equals != std::wstring::npos && equals + 1 < item.size() && item[equals + 1] == L'1') {
            switchedOn.push_back(item.substr(0, equals));
        }
    }
    m_packageAdditionalFeatures.emplace(packageId, std::move(switchedOn));
}
