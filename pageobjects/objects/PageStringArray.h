#pragma once
// Lists of strings as pages receive them: a one-dimensional SAFEARRAY of VARIANTs.

#include <oaidl.h>
#include <windows.h>

#include <string>
#include <vector>

// strings as VT_ARRAY | VT_VARIANT, lower bound 0, each element VT_BSTR with the string's full
// counted length (a zero character inside stays). *value is written only on success and is not
// cleared first. E_OUTOFMEMORY, or the array's own failure.
[[nodiscard]] HRESULT MakeStringArrayVariant(const std::vector<std::wstring>& strings, VARIANT* value) noexcept;
