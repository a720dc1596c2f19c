#pragma once
// Seam over VerifyVersionInfoW, so that the operating-system classification can be driven by a
// substitute in tests.

#include <windows.h>

namespace Fundor {

class WinOSVersionAPI {
public:
    WinOSVersionAPI() = default;
    WinOSVersionAPI(const WinOSVersionAPI&) = delete;
    WinOSVersionAPI& operator=(const WinOSVersionAPI&) = delete;

    // VerifyVersionInfoW with the same arguments: TRUE when the running system meets every
    // condition of conditionMask for the fields named by typeMask.
    [[nodiscard]] virtual BOOL VerifyVersionInfoW(OSVERSIONINFOEXW* versionInfo, DWORD typeMask,
                                                  DWORDLONG conditionMask);

    // Declared after the operation so that the operation keeps the first table slot.
    virtual ~WinOSVersionAPI();
};

}  // namespace Fundor
