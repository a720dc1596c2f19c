#include "pageobjects/objects/KvSurrogateConnection.h"

#include "access/CheckedCreation.h"
#include "core/base/ScopedComValues.h"

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

HRESULT ConnectToSurrogate(bool checked, IKvSurrogate** surrogate, SurrogateStep* failedStep) noexcept
{
    if (surrogate == nullptr || failedStep == nullptr) return E_POINTER;
    *surrogate = nullptr;
    *failedStep = SurrogateStep::CreateHelper;
    void* raw = nullptr;
    HRESULT hr = checked ? KvCreateInstance2(CLSID_KvSurrogateHelper, nullptr, CLSCTX_LOCAL_SERVER,
                                             IID_IKvSurrogateHelper, &raw, 1)
                         : KvCreateInstanceNoAuth(CLSID_KvSurrogateHelper, nullptr, CLSCTX_LOCAL_SERVER,
                                                  IID_IKvSurrogateHelper, &raw);
    if (FAILED(hr)) return hr;
    if (raw == nullptr) return E_NOINTERFACE;
    // The class object's creation hands back a plain IUnknown when it crossed a process: only
    // its first three slots can be trusted until it is asked for the helper's interface.
    ComPtr<IUnknown> created = Fundor::AdoptComPtr(static_cast<IUnknown*>(raw));
    ComPtr<IKvSurrogateHelper> helper;
    hr = created->QueryInterface(IID_IKvSurrogateHelper, reinterpret_cast<void**>(helper.GetAddressOf()));
    if (FAILED(hr)) return hr;

    *failedStep = SurrogateStep::LoadSurrogate;
    ComPtr<IUnknown> loader;
    hr = helper->LoadSurrogate(::GetCurrentProcessId(), &loader);
    if (FAILED(hr)) return hr;
    if (!loader) return E_POINTER;

    *failedStep = SurrogateStep::QuerySurrogate;
    hr = loader->QueryInterface(IID_IKvSurrogate, reinterpret_cast<void**>(surrogate));
    // What a failing query leaves is not trusted to be a pointer: forgotten, not released.
    if (FAILED(hr)) *surrogate = nullptr;
    return hr;
}

HRESULT CreateInSurrogate(IKvSurrogate* surrogate, REFCLSID clsid, REFIID iid, void** object) noexcept
{
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (surrogate == nullptr) return E_POINTER;
    ComPtr<IUnknown> created;
    HRESULT hr = surrogate->CreateObject(&clsid, &iid, &created);
    if (FAILED(hr)) return hr;
    if (!created) return E_NOINTERFACE;
    return created->QueryInterface(iid, object);
}
