#pragma once
// Move-only owners of the values OLE Automation hands around: BSTR and SAFEARRAY through the
// handle owner's template, VARIANT as a class of its own (it is a value, not a pointer), and the
// adoption of a reference someone else already counted into a COM pointer owner.

#include "core/base/ScopedResource.h"

#include <oleauto.h>
#include <windows.h>
#include <wrl/client.h>

#include <utility>

namespace Fundor {

struct BstrTraits {
    using type = BSTR;
    static type empty() noexcept { return nullptr; }
    static bool valid(type value) noexcept { return value != nullptr; }
    static void close(type value) noexcept { ::SysFreeString(value); }
};

struct SafeArrayTraits {
    using type = SAFEARRAY*;
    static type empty() noexcept { return nullptr; }
    static bool valid(type value) noexcept { return value != nullptr; }
    // Destroys the elements too: every VARIANT, BSTR and interface the array holds.
    static void close(type value) noexcept { (void)::SafeArrayDestroy(value); }
};

using ScopedBstr = ScopedResource<BstrTraits>;
using ScopedSafeArray = ScopedResource<SafeArrayTraits>;

// One VARIANT and whatever it holds (string, array, interface reference), cleared when the owner
// goes or is reset.
class ScopedVariant {
public:
    ScopedVariant() noexcept { ::VariantInit(&m_value); }
    // Takes over value: nothing is copied or referenced.
    explicit ScopedVariant(const VARIANT& value) noexcept : m_value(value) {}
    ~ScopedVariant() { reset(); }

    ScopedVariant(const ScopedVariant&) = delete;
    ScopedVariant& operator=(const ScopedVariant&) = delete;

    ScopedVariant(ScopedVariant&& other) noexcept : m_value(other.release()) {}
    ScopedVariant& operator=(ScopedVariant&& other) noexcept
    {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    [[nodiscard]] const VARIANT& get() const noexcept { return m_value; }
    [[nodiscard]] VARTYPE type() const noexcept { return m_value.vt; }
    // For the many APIs that read a VARIANT through a non-const pointer and copy what they keep
    // (SafeArrayPutElement, IDispatch::Invoke's arguments): the owner keeps its value.
    [[nodiscard]] VARIANT* AsInput() const noexcept { return const_cast<VARIANT*>(&m_value); }

    // Hands the value over and keeps VT_EMPTY.
    [[nodiscard]] VARIANT release() noexcept
    {
        VARIANT value = m_value;
        ::VariantInit(&m_value);
        return value;
    }

    // Clears what is held (VT_EMPTY afterwards), then takes over value when one is given.
    void reset() noexcept
    {
        (void)::VariantClear(&m_value);
        ::VariantInit(&m_value);
    }
    void reset(const VARIANT& value) noexcept
    {
        reset();
        m_value = value;
    }

    // Clears what is held and hands out the VARIANT for an API that writes a new value.
    [[nodiscard]] VARIANT* put() noexcept
    {
        reset();
        return &m_value;
    }

private:
    VARIANT m_value;
};

// A COM pointer owner for a reference the caller already owns (a creator's result). The platform
// header's ComPtr::Attach adds a reference of its own, so an adopted pointer would never be freed.
template <typename Interface>
[[nodiscard]] Microsoft::WRL::ComPtr<Interface> AdoptComPtr(Interface* owned) noexcept
{
    Microsoft::WRL::ComPtr<Interface> pointer;
    *pointer.GetAddressOf() = owned;
    return pointer;
}

}  // namespace Fundor
