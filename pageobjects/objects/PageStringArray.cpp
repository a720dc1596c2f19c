#include "pageobjects/objects/PageStringArray.h"

#include "core/base/ScopedComValues.h"

#include <oleauto.h>

HRESULT MakeStringArrayVariant(const std::vector<std::wstring>& strings, VARIANT* value) noexcept
{
    if (value == nullptr) return E_POINTER;
    Fundor::ScopedSafeArray array(::SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(strings.size())));
    if (!array) return E_OUTOFMEMORY;
    for (LONG index = 0; index < static_cast<LONG>(strings.size()); ++index) {
        const std::wstring& text = strings[static_cast<std::size_t>(index)];
        BSTR copy = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (copy == nullptr) return E_OUTOFMEMORY;
        VARIANT made;
        ::VariantInit(&made);
        made.vt = VT_BSTR;
        made.bstrVal = copy;
        // The array stores a copy of the element; the owner frees this one.
        Fundor::ScopedVariant element(made);
        const HRESULT hr = ::SafeArrayPutElement(array.get(), &index, element.AsInput());
        if (FAILED(hr)) return hr;
    }
    value->vt = VT_ARRAY | VT_VARIANT;
    value->parray = array.release();
    return S_OK;
}
