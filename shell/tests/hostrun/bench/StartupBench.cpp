// Start-up of Ordwell.exe (launch until the browser stand-in logs its first navigation) against
// the fair floor, a program that does only the platform work of the same start-up (see
// BenchFloor.cpp) up to its own first navigation, measured the same way. The old floors, a bare
// process start and a program that creates a window and exits, are measured in the same rounds
// and printed for information. Run by scripts/bench in the test prefix:
//   OrdwellStartupBench.exe [rounds]
// Prints the medians and one ratio line (goal: at most 1.15 of the fair floor).

#include "shell/tests/hostrun/bench/BenchTiming.h"

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    using namespace HostRun;
    const int rounds = RunsFromArguments(argc, argv, 9);
    HostRunEnvironment environment;
    if (!environment.Ready()) {
        std::fprintf(stderr, "the run environment could not be set up\n");
        return 1;
    }
    LogWatch log(environment.BrowserLog());
    const std::wstring page = L"sarn://hostpages.dll::plain.html";
    enum { kHost, kFairFloor, kBareStart, kWindowProgram };
    std::vector<Contestant> contestants = {{"start-up to navigation", {}},
                                           {"fair floor to navigation", {}},
                                           {"old floor: bare process start", {}},
                                           {"old floor: window program", {}}};
    const bool measured = RunRotatedRounds(rounds, contestants, [&](std::size_t which) -> double {
        switch (which) {
        case kHost: {
            const std::wstring id = UniqueHostId(L"startbench");
            log.Skip();
            const double started = NowMs();
            Process host(OrdwellPath(), HostArguments(id, L"plain.html"));
            if (!log.WaitFor(host.id(), L" navigate url=", 30000)) return -1;
            const double elapsed = NowMs() - started;
            EndHost(host, id);
            return elapsed;
        }
        case kFairFloor: {
            const std::wstring id = UniqueHostId(L"startfloor");
            log.Skip();
            const double started = NowMs();
            Process floor(FloorPath(), FloorHostArguments(id, page));
            if (!log.WaitFor(floor.id(), L" navigate url=", 30000)) return -1;
            const double elapsed = NowMs() - started;
            return EndFloorHost(floor, id) ? elapsed : -1;
        }
        case kBareStart: return TimeFloorProgram(L"");
        default: return TimeFloorProgram(L"window");
        }
    });
    if (!measured) return 1;
    PrintMedians(contestants);
    const double host = Median(contestants[kHost].samples);
    std::printf("old ratios (information): %.2f over a bare start, %.2f over the window program\n",
                host / Median(contestants[kBareStart].samples), host / Median(contestants[kWindowProgram].samples));
    std::printf("ratio %.2f (start-up / fair floor; goal at most 1.15)\n",
                host / Median(contestants[kFairFloor].samples));
    return 0;
}
