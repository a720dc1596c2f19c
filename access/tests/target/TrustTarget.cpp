// A small DLL that the test build signs in many ways (good, tampered, wrong name, expired...).
// It also serves a class object of the creation interface, so that a signed, trusted module can
// hand out objects to the checked creation.

#include <windows.h>
#include <unknwn.h>

#include <new>

namespace {

const IID kKvClassObject2 = {0xFD542581, 0x722E, 0x45BE, {0xBE, 0xD4, 0x62, 0xA1, 0xBE, 0x46, 0xAF, 0x03}};
const IID kKvClassObject = {0x6058502E, 0x6069, 0x43F4, {0xB7, 0x33, 0x12, 0x86, 0x49, 0xA2, 0x0B, 0xD5}};

LONG g_created = 0;

class Product final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown) return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG refs = InterlockedDecrement(&m_refs);
        if (refs == 0) delete this;
        return static_cast<ULONG>(refs);
    }

private:
    LONG m_refs = 1;
};

struct ClassObject : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(REFIID iid, void** out) = 0;
};

class TargetClassObject final : public ClassObject {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != kKvClassObject2 && iid != kKvClassObject) return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(REFIID iid, void** out) override
    {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        Product* product = new (std::nothrow) Product();
        if (product == nullptr) return E_OUTOFMEMORY;
        const HRESULT hr = product->QueryInterface(iid, out);
        product->Release();
        if (SUCCEEDED(hr)) InterlockedIncrement(&g_created);
        return hr;
    }
};

TargetClassObject g_classObject;

}  // namespace

extern "C" __declspec(dllexport) IUnknown* TrustTargetClassObject() { return &g_classObject; }
extern "C" __declspec(dllexport) LONG TrustTargetCreatedCount() { return g_created; }
