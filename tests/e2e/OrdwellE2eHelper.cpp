// Windows-side helper of the demo: installs the suite into the prefix, runs the host with its full
// exit code, waits until a host's window shows, asks a host to close, and prints the host's log.
//
//   OrdwellE2eHelper install
//   OrdwellE2eHelper run <timeout ms> <host arguments...>     prints "exit code 0x........"
//   OrdwellE2eHelper wait-shown <host id> <timeout ms>        prints the window's place
//   OrdwellE2eHelper close <host id>                          posts the private close request
//   OrdwellE2eHelper log                                      prints the host's log lines
// Exit code 0 when the step did what it says, else 1 (2 for a bad command line).

#include "tests/e2e/support/HostControl.h"
#include "tests/e2e/support/SuiteInstall.h"

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

void Print(const std::wstring& text)
{
    // UTF-8 on stdout, whatever the console's code page.
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

SuiteInstall::Layout Layout() { return SuiteInstall::DefaultLayout(SuiteInstall::ThisProgramFolder()); }

int Install()
{
    const SuiteInstall::Layout layout = Layout();
    const std::wstring failure = SuiteInstall::Install(layout);
    if (!failure.empty()) {
        Print(L"install failed: " + failure);
        return 1;
    }
    SuiteInstall::ClearOrdwellLogs();
    Print(L"installed into " + layout.productDir);
    return 0;
}

int Run(DWORD timeout, const std::wstring& arguments)
{
    const std::optional<DWORD> code =
        Fundor::testing::RunProgram(SuiteInstall::ProgramPath(Layout()), arguments, timeout);
    if (!code) {
        Print(L"Ordwell.exe " + arguments + L": did not end in time");
        return 1;
    }
    wchar_t text[16] = {};
    (void)_snwprintf_s(text, 16, _TRUNCATE, L"0x%08lX", *code);
    Print(L"Ordwell.exe " + arguments + L": exit code " + text);
    return *code == 0 ? 0 : 1;
}

int WaitShown(const std::wstring& hostId, DWORD timeout)
{
    HWND window = HostControl::WaitUntilShown(hostId, timeout);
    if (window == nullptr) {
        Print(L"the window of host \"" + hostId + L"\" did not show");
        return 1;
    }
    RECT place{};
    GetWindowRect(window, &place);
    Print(L"the window of host \"" + hostId + L"\" shows at " + std::to_wstring(place.left) + L"," +
          std::to_wstring(place.top) + L" size " + std::to_wstring(place.right - place.left) + L"x" +
          std::to_wstring(place.bottom - place.top));
    return 0;
}

}  // namespace

int wmain(int count, wchar_t** arguments)
{
    if (count < 2) return 2;
    const std::wstring command = arguments[1];
    if (command == L"install") return Install();
    if (command == L"run" && count >= 3) {
        std::wstring rest;
        for (int i = 3; i < count; ++i) rest += (rest.empty() ? L"" : L" ") + std::wstring(arguments[i]);
        return Run(static_cast<DWORD>(std::wcstoul(arguments[2], nullptr, 10)), rest);
    }
    if (command == L"wait-shown" && count == 4) {
        return WaitShown(arguments[2], static_cast<DWORD>(std::wcstoul(arguments[3], nullptr, 10)));
    }
    if (command == L"close" && count == 3) {
        const bool posted = HostControl::RequestClose(arguments[2]);
        Print(posted ? L"close request posted" : L"no window to close");
        return posted ? 0 : 1;
    }
    if (command == L"log") {
        for (const std::wstring& line : SuiteInstall::ReadOrdwellLogLines()) Print(line);
        return 0;
    }
    return 2;
}
