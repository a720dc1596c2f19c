#include "access/CheckedCreation.h"

#include "access/ModuleTrust.h"

#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

const IID IID_IKvClassObject2 = {0xFD542581, 0x722E, 0x45BE, {0xBE, 0xD4, 0x62, 0xA1, 0xBE, 0x46, 0xAF, 0x03}};
const IID IID_IKvClassObject = {0x6058502E, 0x6069, 0x43F4, {0xB7, 0x33, 0x12, 0x86, 0x49, 0xA2, 0x0B, 0xD5}};

namespace {

// A failing call may still have written a pointer: each attempt gives back what the last left.
HRESULT GetKvClassObject(REFCLSID clsid, DWORD context, ComPtr<IKvClassObject>* classObject)
{
    HRESULT hr = ::CoGetClassObject(clsid, context, nullptr, IID_IKvClassObject2,
                                    reinterpret_cast<void**>(classObject->ReleaseAndGetAddressOf()));
    if (FAILED(hr)) {
        hr = ::CoGetClassObject(clsid, context, nullptr, IID_IKvClassObject,
                                reinterpret_cast<void**>(classObject->ReleaseAndGetAddressOf()));
    }
    if (FAILED(hr) || !*classObject) {
        classObject->Reset();
        return FAILED(hr) ? hr : E_NOINTERFACE;
    }
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
        ComPtr<IKvClassObject> classObject;
        const HRESULT hr = GetKvClassObject(clsid, context, &classObject);
        if (FAILED(hr)) {
            return hr;
        }
        if (ValidateModuleOfAddress(FirstSlotAddress(classObject.Get())) != 0) {
            return E_ACCESSDENIED;
        }
        return classObject->CreateInstance(iid, object);
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
        ComPtr<IKvClassObject> classObject;
        const HRESULT hr = GetKvClassObject(clsid, context, &classObject);
        if (FAILED(hr)) {
            return hr;
        }
        return classObject->CreateInstance(iid, object);
    } catch (...) {
        return E_UNEXPECTED;
    }
}
