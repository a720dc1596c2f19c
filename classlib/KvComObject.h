#pragma once
// COM object base: a reference count changed with interlocked operations, and QueryInterface served
// from a table of (interface ID, offset of that interface in the object).
//
// Usage:
//     class CThing : public CKvComObjectRoot, public IThing {
//     public:
//         static const KvInterfaceEntry* GetInterfaceTable() {
//             static const KvInterfaceEntry table[] = {
//                 KV_INTERFACE_ENTRY(CThing, IThing, IID_IThing),
//                 KV_INTERFACE_ENTRY(CThing, IThing, IID_IUnknown),  // first entry answers IUnknown too
//                 {nullptr, 0}};
//             return table;
//         }
//     };
//     IThing* thing = nullptr;
//     HRESULT hr = CKvComObject<CThing>::CreateInstance(IID_IThing, reinterpret_cast<void**>(&thing));
//
// The object's own class supplies the interfaces; CKvComObject<T> adds IUnknown's three methods and
// deletes the object when the count falls to 0. No exception leaves CreateInstance or the three
// methods: CreateInstance and QueryInterface run inside the COM boundary (KvComBoundary.h), and a
// throwing constructor or FinalConstruct leaves nothing behind.

#include "classlib/KvComBoundary.h"

#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <cstddef>
#include <new>

struct KvInterfaceEntry {
    const IID* iid;          // null ends the table
    std::ptrdiff_t offset;   // of the interface within the object
};

// Offset of the Interface base within Class.
#define KV_INTERFACE_ENTRY(Class, Interface, iid)                                                     \
    KvInterfaceEntry {                                                                                \
        &(iid), static_cast<std::ptrdiff_t>(reinterpret_cast<char*>(static_cast<Interface*>(          \
                                                reinterpret_cast<Class*>(0x1000))) -                  \
                                            reinterpret_cast<char*>(0x1000))                          \
    }

inline constexpr wchar_t kKvComObjectSource[] = L"KvComObject.h";

class CKvComObjectRoot {
public:
    CKvComObjectRoot() = default;
    virtual ~CKvComObjectRoot() = default;
    CKvComObjectRoot(const CKvComObjectRoot&) = delete;
    CKvComObjectRoot& operator=(const CKvComObjectRoot&) = delete;

    // Called once after construction, before the first reference is handed out; a failure
    // deletes the object and is CreateInstance's result.
    virtual HRESULT FinalConstruct() { return S_OK; }

protected:
    ULONG InternalAddRef() noexcept { return static_cast<ULONG>(InterlockedIncrement(&m_count)); }
    ULONG InternalRelease() noexcept { return static_cast<ULONG>(InterlockedDecrement(&m_count)); }
    // The first table entry also answers IID_IUnknown. E_POINTER for a null out pointer,
    // E_NOINTERFACE (out cleared) for an unknown interface.
    static HRESULT InternalQueryInterface(void* object, const KvInterfaceEntry* table, REFIID iid, void** out) noexcept;

private:
    LONG m_count = 0;
};

template <typename T>
class CKvComObject final : public T {
public:
    using T::T;

    // IUnknown for every interface of T.
    STDMETHOD(QueryInterface)(REFIID iid, void** out) override
    {
        return KvComBoundary(kKvComObjectSource, L"CKvComObject::QueryInterface", [&] {
            const HRESULT hr = this->InternalQueryInterface(static_cast<T*>(this), T::GetInterfaceTable(), iid, out);
            if (SUCCEEDED(hr)) AddRef();
            return hr;
        });
    }
    STDMETHOD_(ULONG, AddRef)() noexcept override { return this->InternalAddRef(); }
    STDMETHOD_(ULONG, Release)() noexcept override
    {
        const ULONG count = this->InternalRelease();
        if (count == 0) delete this;
        return count;
    }

    // A new object queried for iid; on failure *out is null and nothing is left behind.
    template <typename... Arguments>
    static HRESULT CreateInstance(REFIID iid, void** out, Arguments&&... arguments) noexcept
    {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        // The creation's own failures are E_OUTOFMEMORY or E_FAIL, whatever was thrown.
        return KvComBoundary(
            kKvComObjectSource, L"CKvComObject::CreateInstance",
            [&]() -> HRESULT {
                auto* object = new (std::nothrow) CKvComObject<T>(static_cast<Arguments&&>(arguments)...);
                if (object == nullptr) return E_OUTOFMEMORY;
                // The creation reference: the object's last one when it fails to construct, also
                // when FinalConstruct throws.
                const Microsoft::WRL::ComPtr<CKvComObject<T>> created(object);
                HRESULT hr = object->FinalConstruct();
                if (SUCCEEDED(hr)) hr = object->QueryInterface(iid, out);
                return hr;
            },
            [out](HRESULT failure) noexcept {
                *out = nullptr;
                return failure == E_OUTOFMEMORY ? E_OUTOFMEMORY : E_FAIL;
            });
    }
};
