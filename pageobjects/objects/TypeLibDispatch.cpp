#include "pageobjects/objects/TypeLibDispatch.h"

#include "core/base/StringFormat.h"

using Microsoft::WRL::ComPtr;

namespace {

HMODULE ThisModule()
{
    HMODULE module = nullptr;
    const BOOL found = ::GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
        reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return found != FALSE ? module : nullptr;
}

}  // namespace

HRESULT LoadEmbeddedTypeLibrary(int typeLibResource, ITypeLib** library) noexcept
{
    if (library == nullptr) return E_POINTER;
    *library = nullptr;
    HMODULE module = ThisModule();
    if (module == nullptr) return HRESULT_FROM_WIN32(::GetLastError());
    wchar_t path[MAX_PATH + 16] = {};
    const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    // "<module path>\<n>" names the n-th TYPELIB resource of that file.
    if (Fundor::FormatW(path + length, 16, L"\\%d", typeLibResource) < 0) return E_INVALIDARG;
    return ::LoadTypeLibEx(path, REGKIND_NONE, library);
}

HRESULT CKvTypeLibDispatch::Initialize(int typeLibResource, REFIID iid) noexcept
{
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadEmbeddedTypeLibrary(typeLibResource, &library);
    if (FAILED(hr)) return hr;
    ComPtr<ITypeInfo> info;
    hr = library->GetTypeInfoOfGuid(iid, &info);
    if (FAILED(hr)) return hr;
    // A dual interface is described twice; Invoke must see the interface half, whose functions
    // are called through the object's table, not the dispatch half (which would call back into
    // our own Invoke).
    TYPEATTR* attributes = nullptr;
    hr = info->GetTypeAttr(&attributes);
    if (FAILED(hr)) return hr;
    const bool dualDispatch = attributes->typekind == TKIND_DISPATCH && (attributes->wTypeFlags & TYPEFLAG_FDUAL) != 0;
    info->ReleaseTypeAttr(attributes);
    if (dualDispatch) {
        HREFTYPE interfaceHalf = 0;
        hr = info->GetRefTypeOfImplType(static_cast<UINT>(-1), &interfaceHalf);
        if (FAILED(hr)) return hr;
        ComPtr<ITypeInfo> vtableInfo;
        hr = info->GetRefTypeInfo(interfaceHalf, &vtableInfo);
        if (FAILED(hr)) return hr;
        info = vtableInfo;
    }
    m_info = info;
    return S_OK;
}

HRESULT CKvTypeLibDispatch::GetTypeInfoCount(UINT* count) const noexcept
{
    if (count == nullptr) return E_POINTER;
    *count = m_info ? 1 : 0;
    return S_OK;
}

HRESULT CKvTypeLibDispatch::GetTypeInfo(UINT index, LCID /*locale*/, ITypeInfo** info) const noexcept
{
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (!m_info) return E_UNEXPECTED;
    if (index != 0) return DISP_E_BADINDEX;
    return m_info.CopyTo(info);
}

HRESULT CKvTypeLibDispatch::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID /*locale*/,
                                          DISPID* ids) const noexcept
{
    if (!m_info) return E_UNEXPECTED;
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    return ::DispGetIDsOfNames(m_info.Get(), names, count, ids);
}

HRESULT CKvTypeLibDispatch::Invoke(void* instance, DISPID id, REFIID iid, LCID /*locale*/, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* badArgument) const
{
    if (!m_info) return E_UNEXPECTED;
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (params == nullptr) return E_INVALIDARG;
    return m_info->Invoke(instance, id, flags, params, result, exception, badArgument);
}
