#pragma once
// Shared by the trust tests: where the build's signed test files are, and the test signer lists.

#include "TestSigningData.h"
#include "access/ModuleTrust.h"
#include "access/TrustedPublisherList.h"
#include "access/TrustedSignerList.h"

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

// HKLM "Software\\Tervane\\Halvorn" (32-bit view) names the validation service, and the
// process-wide validator reads it on its first use. Tests that set the key, or that rely on its
// absence, take turns through a named mutex across the test programs running in parallel; the
// key is removed when the turn starts and when it ends.
class HalvornKeyTurn {
public:
    HalvornKeyTurn()
    {
        m_mutex = CreateMutexW(nullptr, FALSE, L"OrdwellHalvornRegistryTests");
        if (m_mutex != nullptr) {
            const DWORD waited = WaitForSingleObject(m_mutex, 120000);
            m_owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
        }
        RemoveKey();
    }
    ~HalvornKeyTurn()
    {
        RemoveKey();
        if (m_owned) ReleaseMutex(m_mutex);
        if (m_mutex != nullptr) CloseHandle(m_mutex);
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
    HANDLE m_mutex = nullptr;
    bool m_owned = false;
};

}  // namespace TrustTesting
