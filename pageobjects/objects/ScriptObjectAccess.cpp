#include "pageobjects/objects/ScriptObjectAccess.h"

#include "classlib/KvComBoundary.h"
#include "core/base/ScopedComValues.h"

#include <dispex.h>
#include <oleauto.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kSource[] = L"ScriptObjectAccess";

// The object's id of name; with ensure, a missing name is made (IDispatchEx only).
HRESULT FindName(IDispatch* object, const wchar_t* name, bool ensure, DISPID* id, ComPtr<IDispatchEx>* extended)
{
    Fundor::ScopedBstr text(::SysAllocString(name));
    if (!text) return E_OUTOFMEMORY;
    HRESULT hr = E_FAIL;
    if (SUCCEEDED(object->QueryInterface(kIidDispatchEx, reinterpret_cast<void**>(extended->GetAddressOf()))) &&
        *extended) {
        hr = (*extended)->GetDispID(text.get(), fdexNameCaseSensitive | (ensure ? fdexNameEnsure : 0), id);
    }
    if (FAILED(hr)) {
        extended->Reset();
        LPOLESTR names[] = {text.get()};
        hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, id);
    }
    return hr;
}

}  // namespace

HRESULT PutScriptProperty(IDispatch* object, const wchar_t* name, VARIANT* value) noexcept
{
    if (object == nullptr || name == nullptr || value == nullptr) return E_INVALIDARG;
    // The page's object is someone else's code: what it throws stays here.
    return KvComBoundary(kSource, L"PutScriptProperty", [&] {
        DISPID id = DISPID_UNKNOWN;
        ComPtr<IDispatchEx> extended;
        HRESULT hr = FindName(object, name, true, &id, &extended);
        if (FAILED(hr)) return hr;
        DISPID putId = DISPID_PROPERTYPUT;
        DISPPARAMS parameters = {value, &putId, 1, 1};
        if (extended) {
            return extended->InvokeEx(id, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &parameters, nullptr, nullptr,
                                      nullptr);
        }
        return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &parameters, nullptr, nullptr,
                              nullptr);
    });
}

HRESULT PutScriptString(IDispatch* object, const wchar_t* name, const wchar_t* text) noexcept
{
    Fundor::ScopedBstr copy(::SysAllocString(text != nullptr ? text : L""));
    if (!copy) return E_OUTOFMEMORY;
    VARIANT value;
    ::VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = copy.get();
    return PutScriptProperty(object, name, &value);
}

HRESULT PutScriptBool(IDispatch* object, const wchar_t* name, bool flag) noexcept
{
    VARIANT value;
    ::VariantInit(&value);
    value.vt = VT_BOOL;
    value.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
    return PutScriptProperty(object, name, &value);
}

HRESULT GetScriptProperty(IDispatch* object, const wchar_t* name, VARIANT* value) noexcept
{
    if (object == nullptr || name == nullptr || value == nullptr) return E_INVALIDARG;
    ::VariantClear(value);
    ::VariantInit(value);
    // The object writes aside; *value gets the result only when the call succeeds.
    Fundor::ScopedVariant got;
    return KvComBoundary(
        kSource, L"GetScriptProperty",
        [&] {
            DISPID id = DISPID_UNKNOWN;
            ComPtr<IDispatchEx> extended;
            HRESULT hr = FindName(object, name, false, &id, &extended);
            if (FAILED(hr)) return hr;
            DISPPARAMS none = {nullptr, nullptr, 0, 0};
            if (extended) {
                hr = extended->InvokeEx(id, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, got.put(), nullptr,
                                        nullptr);
            } else {
                hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, got.put(), nullptr,
                                    nullptr);
            }
            if (SUCCEEDED(hr)) *value = got.release();
            return hr;
        },
        [&](HRESULT failure) noexcept {
            // Whatever the object left there is not trusted to be released: forgotten.
            (void)got.release();
            return failure;
        });
}

IDispatch* ScriptObjectOf(const VARIANT& value) noexcept
{
    if (value.vt == VT_DISPATCH) return value.pdispVal;
    if (value.vt == (VT_BYREF | VT_DISPATCH) && value.ppdispVal != nullptr) return *value.ppdispVal;
    return nullptr;
}
