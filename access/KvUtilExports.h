#pragma once
// The C interface of the maker's utility library "KvUtil.dll" as the host binds it: the export
// names in table order and the one signature the host calls. Shared by the binding
// (CKvUtilLib) and the test stand-in, so both agree on the names.

#include <windows.h>

#include <cstddef>
#include <string_view>

inline constexpr wchar_t kKvUtilFileName[] = L"KvUtil.dll";

// Every name is looked up; a name the library lacks leaves its slot empty.
inline constexpr const char* kKvUtilExportNames[] = {
    "KvModulePathFromCLSIDW", "KvModulePathFromCLSIDA", "KvLoadLibraryW", "KvLoadLibraryA",
    "KvCreateProcessW", "KvCreateProcessA", "KvCreateProcess2W", "KvCreateProcess2A",
    "KvIsNTAdmin", "KvDoesFileExistW", "KvDoesFileExistA", "KvGetProgramFilesPathW",
    "KvGetProgramFilesPathA", "KvRegDeleteKeyW", "KvRegDeleteKeyA", "KvDeleteFilesDeferedW",
    "KvDeleteFilesDeferedA", "KvDeleteDirectoryDeferedW", "KvDeleteDirectoryDeferedA", "KvCopyFilesW",
    "KvCopyFilesA", "KvCreateDirWithPermissions", "KvGetApplicationDataDirectory", "KvGetOSVersion",
    "KvGetOSVersion2", "KvGetQRNVersion", "KvShellExecute", "IsPPInstalled",
    "KvCreateTask", "KvDeleteTask", "KvEnableTask", "KvDisableTask",
    "KvIsFullScreen", "KvIsMetroMode", "KvBeginFSMonitor", "KvEndFSMonitor",
    "KvBeginMetroMonitor", "KvEndMetroMonitor", "LaunchOrdwell", "IsOrdwellRunning",
    "KvGetHardwareID", "KvGetWindowsID", "KvGetMachineID", "KvBeginBMMonitor",
    "KvEndBMMonitor", "KvIsIdleMode", "KvIsIdleMode2", "KvBeginCSMonitor",
    "KvEndCSMonitor", "IsCSModeOn", "IsCSModeOn2", "GetPlatformType",
    "GetCPUVendorID",
};

inline constexpr std::size_t kKvUtilExportCount = sizeof(kKvUtilExportNames) / sizeof(kKvUtilExportNames[0]);
static_assert(kKvUtilExportCount == 53, "the utility library is bound by 53 names");

// Table slot of "KvIsNTAdmin", the only export the host calls.
inline constexpr std::size_t kKvIsNTAdminSlot = 8;
static_assert(std::string_view(kKvUtilExportNames[kKvIsNTAdminSlot]) == "KvIsNTAdmin");

// KvIsNTAdmin(isAdmin): 0 on success with *isAdmin nonzero for an administrator, else a Win32
// error code.
extern "C" {
typedef DWORD(WINAPI* KvIsNTAdminFunction)(DWORD* isAdmin);
}
