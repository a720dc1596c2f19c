// A program that only notes that it ran: one line "<its path> <command line>" appended to
// "starts.log" beside it. The hostile-page run puts it, unsigned, where a page's launch attempts
// aim, and counts its starts. Exit code 0, or 1 when the line could not be written.

#include "core/base/ScopedResource.h"

#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t self[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return 1;
    std::wstring log(self, length);
    log = log.substr(0, log.find_last_of(L'\\') + 1) + L"starts.log";
    const std::wstring line = std::wstring(self) + L" " + GetCommandLineW() + L"\n";
    const int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0, nullptr,
                                         nullptr);
    std::string bytes(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), bytes.data(), size, nullptr, nullptr);
    const Fundor::ScopedHandle file(CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return 1;
    DWORD written = 0;
    const bool ok = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != FALSE;
    return ok && written == bytes.size() ? 0 : 1;
}
