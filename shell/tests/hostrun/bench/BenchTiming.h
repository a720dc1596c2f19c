#pragma once
// Timing pieces of the host benchmarks: a millisecond clock, medians, a watch on the browser
// stand-in's log that reads only what was appended, the floor program's runs and the table that
// both host benchmarks print.

#include "core/testsupport/Narrow.h"
#include "shell/tests/hostrun/HostRunSupport.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
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

// Follows the browser stand-in's log from its current end: each wait reads only the bytes
// appended since the last one, so the poll costs the same in the first round and the last.
class LogWatch {
public:
    explicit LogWatch(std::wstring path) : m_path(std::move(path)) { Skip(); }

    // From now on only lines appended after this call count.
    void Skip()
    {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        m_offset = GetFileAttributesExW(m_path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
        m_pending.clear();
    }

    // Waits (1 ms poll) for a line of process pid holding text; false after timeout.
    bool WaitFor(DWORD pid, const std::wstring& text, DWORD timeout)
    {
        const std::string prefix = Fundor::testing::Narrow(PidPrefix(pid));
        const std::string wanted = Fundor::testing::Narrow(text);
        const ULONGLONG end = GetTickCount64() + timeout;
        for (;;) {
            ReadAppended();
            std::size_t start = 0;
            for (std::size_t newline; (newline = m_pending.find('\n', start)) != std::string::npos; start = newline + 1) {
                const std::string line = m_pending.substr(start, newline - start);
                if (line.compare(0, prefix.size(), prefix) == 0 && line.find(wanted) != std::string::npos) {
                    m_pending.erase(0, newline + 1);
                    return true;
                }
            }
            m_pending.erase(0, start);
            if (GetTickCount64() >= end) return false;
            Sleep(1);
        }
    }

private:
    void ReadAppended()
    {
        HANDLE file = CreateFileW(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        LARGE_INTEGER at{};
        at.QuadPart = m_offset;
        char buffer[8192];
        DWORD read = 0;
        if (SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) {
            while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
                m_pending.append(buffer, read);
                m_offset += read;
            }
        }
        CloseHandle(file);
    }

    std::wstring m_path;
    DWORD m_offset = 0;
    std::string m_pending;
};

// Ends a host through its destroy message and waits for it.
inline void EndHost(const Process& host, const std::wstring& id)
{
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindProcessWindow(host.id(), id)) != nullptr; }, 10000);
    if (window != nullptr) {
        DWORD_PTR result = 0;
        SendMessageTimeoutW(window, 0x8002, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    }
    (void)host.Wait(15000);
}

inline std::wstring FloorPath() { return BinFolder() + L"\\HostBenchFloor.exe"; }

// The fair floor's first start for a host ID; it navigates to url.
inline std::wstring FloorHostArguments(const std::wstring& id, const std::wstring& url)
{
    return L"host " + id + L" " + url;
}

// Ends a fair floor's first start through its exit event, as a host's exit event ends its wait.
inline bool EndFloorHost(const Process& floor, const std::wstring& id)
{
    HANDLE exitEvent =
        OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"F0230C9FDB504518A1CC2EF2EDD4FE77_" + id).c_str());
    if (exitEvent != nullptr) {
        SetEvent(exitEvent);
        CloseHandle(exitEvent);
    }
    return floor.Wait(15000) == std::optional<DWORD>(0);
}

// Milliseconds from the start of the floor program with arguments to its exit; negative when it
// failed.
inline double TimeFloorProgram(const wchar_t* arguments)
{
    const double started = NowMs();
    Process floor(FloorPath(), arguments);
    if (floor.Wait(30000) != std::optional<DWORD>(0)) return -1;
    return NowMs() - started;
}

inline int RunsFromArguments(int argc, wchar_t** argv, int fallback)
{
    const int runs = argc > 1 ? _wtoi(argv[1]) : fallback;
    return runs > 0 ? runs : fallback;
}

// One measured contestant: its samples, one per round.
struct Contestant {
    const char* label;
    std::vector<double> samples;
};

// Runs rounds of the measurements, the first one of each round taking turns so that none of
// them always runs first after another; false as soon as one of them fails.
template <typename Measure>
bool RunRotatedRounds(int rounds, std::vector<Contestant>& contestants, Measure&& measure)
{
    const std::size_t count = contestants.size();
    for (int round = 0; round < rounds; ++round) {
        for (std::size_t turn = 0; turn < count; ++turn) {
            const std::size_t which = (static_cast<std::size_t>(round) + turn) % count;
            const double milliseconds = measure(which);
            if (milliseconds < 0) {
                std::fprintf(stderr, "%s failed in round %d\n", contestants[which].label, round + 1);
                return false;
            }
            contestants[which].samples.push_back(milliseconds);
        }
    }
    return true;
}

inline void PrintMedians(const std::vector<Contestant>& contestants)
{
    for (const Contestant& contestant : contestants) {
        const auto [low, high] = std::minmax_element(contestant.samples.begin(), contestant.samples.end());
        std::printf("%-34s %8.1f ms median of %zu (%.1f to %.1f)\n", contestant.label, Median(contestant.samples),
                    contestant.samples.size(), contestant.samples.empty() ? 0.0 : *low,
                    contestant.samples.empty() ? 0.0 : *high);
    }
}

}  // namespace HostRun
