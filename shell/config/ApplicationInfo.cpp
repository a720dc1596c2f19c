#include "shell/config/ApplicationInfo.h"

#include "access/InstallFolders.h"

#include <string>

DWORD GetApplicationInfoValue(const wchar_t* applicationCode, wchar_t* buffer, DWORD capacity, DWORD which)
{
    if (buffer == nullptr || capacity == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    buffer[0] = L'\0';
    if (applicationCode == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const wchar_t* valueName = which == kApplicationInfoResDll     ? L"ResDll"
                               : which == kApplicationInfoHelpFile ? L"HelpFile"
                                                                   : L"UIDll";
    std::wstring subkey;
    try {
        subkey = std::wstring(kApplicationInfoKey) + L"\\" + applicationCode;
    } catch (...) {
        return ERROR_OUTOFMEMORY;
    }
    if (capacity > 0x7FFFFFFF / sizeof(wchar_t)) {
        capacity = 0x7FFFFFFF / sizeof(wchar_t);
    }
    DWORD type = REG_NONE;
    DWORD size = capacity * sizeof(wchar_t);
    const DWORD code = ReadRegValueEx(HKEY_LOCAL_MACHINE, subkey.c_str(), valueName, &type, buffer, &size, 0);
    if (code != ERROR_SUCCESS) {
        buffer[0] = L'\0';
        return code;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
        buffer[0] = L'\0';
        return ERROR_INVALID_DATA;
    }
    // The stored text need not end in a terminator: end it within what was returned.
    DWORD length = size / sizeof(wchar_t);
    while (length > 0 && buffer[length - 1] == L'\0') {
        --length;
    }
    if (length >= capacity) {
        buffer[0] = L'\0';
        return ERROR_INSUFFICIENT_BUFFER;
    }
    buffer[length] = L'\0';
    return ERROR_SUCCESS;
}
