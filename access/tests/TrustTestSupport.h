#pragma once
// Shared by the trust tests: where the build's signed test files are, and the test signer lists.

#include "ModuleTrust.h"
#include "TestSigningData.h"
#include "TrustedPublisherList.h"
#include "TrustedSignerList.h"

#include <string>

namespace TrustTesting {

inline std::wstring SignedFile(const wchar_t* name)
{
    return std::wstring(TestSigning::kFilesFolder) + L"\\" + name;
}

inline constexpr const wchar_t* kTestNames[] = {L"Tervane, Inc.", L"Tervane, LLC", nullptr};
inline constexpr const BYTE* kListedRoot[] = {TestSigning::kRootListedThumbprint};

// The test's stand-in for the built-in list: version 7, "Tervane" names, the listed test root.
inline TrustedSignerList TestBuiltInList()
{
    return TrustedSignerList{7, kTestNames, kListedRoot, 1, nullptr};
}

inline TrustedPublisherList::Thumbprint ListSignerPin()
{
    TrustedPublisherList::Thumbprint pin{};
    for (std::size_t i = 0; i < pin.size(); ++i) pin[i] = TestSigning::kListSignerThumbprint[i];
    return pin;
}

inline std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, length);
    return text.substr(0, text.find_last_of(L'\\'));
}

}  // namespace TrustTesting
