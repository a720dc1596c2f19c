// Start-up of Ordwell.exe (launch until the browser stand-in logs its first navigation) against a
// program that creates a window and exits. Run by scripts/bench in the test prefix:
//   OrdwellStartupBench.exe [runs]
// Prints both medians and their ratio (goal: at most 1.3).

#include "shell/tests/hostrun/bench/BenchTiming.h"

#include <cstdio>

int wmain(int argc, wchar_t** argv)
{
    using namespace HostRun;
    const int runs = RunsFromArguments(argc, argv, 5);
    HostRunEnvironment environment;
    if (!environment.Ready()) {
        std::fprintf(stderr, "the run environment could not be set up\n");
        return 1;
    }
    std::vector<double> startup;
    const std::vector<double> floor = FloorTimes(runs, L"window");
    if (floor.empty()) {
        std::fprintf(stderr, "the floor program failed\n");
        return 1;
    }
    for (int run = 0; run < runs; ++run) {
        const std::wstring id = UniqueHostId(L"startbench");
        const double started = NowMs();
        Process host(OrdwellPath(), HostArguments(id, L"plain.html"));
        if (!WaitForLogLine(environment.BrowserLog(), host.Id(), L" navigate url=", 30000)) {
            std::fprintf(stderr, "the host did not navigate\n");
            return 1;
        }
        startup.push_back(NowMs() - started);
        EndHost(host, id);
    }
    const double floorMs = Median(floor);
    const double startupMs = Median(startup);
    std::printf("floor (window program)    %8.1f ms (median of %d)\n", floorMs, runs);
    std::printf("start-up to navigation    %8.1f ms (median of %d)\n", startupMs, runs);
    std::printf("ratio %.2f (start-up / floor; goal at most 1.30)\n", startupMs / floorMs);
    return 0;
}
