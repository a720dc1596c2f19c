// Writes the same records through the file logger and through a bare loop that opens the file
// for appending, writes the line and closes it again (what the logger does per record at best),
// and prints records per second for both and their ratio.
//
// The logger runs as in production (program-data folder, a group of its own, "log.ini" in its
// folder with the largest MaxSize) and the folder is removed afterwards.

#include "core/Logging/CLogging.h"
#include "core/base/FileSystemHelpers.h"
#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"
#include "core/ini/CObfuscatedIniReader.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using ETWLogging::CLogging;

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
    const std::wstring barePath = folder + L"\\bare.log";
    const auto bytes = static_cast<DWORD>(line.size() * sizeof(wchar_t));

    // The two loops take turns in rounds, so that a slower or faster phase of the machine does
    // not favour either of them.
    constexpr unsigned long kRounds = 10;
    unsigned long failures = 0;
    unsigned long written = 0;
    double loggerSeconds = 0;
    double bareSeconds = 0;
    for (unsigned long round = 0; round < kRounds; ++round) {
        const unsigned long first = records * round / kRounds;
        const unsigned long last = records * (round + 1) / kRounds;
        LARGE_INTEGER start{};
        LARGE_INTEGER end{};

        // The logger, called as the front end calls it: level test, format, write.
        ::QueryPerformanceCounter(&start);
        for (unsigned long i = first; i < last; ++i) {
            if (!logger.IsLevelEnabled(ETWLogging::kLevelInformation)) {
                continue;
            }
            wchar_t text[64];
            (void)Fundor::FormatW(text, std::size(text), L"benchmark record %06lu", i);
            if (logger.WriteText(L"LogFileBench.cpp", L"Bench::Run", __LINE__, ETWLogging::kLevelInformation, text) != 0) {
                ++failures;
            }
        }
        ::QueryPerformanceCounter(&end);
        loggerSeconds += Seconds(start, end, frequency);

        // The bare loop: the same bytes per record, prepared once.
        ::QueryPerformanceCounter(&start);
        for (unsigned long i = first; i < last; ++i) {
            Fundor::ScopedHandle file(::CreateFileW(barePath.c_str(), FILE_APPEND_DATA,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                                    FILE_ATTRIBUTE_NORMAL, nullptr));
            DWORD done = 0;
            if (!file.valid() || ::WriteFile(file.get(), line.data(), bytes, &done, nullptr) == FALSE) {
                ++failures;
            }
            ++written;
        }
        ::QueryPerformanceCounter(&end);
        bareSeconds += Seconds(start, end, frequency);
        // Keep the bare file about as large as the logger's, which moves on at MaxSize.
        if (static_cast<unsigned long long>(written) * bytes >= CLogging::kLargestMaxSize) {
            (void)::DeleteFileW(barePath.c_str());
            written = 0;
        }
    }

    WIN32_FILE_ATTRIBUTE_DATA bare{};
    (void)::GetFileAttributesExW(barePath.c_str(), GetFileExInfoStandard, &bare);
    const double loggerRate = records / loggerSeconds;
    const double bareRate = records / bareSeconds;
    std::printf("records            %lu (%lu bytes each; bare file %lu bytes, %lu expected)\n", records, bytes,
                bare.nFileSizeLow, written * bytes);
    std::printf("file logger        %.0f records/s (%.2f s)\n", loggerRate, loggerSeconds);
    std::printf("bare append loop   %.0f records/s (%.2f s)\n", bareRate, bareSeconds);
    std::printf("ratio              %.2f\n", loggerRate / bareRate);
    std::printf("failures           %lu\n", failures);

    (void)logger.Uninitialize();
    (void)Fundor::RemoveDirectoryPath(groupFolder.c_str());
    return failures == 0 ? 0 : 2;
}
