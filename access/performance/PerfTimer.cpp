#include "access/performance/PerfTimer.h"

#include "core/Logging/Logging.h"

#include <windows.h>

namespace Velmo::internal {

PerfTimer::PerfTimer(std::wstring name) : m_name(std::move(name)), m_start(nowMilliseconds()) {}

PerfTimer::~PerfTimer() { stop(); }

void PerfTimer::stop()
{
    if (m_stopped) {
        return;
    }
    m_stop = nowMilliseconds();
    m_stopped = true;
    if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelNormal)) {
        ETWLogging::LogMessage(ETWLogging::kLevelNormal, L"performance\\PerfTimer", L"Velmo::internal::PerfTimer::stop",
                               __LINE__, L"M12NPerfTimer|%ls|%lld|%lld|%lld", m_name, static_cast<long long>(m_start),
                               static_cast<long long>(m_stop), static_cast<long long>(m_stop - m_start));
    }
}

std::int64_t PerfTimer::nowMilliseconds() noexcept
{
    ULONGLONG hundredNanoseconds = 0;
    if (::QueryUnbiasedInterruptTime(&hundredNanoseconds) == FALSE) {
        return 0;
    }
    return static_cast<std::int64_t>(hundredNanoseconds / 10000);
}

}  // namespace Velmo::internal
