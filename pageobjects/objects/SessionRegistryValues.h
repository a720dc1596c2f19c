#pragma once
// The session manager's registry values: page VARIANTs to registry data and back, and the reads
// and writes themselves. Key paths and value names always go through the wide registry calls;
// only the strings inside an enciphered "KVRG" record are ANSI text (thread code page), the form
// the suite's other readers of such records expect.

#include <oaidl.h>
#include <windows.h>

#include <cstddef>
#include <vector>

// Registry data (strings as UTF-16) to a page value: REG_SZ gives VT_BSTR (up to the first zero
// or the end of the data), REG_DWORD VT_I4 (4 bytes at least), REG_MULTI_SZ an array of VT_BSTR
// VARIANTs, lower bound 0 (each string up to its zero or the end, until an empty string or the
// end). Every walk stays within bytes. Other types: VT_EMPTY. *value must be initialised.
// S_OK, or E_OUTOFMEMORY (*value then VT_EMPTY).
[[nodiscard]] HRESULT RegistryDataToVariant(DWORD type, const BYTE* data, std::size_t bytes, VARIANT* value) noexcept;

// A page value to registry data: VT_I4 REG_DWORD, VT_BSTR REG_SZ (with its terminator), an array
// of VT_BSTR VARIANTs (or a reference to one) and a script array REG_MULTI_SZ. Empty strings of
// a list are left out, a script array's non-string elements skipped; a SAFEARRAY element that
// is not a string, and a list string holding a zero character (it would become two strings),
// make the value unusable. 0, or ERROR_INVALID_PARAMETER (logged) for a value that cannot be
// stored.
// May throw std::bad_alloc.
[[nodiscard]] DWORD VariantToRegistryData(const VARIANT& value, DWORD* type, std::vector<BYTE>& data);

// Reads a value of root\subkey (KEY_READ). Enciphered: the value is a record, deciphered, and
// its strings converted from ANSI. 0 with *type and data (strings as UTF-16), else the
// registry's or the record's code. May throw std::bad_alloc.
[[nodiscard]] LONG ReadSessionValue(HKEY root, const wchar_t* subkey, const wchar_t* name, bool enciphered,
                                    DWORD* type, std::vector<BYTE>& data);

// Creates root\subkey when needed and writes the value (strings as UTF-16); enciphered values
// are stored as a REG_BINARY record keeping type. 0 or the registry's or the record's code.
// May throw std::bad_alloc.
[[nodiscard]] LONG WriteSessionValue(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type,
                                     const std::vector<BYTE>& data, bool enciphered);
