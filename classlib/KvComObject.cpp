#include "classlib/KvComObject.h"

HRESULT CKvComObjectRoot::InternalQueryInterface(void* object, const KvInterfaceEntry* table, REFIID iid,
                                                 void** out) noexcept
{
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (object == nullptr || table == nullptr || table->iid == nullptr) return E_NOINTERFACE;
    char* base = static_cast<char*>(object);
    if (IsEqualIID(iid, IID_IUnknown)) {
        *out = base + table->offset;
        return S_OK;
    }
    for (const KvInterfaceEntry* entry = table; entry->iid != nullptr; ++entry) {
        if (IsEqualIID(iid, *entry->iid)) {
            *out = base + entry->offset;
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}
