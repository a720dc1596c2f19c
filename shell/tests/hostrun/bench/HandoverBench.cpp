// Hand-over: a second start of Ordwell.exe until the running host's navigation to the handed page
// shows in the browser stand-in's log, against the same through the fair floor (BenchFloor.cpp):
// its second start does the platform work of a second start, and its running first start takes
// the page as the host does. A bare process start, the old floor, is measured in the same rounds
// and printed for information. Run by scripts/bench in the test prefix:
//   OrdwellHandoverBench.exe [rounds]
// Prints the medians and one ratio line (goal: at most 1.00 of the fair floor).

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
    const std::wstring hostId = UniqueHostId(L"handbench");
    const std::wstring floorId = UniqueHostId(L"handfloor");
    Process host(OrdwellPath(), HostArguments(hostId, L"plain.html"));
    if (!log.WaitFor(host.id(), L" page resource=plain.html", 30000)) {
        std::fprintf(stderr, "the host did not start\n");
        return 1;
    }
    Process floor(FloorPath(), FloorHostArguments(floorId, L"sarn://hostpages.dll::plain.html"));
    if (!log.WaitFor(floor.id(), L" page resource=plain.html", 30000)) {
        std::fprintf(stderr, "the fair floor did not start\n");
        return 1;
    }

    enum { kHost, kFairFloor, kBareStart };
    std::vector<Contestant> contestants = {{"hand-over to navigation", {}},
                                           {"fair floor hand-over to navigation", {}},
                                           {"old floor: bare process start", {}}};
    int run = 0;
    const bool measured = RunRotatedRounds(rounds, contestants, [&](std::size_t which) -> double {
        if (which == kBareStart) return TimeFloorProgram(L"");
        const std::wstring url = L"sarn://hostpages.dll::plain.html?run=" + std::to_wstring(++run);
        const bool toHost = which == kHost;
        log.Skip();
        const double started = NowMs();
        Process second(toHost ? OrdwellPath() : FloorPath(),
                       toHost ? L"/id:" + hostId + L" /body:" + url : FloorHostArguments(floorId, url));
        if (!log.WaitFor(toHost ? host.id() : floor.id(), L" navigate url=" + url, 30000)) return -1;
        const double elapsed = NowMs() - started;
        // A host's second start then waits out the class library's pause: not timed.
        return second.Wait(15000) == std::optional<DWORD>(0) ? elapsed : -1;
    });
    EndHost(host, hostId);
    const bool floorEnded = EndFloorHost(floor, floorId);
    if (!measured || !floorEnded) return 1;
    PrintMedians(contestants);
    const double handover = Median(contestants[kHost].samples);
    std::printf("old ratio (information): %.2f over a bare start\n", handover / Median(contestants[kBareStart].samples));
    std::printf("ratio %.2f (hand-over / fair floor; goal at most 1.00)\n",
                handover / Median(contestants[kFairFloor].samples));
    return 0;
}
