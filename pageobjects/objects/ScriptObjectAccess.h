#pragma once
// Properties of a page's script objects, read and put by name. Script engines differ in how a
// new property is made: an object that offers IDispatchEx is asked for the name with
// fdexNameEnsure (the platform's JScript objects answer DISP_E_UNKNOWNNAME to GetIDsOfNames for a
// name they do not have yet); other objects resolve it with GetIDsOfNames.

#include <oaidl.h>
#include <windows.h>

// {A6EF9860-C720-11D0-9337-00A0C90DCAA9}: the platform's import library lacks it.
inline constexpr IID kIidDispatchEx = {0xA6EF9860, 0xC720, 0x11D0, {0x93, 0x37, 0x00, 0xA0, 0xC9, 0x0D, 0xCA, 0xA9}};

// Puts *value as property name of object. The HRESULT of the name lookup or of the put;
// E_INVALIDARG for a null argument. An exception the object throws ends here as E_OUTOFMEMORY,
// E_FAIL or E_UNEXPECTED (logged), as at a COM boundary (KvComBoundary.h); so in the getter.
[[nodiscard]] HRESULT PutScriptProperty(IDispatch* object, const wchar_t* name, VARIANT* value) noexcept;
[[nodiscard]] HRESULT PutScriptString(IDispatch* object, const wchar_t* name, const wchar_t* text) noexcept;
[[nodiscard]] HRESULT PutScriptBool(IDispatch* object, const wchar_t* name, bool flag) noexcept;

// Reads property name of object into *value (cleared first). E_INVALIDARG for a null argument,
// else the HRESULT of the lookup or the read (*value then VT_EMPTY).
[[nodiscard]] HRESULT GetScriptProperty(IDispatch* object, const wchar_t* name, VARIANT* value) noexcept;

// The IDispatch a page passed in a VARIANT (VT_DISPATCH, or VT_BYREF|VT_DISPATCH), not
// referenced; null for anything else.
[[nodiscard]] IDispatch* ScriptObjectOf(const VARIANT& value) noexcept;
