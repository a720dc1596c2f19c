#pragma once
// Checks on the strings a page hands the page objects.

#include <oleauto.h>
#include <windows.h>

// A BSTR whose counted length runs past a zero character: read as a C string, as the registry,
// the shell and the file system read it, it would name something shorter than what the page
// sent. Null and empty strings hold none.
[[nodiscard]] inline bool KvHasEmbeddedNul(BSTR text) noexcept
{
    if (text == nullptr) return false;
    const UINT length = ::SysStringLen(text);
    for (UINT index = 0; index < length; ++index) {
        if (text[index] == L'\0') return true;
    }
    return false;
}

// The same for a page value that is a string (VT_BSTR, or a reference to one); false for others.
[[nodiscard]] inline bool KvHasEmbeddedNul(const VARIANT& value) noexcept
{
    if (value.vt == VT_BSTR) return KvHasEmbeddedNul(value.bstrVal);
    if (value.vt == (VT_BYREF | VT_BSTR) && value.pbstrVal != nullptr) return KvHasEmbeddedNul(*value.pbstrVal);
    return false;
}
