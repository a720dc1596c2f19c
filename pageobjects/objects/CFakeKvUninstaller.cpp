#include "pageobjects/objects/CFakeKvUninstaller.h"

#include "core/Logging/Logging.h"
#include "classlib/KvComBoundary.h"
#include "pageobjects/objects/KvSurrogateConnection.h"
#include "pageobjects/objects/PageObjectTypeLibraries.h"

#include <utility>

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kSource[] = L"KvShell";
constexpr KvDispatchNames kDispatchNames = {kSource, L"CFakeKvUninstaller::GetTypeInfoCount",
                                            L"CFakeKvUninstaller::GetTypeInfo", L"CFakeKvUninstaller::GetIDsOfNames",
                                            L"CFakeKvUninstaller::Invoke"};

}  // namespace

template <typename Call>
HRESULT CFakeKvUninstaller::Forward(const wchar_t* method, Call&& call) noexcept
{
    return KvComBoundary(kSource, method, [&]() -> HRESULT { return m_real ? call(m_real.Get()) : m_unreachable; });
}

CFakeKvUninstaller::CFakeKvUninstaller() : CKvTypeLibDispatchImpl(kDispatchNames) {}

HRESULT CFakeKvUninstaller::CreateInstance(CFakeKvUninstaller** object) noexcept
{
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    IKvUninstaller5* created = nullptr;
    const HRESULT hr =
        CKvComObject<CFakeKvUninstaller>::CreateInstance(IID_IKvUninstaller5, reinterpret_cast<void**>(&created));
    if (FAILED(hr)) return hr;
    *object = static_cast<CFakeKvUninstaller*>(created);
    return S_OK;
}

const KvInterfaceEntry* CFakeKvUninstaller::GetInterfaceTable()
{
    static const KvInterfaceEntry table[] = {
        KV_INTERFACE_ENTRY(CFakeKvUninstaller, IKvUninstaller5, IID_IKvUninstaller5),
        KV_INTERFACE_ENTRY(CFakeKvUninstaller, IKvUninstaller5, IID_IDispatch),
        KV_INTERFACE_ENTRY(CFakeKvUninstaller, IKvUninstaller5, IID_IKvUninstaller),
        KV_INTERFACE_ENTRY(CFakeKvUninstaller, IKvUninstaller5, IID_IKvUninstaller2),
        KV_INTERFACE_ENTRY(CFakeKvUninstaller, IKvUninstaller5, IID_IKvUninstaller3),
        KV_INTERFACE_ENTRY(CFakeKvUninstaller, IKvUninstaller5, IID_IKvUninstaller4),
        {nullptr, 0}};
    return table;
}

HRESULT CFakeKvUninstaller::FinalConstruct()
{
    HRESULT hr = InitializeDispatch(kUninstallerTypeLibraryResource, IID_IKvUninstaller5);
    if (FAILED(hr)) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CFakeKvUninstaller::FinalConstruct",
               L"Type information not loaded: (0x%08X)", hr);
        return hr;
    }
    ComPtr<IKvSurrogate> surrogate;
    SurrogateStep step = SurrogateStep::CreateHelper;
    hr = ConnectToSurrogate(false, &surrogate, &step);
    if (FAILED(hr)) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CFakeKvUninstaller::FinalConstruct",
               L"Surrogate not reached (step %d): (0x%08X)", static_cast<int>(step), hr);
        return hr;
    }
    ComPtr<IDispatch> created;
    hr = CreateInSurrogate(surrogate.Get(), CLSID_KvUninstaller, IID_IDispatch,
                           reinterpret_cast<void**>(created.GetAddressOf()));
    if (FAILED(hr)) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CFakeKvUninstaller::FinalConstruct",
               L"Uninstaller not created: (0x%08X)", hr);
        return hr;
    }
    // The uninstaller comes back as IDispatch; from another process that is a proxy with
    // IDispatch's seven slots only, so the table the calls go on to is asked for. It crosses only
    // when the uninstaller's type library is registered. Without it the shim still serves its own
    // slots and the host goes on; each forwarded call fails with the query's result.
    hr = created->QueryInterface(IID_IKvUninstaller5, reinterpret_cast<void**>(m_real.GetAddressOf()));
    if (SUCCEEDED(hr) && !m_real) hr = E_NOINTERFACE;
    if (FAILED(hr)) {
        m_real.Reset();
        m_unreachable = hr;
        ETWLOG(ETWLogging::kLevelError, kSource, L"CFakeKvUninstaller::FinalConstruct",
               L"The uninstaller answers no IKvUninstaller5, its calls will fail: (0x%08X)", hr);
    }
    return S_OK;
}

HRESULT CFakeKvUninstaller::SetSimulationData(const wchar_t* simulate, const wchar_t* surveyData) noexcept
{
    Fundor::ScopedBstr simulateCopy(::SysAllocString(simulate != nullptr ? simulate : L""));
    Fundor::ScopedBstr surveyCopy(::SysAllocString(surveyData != nullptr ? surveyData : L""));
    if (!simulateCopy || !surveyCopy) return E_OUTOFMEMORY;
    m_simulate = std::move(simulateCopy);
    m_surveyData = std::move(surveyCopy);
    return S_OK;
}

HRESULT CFakeKvUninstaller::GetSimulateString(VARIANT /*first*/, VARIANT /*second*/, VARIANT* simulate)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::GetSimulateString", [&] {
        if (simulate == nullptr) return E_POINTER;
        ::VariantClear(simulate);
        BSTR copy = ::SysAllocString(m_simulate ? m_simulate.get() : L"");
        if (copy == nullptr) return E_OUTOFMEMORY;
        simulate->vt = VT_BSTR;
        simulate->bstrVal = copy;
        return S_OK;
    });
}

HRESULT CFakeKvUninstaller::SurveyDataWhen(const wchar_t* simulateValue, VARIANT* data) noexcept
{
    if (data == nullptr) return E_POINTER;
    ::VariantClear(data);
    if (!m_simulate || !m_surveyData || m_surveyData.get()[0] == L'\0' ||
        ::CompareStringOrdinal(m_simulate.get(), -1, simulateValue, -1, TRUE) != CSTR_EQUAL) {
        return S_OK;
    }
    BSTR copy = ::SysAllocString(m_surveyData.get());
    if (copy == nullptr) return E_OUTOFMEMORY;
    data->vt = VT_BSTR;
    data->bstrVal = copy;
    return S_OK;
}

HRESULT CFakeKvUninstaller::GetSurveyData(VARIANT* data)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::GetSurveyData",
                         [&] { return SurveyDataWhen(L"uninstall_survey", data); });
}

HRESULT CFakeKvUninstaller::GetLaunchData(VARIANT* data)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::GetLaunchData",
                         [&] { return SurveyDataWhen(L"uninstall_launch", data); });
}

HRESULT CFakeKvUninstaller::Method42()
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method42", [] { return E_NOTIMPL; });
}

HRESULT CFakeKvUninstaller::Method07(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method07", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method08(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method08", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method09(VARIANT argument, VARIANT* value)
{
    return Forward(L"CFakeKvUninstaller::Method09",
                   [&](IKvUninstaller5* real) { return real->Method09(argument, value); });
}

HRESULT CFakeKvUninstaller::Method11(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method11", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method12(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method12", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method13(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method13", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method14(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method14", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method15(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method15", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method16(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method16", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method17(VARIANT first, VARIANT second)
{
    return Forward(L"CFakeKvUninstaller::Method17",
                   [&](IKvUninstaller5* real) { return real->Method17(first, second); });
}

HRESULT CFakeKvUninstaller::Method19(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method19", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method20(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method20", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method21(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method21", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method22(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method22", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method23(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method23", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method24(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method24", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method25(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method25", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method26(VARIANT first, VARIANT second)
{
    return Forward(L"CFakeKvUninstaller::Method26",
                   [&](IKvUninstaller5* real) { return real->Method26(first, second); });
}

HRESULT CFakeKvUninstaller::Method27(VARIANT first, VARIANT second)
{
    return Forward(L"CFakeKvUninstaller::Method27",
                   [&](IKvUninstaller5* real) { return real->Method27(first, second); });
}

HRESULT CFakeKvUninstaller::Method28(VARIANT first, VARIANT second)
{
    return Forward(L"CFakeKvUninstaller::Method28",
                   [&](IKvUninstaller5* real) { return real->Method28(first, second); });
}

HRESULT CFakeKvUninstaller::Method29(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method29", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method30(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method30", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method31(VARIANT first, VARIANT second)
{
    return Forward(L"CFakeKvUninstaller::Method31",
                   [&](IKvUninstaller5* real) { return real->Method31(first, second); });
}

HRESULT CFakeKvUninstaller::Method32(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method32", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method33(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method33", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method34(VARIANT first, VARIANT second)
{
    return Forward(L"CFakeKvUninstaller::Method34",
                   [&](IKvUninstaller5* real) { return real->Method34(first, second); });
}

HRESULT CFakeKvUninstaller::Method35(VARIANT first, VARIANT second)
{
    return Forward(L"CFakeKvUninstaller::Method35",
                   [&](IKvUninstaller5* real) { return real->Method35(first, second); });
}

HRESULT CFakeKvUninstaller::Method36(VARIANT first, VARIANT second)
{
    return Forward(L"CFakeKvUninstaller::Method36",
                   [&](IKvUninstaller5* real) { return real->Method36(first, second); });
}

HRESULT CFakeKvUninstaller::Method37(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method37", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method38(VARIANT /*first*/, VARIANT /*second*/)
{
    return KvComBoundary(kSource, L"CFakeKvUninstaller::Method38", [] { return S_OK; });
}

HRESULT CFakeKvUninstaller::Method39(VARIANT first, VARIANT second)
{
    return Forward(L"CFakeKvUninstaller::Method39",
                   [&](IKvUninstaller5* real) { return real->Method39(first, second); });
}

HRESULT CFakeKvUninstaller::Method41(VARIANT first, VARIANT second)
{
    return Forward(L"CFakeKvUninstaller::Method41",
                   [&](IKvUninstaller5* real) { return real->Method41(first, second); });
}
