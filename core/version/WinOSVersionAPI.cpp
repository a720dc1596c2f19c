#include "core/version/WinOSVersionAPI.h"

namespace Fundor {

WinOSVersionAPI::~WinOSVersionAPI() = default;

BOOL WinOSVersionAPI::VerifyVersionInfoW(OSVERSIONINFOEXW* versionInfo, DWORD typeMask, DWORDLONG conditionMask)
{
    return ::VerifyVersionInfoW(versionInfo, typeMask, conditionMask);
}

}  // namespace Fundor
