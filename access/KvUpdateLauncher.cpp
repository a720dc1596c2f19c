#include "KvUpdateLauncher.h"

#include "CKvUtilLib.h"
#include "InstallFolders.h"
#include "ModuleTrust.h"
#include "ScopedResource.h"
#include "StringFormat.h"

#include <shellapi.h>

#include <cwchar>

DWORD LaunchKvUpdate(const wchar_t* arguments)
{
    CKvUtilLib utility;
    const DWORD bound = utility.Initialize();
    if (bound != ERROR_SUCCESS) {
        return bound;
    }

    wchar_t server[MAX_PATH];
    if (_ModulePathFromCLSID(kUpdaterServerClsid, server, MAX_PATH) == 0) {
        return ERROR_PATH_NOT_FOUND;
    }
    wchar_t* slash = std::wcsrchr(server, L'\\');
    if (slash == nullptr) {
        return ERROR_INVALID_NAME;
    }
    slash[1] = L'\0';
    wchar_t updater[MAX_PATH];
    if (Fundor::FormatW(updater, MAX_PATH, L"%s%s", server, kUpdaterFileName) < 0) {
        return ERROR_FILENAME_EXCED_RANGE;
    }

    // Held without write or delete sharing so the file started is the file checked; starting
    // it only needs read sharing.
    Fundor::ScopedHandle hold(
        CreateFileW(updater, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD verdict = ValidateModulePath(updater);
    if (verdict != ERROR_SUCCESS) {
        return verdict;
    }
    if (!hold) {
        return ERROR_ACCESS_DENIED;
    }

    const INT_PTR started = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", updater, arguments, nullptr, SW_SHOWNORMAL));
    if (started > 32) {
        return ERROR_SUCCESS;
    }
    // 0 is the shell's "out of memory or resources", never a success.
    return started == 0 ? ERROR_NOT_ENOUGH_MEMORY : static_cast<DWORD>(started);
}
