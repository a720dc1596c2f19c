// Stand-in of the maker's updater "KvUpdate.exe", for tests and the demo only.
//
// Records how it was started into the file named by the environment variable
// "ORDWELL_KVUPDATE_LOG" (UTF-16, no byte-order mark): its own module path, a line feed, then
// the arguments, i.e. the command line after the program name and the blanks behind it. The
// record is written to "<log>.tmp" and then renamed, so a reader never sees half of it.
// Exit code 0 when recorded, 1 when the variable is missing or the file cannot be written.

#include <windows.h>

#include <string>

namespace {

// The command line after the program name (quoted or not) and the blanks that follow it.
const wchar_t* ArgumentsOf(const wchar_t* line)
{
    if (*line == L'"') {
        ++line;
        while (*line != L'\0' && *line != L'"') ++line;
        if (*line == L'"') ++line;
    } else {
        while (*line != L'\0' && *line != L' ' && *line != L'\t') ++line;
    }
    while (*line == L' ' || *line == L'\t') ++line;
    return line;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t log[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"ORDWELL_KVUPDATE_LOG", log, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring record = std::wstring(self) + L"\n" + ArgumentsOf(GetCommandLineW());

    const std::wstring temporary = std::wstring(log) + L".tmp";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    const DWORD bytes = static_cast<DWORD>(record.size() * sizeof(wchar_t));
    const BOOL ok = WriteFile(file, record.data(), bytes, &written, nullptr) && written == bytes;
    CloseHandle(file);
    if (!ok || !MoveFileExW(temporary.c_str(), log, MOVEFILE_REPLACE_EXISTING)) return 1;
    return 0;
}
