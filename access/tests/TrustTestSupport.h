#pragma once
// Shared by the trust tests: where the build's signed test files are, and the test signer lists.

#include "TestSigningData.h"
#include "access/ModuleTrust.h"
#include "access/TrustedPublisherList.h"
#include "access/TrustedSignerList.h"
#include "core/testsupport/ProgramFolder.h"
#include "core/testsupport/RunnerLocks.h"

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

using Fundor::testing::ProgramFolder;

// HKLM "Software\\Tervane\\Halvorn" (32-bit view) names the validation service, and the
// process-wide validator reads it on its first use. Tests that set the key, or that rely on its
// absence, hold the runner's "halvorn_registry" lock (cmake/Wine.cmake), so that no two test
// programs use the key at once; the key is removed when the turn starts and when it ends. Without
// the lock (owned() is false) the key is left alone: another test may hold it.
class HalvornKeyTurn {
public:
    HalvornKeyTurn() : m_owned(Fundor::testing::HoldsRunnerLock(L"halvorn_registry"))
    {
        if (m_owned) RemoveKey();
    }
    ~HalvornKeyTurn()
    {
        if (m_owned) RemoveKey();
    }
    HalvornKeyTurn(const HalvornKeyTurn&) = delete;
    HalvornKeyTurn& operator=(const HalvornKeyTurn&) = delete;
    [[nodiscard]] bool owned() const { return m_owned; }

    static void RemoveKey()
    {
        HKEY parent = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Tervane", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &parent) ==
            ERROR_SUCCESS) {
            RegDeleteTreeW(parent, L"Halvorn");
            RegDeleteKeyExW(parent, L"Halvorn", KEY_WOW64_32KEY, 0);
            RegCloseKey(parent);
        }
    }

private:
    bool m_owned = false;
};

}  // namespace TrustTesting
