// Time per call of Tessil.dll's export for a few URL forms, each against its fair floor measured
// in the same run: the platform work that the form requires of the export, which keeps no cache
// and reads the registry and probes the files afresh on every call. The plain forms require one
// registry read (the UI DLL's path, or the install folder). The token forms require their
// registry reads (the UI DLL's path and the install folder twice; or the package list, then the
// install folder before each data-file probe and once more at the end) and their file work: the
// data-file probes (attributes, load as a data file, HTML resource lookup, free) in the export's
// order up to the first hit. (The "short form" of a path is a copy: no platform work.) Beside
// each form, for information: its file work alone, and the old floor, one RegOpenKeyExW +
// RegQueryValueExW pair on the key the export reads for a bare resource name. Run by
// scripts/bench:
//   OrdwellTessilBench.exe [milliseconds per URL]
//
// HKEY_LOCAL_MACHINE is redirected to a scratch key for the run, which holds the product's
// install folder (the resource DLLs built into bin\resources\pages) and one active package.

#include "core/testsupport/ProgramFolder.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Handler = DWORD(WINAPI*)(int, wchar_t*);
constexpr wchar_t kApplicationKey[] = L"SOFTWARE\\Tervane\\QRN\\Settings\\ApplicationInfo\\QRN";
constexpr wchar_t kProductKey[] = L"SOFTWARE\\Tervane\\QRN";
constexpr wchar_t kPackagesKey[] = L"SOFTWARE\\Tervane\\QRN\\Packages";
constexpr wchar_t kActivePackage[] = L"1001";

using Fundor::testing::ProgramFolder;

bool SetString(const wchar_t* key, const wchar_t* name, const std::wstring& value)
{
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_SZ, value.c_str(),
                           static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

// Runs call repeatedly for about the given time and returns microseconds per call.
double MicrosecondsPerCall(int milliseconds, const std::function<void()>& call)
{
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    const auto end = start + std::chrono::milliseconds(milliseconds);
    long long calls = 0;
    auto now = start;
    while (now < end) {
        for (int i = 0; i < 16; ++i) {
            call();
        }
        calls += 16;
        now = Clock::now();
    }
    return std::chrono::duration<double, std::micro>(now - start).count() / static_cast<double>(calls);
}

void ReadValue(const wchar_t* keyPath, const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        wchar_t value[520];
        DWORD type = 0;
        DWORD size = sizeof(value);
        RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(key);
    }
}

void RegistryPair() { ReadValue(kApplicationKey, L"UIDll"); }
void InstallFolderRead() { ReadValue(kProductKey, L"Install Dir"); }

// The package list: the active packages, then each package's subkey (none here).
void PackagesRead()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPackagesKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        wchar_t value[1024];
        DWORD type = 0;
        DWORD size = sizeof(value);
        RegQueryValueExW(key, L"activeuipackages", nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
        DWORD length = static_cast<DWORD>(std::size(value));
        for (DWORD index = 0; RegEnumKeyExW(key, index, value, &length, nullptr, nullptr, nullptr, nullptr) ==
                              ERROR_SUCCESS;
             ++index) {
            length = static_cast<DWORD>(std::size(value));
        }
        RegCloseKey(key);
    }
}

// One data-file probe: the file must exist, load as a data file and hold the HTML resource.
bool Probe(const std::wstring& dll, const wchar_t* resource)
{
    const DWORD attributes = GetFileAttributesW(dll.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return false;
    HMODULE module = LoadLibraryExW(dll.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return false;
    const bool found = FindResourceW(module, resource, MAKEINTRESOURCEW(23)) != nullptr;
    FreeLibrary(module);
    return found;
}

struct Form {
    const wchar_t* url;
    std::function<void()> floor;     // the platform work the form requires of the export
    std::function<void()> fileWork;  // of that, the file work alone (none for a plain form)
};

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int milliseconds = argc > 1 ? _wtoi(argv[1]) : 4000;  // per URL, floors included
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
        !SetString(L"SOFTWARE\\Tervane\\QRN\\Packages", L"activeuipackages", kActivePackage)) {
        std::fwprintf(stderr, L"cannot write the bench settings\n");
        status = 1;
    } else if ((tessil = LoadLibraryW((folder + L"\\Tessil.dll").c_str())) == nullptr) {
        std::fwprintf(stderr, L"cannot load Tessil.dll (%lu)\n", GetLastError());
        status = 1;
    } else {
        const auto handler = reinterpret_cast<Handler>(reinterpret_cast<void*>(GetProcAddress(tessil, "QrnBrwNfHandler")));
        const std::wstring logoPackage = std::wstring(kActivePackage) + L"_logo_b";
        // The export's order of the logo probes: the package's own logo first (one active
        // package), then the plain name, in the partner's UI DLL before the product's.
        const std::pair<std::wstring, const wchar_t*> logoProbes[] = {{pages + L"\\oemuild.dll", logoPackage.c_str()},
                                                                      {pages + L"\\oemuild.dll", L"logo_b"},
                                                                      {pages + L"\\qrnuild.dll", logoPackage.c_str()},
                                                                      {pages + L"\\qrnuild.dll", L"logo_b"}};
        const Form forms[] = {
            {L"sarn://main.html", RegistryPair, nullptr},
            {L"sarn://oemuild.dll::logo_a", RegistryPair, nullptr},
            {L"sarn://@pages\\main.html", InstallFolderRead, nullptr},
            {L"sarn://@{tk:appid_QRN}offer.html",
             [&] {
                 RegistryPair();
                 InstallFolderRead();
                 InstallFolderRead();
                 (void)Probe(pages + L"\\OemUI.dll", L"offer.html");
             },
             [&] { (void)Probe(pages + L"\\OemUI.dll", L"offer.html"); }},
            {L"sarn://@{tk:logo_b}",
             [&] {
                 PackagesRead();
                 for (const auto& [dll, resource] : logoProbes) {
                     InstallFolderRead();
                     if (Probe(dll, resource)) break;
                 }
                 InstallFolderRead();
             },
             [&] {
                 for (const auto& [dll, resource] : logoProbes) {
                     if (Probe(dll, resource)) break;
                 }
             }},
        };
        // The load of the machine changes while the bench runs, so the export and its floors take
        // turns in short rounds, the first of each round changing; each ratio is the median of the
        // rounds' ratios, each time the median of the rounds' times.
        constexpr int kRounds = 41;
        const int slice = milliseconds / (4 * kRounds) > 0 ? milliseconds / (4 * kRounds) : 1;
        std::wprintf(L"%-34ls %8ls %8ls %6ls %8ls %6ls %8ls %6ls\n", L"URL", L"us/call", L"floor", L"ratio",
                     L"files", L"ratio", L"old", L"ratio");
        double worst = 0;
        for (const Form& form : forms) {
            wchar_t buffer[2084];
            DWORD result = 0;
            const std::function<void()> callExport = [&] {
                std::wcscpy(buffer, form.url);
                result = handler(1, buffer);
            };
            callExport();  // the first call also builds the library's logger
            const std::function<void()> oldFloor = RegistryPair;
            std::vector<const std::function<void()>*> contestants = {&callExport, &form.floor, &oldFloor};
            if (form.fileWork) contestants.push_back(&form.fileWork);
            const std::size_t count = contestants.size();
            std::vector<std::vector<double>> times(count);
            std::vector<std::vector<double>> ratios(count);
            for (int round = 0; round < kRounds; ++round) {
                std::vector<double> one(count);
                for (std::size_t turn = 0; turn < count; ++turn) {
                    const std::size_t which = (static_cast<std::size_t>(round) + turn) % count;
                    one[which] = MicrosecondsPerCall(slice, *contestants[which]);
                    times[which].push_back(one[which]);
                }
                for (std::size_t which = 1; which < count; ++which) ratios[which].push_back(one[0] / one[which]);
            }
            const double ratio = Median(ratios[1]);
            std::wprintf(L"%-34ls %8.1f %8.1f %5.2fx ", form.url, Median(times[0]), Median(times[1]), ratio);
            if (count > 3) {
                std::wprintf(L"%8.1f %5.2fx ", Median(times[3]), Median(ratios[3]));
            } else {
                std::wprintf(L"%8ls %6ls ", L"-", L"-");
            }
            std::wprintf(L"%8.1f %5.2fx\n    -> %lu %ls\n", Median(times[2]), Median(ratios[2]), result, buffer);
            worst = std::max(worst, ratio);
        }
        std::wprintf(L"ratio %.2f (the slowest form's time per call over its fair floor; goal at most 1.05)\n", worst);
    }
    if (tessil != nullptr) {
        FreeLibrary(tessil);
    }
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    RegCloseKey(machine);
    RegDeleteTreeW(HKEY_CURRENT_USER, scratch.c_str());
    return status;
}
