// Hand-over: a second start of Ordwell.exe until the running host's navigation to the handed page
// shows in the browser stand-in's log, against a bare process start. Run by scripts/bench in the
// test prefix:  OrdwellHandoverBench.exe [runs]
// Prints both medians and their ratio (goal: at most 1.5).

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
    std::vector<double> handover;
    const std::vector<double> floor = FloorTimes(runs, L"");
    if (floor.empty()) {
        std::fprintf(stderr, "the floor program failed\n");
        return 1;
    }
    const std::wstring id = UniqueHostId(L"handbench");
    Process host(OrdwellPath(), HostArguments(id, L"plain.html"));
    if (!WaitForLogLine(environment.BrowserLog(), host.Id(), L" page resource=plain.html", 30000)) {
        std::fprintf(stderr, "the host did not start\n");
        return 1;
    }
    for (int run = 0; run < runs; ++run) {
        const std::wstring url = L"sarn://hostpages.dll::plain.html?run=" + std::to_wstring(run);
        const double started = NowMs();
        Process second(OrdwellPath(), L"/id:" + id + L" /body:" + url);
        if (!WaitForLogLine(environment.BrowserLog(), host.Id(), L" navigate url=" + url, 30000)) {
            std::fprintf(stderr, "the running host did not navigate\n");
            return 1;
        }
        handover.push_back(NowMs() - started);
        (void)second.Wait(15000);  // its own exit waits the class library's pause: not timed
    }
    EndHost(host, id);
    const double floorMs = Median(floor);
    const double handoverMs = Median(handover);
    std::printf("floor (bare process start) %8.1f ms (median of %d)\n", floorMs, runs);
    std::printf("hand-over to navigation    %8.1f ms (median of %d)\n", handoverMs, runs);
    std::printf("ratio %.2f (hand-over / floor; goal at most 1.50)\n", handoverMs / floorMs);
    return 0;
}
