#include "core/Logging/LogClock.h"

namespace ETWLogging {

LogClock::~LogClock() = default;

SYSTEMTIME LogClock::LocalTime()
{
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return now;
}

}  // namespace ETWLogging
