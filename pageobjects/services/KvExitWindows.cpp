// Ending the session, and the operating-system code pages use.

#include "pageobjects/services/qrncmn.h"

#include "core/base/ScopedResource.h"
#include "core/version/OSVersion.h"

#include <cstdint>

namespace {

constexpr DWORD kExceptionCaught = 16000;

// Without the shutdown privilege ExitWindowsEx refuses; its own result then tells the caller.
void EnableShutdownPrivilege()
{
    Fundor::ScopedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put())) return;
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) return;
    (void)AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
}

}  // namespace

DWORD KvExitWindowsWith(UINT flags, KvExitWindowsFunction exitWindows)
{
    try {
        if (exitWindows == nullptr) return ERROR_INVALID_PARAMETER;
        EnableShutdownPrivilege();
        if (exitWindows(flags, 0)) return ERROR_SUCCESS;
        const DWORD error = GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE;
    } catch (...) {
        return kExceptionCaught;
    }
}

DWORD KvExitWindows(UINT flags)
{
    return KvExitWindowsWith(flags, &::ExitWindowsEx);
}

DWORD KvGetOSVersionCode(long* code)
{
    if (code == nullptr) return ERROR_INVALID_PARAMETER;
    switch (Fundor::GetOSVersionClass()) {
    case 7: *code = 9; break;
    case 8: *code = 11; break;
    case 9: *code = 13; break;
    case 10: *code = 15; break;
    case 11: *code = 17; break;
    default: *code = 3; break;
    }
    return ERROR_SUCCESS;
}
