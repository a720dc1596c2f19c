#include "pageobjects/objects/KvPlatformDsp.h"

#include "access/CheckedCreation.h"
#include "core/Logging/Logging.h"
#include "core/base/ScopedComValues.h"
#include "core/base/StringFormat.h"
#include "classlib/KvComBoundary.h"
#include "pageobjects/objects/KvPageArguments.h"
#include "pageobjects/objects/KvSurrogateConnection.h"

#include <iterator>

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kSource[] = L"KvPlatformDsp";
constexpr wchar_t kFunction[] = L"CKvPlatformDsp::GetProperty";
constexpr wchar_t kMethodName[] = L"GetProperty";

struct ProviderRow {
    long id;
    const KvProviderClass* type;
    const wchar_t* prefix;      // the log line's leading word
    const wchar_t* interfaceName;  // "IID_..." in the log
    const wchar_t* member;      // the cached pointer's name in the log
};

// Ids handed out as the provider's IDispatch, in the order of the object's provider slots.
constexpr ProviderRow kDispatchProviders[] = {
    {0, &kKvDspDatabaseMgr, L"CKvPlatformDsp", L"IKvDspDatabaseMgr", L"m_pKvDspDatabaseMgr"},
    {1, &kKvDspSystemInfo, L"CKvPlatformDsp", L"IKvDspSystemInfo", L"m_pKvDspSystemInfo"},
    {2, &kKvDspRegistry, L"CKvPlatformDsp", L"IKvDspRegistry", L"m_pKvDspRegistry"},
    {3, &kKvDspFileSystem, L"CKvPlatformDsp", L"IKvDspFileSystem", L"m_pKvDspFileSystem"},
    {9, &kManageOem, L"CKvPlatformDsp", L"IManageOem", L"m_pManageOem"},
    {11, &kAnalyticsShim, L"AnalyticsShim", L"IAnalyticsShim", L"m_pAnalyticsShim"},
};

const ProviderRow* FindDispatchProvider(long id, int* slot)
{
    for (int index = 0; index < static_cast<int>(std::size(kDispatchProviders)); ++index) {
        if (kDispatchProviders[index].id == id) {
            *slot = index;
            return &kDispatchProviders[index];
        }
    }
    return nullptr;
}

// Ids 4-7 are the session provider's own properties 4, 6, 5 and 7.
bool SessionProviderProperty(long id, long* number)
{
    switch (id) {
    case 4: *number = 4; return true;
    case 5: *number = 6; return true;
    case 6: *number = 5; return true;
    case 7: *number = 7; return true;
    default: return false;
    }
}

}  // namespace

HRESULT CKvPlatformDsp::CreateInstance(CKvPlatformDsp** object) noexcept
{
    if (object == nullptr) return E_INVALIDARG;
    *object = nullptr;
    IDispatch* created = nullptr;
    const HRESULT hr = CKvComObject<CKvPlatformDsp>::CreateInstance(IID_IDispatch, reinterpret_cast<void**>(&created));
    if (FAILED(hr)) return hr;
    *object = static_cast<CKvPlatformDsp*>(created);
    return S_OK;
}

const KvInterfaceEntry* CKvPlatformDsp::GetInterfaceTable()
{
    static const KvInterfaceEntry table[] = {KV_INTERFACE_ENTRY(CKvPlatformDsp, IDispatch, IID_IDispatch),
                                             {nullptr, 0}};
    return table;
}

HRESULT CKvPlatformDsp::GetTypeInfoCount(UINT* count)
{
    return KvComBoundary(kSource, L"CKvPlatformDsp::GetTypeInfoCount", [&] {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    });
}

HRESULT CKvPlatformDsp::GetTypeInfo(UINT /*index*/, LCID /*locale*/, ITypeInfo** info)
{
    return KvComBoundary(kSource, L"CKvPlatformDsp::GetTypeInfo", [&] {
        if (info == nullptr) return E_POINTER;
        *info = nullptr;
        return DISP_E_BADINDEX;
    });
}

HRESULT CKvPlatformDsp::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID /*locale*/, DISPID* ids)
{
    return KvComBoundary(kSource, L"CKvPlatformDsp::GetIDsOfNames", [&] {
        if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
        // The method has no named parameters: any name after the first is unknown.
        HRESULT hr = S_OK;
        for (UINT index = 0; index < count; ++index) {
            const bool known = index == 0 && names[0] != nullptr &&
                               ::CompareStringOrdinal(names[0], -1, kMethodName, -1, TRUE) == CSTR_EQUAL;
            ids[index] = known ? 0 : DISPID_UNKNOWN;
            if (!known) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    });
}

HRESULT CKvPlatformDsp::Invoke(DISPID id, REFIID iid, LCID /*locale*/, WORD flags, DISPPARAMS* params,
                               VARIANT* result, EXCEPINFO* /*exception*/, UINT* badArgument)
{
    return KvComBoundary(kSource, L"CKvPlatformDsp::Invoke", [&] {
        if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
        if (id != 0) return DISP_E_MEMBERNOTFOUND;
        if ((flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) return DISP_E_MEMBERNOTFOUND;
        if (params == nullptr) return E_INVALIDARG;
        if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
        if (params->cArgs != 2 || params->rgvarg == nullptr) return DISP_E_BADPARAMCOUNT;
        if (result == nullptr) return E_POINTER;
        // Arguments arrive last first. A number written as text counts only when the whole text
        // is the number: "1\0x" is no 1.
        long values[2] = {};
        for (UINT position = 0; position < 2; ++position) {
            const VARIANT& argument = params->rgvarg[1 - position];
            VARIANT converted;
            ::VariantInit(&converted);
            const HRESULT hr = KvHasEmbeddedNul(argument)
                                   ? DISP_E_TYPEMISMATCH
                                   : ::VariantChangeType(&converted, const_cast<VARIANT*>(&argument), 0, VT_I4);
            if (FAILED(hr)) {
                if (badArgument != nullptr) *badArgument = 1 - position;
                return DISP_E_TYPEMISMATCH;
            }
            values[position] = converted.lVal;
        }
        ::VariantInit(result);
        return GetProperty(values[0], values[1], result);
    });
}

HRESULT CKvPlatformDsp::GetProperty(long id, int useSurrogate, VARIANT* result) noexcept
{
    if (result == nullptr) return E_POINTER;
    ::VariantClear(result);
    // Made aside and handed over whole: when an exception ends the call, whatever was half made
    // goes with the owner and the page sees nothing produced.
    Fundor::ScopedVariant made;
    return KvComBoundary(
        kSource, kFunction,
        [&] {
            if (useSurrogate != 0) {
                GetSurrogateProperty(id, made.put());
            } else {
                GetDirectProperty(id, made.put());
            }
            *result = made.release();
            return S_OK;
        },
        [](HRESULT) noexcept { return S_OK; });
}

void CKvPlatformDsp::GetSurrogateProperty(long id, VARIANT* result)
{
    if (!m_surrogate) {
        SurrogateStep step = SurrogateStep::CreateHelper;
        const HRESULT hr = ConnectToSurrogate(true, &m_surrogate, &step);
        if (FAILED(hr)) {
            const wchar_t* format = step == SurrogateStep::CreateHelper
                                        ? L"CKvPlatformDsp - failed to create surrogate helper: (0x%08X)"
                                    : step == SurrogateStep::LoadSurrogate
                                        ? L"CKvPlatformDsp - LoadSurrogate failed: (0x%08X)"
                                        : L"CKvPlatformDsp - CreateObject IID_IKvSurrogate failed: (0x%08X)";
            ETWLOG(ETWLogging::kLevelError, kSource, kFunction, format, hr);
            return;
        }
    }
    if (!m_smProviderAdmin) {
        const HRESULT hr = CreateInSurrogate(m_surrogate.Get(), kKvSMProvider.clsid, kKvSMProvider.iid,
                                             reinterpret_cast<void**>(m_smProviderAdmin.GetAddressOf()));
        if (FAILED(hr)) {
            ETWLOG(ETWLogging::kLevelError, kSource, kFunction,
                   L"CKvPlatformDsp - CreateObject IID_IKvSMProvider in surrogate failed: (0x%08X)", hr);
            return;
        }
    }
    long number = 0;
    if (SessionProviderProperty(id, &number)) {
        AskProvider(m_smProviderAdmin.Get(), number, result);
        return;
    }
    int slot = 0;
    const ProviderRow* row = FindDispatchProvider(id, &slot);
    if (row == nullptr) return;  // 8 (the helper is never made in the surrogate) and unknown ids
    if (!m_admin[slot]) {
        const HRESULT hr = CreateInSurrogate(m_surrogate.Get(), row->type->clsid, row->type->iid,
                                             reinterpret_cast<void**>(m_admin[slot].GetAddressOf()));
        if (FAILED(hr)) {
            ETWLOG(ETWLogging::kLevelError, kSource, kFunction,
                   L"%s - CreateObject IID_%s in surrogate failed: (0x%08X)", row->prefix, row->interfaceName, hr);
            return;
        }
    }
    wchar_t member[64] = {};
    (void)Fundor::FormatW(member, std::size(member), L"%sAdmin", row->member);
    HandOutDispatch(m_admin[slot].Get(), row->prefix, member, result);
}

void CKvPlatformDsp::GetDirectProperty(long id, VARIANT* result)
{
    if (!m_smProvider) {
        const HRESULT hr = KvCreateInstance2(kKvSMProvider.clsid, nullptr, CLSCTX_ALL, kKvSMProvider.iid,
                                             reinterpret_cast<void**>(m_smProvider.GetAddressOf()), 1);
        if (FAILED(hr)) {
            ETWLOG(ETWLogging::kLevelError, kSource, kFunction,
                   L"CKvPlatformDsp - CreateObject IID_IKvSMProvider failed: (0x%08X)", hr);
            return;
        }
    }
    long number = 0;
    if (SessionProviderProperty(id, &number)) {
        AskProvider(m_smProvider.Get(), number, result);
        return;
    }
    if (id == 8) {
        ComPtr<IUnknown>& helper = m_direct[QrnHelper];
        if (!helper) {
            HRESULT hr = KvCreateInstance2(kKvQrnHelper.clsid, nullptr, CLSCTX_ALL, kKvQrnHelper.iid,
                                           reinterpret_cast<void**>(helper.GetAddressOf()), 1);
            if (FAILED(hr)) {
                ETWLOG(ETWLogging::kLevelError, kSource, kFunction,
                       L"CKvPlatformDsp - CreateObject IID_IKvQrnHelper failed: (0x%08X), %s", hr,
                       L"Will try to create DipWrpInQrn");
                hr = KvCreateInstance2(kKvQrnHelperInQrn.clsid, nullptr, CLSCTX_ALL, kKvQrnHelperInQrn.iid,
                                       reinterpret_cast<void**>(helper.GetAddressOf()), 1);
            }
            if (FAILED(hr)) {
                ETWLOG(ETWLogging::kLevelError, kSource, kFunction,
                       L"CKvPlatformDsp - CreateObject IID_IKvQrnHelper failed: (0x%08X), ", hr);
                return;
            }
        }
        HandOutDispatch(helper.Get(), L"CKvPlatformDsp", L"m_pKvQrnHelper", result);
        return;
    }
    int slot = 0;
    const ProviderRow* row = FindDispatchProvider(id, &slot);
    if (row == nullptr) return;
    if (!m_direct[slot]) {
        const HRESULT hr = KvCreateInstance2(row->type->clsid, nullptr, CLSCTX_ALL, row->type->iid,
                                             reinterpret_cast<void**>(m_direct[slot].GetAddressOf()), 1);
        if (FAILED(hr)) {
            ETWLOG(ETWLogging::kLevelError, kSource, kFunction, L"%s - CreateObject IID_%s failed: (0x%08X)",
                   row->prefix, row->interfaceName, hr);
            return;
        }
    }
    HandOutDispatch(m_direct[slot].Get(), row->prefix, row->member, result);
}

void CKvPlatformDsp::HandOutDispatch(IUnknown* provider, const wchar_t* prefix, const wchar_t* member, VARIANT* result)
{
    // A provider without IDispatch still answers VT_DISPATCH, holding null.
    result->vt = VT_DISPATCH;
    result->pdispVal = nullptr;
    const HRESULT hr = provider->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&result->pdispVal));
    if (FAILED(hr)) {
        result->pdispVal = nullptr;
        ETWLOG(ETWLogging::kLevelError, kSource, kFunction, L"%s - %s QueryInterface failed: (0x%08X)", prefix, member,
               hr);
    }
}

void CKvPlatformDsp::AskProvider(IKvSMProvider* provider, long number, VARIANT* result)
{
    const HRESULT hr = provider->GetProperty(number, result);
    if (FAILED(hr)) {
        ETWLOG(ETWLogging::kLevelError, kSource, kFunction,
               L"CKvPlatformDsp - IKvSMProvider GetProperty(%d) failed: (0x%08X)", number, hr);
    }
}
