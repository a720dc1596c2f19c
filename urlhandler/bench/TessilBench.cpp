// Calls per second of Tessil.dll's export for a few URL forms, against a floor measured in the
// same run: one RegOpenKeyExW + RegQueryValueExW pair on the key the export reads for a bare
// resource name. Run by hand in a prefix of its own:  wine64 TessilBench.exe [milliseconds]
//
// HKEY_LOCAL_MACHINE is redirected to a scratch key for the run, which holds the product's
// install folder (the resource DLLs built into bin\resources\pages) and one active package.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

using Handler = DWORD(WINAPI*)(int, wchar_t*);
constexpr wchar_t kApplicationKey[] = L"SOFTWARE\\Tervane\\QRN\\Settings\\ApplicationInfo\\QRN";

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.rfind(L'\\'));
}

bool SetString(const wchar_t* key, const wchar_t* name, const std::wstring& value)
{
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Runs call repeatedly for about the given time and returns calls per second.
template <typename Call>
double CallsPerSecond(int milliseconds, Call&& call)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto end = start + std::chrono::milliseconds(milliseconds);
    long long calls = 0;
    auto now = start;
    while (now < end) {
        for (int i = 0; i < 64; ++i) {
            call();
        }
        calls += 64;
        now = Clock::now();
    }
    return static_cast<double>(calls) / std::chrono::duration<double>(now - start).count();
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int milliseconds = argc > 1 ? _wtoi(argv[1]) : 2000;
    const std::wstring folder = ProgramFolder();
    const std::wstring pages = folder + L"\\resources\\pages";

    const std::wstring scratch = L"Software\\OrdwellTessilBench" + std::to_wstring(GetCurrentProcessId());
    HKEY machine = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, scratch.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &machine, nullptr) != ERROR_SUCCESS ||
        RegOverridePredefKey(HKEY_LOCAL_MACHINE, machine) != ERROR_SUCCESS) {
        std::fwprintf(stderr, L"cannot redirect HKEY_LOCAL_MACHINE\n");
        return 1;
    }
    int status = 0;
    HMODULE tessil = nullptr;
    if (!SetString(L"SOFTWARE\\Tervane\\QRN", L"Install Dir", pages) ||
        !SetString(kApplicationKey, L"UIDll", pages + L"\\qrnuild.dll") ||
        !SetString(L"SOFTWARE\\Tervane\\QRN\\Packages", L"activeuipackages", L"1001")) {
        std::fwprintf(stderr, L"cannot write the bench settings\n");
        status = 1;
    } else if ((tessil = LoadLibraryW((folder + L"\\Tessil.dll").c_str())) == nullptr) {
        std::fwprintf(stderr, L"cannot load Tessil.dll (%lu)\n", GetLastError());
        status = 1;
    } else {
        const auto handler = reinterpret_cast<Handler>(reinterpret_cast<void*>(GetProcAddress(tessil, "QrnBrwNfHandler")));
        const double floor = CallsPerSecond(milliseconds, [] {
            HKEY key = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApplicationKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
                wchar_t value[260];
                DWORD type = 0;
                DWORD size = sizeof(value);
                RegQueryValueExW(key, L"UIDll", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
                RegCloseKey(key);
            }
        });
        std::wprintf(L"%-40ls %12.0f calls/s\n", L"floor: RegOpenKeyExW+RegQueryValueExW", floor);
        static const wchar_t* const kUrls[] = {
            L"sarn://main.html",
            L"sarn://oemuild.dll::logo_a",
            L"sarn://@pages\\main.html",
            L"sarn://@{tk:appid_QRN}offer.html",
            L"sarn://@{tk:logo_b}",
        };
        for (const wchar_t* url : kUrls) {
            wchar_t buffer[2084];
            DWORD result = 0;
            const double rate = CallsPerSecond(milliseconds, [&] {
                std::wcscpy(buffer, url);
                result = handler(1, buffer);
            });
            std::wprintf(L"%-40ls %12.0f calls/s  %5.2fx the floor's time  (result %lu)\n", url, rate, floor / rate,
                         result);
        }
    }
    if (tessil != nullptr) {
        FreeLibrary(tessil);
    }
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(machine);
    RegDeleteTreeW(HKEY_CURRENT_USER, scratch.c_str());
    return status;
}
