#include "pageobjects/objects/SessionMgr.h"

#include "access/ModuleTrust.h"
#include "core/Logging/Logging.h"
#include "core/base/ScopedComValues.h"
#include "core/base/ScopedResource.h"
#include "core/base/UrlLimits.h"
#include "core/loading/RtMui.h"
#include "classlib/KvComBoundary.h"
#include "pageobjects/objects/KvPageArguments.h"
#include "pageobjects/objects/PageObjectFactory.h"
#include "pageobjects/objects/PageObjectTypeLibraries.h"
#include "pageobjects/objects/PageStringArray.h"
#include "pageobjects/objects/ScriptObjectAccess.h"
#include "pageobjects/objects/SessionRegistryValues.h"
#include "pageobjects/services/CAppInfoReg.h"
#include "pageobjects/services/GetActivePackageId.h"
#include "pageobjects/services/KvPartnerCustomizationBase.h"
#include "pageobjects/services/KvReportWait.h"
#include "pageobjects/services/KvStartCommand.h"
#include "pageobjects/services/_SplitRegPath.h"
#include "pageobjects/services/kvshortpath.h"
#include "shell/config/ApplicationInfo.h"
#include "shell/config/CKvSARNLocale2.h"
#include "shell/config/LanguageTables.h"

#include <shellapi.h>

#include <cwchar>
#include <new>
#include <string>
#include <vector>

#undef LoadString
#undef GetLocaleInfo

namespace {

constexpr wchar_t kSource[] = L"SessionMgr";
constexpr KvDispatchNames kDispatchNames = {kSource, L"CSessionMgr2::GetTypeInfoCount", L"CSessionMgr2::GetTypeInfo",
                                            L"CSessionMgr2::GetIDsOfNames", L"CSessionMgr2::Invoke"};
constexpr long kNotSupported = ERROR_NOT_SUPPORTED;           // 50
constexpr long kWaitInProgress = ERROR_BUSY;                  // 170
constexpr DWORD kAppIdCacheCharacters = 8;                    // with the terminator
constexpr DWORD kProductNameStringId = 86094;
constexpr UINT kManifestStringId = 1000;

// Every VARIANT out: an old value released, then VT_EMPTY.
void ResetOut(VARIANT* value) noexcept
{
    ::VariantClear(value);
    ::VariantInit(value);
}

// The string methods' locale object and the application it was last made ready for; empty when
// it is not ready for any. Process-wide: pages of one host share it.
struct SharedLocale {
    CKvSARNLocale2 locale;
    wchar_t applicationId[kAppIdCacheCharacters] = {};
};

SharedLocale& Locale()
{
    static SharedLocale shared;
    return shared;
}

// The key a page names for the registry methods: false (logged under function) when its path or
// value name holds a zero character (read as C strings they would name another key or value) or
// the path names no root this object serves.
bool PageRegistryKey(const wchar_t* function, BSTR keyPath, BSTR valueName,
                     wchar_t (&subkey)[kSplitRegPathSubkeyCharacters], HKEY* root)
{
    if (KvHasEmbeddedNul(keyPath) || KvHasEmbeddedNul(valueName)) {
        ETWLOG(ETWLogging::kLevelError, kSource, function, L"A key path or value name holds a zero character");
        return false;
    }
    if (!_SplitRegPath(keyPath, subkey, root)) {
        ETWLOG(ETWLogging::kLevelError, kSource, function, L"_SplitRegPath :%s failed",
               keyPath != nullptr ? keyPath : L"");
        return false;
    }
    return true;
}

// The application id a page passed, or null when it is no string or holds a zero character (read
// as a C string it would name another application).
const wchar_t* ApplicationIdOf(const VARIANT& value) noexcept
{
    if (KvHasEmbeddedNul(value)) return nullptr;
    if (value.vt == VT_BSTR) return value.bstrVal != nullptr ? value.bstrVal : L"";
    if (value.vt == (VT_BYREF | VT_BSTR) && value.pbstrVal != nullptr) {
        return *value.pbstrVal != nullptr ? *value.pbstrVal : L"";
    }
    return nullptr;
}

// The page's one-dimensional SAFEARRAY of VARIANT (or a reference to one), or null.
SAFEARRAY* VariantArrayOf(const VARIANT& value) noexcept
{
    SAFEARRAY* array = nullptr;
    if (value.vt == (VT_ARRAY | VT_VARIANT)) array = value.parray;
    if (value.vt == (VT_BYREF | VT_ARRAY | VT_VARIANT) && value.pparray != nullptr) array = *value.pparray;
    if (value.vt == (VT_BYREF | VT_VARIANT) && value.pvarVal != nullptr &&
        value.pvarVal->vt == (VT_ARRAY | VT_VARIANT)) {
        array = value.pvarVal->parray;
    }
    return array != nullptr && ::SafeArrayGetDim(array) == 1 ? array : nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Object

const KvInterfaceEntry* CSessionMgr2::GetInterfaceTable()
{
    static const KvInterfaceEntry table[] = {KV_INTERFACE_ENTRY(CSessionMgr2, ISessionMgr2, IID_ISessionMgr2),
                                             KV_INTERFACE_ENTRY(CSessionMgr2, ISessionMgr2, IID_IDispatch),
                                             {nullptr, 0}};
    return table;
}

CSessionMgr2::CSessionMgr2() : CKvTypeLibDispatchImpl(kDispatchNames) {}

HRESULT CSessionMgr2::FinalConstruct()
{
    const HRESULT hr = InitializeDispatch(kSessionTypeLibraryResource, IID_ISessionMgr2);
    if (FAILED(hr)) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CSessionMgr2::FinalConstruct",
               L"Type information not loaded: (0x%08X)", hr);
    }
    return hr;
}

CSessionMgr2::~CSessionMgr2()
{
    m_timers.clear();
}

const CKvPerfCounter* CSessionMgr2::FindTimer(const wchar_t* name) const
{
    try {
        const auto found = m_timers.find(name != nullptr ? name : L"");
        return found != m_timers.end() ? found->second.get() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

// ---------------------------------------------------------------------------------------------
// Named values
//
// Names are compared by the user's locale, which passes over zero characters: "a\0b" would be
// the entry "ab". A name holding one is refused like a missing name.

HRESULT CSessionMgr2::SetNamedParameter(BSTR name, VARIANT value, long* result)
{
    return KvComBoundary(kSource, L"CSessionMgr2::SetNamedParameter", [&] {
        if (KvHasEmbeddedNul(name)) return E_INVALIDARG;
        return m_parameters.SetParameter(name, value, result);
    });
}

HRESULT CSessionMgr2::GetNamedParameter(BSTR name, VARIANT* value)
{
    if (value == nullptr) return E_INVALIDARG;
    ResetOut(value);
    return KvComBoundary(
        kSource, L"CSessionMgr2::GetNamedParameter",
        [&] {
            if (KvHasEmbeddedNul(name)) return E_INVALIDARG;
            return m_parameters.GetParameter(name, value);
        },
        [&](HRESULT failure) noexcept {
            ResetOut(value);
            return failure;
        });
}

HRESULT CSessionMgr2::RemoveNamedParameter(BSTR name, long* result)
{
    return KvComBoundary(kSource, L"CSessionMgr2::RemoveNamedParameter", [&] {
        if (KvHasEmbeddedNul(name)) return E_INVALIDARG;
        return m_parameters.RemoveParameter(name, result);
    });
}

// ---------------------------------------------------------------------------------------------
// Registry

HRESULT CSessionMgr2::KvRegQueryValue(BSTR keyPath, BSTR valueName, VARIANT_BOOL obfuscated, VARIANT* value)
{
    const wchar_t* const function = L"CSessionMgr2::KvRegQueryValue";
    if (value == nullptr) return E_POINTER;
    ResetOut(value);
    return KvComBoundary(
        kSource, function,
        [&] {
            wchar_t subkey[kSplitRegPathSubkeyCharacters] = {};
            HKEY root = nullptr;
            if (!PageRegistryKey(function, keyPath, valueName, subkey, &root)) return S_OK;
            DWORD type = REG_NONE;
            std::vector<BYTE> data;
            const LONG status = ReadSessionValue(root, subkey, valueName, obfuscated != VARIANT_FALSE, &type, data);
            if (status != ERROR_SUCCESS || data.empty()) return S_OK;
            if (FAILED(RegistryDataToVariant(type, data.data(), data.size(), value))) {
                ETWLOG(ETWLogging::kLevelError, kSource, function, L"E_OUTOFMEMORY");
                ResetOut(value);
            }
            return S_OK;
        },
        [&](HRESULT) noexcept {
            ResetOut(value);
            return S_OK;
        });
}

HRESULT CSessionMgr2::KvRegSetValue(BSTR keyPath, BSTR valueName, VARIANT value, VARIANT_BOOL obfuscated,
                                    long* result)
{
    const wchar_t* const function = L"CSessionMgr2::KvRegSetValue";
    if (result == nullptr) return E_POINTER;
    *result = ERROR_INVALID_PARAMETER;
    return KvComBoundary(
        kSource, function,
        [&] {
            wchar_t subkey[kSplitRegPathSubkeyCharacters] = {};
            HKEY root = nullptr;
            if (!PageRegistryKey(function, keyPath, valueName, subkey, &root)) {
                *result = static_cast<long>(E_INVALIDARG);
                return S_OK;
            }
            DWORD type = REG_NONE;
            std::vector<BYTE> data;
            if (VariantToRegistryData(value, &type, data) != ERROR_SUCCESS) return S_OK;
            *result = WriteSessionValue(root, subkey, valueName, type, data, obfuscated != VARIANT_FALSE);
            return S_OK;
        },
        [&](HRESULT) noexcept {
            *result = ERROR_INVALID_PARAMETER;
            return S_OK;
        });
}

// ---------------------------------------------------------------------------------------------
// Window requests this host does not serve

HRESULT CSessionMgr2::NotServed(const wchar_t* function, long* result) noexcept
{
    return KvComBoundary(
        kSource, function,
        [&] {
            ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Entering...");
            if (result == nullptr) return E_POINTER;
            *result = kNotSupported;
            ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Exitting....");
            return S_OK;
        },
        [&](HRESULT failure) noexcept {
            if (result != nullptr) *result = KvPageResultOf(failure);
            return S_OK;
        });
}

HRESULT CSessionMgr2::CloseWindow(long* result)
{
    return NotServed(L"CSessionMgr2::CloseWindow", result);
}

HRESULT CSessionMgr2::ResizeWindow(VARIANT, VARIANT, VARIANT, VARIANT, long* result)
{
    return NotServed(L"CSessionMgr2::ResizeWindow", result);
}

HRESULT CSessionMgr2::OpenLogWindow(long* result)
{
    return NotServed(L"CSessionMgr2::OpenLogWindow", result);
}

HRESULT CSessionMgr2::OpenReportWindow(long* result)
{
    return NotServed(L"CSessionMgr2::OpenReportWindow", result);
}

// ---------------------------------------------------------------------------------------------
// Timers

HRESULT CSessionMgr2::StartTimer(BSTR name, long* result)
{
    const wchar_t* const function = L"CSessionMgr2::StartTimer";
    if (result == nullptr) return E_POINTER;
    return KvComBoundary(
        kSource, function,
        [&] {
            // The label is written as a C string: one cut at a zero would name another timer.
            if (KvHasEmbeddedNul(name)) {
                ETWLOG(ETWLogging::kLevelError, kSource, function, L"The timer name holds a zero character");
                *result = ERROR_INVALID_PARAMETER;
                return S_OK;
            }
            const std::wstring key(name != nullptr ? name : L"", ::SysStringLen(name));
            m_timers.erase(key);
            auto counter = std::unique_ptr<CKvPerfCounter>(new (std::nothrow) CKvPerfCounter(m_timerOutput));
            if (!counter) {
                *result = ERROR_OUTOFMEMORY;
                return S_OK;
            }
            // The page's name is a label, never a format.
            counter->Start(L"%s", key.c_str());
            m_timers.emplace(key, std::move(counter));
            *result = ERROR_SUCCESS;
            return S_OK;
        },
        [&](HRESULT failure) noexcept {
            *result = KvPageResultOf(failure);
            return S_OK;
        });
}

HRESULT CSessionMgr2::StopTimer(BSTR name, long* result)
{
    const wchar_t* const function = L"CSessionMgr2::StopTimer";
    if (result == nullptr) return E_POINTER;
    return KvComBoundary(
        kSource, function,
        [&] {
            if (KvHasEmbeddedNul(name)) {
                ETWLOG(ETWLogging::kLevelError, kSource, function, L"The timer name holds a zero character");
                *result = ERROR_INVALID_PARAMETER;
                return S_OK;
            }
            const auto found = m_timers.find(std::wstring(name != nullptr ? name : L"", ::SysStringLen(name)));
            if (found == m_timers.end()) {
                *result = ERROR_FILE_NOT_FOUND;
                return S_OK;
            }
            found->second->Stop();
            m_timers.erase(found);
            *result = ERROR_SUCCESS;
            return S_OK;
        },
        [&](HRESULT failure) noexcept {
            *result = KvPageResultOf(failure);
            return S_OK;
        });
}

// ---------------------------------------------------------------------------------------------
// Settings for the page

HRESULT CSessionMgr2::IsClickRefreshEnabled(VARIANT_BOOL* enabled)
{
    if (enabled == nullptr) return E_INVALIDARG;
    *enabled = VARIANT_TRUE;
    return KvComBoundary(
        kSource, L"CSessionMgr2::IsClickRefreshEnabled",
        [&] {
            KvPartnerCustomizationBase partner;
            if (FAILED(partner.Initialize(nullptr)) ||
                FAILED(partner.Override().OpenKey(L"ui", KEY_READ | KEY_WOW64_64KEY))) {
                return S_OK;
            }
            DWORD type = REG_DWORD;
            DWORD value = 0;
            DWORD size = sizeof(value);
            if (SUCCEEDED(partner.Override().ReadValue(L"uiClickRefreshEnabled", &type, &value, &size, 0)) &&
                type == REG_DWORD && size == sizeof(value)) {
                *enabled = value != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            }
            return S_OK;
        },
        [&](HRESULT) noexcept {
            *enabled = VARIANT_TRUE;
            return S_OK;
        });
}

HRESULT CSessionMgr2::IsAdminUser(VARIANT_BOOL* admin)
{
    if (admin == nullptr) return E_INVALIDARG;
    return KvComBoundary(
        kSource, L"CSessionMgr2::IsAdminUser",
        [&] {
            IKvShellHostAccess* host = GetShellHostAccess();
            *admin = host != nullptr && host->IsNotAdministrator() ? VARIANT_FALSE : VARIANT_TRUE;
            return S_OK;
        },
        [&](HRESULT) noexcept {
            // Could not tell: as documented, that counts as an administrator.
            *admin = VARIANT_TRUE;
            return S_OK;
        });
}

HRESULT CSessionMgr2::GetLocaleInfoW(VARIANT scriptObject, long* result)
{
    if (result == nullptr) return E_INVALIDARG;
    *result = static_cast<long>(E_FAIL);
    return KvComBoundary(
        kSource, L"CSessionMgr2::GetLocaleInfo",
        [&] {
            const LANGID language = Fundor::RtMuiGetMappedLocale();
            bool rightToLeft = language == 1037;
            for (LANGID arabic = 1025; arabic <= 16385 && !rightToLeft; arabic = static_cast<LANGID>(arabic + 1024)) {
                rightToLeft = language == arabic;
            }
            wchar_t tag[260] = {};
            if (!LangIdToLocaleName(language, tag, sizeof(tag))) wcscpy_s(tag, L"en-us");
            IDispatch* page = ScriptObjectOf(scriptObject);
            if (page == nullptr) return S_OK;
            HRESULT hr = PutScriptString(page, L"langRegion", tag);
            if (SUCCEEDED(hr)) hr = PutScriptString(page, L"direction", rightToLeft ? L"rtl" : L"ltr");
            *result = SUCCEEDED(hr) ? ERROR_SUCCESS : static_cast<long>(hr);
            return S_OK;
        },
        [&](HRESULT) noexcept {
            *result = static_cast<long>(E_FAIL);
            return S_OK;
        });
}

HRESULT CSessionMgr2::Is24HourClock(VARIANT_BOOL* is24)
{
    if (is24 == nullptr) return E_INVALIDARG;
    *is24 = VARIANT_FALSE;
    return KvComBoundary(
        kSource, L"CSessionMgr2::Is24HourClock",
        [&] {
            wchar_t format[260] = {};
            if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIMEFORMAT, format, 260) != 0 &&
                wcschr(format, L'H') != nullptr) {
                *is24 = VARIANT_TRUE;
            }
            return S_OK;
        },
        [&](HRESULT) noexcept {
            *is24 = VARIANT_FALSE;
            return S_OK;
        });
}

HRESULT CSessionMgr2::GetFirstDayOfWeek(long* day)
{
    if (day == nullptr) return E_INVALIDARG;
    *day = 6;
    return KvComBoundary(
        kSource, L"CSessionMgr2::GetFirstDayOfWeek",
        [&] {
            Fundor::ScopedRegKey key;
            if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\International", 0, KEY_READ, key.put()) !=
                ERROR_SUCCESS) {
                return S_OK;
            }
            // One digit and its terminator: anything longer is no day.
            wchar_t text[2] = {};
            DWORD size = sizeof(text);
            DWORD type = REG_NONE;
            if (::RegQueryValueExW(key.get(), L"iFirstDayOfWeek", nullptr, &type, reinterpret_cast<BYTE*>(text),
                                   &size) != ERROR_SUCCESS ||
                type != REG_SZ || size < sizeof(wchar_t)) {
                return S_OK;
            }
            const long number = static_cast<long>(text[0]) - L'0';
            if (number >= 0 && number <= 6) *day = number;
            return S_OK;
        },
        [&](HRESULT) noexcept {
            *day = 6;
            return S_OK;
        });
}

HRESULT CSessionMgr2::GetOSVersionCode(long* code)
{
    if (code == nullptr) return E_POINTER;
    return KvComBoundary(kSource, L"CSessionMgr2::GetOSVersionCode", [&] {
        (void)KvGetOSVersionCode(code);
        return S_OK;
    });
}

// ---------------------------------------------------------------------------------------------
// Strings and applications

HRESULT CSessionMgr2::LoadStringW(VARIANT stringId, VARIANT applicationId, VARIANT* text)
{
    const wchar_t* const function = L"CSessionMgr2::LoadString";
    ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"CSessionMgr2::LoadString Entering...");
    if (text == nullptr) {
        ETWLOG(ETWLogging::kLevelError, kSource, function,
               L"CSessionMgr2::LoadString Invalid parameter pvbstrLoadedString");
        return E_POINTER;
    }
    ResetOut(text);
    const wchar_t* application = ApplicationIdOf(applicationId);
    if (application == nullptr) {
        ETWLOG(ETWLogging::kLevelError, kSource, function, L"CSessionMgr2::LoadString Invalid parameter vAppId");
        return S_OK;
    }
    return KvComBoundary(
        kSource, function,
        [&] {
            std::vector<wchar_t> buffer(4096, L'\0');
            VARIANT number;
            ::VariantInit(&number);
            // An id written as text counts only when the whole text is the number.
            const bool cutId = KvHasEmbeddedNul(stringId);
            HRESULT hr = cutId ? DISP_E_TYPEMISMATCH : ::VariantChangeType(&number, &stringId, 0, VT_UI4);
            if (FAILED(hr) && !cutId) hr = ::VariantChangeType(&number, &stringId, 0, VT_I4);
            const DWORD id = SUCCEEDED(hr) ? number.ulVal : 0;
            const DWORD packageId = GetActivePackageId();
            ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"CSessionMgr2::LoadString dwStringId=%d dwPkgId=%d",
                   id, packageId);

            SharedLocale& shared = Locale();
            bool ready = SUCCEEDED(hr);
            if (ready && (shared.applicationId[0] == L'\0' || _wcsicmp(shared.applicationId, application) != 0)) {
                // Whatever happens next, the object no longer answers for the application cached.
                shared.applicationId[0] = L'\0';
                wchar_t resourceDll[MAX_PATH] = {};
                ready = GetApplicationInfoValue(application, resourceDll, MAX_PATH, kApplicationInfoResDll) ==
                            ERROR_SUCCESS &&
                        shared.locale.Initialize(resourceDll, 0) == ERROR_SUCCESS;
                // An id that does not fit the cache is made ready again on every call.
                if (ready && wcslen(application) < kAppIdCacheCharacters) {
                    wcscpy_s(shared.applicationId, application);
                }
            }
            if (ready && id != 0) {
                (void)shared.locale.LoadPkgString(packageId, id, buffer.data(), 2048);
            } else if (ready) {
                std::vector<wchar_t> company(4096, L'\0');
                if (shared.locale.LoadResString(CKvSARNLocale2::kCompanyNameStringId, company.data(), 4096) !=
                    ERROR_SUCCESS) {
                    ETWLOG(ETWLogging::kLevelError, kSource, function,
                           L"CSessionMgr2::LoadString - Failed to load company name neutral string");
                }
                const wchar_t* replacements[] = {company.data()};
                if (shared.locale.LoadPkgString(packageId, kProductNameStringId, buffer.data(), 2048,
                                                CKvSARNLocale2::kCompanyNameToken, replacements, 1) != ERROR_SUCCESS) {
                    ETWLOG(ETWLogging::kLevelError, kSource, function,
                           L"CSessionMgr2::LoadString - Failed to load product name string");
                }
            }
            if (!ready) buffer[0] = L'\0';
            BSTR loaded = ::SysAllocString(buffer.data());
            if (loaded == nullptr) throw std::bad_alloc();
            text->vt = VT_BSTR;
            text->bstrVal = loaded;
            ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"CSessionMgr2::LoadString Exitting....");
            return S_OK;
        },
        [&](HRESULT) noexcept {
            ResetOut(text);
            return S_OK;
        });
}

HRESULT CSessionMgr2::LoadStrings(VARIANT stringIds, VARIANT applicationId, VARIANT* texts)
{
    const wchar_t* const function = L"CSessionMgr2::LoadStrings";
    ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Entering...");
    if (texts == nullptr) {
        ETWLOG(ETWLogging::kLevelError, kSource, function, L"Invalid parameter");
        return E_POINTER;
    }
    ResetOut(texts);
    return KvComBoundary(
        kSource, function,
        [&] {
            SAFEARRAY* ids = VariantArrayOf(stringIds);
            LONG lower = 0;
            LONG upper = -1;
            if (ids == nullptr || FAILED(::SafeArrayGetLBound(ids, 1, &lower)) ||
                FAILED(::SafeArrayGetUBound(ids, 1, &upper))) {
                ETWLOG(ETWLogging::kLevelError, kSource, function, L"Invalid Parameters");
                return S_OK;
            }
            const ULONG count = upper >= lower ? static_cast<ULONG>(upper - lower + 1) : 0;
            Fundor::ScopedSafeArray strings(::SafeArrayCreateVector(VT_VARIANT, 0, count));
            if (!strings) {
                ETWLOG(ETWLogging::kLevelError, kSource, function, L"Invalid Parameters");
                return S_OK;
            }
            for (LONG index = lower; index <= upper; ++index) {
                Fundor::ScopedVariant id;
                Fundor::ScopedVariant text;
                HRESULT hr = ::SafeArrayGetElement(ids, &index, id.put());
                if (SUCCEEDED(hr)) hr = LoadStringW(id.get(), applicationId, text.put());
                LONG target = index - lower;
                // The array keeps its own copy of the string.
                if (SUCCEEDED(hr)) hr = ::SafeArrayPutElement(strings.get(), &target, text.AsInput());
                if (FAILED(hr)) {
                    ETWLOG(ETWLogging::kLevelError, kSource, function, L"Invalid Parameters");
                    return S_OK;
                }
            }
            texts->vt = VT_ARRAY | VT_VARIANT;
            texts->parray = strings.release();
            ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Exitting....");
            return S_OK;
        },
        [&](HRESULT) noexcept {
            ResetOut(texts);
            return S_OK;
        });
}

HRESULT CSessionMgr2::GetAppList(VARIANT scriptObject, long* result)
{
    const wchar_t* const function = L"CSessionMgr2::GetAppList";
    if (result == nullptr) return E_INVALIDARG;
    *result = static_cast<long>(E_FAIL);
    return KvComBoundary(
        kSource, function,
        [&] {
            std::vector<std::wstring> ids;
            std::vector<std::wstring> paths;
            {
                CAppInfoReg applications;
                DWORD count = 0;
                WCHAR** list = nullptr;
                if (applications.QueryAppList(&count, &list) != ERROR_SUCCESS) {
                    ETWLOG(ETWLogging::kLevelError, kSource, function, L"QueryAppList() failed.");
                    count = 0;
                }
                struct ListOwner {
                    DWORD count;
                    WCHAR** list;
                    ~ListOwner() { FreeAppList(count, list); }
                } owner{count, list};
                for (DWORD index = 0; index < count; ++index) {
                    if (list[index] == nullptr) continue;
                    wchar_t path[MAX_PATH] = {};
                    if (GetApplicationInfoValue(list[index], path, MAX_PATH, kApplicationInfoUIDll) != ERROR_SUCCESS) {
                        continue;
                    }
                    (void)KvGetShortPathName(path, path, MAX_PATH);
                    ids.emplace_back(list[index]);
                    paths.emplace_back(path);
                }
            }
            IDispatch* page = ScriptObjectOf(scriptObject);
            if (page == nullptr) return S_OK;
            Fundor::ScopedVariant idArray;
            Fundor::ScopedVariant pathArray;
            HRESULT hr = MakeStringArrayVariant(ids, idArray.put());
            if (SUCCEEDED(hr)) hr = MakeStringArrayVariant(paths, pathArray.put());
            if (SUCCEEDED(hr)) hr = PutScriptProperty(page, L"arrayAppId", idArray.AsInput());
            if (SUCCEEDED(hr)) hr = PutScriptProperty(page, L"arrayJSResDllPath", pathArray.AsInput());
            if (SUCCEEDED(hr)) hr = PutScriptBool(page, L"successful", true);
            if (SUCCEEDED(hr)) hr = PutScriptString(page, L"errorMessage", L"");
            if (FAILED(hr))
                ETWLOG(ETWLogging::kLevelError, kSource, function, L"The page object did not take the list: (0x%08X)",
                       hr);
            *result = SUCCEEDED(hr) ? ERROR_SUCCESS : static_cast<long>(hr);
            return S_OK;
        },
        [&](HRESULT) noexcept {
            *result = static_cast<long>(E_FAIL);
            return S_OK;
        });
}

HRESULT CSessionMgr2::GetProductManifest(BSTR applicationId, BSTR* manifest)
{
    const wchar_t* const function = L"CSessionMgr2::GetProductManifest";
    if (manifest == nullptr) return E_INVALIDARG;
    *manifest = nullptr;
    // An id cut at a zero character would name another application.
    if (applicationId == nullptr || applicationId[0] == L'\0' || KvHasEmbeddedNul(applicationId)) {
        ETWLOG(ETWLogging::kLevelError, kSource, function, L"app id is not provided");
        return E_INVALIDARG;
    }
    return KvComBoundary(
        kSource, function,
        [&] {
            wchar_t path[MAX_PATH] = {};
            if (GetApplicationInfoValue(applicationId, path, MAX_PATH, kApplicationInfoUIDll) != ERROR_SUCCESS) {
                return S_OK;
            }
            // Only its string table is wanted: none of the DLL's code runs.
            Fundor::ScopedModule module(
                ::LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
            wchar_t text[MAX_PATH] = {};
            if (!module) {
                ETWLOG(ETWLogging::kLevelError, kSource, function, L"Error on loading file:%s, error code:%d", path,
                       ::GetLastError());
            } else if (::LoadStringW(module.get(), kManifestStringId, text, MAX_PATH) <= 0) {
                ETWLOG(ETWLogging::kLevelError, kSource, function, L"Error on loading manifest string, error code:%d",
                       ::GetLastError());
                text[0] = L'\0';
            }
            *manifest = ::SysAllocString(text);
            return S_OK;
        },
        [&](HRESULT) noexcept {
            // Only the last step writes *manifest, and nothing after it throws.
            *manifest = nullptr;
            return S_OK;
        });
}

// ---------------------------------------------------------------------------------------------
// Launching

DWORD CSessionMgr2::_OpenProcess(const wchar_t* command, bool trusted)
{
    return KvStartCommand(command, trusted);
}

HRESULT CSessionMgr2::OpenNewHost(BSTR command, VARIANT_BOOL trusted, long* result)
{
    const wchar_t* const function = L"CSessionMgr2::OpenNewHost";
    if (result == nullptr) return E_INVALIDARG;
    return KvComBoundary(
        kSource, function,
        [&] {
            // A command cut at a zero character would start something other than what was asked.
            if (KvHasEmbeddedNul(command)) {
                ETWLOG(ETWLogging::kLevelError, kSource, function, L"The command holds a zero character");
                *result = ERROR_INVALID_PARAMETER;
                return S_OK;
            }
            *result = static_cast<long>(_OpenProcess(command, trusted == VARIANT_TRUE));
            return S_OK;
        },
        [&](HRESULT failure) noexcept {
            *result = KvPageResultOf(failure);
            return S_OK;
        });
}

HRESULT CSessionMgr2::OpenBrowser(BSTR url, BSTR query, long* result)
{
    const wchar_t* const function = L"CSessionMgr2::OpenBrowser";
    if (result == nullptr) return E_INVALIDARG;
    return KvComBoundary(
        kSource, function,
        [&] {
            ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"enter, bstrUrl = %s", url != nullptr ? url : L"");
            // Cut at a zero character the URL would open something else; the page's URL and query
            // together must fit a URL buffer (the shell's own buffers overflow not far above it).
            const UINT queryLength = ::SysStringLen(query);
            if (KvHasEmbeddedNul(url) || KvHasEmbeddedNul(query) ||
                ::SysStringLen(url) + (queryLength != 0 ? queryLength + 1 : 0) >= Fundor::kUrlBufferCharacters) {
                ETWLOG(ETWLogging::kLevelError, kSource, function,
                       L"The URL or query holds a zero character or is too long");
                *result = ERROR_INVALID_PARAMETER;
                return S_OK;
            }
            *result = static_cast<long>(KvOpenBrowser(url, query));
            ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"exit, return code:%d", *result);
            return S_OK;
        },
        [&](HRESULT failure) noexcept {
            *result = KvPageResultOf(failure);
            return S_OK;
        });
}

HRESULT CSessionMgr2::OpenBrowserAsIs(BSTR url, long* result)
{
    const wchar_t* const function = L"CSessionMgr2::OpenBrowserAsIs";
    if (result == nullptr) return E_INVALIDARG;
    return KvComBoundary(
        kSource, function,
        [&] {
            ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"enter, bstrUrl = %s", url != nullptr ? url : L"");
            if (KvHasEmbeddedNul(url) || ::SysStringLen(url) >= Fundor::kUrlBufferCharacters) {
                ETWLOG(ETWLogging::kLevelError, kSource, function, L"The URL holds a zero character or is too long");
                *result = ERROR_INVALID_PARAMETER;
                return S_OK;
            }
            *result = static_cast<long>(KvOpenBrowserAsIs(url));
            ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"exit, return code:%d", *result);
            return S_OK;
        },
        [&](HRESULT failure) noexcept {
            *result = KvPageResultOf(failure);
            return S_OK;
        });
}

HRESULT CSessionMgr2::OpenFile(VARIANT, VARIANT)
{
    return KvComBoundary(kSource, L"CSessionMgr2::OpenFile", [] {
        ETWLOG(ETWLogging::kLevelNormal, kSource, L"CSessionMgr2::OpenFile", L"Entering...");
        ETWLOG(ETWLogging::kLevelNormal, kSource, L"CSessionMgr2::OpenFile", L"Exitting....");
        return S_OK;
    });
}

HRESULT CSessionMgr2::RestartComputer(long* result)
{
    const wchar_t* const function = L"CSessionMgr2::RestartComputer";
    ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Entering...");
    if (result == nullptr) return E_INVALIDARG;
    return KvComBoundary(
        kSource, function,
        [&] {
            *result = static_cast<long>(KvExitWindowsWith(kKvRestartFlags, m_exitWindows));
            ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Exitting....");
            return S_OK;
        },
        [&](HRESULT failure) noexcept {
            *result = KvPageResultOf(failure);
            return S_OK;
        });
}

HRESULT CSessionMgr2::ShutdownComputer(long* result)
{
    const wchar_t* const function = L"CSessionMgr2::ShutdownComputer";
    if (result == nullptr) return E_INVALIDARG;
    return KvComBoundary(
        kSource, function,
        [&] {
            *result = static_cast<long>(KvExitWindowsWith(kKvShutdownFlags, m_exitWindows));
            ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"CSessionMgr2::ShutdownComputer returned - %d",
                   *result);
            return S_OK;
        },
        [&](HRESULT failure) noexcept {
            *result = KvPageResultOf(failure);
            return S_OK;
        });
}

// ---------------------------------------------------------------------------------------------
// Closing behind the report page

void CSessionMgr2::_WaitForReport(HWND window)
{
    KvShowReportAndWait(window, m_waitingForReport);
}

HRESULT CSessionMgr2::HandleSysCommand(VARIANT, long command, long* result)
{
    const wchar_t* const function = L"CSessionMgr2::HandleSysCommand";
    ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Entering...");
    if (result == nullptr) return E_POINTER;
    *result = ERROR_INVALID_HANDLE;
    if (m_waitingForReport) {
        ETWLOG(ETWLogging::kLevelError, kSource, function, L"A close is already waiting for the report page");
        *result = kWaitInProgress;
        return S_OK;
    }
    return KvComBoundary(
        kSource, function,
        [&] {
            IKvShellHostAccess* host = GetShellHostAccess();
            const HWND window = host != nullptr ? host->GetMainWindowHandle() : nullptr;
            if (window != nullptr && ::IsWindow(window)) {
                if (static_cast<UINT>(command) == SC_CLOSE) _WaitForReport(window);
                ::SendMessageW(window, WM_SYSCOMMAND, static_cast<WPARAM>(static_cast<UINT>(command)), 0);
                *result = ERROR_SUCCESS;
            }
            ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Exitting....");
            return S_OK;
        },
        [&](HRESULT) noexcept {
            *result = static_cast<long>(E_FAIL);
            return S_OK;
        });
}

// ---------------------------------------------------------------------------------------------
// Reserved slots

HRESULT CSessionMgr2::ReservedMethod25()
{
    return KvComBoundary(kSource, L"CSessionMgr2::ReservedMethod25", [] { return S_OK; });
}

HRESULT CSessionMgr2::ReservedMethod32(VARIANT)
{
    return KvComBoundary(kSource, L"CSessionMgr2::ReservedMethod32", [] { return S_OK; });
}

HRESULT CSessionMgr2::ReservedMethod34(VARIANT, VARIANT)
{
    return KvComBoundary(kSource, L"CSessionMgr2::ReservedMethod34", [] { return S_OK; });
}

HRESULT CSessionMgr2::ReservedMethod38(VARIANT)
{
    return KvComBoundary(kSource, L"CSessionMgr2::ReservedMethod38", [] { return S_OK; });
}

HRESULT CSessionMgr2::ReservedMethod39(VARIANT)
{
    return KvComBoundary(kSource, L"CSessionMgr2::ReservedMethod39", [] { return S_OK; });
}

HRESULT CSessionMgr2::ReservedMethod40(VARIANT)
{
    return KvComBoundary(kSource, L"CSessionMgr2::ReservedMethod40", [] { return S_OK; });
}
