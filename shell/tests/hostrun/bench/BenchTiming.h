#pragma once
// Timing pieces of the host benchmarks: a millisecond clock, medians, and waiting for a line of
// the browser stand-in's log with a fine poll.

#include "shell/tests/hostrun/HostRunSupport.h"

#include <windows.h>

#include <algorithm>
#include <vector>

namespace HostRun {

inline double NowMs()
{
    static const double frequency = [] {
        LARGE_INTEGER value{};
        QueryPerformanceFrequency(&value);
        return static_cast<double>(value.QuadPart);
    }();
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / frequency;
}

inline double Median(std::vector<double> values)
{
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

// Waits (2 ms poll) for a line of process pid holding text; false after timeout.
inline bool WaitForLogLine(const std::wstring& log, DWORD pid, const std::wstring& text, DWORD timeout)
{
    const ULONGLONG end = GetTickCount64() + timeout;
    do {
        if (!LinesOf(log, pid, {text}).empty()) return true;
        Sleep(2);
    } while (GetTickCount64() < end);
    return false;
}

// Ends a host through its destroy message and waits for it.
inline void EndHost(const Process& host, const std::wstring& id)
{
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindProcessWindow(host.Id(), id)) != nullptr; }, 10000);
    if (window != nullptr) {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(window, 0x8002, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    }
    (void)host.Wait(15000);
}

// Times runs starts of the floor program with arguments; empty when one of them failed.
inline std::vector<double> FloorTimes(int runs, const wchar_t* arguments)
{
    std::vector<double> times;
    const std::wstring program = BinFolder() + L"\\HostBenchFloor.exe";
    for (int run = 0; run < runs; ++run) {
        const double started = NowMs();
        Process floor(program, arguments);
        if (floor.Wait(30000) != std::optional<DWORD>(0)) return {};
        times.push_back(NowMs() - started);
    }
    return times;
}

inline int RunsFromArguments(int argc, wchar_t** argv, int fallback)
{
    const int runs = argc > 1 ? _wtoi(argv[1]) : fallback;
    return runs > 0 ? runs : fallback;
}

}  // namespace HostRun
