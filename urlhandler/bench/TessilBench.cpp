// Calls per second of Tessil.dll's export for a few URL forms, against a floor measured in the
// same run: one RegOpenKeyExW + RegQueryValueExW pair on the key the export reads for a bare
// resource name. Run by hand:  wine64 TessilBench.exe [milliseconds per URL]
//
// HKEY_LOCAL_MACHINE is redirected to a scratch key for the run, which holds the product's
// install folder (the resource DLLs built into bin\resources\pages) and one active package.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cwchar>
#include <iterator>
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
    const int milliseconds = argc > 1 ? _wtoi(argv[1]) : 4000;  // per URL, floor included
    const std::wstring folder = ProgramFolder();
    const std::wstring pages = folder + L"\\resources\\pages";

    const std::wstring scratch = L"Software\\OrdwellTessilBench" + std::to_wstring(GetCurrentProcessId());
    HKEY machine = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, scratch.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
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
        const auto registryPair = [] {
            HKEY key = nullptr;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kApplicationKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
                wchar_t value[260];
                DWORD type = 0;
                DWORD size = sizeof(value);
                RegQueryValueExW(key, L"UIDll", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
                RegCloseKey(key);
            }
        };
        static const wchar_t* const kUrls[] = {
            L"sarn://main.html",
            L"sarn://oemuild.dll::logo_a",
            L"sarn://@pages\\main.html",
            L"sarn://@{tk:appid_QRN}offer.html",
            L"sarn://@{tk:logo_b}",
        };
        // The load of the machine changes while the bench runs, so the floor and each URL take
        // turns in short slices and each is counted over all of its slices.
        constexpr int kSlices = 20;
        const int slice = milliseconds / kSlices > 0 ? milliseconds / kSlices : 1;
        std::wprintf(L"%-36ls %10ls %10ls %8ls\n", L"URL", L"calls/s", L"floor/s", L"ratio");
        // The first three forms read the registry only; the token forms also load resource DLLs
        // as data files to probe for the page.
        constexpr std::size_t kPlainForms = 3;
        double plainWorst = 0;
        double tokenWorst = 0;
        for (std::size_t form = 0; form < std::size(kUrls); ++form) {
            const wchar_t* url = kUrls[form];
            wchar_t buffer[2084];
            DWORD result = 0;
            const auto callExport = [&] {
                std::wcscpy(buffer, url);
                result = handler(1, buffer);
            };
            callExport();  // the first call also builds the library's logger
            double floorSum = 0;
            double urlSum = 0;
            for (int i = 0; i < kSlices; ++i) {
                floorSum += CallsPerSecond(slice, registryPair);
                urlSum += CallsPerSecond(slice, callExport);
            }
            const double floor = floorSum / kSlices;
            const double rate = urlSum / kSlices;
            std::wprintf(L"%-36ls %10.0f %10.0f %7.2fx\n    -> %lu %ls\n", url, rate, floor, floor / rate, result,
                         buffer);
            double& worst = form < kPlainForms ? plainWorst : tokenWorst;
            if (floor / rate > worst) worst = floor / rate;
        }
        std::wprintf(L"ratio %.2f (the slowest plain form's time per call over one RegOpenKeyExW + RegQueryValueExW "
                     L"pair; token forms up to %.2f)\n",
                     plainWorst, tokenWorst);
    }
    if (tessil != nullptr) {
        FreeLibrary(tessil);
    }
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(machine);
    RegDeleteTreeW(HKEY_CURRENT_USER, scratch.c_str());
    return status;
}
