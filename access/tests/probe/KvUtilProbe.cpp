// Test helper: binds the utility library the way the host does, from wherever this program was
// copied to, and reports what it got. Usage: KvUtilProbe.exe <report file>.
// The report (UTF-16, no byte-order mark) is "<Initialize result>\n<path of the bound library>\n
// <IsProcessAdmin>,<member but disabled>"; the exit code is the Initialize result.

#include "access/CKvUtilLib.h"

#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return 87;
    CKvUtilLib utility;
    const DWORD result = utility.Initialize();
    wchar_t path[MAX_PATH] = {};
    if (utility.Module() != nullptr) GetModuleFileNameW(utility.Module(), path, MAX_PATH);
    DWORD memberButDisabled = 0;
    const int admin = CKvUtilLib::IsProcessAdmin(&memberButDisabled);
    const std::wstring report = std::to_wstring(result) + L"\n" + path + L"\n" + std::to_wstring(admin) + L"," +
                                std::to_wstring(memberButDisabled);
    HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1000;
    DWORD written = 0;
    WriteFile(file, report.data(), static_cast<DWORD>(report.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    return static_cast<int>(result);
}
