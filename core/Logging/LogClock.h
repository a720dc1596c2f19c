#pragma once
// Where the file logger takes its time stamps from: local time of the machine in production, a
// fixed time in tests that check exact lines.

#include <windows.h>

namespace ETWLogging {

class LogClock {
public:
    LogClock() = default;
    virtual ~LogClock();
    LogClock(const LogClock&) = delete;
    LogClock& operator=(const LogClock&) = delete;

    // The current local time (GetLocalTime). Called once per written record, from any thread.
    [[nodiscard]] virtual SYSTEMTIME LocalTime();
};

}  // namespace ETWLogging
