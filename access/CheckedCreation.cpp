#include "access/CheckedCreation.h"

#include "access/ModuleTrust.h"

const IID IID_IKvClassObject2 = {0xFD542581, 0x722E, 0x45BE, {0xBE, 0xD4, 0x62, 0xA1, 0xBE, 0x46, 0xAF, 0x03}};
const IID IID_IKvClassObject = {0x6058502E, 0x6069, 0x43F4, {0xB7, 0x33, 0x12, 0x86, 0x49, 0xA2, 0x0B, 0xD5}};

namespace {

HRESULT GetKvClassObject(REFCLSID clsid, DWORD context, IKvClassObject** classObject)
{
    void* raw = nullptr;
    HRESULT hr = ::CoGetClassObject(clsid, context, nullptr, IID_IKvClassObject2, &raw);
    if (FAILED(hr)) {
        if (raw != nullptr) {
            static_cast<IUnknown*>(raw)->Release();
            raw = nullptr;
        }
        hr = ::CoGetClassObject(clsid, context, nullptr, IID_IKvClassObject, &raw);
    }
    if (FAILED(hr) || raw == nullptr) {
        if (raw != nullptr) {
            static_cast<IUnknown*>(raw)->Release();
        }
        return FAILED(hr) ? hr : E_NOINTERFACE;
    }
    *classObject = static_cast<IKvClassObject*>(raw);
    return S_OK;
}

// Code address of the first slot of the object's interface table: it lies in the module that
// implements the object.
const void* FirstSlotAddress(IUnknown* object)
{
    void* const* table = *reinterpret_cast<void* const* const*>(object);
    return table[0];
}

}  // namespace

HRESULT KvCreateInstance2(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object,
                          DWORD check)
{
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    try {
        if (check == 0) {
            return ::CoCreateInstance(clsid, outer, context, iid, object);
        }
        IKvClassObject* classObject = nullptr;
        const HRESULT hr = GetKvClassObject(clsid, context, &classObject);
        if (FAILED(hr)) {
            return hr;
        }
        HRESULT result = E_ACCESSDENIED;
        if (ValidateModuleOfAddress(FirstSlotAddress(classObject)) == 0) {
            result = classObject->CreateInstance(iid, object);
        }
        classObject->Release();
        return result;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

HRESULT KvCreateInstanceNoAuth(REFCLSID clsid, IUnknown* /*outer*/, DWORD context, REFIID iid,
                               void** object)
{
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    try {
        IKvClassObject* classObject = nullptr;
        const HRESULT hr = GetKvClassObject(clsid, context, &classObject);
        if (FAILED(hr)) {
            return hr;
        }
        const HRESULT result = classObject->CreateInstance(iid, object);
        classObject->Release();
        return result;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
