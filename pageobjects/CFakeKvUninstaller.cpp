#include "CFakeKvUninstaller.h"

#include "KvSurrogateConnection.h"
#include "Logging/Logging.h"
#include "PageObjectTypeLibraries.h"

#include <new>

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kSource[] = L"KvShell";

}  // namespace

HRESULT CFakeKvUninstaller::CreateInstance(CFakeKvUninstaller** object) noexcept
{
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    auto* created = new (std::nothrow) CFakeKvUninstaller();
    if (created == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = created->Construct();
    if (FAILED(hr)) {
        created->Release();
        return hr;
    }
    *object = created;
    return S_OK;
}

HRESULT CFakeKvUninstaller::Construct() noexcept
{
    HRESULT hr = m_dispatch.Initialize(kUninstallerTypeLibraryResource, IID_IKvUninstaller5);
    if (FAILED(hr)) {
        ETWLOG(4, kSource, L"CFakeKvUninstaller::FinalConstruct", L"Type information not loaded: (0x%08X)", hr);
        return hr;
    }
    ComPtr<IKvSurrogate> surrogate;
    SurrogateStep step = SurrogateStep::CreateHelper;
    hr = ConnectToSurrogate(false, &surrogate, &step);
    if (FAILED(hr)) {
        ETWLOG(4, kSource, L"CFakeKvUninstaller::FinalConstruct", L"Surrogate not reached (step %d): (0x%08X)",
               static_cast<int>(step), hr);
        return hr;
    }
    hr = CreateInSurrogate(surrogate.Get(), CLSID_KvUninstaller, IID_IDispatch,
                           reinterpret_cast<void**>(m_real.GetAddressOf()));
    if (FAILED(hr)) {
        ETWLOG(4, kSource, L"CFakeKvUninstaller::FinalConstruct", L"Uninstaller not created: (0x%08X)", hr);
        return hr;
    }
    return S_OK;
}

CFakeKvUninstaller::~CFakeKvUninstaller()
{
    ::SysFreeString(m_simulate);
    ::SysFreeString(m_surveyData);
}

HRESULT CFakeKvUninstaller::SetSimulationData(const wchar_t* simulate, const wchar_t* surveyData) noexcept
{
    BSTR simulateCopy = ::SysAllocString(simulate != nullptr ? simulate : L"");
    BSTR surveyCopy = ::SysAllocString(surveyData != nullptr ? surveyData : L"");
    if (simulateCopy == nullptr || surveyCopy == nullptr) {
        ::SysFreeString(simulateCopy);
        ::SysFreeString(surveyCopy);
        return E_OUTOFMEMORY;
    }
    ::SysFreeString(m_simulate);
    ::SysFreeString(m_surveyData);
    m_simulate = simulateCopy;
    m_surveyData = surveyCopy;
    return S_OK;
}

HRESULT CFakeKvUninstaller::QueryInterface(REFIID iid, void** object)
{
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IKvUninstaller && iid != IID_IKvUninstaller2 &&
        iid != IID_IKvUninstaller3 && iid != IID_IKvUninstaller4 && iid != IID_IKvUninstaller5) {
        return E_NOINTERFACE;
    }
    *object = static_cast<IKvUninstaller5*>(this);
    AddRef();
    return S_OK;
}

ULONG CFakeKvUninstaller::AddRef()
{
    return static_cast<ULONG>(::InterlockedIncrement(&m_references));
}

ULONG CFakeKvUninstaller::Release()
{
    const LONG remaining = ::InterlockedDecrement(&m_references);
    if (remaining == 0) delete this;
    return static_cast<ULONG>(remaining);
}

HRESULT CFakeKvUninstaller::GetTypeInfoCount(UINT* count)
{
    return m_dispatch.GetTypeInfoCount(count);
}

HRESULT CFakeKvUninstaller::GetTypeInfo(UINT index, LCID locale, ITypeInfo** info)
{
    return m_dispatch.GetTypeInfo(index, locale, info);
}

HRESULT CFakeKvUninstaller::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids)
{
    return m_dispatch.GetIDsOfNames(iid, names, count, locale, ids);
}

HRESULT CFakeKvUninstaller::Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* badArgument)
{
    return m_dispatch.Invoke(static_cast<IKvUninstaller5*>(this), id, iid, locale, flags, params, result,
                             exception, badArgument);
}

HRESULT CFakeKvUninstaller::GetSimulateString(VARIANT /*first*/, VARIANT /*second*/, VARIANT* simulate)
{
    if (simulate == nullptr) return E_POINTER;
    ::VariantClear(simulate);
    BSTR copy = ::SysAllocString(m_simulate != nullptr ? m_simulate : L"");
    if (copy == nullptr) return E_OUTOFMEMORY;
    simulate->vt = VT_BSTR;
    simulate->bstrVal = copy;
    return S_OK;
}

HRESULT CFakeKvUninstaller::SurveyDataWhen(const wchar_t* simulateValue, VARIANT* data) noexcept
{
    if (data == nullptr) return E_POINTER;
    ::VariantClear(data);
    if (m_simulate == nullptr || m_surveyData == nullptr || m_surveyData[0] == L'\0' ||
        ::CompareStringOrdinal(m_simulate, -1, simulateValue, -1, TRUE) != CSTR_EQUAL) {
        return S_OK;
    }
    BSTR copy = ::SysAllocString(m_surveyData);
    if (copy == nullptr) return E_OUTOFMEMORY;
    data->vt = VT_BSTR;
    data->bstrVal = copy;
    return S_OK;
}

HRESULT CFakeKvUninstaller::GetSurveyData(VARIANT* data)
{
    return SurveyDataWhen(L"uninstall_survey", data);
}

HRESULT CFakeKvUninstaller::GetLaunchData(VARIANT* data)
{
    return SurveyDataWhen(L"uninstall_launch", data);
}

HRESULT CFakeKvUninstaller::Method42()
{
    return E_NOTIMPL;
}

HRESULT CFakeKvUninstaller::Method07(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method08(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method09(VARIANT argument, VARIANT* value)
{
    return m_real ? m_real->Method09(argument, value) : E_UNEXPECTED;
}

HRESULT CFakeKvUninstaller::Method11(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method12(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method13(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method14(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method15(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method16(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method17(VARIANT first, VARIANT second)
{
    return m_real ? m_real->Method17(first, second) : E_UNEXPECTED;
}

HRESULT CFakeKvUninstaller::Method19(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method20(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method21(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method22(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method23(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method24(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method25(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method26(VARIANT first, VARIANT second)
{
    return m_real ? m_real->Method26(first, second) : E_UNEXPECTED;
}

HRESULT CFakeKvUninstaller::Method27(VARIANT first, VARIANT second)
{
    return m_real ? m_real->Method27(first, second) : E_UNEXPECTED;
}

HRESULT CFakeKvUninstaller::Method28(VARIANT first, VARIANT second)
{
    return m_real ? m_real->Method28(first, second) : E_UNEXPECTED;
}

HRESULT CFakeKvUninstaller::Method29(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method30(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method31(VARIANT first, VARIANT second)
{
    return m_real ? m_real->Method31(first, second) : E_UNEXPECTED;
}

HRESULT CFakeKvUninstaller::Method32(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method33(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method34(VARIANT first, VARIANT second)
{
    return m_real ? m_real->Method34(first, second) : E_UNEXPECTED;
}

HRESULT CFakeKvUninstaller::Method35(VARIANT first, VARIANT second)
{
    return m_real ? m_real->Method35(first, second) : E_UNEXPECTED;
}

HRESULT CFakeKvUninstaller::Method36(VARIANT first, VARIANT second)
{
    return m_real ? m_real->Method36(first, second) : E_UNEXPECTED;
}

HRESULT CFakeKvUninstaller::Method37(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method38(VARIANT /*first*/, VARIANT /*second*/)
{
    return S_OK;
}

HRESULT CFakeKvUninstaller::Method39(VARIANT first, VARIANT second)
{
    return m_real ? m_real->Method39(first, second) : E_UNEXPECTED;
}

HRESULT CFakeKvUninstaller::Method41(VARIANT first, VARIANT second)
{
    return m_real ? m_real->Method41(first, second) : E_UNEXPECTED;
}
