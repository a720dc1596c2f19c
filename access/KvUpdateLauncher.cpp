#include "access/KvUpdateLauncher.h"

#include "access/CKvUtilLib.h"
#include "access/CheckedProgramFile.h"
#include "access/InstallFolders.h"
#include "core/base/StringFormat.h"

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

    // Started by the final path of the file that was checked, held until the start returns: a
    // link on the way re-pointed after the check does not change what starts.
    CheckedProgramFile checked;
    if (checked.Check(updater) != ERROR_SUCCESS) {
        return ERROR_ACCESS_DENIED;
    }
    return checked.Start(arguments);
}
