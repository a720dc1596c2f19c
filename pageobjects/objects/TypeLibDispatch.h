#pragma once
// IDispatch served from the type information of an interface in a type library embedded in the
// program (ITypeInfo::Invoke): names resolve without regard to case and an [out, retval]
// parameter comes back as the call's value. For dual interfaces the calls go through the
// object's own interface table.

#include <oaidl.h>
#include <windows.h>
#include <wrl/client.h>

class CKvTypeLibDispatch {
public:
    // Loads the type library stored as resource number typeLibResource of the module that holds
    // this code, and takes the type information of iid from it. Nothing is kept on failure.
    [[nodiscard]] HRESULT Initialize(int typeLibResource, REFIID iid) noexcept;

    // The IDispatch methods; instance is the object's interface pointer of the initialised IID.
    // Before a successful Initialize every call fails with E_UNEXPECTED (count: 0). Invoke calls
    // the object's own methods: it is not noexcept, so that anything one of them lets out still
    // reaches the calling object's COM boundary (KvComBoundary.h) instead of ending the process.
    HRESULT GetTypeInfoCount(UINT* count) const noexcept;
    HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) const noexcept;
    HRESULT GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) const noexcept;
    HRESULT Invoke(void* instance, DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                   VARIANT* result, EXCEPINFO* exception, UINT* badArgument) const;

private:
    Microsoft::WRL::ComPtr<ITypeInfo> m_info;
};

// The type library stored as resource number typeLibResource of the module that holds this
// code. *library is null on failure.
[[nodiscard]] HRESULT LoadEmbeddedTypeLibrary(int typeLibResource, ITypeLib** library) noexcept;
