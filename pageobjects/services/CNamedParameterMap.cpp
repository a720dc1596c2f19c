#include "pageobjects/services/CNamedParameterMap.h"

#include <new>
#include <utility>

CNamedParameterMap::Name::Name(BSTR text) : m_text(SysAllocStringLen(text, SysStringLen(text)))
{
    if (!m_text) throw std::bad_alloc();
}

bool CNamedParameterMap::NameLess::operator()(const Name& a, const Name& b) const
{
    return VarBstrCmp(a.get(), b.get(), LOCALE_USER_DEFAULT, 0) == static_cast<HRESULT>(VARCMP_LT);
}

HRESULT CNamedParameterMap::SetParameter(BSTR name, VARIANT value, long* result)
{
    if (name == nullptr || result == nullptr || value.vt == VT_EMPTY) return E_INVALIDARG;
    *result = 0;
    try {
        // The new entry, map node included, is made in full before the old one goes, so a failed
        // copy or allocation loses nothing. VariantCopyInd takes what a reference points to: a
        // stored reference would dangle once the caller returns.
        Value copy;
        const HRESULT copied = VariantCopyInd(copy.put(), &value);
        if (FAILED(copied)) return copied;
        std::map<Name, Value, NameLess> staging;
        staging.emplace(Name(name), std::move(copy));
        auto node = staging.extract(staging.begin());
        // Neither erasing nor inserting a node allocates.
        m_entries.erase(node.key());
        m_entries.insert(std::move(node));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CNamedParameterMap::GetParameter(BSTR name, VARIANT* value)
{
    if (name == nullptr || value == nullptr) return E_INVALIDARG;
    VariantInit(value);
    try {
        const auto found = m_entries.find(Name(name));
        if (found == m_entries.end()) return S_OK;
        return VariantCopy(value, found->second.AsInput());
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CNamedParameterMap::RemoveParameter(BSTR name, long* result)
{
    if (name == nullptr || result == nullptr) return E_INVALIDARG;
    try {
        m_entries.erase(Name(name));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *result = 0;
    return S_OK;
}
