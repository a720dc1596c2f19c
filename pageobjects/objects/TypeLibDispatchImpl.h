#pragma once
// The four IDispatch methods of a page object whose dispatch is served from an embedded type
// library, written once. Each runs inside the COM boundary (KvComBoundary.h) under the object's
// own log names and goes on to CKvTypeLibDispatch; Invoke calls the object's Interface table.
//
//     class CThing : public CKvComObjectRoot, public CKvTypeLibDispatchImpl<IThing> {
//     public:
//         CThing() : CKvTypeLibDispatchImpl(kThingDispatchNames) {}
//         HRESULT FinalConstruct() override { return InitializeDispatch(kThingTypeLibrary, IID_IThing); }
//     };

#include "classlib/KvComBoundary.h"
#include "pageobjects/objects/TypeLibDispatch.h"

#include <oaidl.h>
#include <windows.h>

// What an object's IDispatch methods log under: its source and the four method names
// ("CThing::Invoke"). Static storage: the object keeps a pointer.
struct KvDispatchNames {
    const wchar_t* source;
    const wchar_t* getTypeInfoCount;
    const wchar_t* getTypeInfo;
    const wchar_t* getIDsOfNames;
    const wchar_t* invoke;
};

template <typename Interface>
class CKvTypeLibDispatchImpl : public Interface {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        return KvComBoundary(m_names->source, m_names->getTypeInfoCount,
                             [&] { return m_dispatch.GetTypeInfoCount(count); });
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override
    {
        return KvComBoundary(m_names->source, m_names->getTypeInfo,
                             [&] { return m_dispatch.GetTypeInfo(index, locale, info); });
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override
    {
        return KvComBoundary(m_names->source, m_names->getIDsOfNames,
                             [&] { return m_dispatch.GetIDsOfNames(iid, names, count, locale, ids); });
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* badArgument) override
    {
        return KvComBoundary(m_names->source, m_names->invoke, [&] {
            return m_dispatch.Invoke(static_cast<Interface*>(this), id, iid, locale, flags, params, result, exception,
                                     badArgument);
        });
    }

protected:
    explicit CKvTypeLibDispatchImpl(const KvDispatchNames& names) noexcept : m_names(&names) {}
    ~CKvTypeLibDispatchImpl() = default;
    CKvTypeLibDispatchImpl(const CKvTypeLibDispatchImpl&) = delete;
    CKvTypeLibDispatchImpl& operator=(const CKvTypeLibDispatchImpl&) = delete;

    // Takes the type information of iid (Interface's IID) from the type library stored as resource
    // typeLibResource. Until it succeeds every IDispatch call fails with E_UNEXPECTED (count: 0).
    [[nodiscard]] HRESULT InitializeDispatch(int typeLibResource, REFIID iid) noexcept
    {
        return m_dispatch.Initialize(typeLibResource, iid);
    }

private:
    const KvDispatchNames* m_names;
    CKvTypeLibDispatch m_dispatch;
};
