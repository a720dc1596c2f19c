#pragma once
// Named VARIANT values that hosted pages leave for one another within one host process. The
// session manager owns one map and passes its page calls through unchanged. Single-threaded: the
// map lives in the host's apartment and is used on the UI thread only.

#include "core/base/ScopedComValues.h"

#include <windows.h>
#include <oleauto.h>

#include <map>

class CNamedParameterMap {
public:
    CNamedParameterMap() = default;
    virtual ~CNamedParameterMap() = default;
    CNamedParameterMap(const CNamedParameterMap&) = delete;
    CNamedParameterMap& operator=(const CNamedParameterMap&) = delete;

    // Stores an own copy of value under name, replacing an earlier entry. By-reference values are
    // stored as the value they point to (VT_BYREF|VT_VARIANT as the VARIANT it points to), so
    // nothing in the map outlives the caller's data. E_INVALIDARG (nothing changed, *result not
    // written) for a null name or result or a VT_EMPTY value. When the copy fails its HRESULT is
    // returned, when memory runs out E_OUTOFMEMORY, and either way an earlier entry of that name is
    // kept. *result = 0 otherwise.
    [[nodiscard]] virtual HRESULT SetParameter(BSTR name, VARIANT value, long* result);

    // *value (initialised first, so it must not hold anything the caller still owns) receives a
    // copy of the stored value, VT_EMPTY for an absent name; S_OK. E_INVALIDARG for a null name or
    // value; the copy's HRESULT when it fails (*value then VT_EMPTY).
    [[nodiscard]] virtual HRESULT GetParameter(BSTR name, VARIANT* value);

    // Drops the entry of name, if any; *result = 0, S_OK. E_INVALIDARG for a null name or result.
    [[nodiscard]] virtual HRESULT RemoveParameter(BSTR name, long* result);

private:
    // Owned BSTR copy of a name (its length kept, embedded zeros included).
    class Name {
    public:
        explicit Name(BSTR text);
        [[nodiscard]] BSTR get() const { return m_text.get(); }

    private:
        Fundor::ScopedBstr m_text;
    };
    // Owned VARIANT, cleared with the entry (strings freed, interfaces released).
    using Value = Fundor::ScopedVariant;
    // Names order by the user's default locale, case-sensitive: "A" and "a" are two entries.
    struct NameLess {
        bool operator()(const Name& a, const Name& b) const;
    };

    std::map<Name, Value, NameLess> m_entries;
};
