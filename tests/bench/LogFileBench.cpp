// Writes the same records through the file logger and through its fair floor, a loop that does
// for every record what the logger has to do for it: open the log file, lock the byte range that
// keeps records of several processes whole, check the size, append the line (formatted once,
// ahead) and close. The old floor, a loop that only opens, appends and closes, is measured in
// the same rounds and printed for information. Prints records per second for each (medians of
// the rounds) and the ratio of the logger's rate to the fair floor's (the median of the rounds'
// ratios; goal at least 0.95).
//
// The logger runs as in production (program-data folder, a group of its own, "log.ini" in its
// folder with the largest MaxSize) and the folder is removed afterwards.

#include "core/Logging/CLogging.h"
#include "core/base/FileSystemHelpers.h"
#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"
#include "core/ini/CObfuscatedIniReader.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using ETWLogging::CLogging;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

double Seconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end, const LARGE_INTEGER& frequency)
{
    return static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The line the logger writes for a record with the default Options and a module handle given.
std::wstring ExpectedLine(const wchar_t* text)
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    const WORD hour = now.wHour % 12 == 0 ? static_cast<WORD>(12) : static_cast<WORD>(now.wHour % 12);
    wchar_t line[256];
    (void)Fundor::FormatW(line, std::size(line), L"%02hu/%02hu/%hu %02hu:%02hu:%02hu %s$ -- (%s)$  %s\r\n",
                          now.wMonth, now.wDay, now.wYear, hour, now.wMinute, now.wSecond,
                          now.wHour < 12 ? L"AM" : L"PM", L"Information", text);
    return line;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const unsigned long records = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 100000;
    wchar_t group[64];
    (void)Fundor::FormatW(group, std::size(group), L"_bench_%lu", ::GetCurrentProcessId());

    CLogging logger;
    wchar_t programData[MAX_PATH];
    if (logger.GetProgramDataFolder(programData, MAX_PATH) != 0) {
        std::fprintf(stderr, "no program-data folder\n");
        return 1;
    }
    const std::wstring groupFolder = std::wstring(programData) + L"\\Tervane\\KVLOGS\\" + group;
    const std::wstring folder = groupFolder + L"\\OrdwellLogFileBench";
    if (!Fundor::CreateDirectoryPath(folder.c_str())) {
        std::fprintf(stderr, "cannot create the log folder\n");
        return 1;
    }
    {
        Fundor::CObfuscatedIniReader ini;
        (void)ini.Load(folder + L"\\log.ini");
        if (!ini.WriteInt(L"Config", L"MaxSize", static_cast<int>(CLogging::kLargestMaxSize))) {
            std::fprintf(stderr, "cannot write log.ini\n");
            return 1;
        }
    }
    if (const auto result = logger.Initialize(group, ::GetModuleHandleW(nullptr), nullptr, nullptr); result != 0) {
        std::fprintf(stderr, "Initialize failed: %u\n", result);
        return 1;
    }

    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    const std::wstring line = ExpectedLine(L"benchmark record 000000");
    const auto bytes = static_cast<DWORD>(line.size() * sizeof(wchar_t));
    unsigned long failures = 0;

    // The logger, called as the front end calls it: level test, format, write.
    const auto loggerRecord = [&](unsigned long i) {
        if (!logger.IsLevelEnabled(ETWLogging::kLevelInformation)) {
            return;
        }
        wchar_t text[64];
        (void)Fundor::FormatW(text, std::size(text), L"benchmark record %06lu", i);
        if (logger.WriteText(L"LogFileBench.cpp", L"Bench::Run", __LINE__, ETWLogging::kLevelInformation, text) != 0) {
            ++failures;
        }
    };
    // The fair floor: open, lock, size, append, close; the same bytes per record, prepared once,
    // into a file named like the logger's in the logger's folder.
    const std::wstring floorPath = folder + L"\\OrdwellLogFileBenchFloor000.log";
    const auto floorRecord = [&](unsigned long) {
        Fundor::ScopedHandle file(::CreateFileW(floorPath.c_str(), FILE_READ_DATA | FILE_APPEND_DATA,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL, nullptr));
        OVERLAPPED region{};
        region.OffsetHigh = 0x7FFFFFFF;
        LARGE_INTEGER size{};
        DWORD done = 0;
        if (!file.valid() || ::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &region) == FALSE ||
            ::GetFileSizeEx(file.get(), &size) == FALSE) {
            ++failures;
            return;
        }
        // A full file is started afresh, as the logger moves on to its next file.
        if (size.QuadPart >= CLogging::kLargestMaxSize) {
            file.reset(::CreateFileW(floorPath.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL, nullptr));
        }
        if (!file.valid() || ::WriteFile(file.get(), line.data(), bytes, &done, nullptr) == FALSE) {
            ++failures;
        }
    };
    // The old floor: open, append, close.
    const std::wstring barePath = folder + L"\\bare.log";
    const auto bareRecord = [&](unsigned long) {
        Fundor::ScopedHandle file(::CreateFileW(barePath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD done = 0;
        if (!file.valid() || ::WriteFile(file.get(), line.data(), bytes, &done, nullptr) == FALSE) {
            ++failures;
        }
    };

    struct Contestant {
        const char* label;
        std::function<void(unsigned long)> record;
        const std::wstring* file;  // deleted when it reaches the logger's MaxSize; null: kept by its loop
        std::vector<double> rates;
    };
    Contestant contestants[] = {{"file logger", loggerRecord, nullptr, {}},
                                {"fair floor (open, lock, size, append, close)", floorRecord, nullptr, {}},
                                {"old floor (open, append, close)", bareRecord, &barePath, {}}};
    // The loops take turns in short rounds, the first of each round changing, so that a slower or
    // faster phase of the machine does not favour any of them.
    const unsigned long kRounds = std::max(15ul, records / 100);
    std::vector<double> ratios;
    for (unsigned long round = 0; round < kRounds; ++round) {
        const unsigned long first = records * round / kRounds;
        const unsigned long last = records * (round + 1) / kRounds;
        if (last == first) continue;
        double rate[std::size(contestants)] = {};
        for (std::size_t turn = 0; turn < std::size(contestants); ++turn) {
            const std::size_t which = (round + turn) % std::size(contestants);
            Contestant& contestant = contestants[which];
            LARGE_INTEGER start{};
            LARGE_INTEGER end{};
            ::QueryPerformanceCounter(&start);
            for (unsigned long i = first; i < last; ++i) contestant.record(i);
            ::QueryPerformanceCounter(&end);
            rate[which] = (last - first) / Seconds(start, end, frequency);
            contestant.rates.push_back(rate[which]);
            // Keep the floors' files about as large as the logger's, which moves on at MaxSize.
            WIN32_FILE_ATTRIBUTE_DATA data{};
            if (contestant.file != nullptr &&
                ::GetFileAttributesExW(contestant.file->c_str(), GetFileExInfoStandard, &data) &&
                data.nFileSizeLow >= CLogging::kLargestMaxSize) {
                (void)::DeleteFileW(contestant.file->c_str());
            }
        }
        ratios.push_back(rate[0] / rate[1]);
    }
    if (ratios.empty()) {
        std::fprintf(stderr, "no records\n");
        return 1;
    }

    std::printf("records            %lu of each in %lu rounds (%lu bytes each)\n", records, kRounds, bytes);
    for (const Contestant& contestant : contestants) {
        std::printf("%-46s %8.0f records/s (median of the rounds)\n", contestant.label, Median(contestant.rates));
    }
    std::printf("old ratio (information): %.2f of the old floor\n",
                Median(contestants[0].rates) / Median(contestants[2].rates));
    std::printf("failures           %lu\n", failures);
    std::printf("ratio %.2f (file logger / fair floor, records per second; goal at least 0.95)\n", Median(ratios));

    (void)logger.Uninitialize();
    (void)Fundor::RemoveDirectoryPath(groupFolder.c_str());
    return failures == 0 ? 0 : 2;
}
