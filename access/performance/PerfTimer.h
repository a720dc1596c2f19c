#pragma once
// A named stopwatch in milliseconds of unbiased interrupt time (sleep not counted), logged once
// when it stops. Used around the load of the bus DLL. One thread uses a timer.

#include <cstdint>
#include <string>

namespace Velmo::internal {

class PerfTimer {
public:
    // Starts the timer.
    explicit PerfTimer(std::wstring name);
    PerfTimer(const PerfTimer&) = delete;
    PerfTimer& operator=(const PerfTimer&) = delete;
    // Stops the timer if it still runs.
    virtual ~PerfTimer();

    // The first call records the stop time and logs "M12NPerfTimer|name|start|stop|difference"
    // at the normal level; later calls do nothing.
    void stop();

    [[nodiscard]] bool running() const noexcept { return !m_stopped; }
    [[nodiscard]] const std::wstring& name() const noexcept { return m_name; }
    [[nodiscard]] std::int64_t startMilliseconds() const noexcept { return m_start; }
    // 0 while running.
    [[nodiscard]] std::int64_t stopMilliseconds() const noexcept { return m_stop; }
    // stop - start once stopped; 0 while running.
    [[nodiscard]] std::int64_t elapsedMilliseconds() const noexcept { return m_stopped ? m_stop - m_start : 0; }

    // QueryUnbiasedInterruptTime / 10000.
    [[nodiscard]] static std::int64_t nowMilliseconds() noexcept;

private:
    std::wstring m_name;
    std::int64_t m_start = 0;
    std::int64_t m_stop = 0;
    bool m_stopped = false;
};

}  // namespace Velmo::internal
