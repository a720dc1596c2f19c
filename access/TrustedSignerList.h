#pragma once
// The four values one signer check runs against, plus the version the list file must exceed.

#include <windows.h>

struct TrustedSignerList {
    // List version; a list file replaces this list only when its own version is above it.
    DWORD version = 0;
    // Null-terminated; null accepts any signer name, an array whose first entry is null accepts none.
    const wchar_t* const* organisationNames = nullptr;
    // Pointers to 20-byte SHA-1 root thumbprints; null or a count of 0 accepts any root.
    const BYTE* const* thumbprints = nullptr;
    DWORD thumbprintCount = 0;
    // Null-terminated hexadecimal serial numbers of signers to pass over; null skips nothing.
    const wchar_t* const* serialSkipList = nullptr;
};

// The list fixed in the program: version 7, the maker's four organisation names and the
// thumbprints of its six root certificates. Constant; lives for the whole process.
[[nodiscard]] const TrustedSignerList& BuiltInSignerList();
