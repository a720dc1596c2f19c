#pragma once
// COM object creation that refuses class objects whose implementing module is not trusted.

#include <unknwn.h>
#include <windows.h>

// The class-object interfaces asked of CoGetClassObject, in this order. Slot 3 creates an object
// from an interface ID (no outer-object argument, unlike IClassFactory).
extern const IID IID_IKvClassObject2;  // {FD542581-722E-45BE-BED4-62A1BE46AF03}
extern const IID IID_IKvClassObject;   // {6058502E-6069-43F4-B733-128649A20BD5}

struct IKvClassObject : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(REFIID iid, void** object) = 0;
};

// check 0: CoCreateInstance. Otherwise the class object is fetched, the module holding the code
// of its first interface slot must pass ValidateModuleOfAddress (else E_ACCESSDENIED), and the
// object is created through its slot 3. *object is nulled first; null object gives E_POINTER.
[[nodiscard]] HRESULT KvCreateInstance2(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid,
                                        void** object, DWORD check);
// The same through the class object, without the trust check and without CoCreateInstance.
[[nodiscard]] HRESULT KvCreateInstanceNoAuth(REFCLSID clsid, IUnknown* outer, DWORD context,
                                             REFIID iid, void** object);
