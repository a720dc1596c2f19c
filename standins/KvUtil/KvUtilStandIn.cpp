// Stand-in of the maker's utility library "KvUtil.dll", for tests and the demo only.
//
// Exports every name the host binds (KvUtilExports.h). Only KvIsNTAdmin does anything; the
// others are placeholders that fail with 120, since nothing in the system calls them.
//
// KvIsNTAdmin(isAdmin) answers from the environment variable "ORDWELL_KVUTIL_ADMIN" of the
// calling process, read at each call:
//   "1"          -> *isAdmin = 1, result 0
//   "0"          -> *isAdmin = 0, result 0
//   "error:<n>"  -> result n (decimal), *isAdmin untouched
//   not set      -> *isAdmin = whether the token holds the Administrators group enabled, result 0
// A null isAdmin gives 87. Each call is counted; "KvUtilStandInIsNTAdminCalls" returns the count.
//
// Built with KVUTIL_WITHOUT_ISNTADMIN it lacks KvIsNTAdmin (and nothing else).

#include "access/KvUtilExports.h"
#include "standins/KvUtil/KvUtilStandIn.h"

#include <windows.h>

#include <cwchar>

namespace {

volatile LONG g_isNTAdminCalls = 0;

#ifndef KVUTIL_WITHOUT_ISNTADMIN
DWORD AnswerFromToken(DWORD* isAdmin)
{
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                  0, 0, &administrators)) {
        return GetLastError();
    }
    BOOL member = FALSE;
    const BOOL checked = CheckTokenMembership(nullptr, administrators, &member);
    const DWORD error = checked ? ERROR_SUCCESS : GetLastError();
    FreeSid(administrators);
    if (checked) *isAdmin = member ? 1 : 0;
    return error;
}
#endif

}  // namespace

extern "C" {

#ifndef KVUTIL_WITHOUT_ISNTADMIN
__declspec(dllexport) DWORD WINAPI KvIsNTAdmin(DWORD* isAdmin)
{
    InterlockedIncrement(&g_isNTAdminCalls);
    if (isAdmin == nullptr) return ERROR_INVALID_PARAMETER;
    wchar_t answer[64] = {};
    const DWORD length = GetEnvironmentVariableW(kKvUtilStandInAdminVariable, answer, 64);
    if (length == 0 || length >= 64) return AnswerFromToken(isAdmin);
    if (std::wcscmp(answer, L"1") == 0) {
        *isAdmin = 1;
        return ERROR_SUCCESS;
    }
    if (std::wcscmp(answer, L"0") == 0) {
        *isAdmin = 0;
        return ERROR_SUCCESS;
    }
    if (std::wcsncmp(answer, L"error:", 6) == 0) return static_cast<DWORD>(std::wcstoul(answer + 6, nullptr, 10));
    return ERROR_INVALID_DATA;
}
#endif

__declspec(dllexport) long KvUtilStandInIsNTAdminCalls()
{
    return g_isNTAdminCalls;
}

#define KVUTIL_PLACEHOLDER(name) \
    __declspec(dllexport) DWORD WINAPI name() { return ERROR_CALL_NOT_IMPLEMENTED; }

KVUTIL_PLACEHOLDER(KvModulePathFromCLSIDW)
KVUTIL_PLACEHOLDER(KvModulePathFromCLSIDA)
KVUTIL_PLACEHOLDER(KvLoadLibraryW)
KVUTIL_PLACEHOLDER(KvLoadLibraryA)
KVUTIL_PLACEHOLDER(KvCreateProcessW)
KVUTIL_PLACEHOLDER(KvCreateProcessA)
KVUTIL_PLACEHOLDER(KvCreateProcess2W)
KVUTIL_PLACEHOLDER(KvCreateProcess2A)
KVUTIL_PLACEHOLDER(KvDoesFileExistW)
KVUTIL_PLACEHOLDER(KvDoesFileExistA)
KVUTIL_PLACEHOLDER(KvGetProgramFilesPathW)
KVUTIL_PLACEHOLDER(KvGetProgramFilesPathA)
KVUTIL_PLACEHOLDER(KvRegDeleteKeyW)
KVUTIL_PLACEHOLDER(KvRegDeleteKeyA)
KVUTIL_PLACEHOLDER(KvDeleteFilesDeferedW)
KVUTIL_PLACEHOLDER(KvDeleteFilesDeferedA)
KVUTIL_PLACEHOLDER(KvDeleteDirectoryDeferedW)
KVUTIL_PLACEHOLDER(KvDeleteDirectoryDeferedA)
KVUTIL_PLACEHOLDER(KvCopyFilesW)
KVUTIL_PLACEHOLDER(KvCopyFilesA)
KVUTIL_PLACEHOLDER(KvCreateDirWithPermissions)
KVUTIL_PLACEHOLDER(KvGetApplicationDataDirectory)
KVUTIL_PLACEHOLDER(KvGetOSVersion)
KVUTIL_PLACEHOLDER(KvGetOSVersion2)
KVUTIL_PLACEHOLDER(KvGetQRNVersion)
KVUTIL_PLACEHOLDER(KvShellExecute)
KVUTIL_PLACEHOLDER(IsPPInstalled)
KVUTIL_PLACEHOLDER(KvCreateTask)
KVUTIL_PLACEHOLDER(KvDeleteTask)
KVUTIL_PLACEHOLDER(KvEnableTask)
KVUTIL_PLACEHOLDER(KvDisableTask)
KVUTIL_PLACEHOLDER(KvIsFullScreen)
KVUTIL_PLACEHOLDER(KvIsMetroMode)
KVUTIL_PLACEHOLDER(KvBeginFSMonitor)
KVUTIL_PLACEHOLDER(KvEndFSMonitor)
KVUTIL_PLACEHOLDER(KvBeginMetroMonitor)
KVUTIL_PLACEHOLDER(KvEndMetroMonitor)
KVUTIL_PLACEHOLDER(LaunchOrdwell)
KVUTIL_PLACEHOLDER(IsOrdwellRunning)
KVUTIL_PLACEHOLDER(KvGetHardwareID)
KVUTIL_PLACEHOLDER(KvGetWindowsID)
KVUTIL_PLACEHOLDER(KvGetMachineID)
KVUTIL_PLACEHOLDER(KvBeginBMMonitor)
KVUTIL_PLACEHOLDER(KvEndBMMonitor)
KVUTIL_PLACEHOLDER(KvIsIdleMode)
KVUTIL_PLACEHOLDER(KvIsIdleMode2)
KVUTIL_PLACEHOLDER(KvBeginCSMonitor)
KVUTIL_PLACEHOLDER(KvEndCSMonitor)
KVUTIL_PLACEHOLDER(IsCSModeOn)
KVUTIL_PLACEHOLDER(IsCSModeOn2)
KVUTIL_PLACEHOLDER(GetPlatformType)
KVUTIL_PLACEHOLDER(GetCPUVendorID)

}  // extern "C"
