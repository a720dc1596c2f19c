#pragma once
// Log levels shared by every caller and both loggers. Callers name them (ETWLOG(kLevelError, ...));
// the file logger writes each record's level as "Normal", "Warning", "Information", "Error",
// "Critical" or "Information".

#include <cstdint>

namespace ETWLogging {

using LogLevel = std::uint32_t;

inline constexpr LogLevel kLevelNormal = 1;        // entering and leaving methods, ordinary steps
inline constexpr LogLevel kLevelWarning = 2;       // recoverable problems
inline constexpr LogLevel kLevelInformation = 3;   // notable facts
inline constexpr LogLevel kLevelError = 4;         // failures
inline constexpr LogLevel kLevelCritical = 5;      // fatal start-up failures
inline constexpr LogLevel kLevelInformation2 = 6;  // second information level (sent to ETW as 3)

// Result codes of the loggers.
inline constexpr std::uint32_t kErrorAlreadyInitialized = 20001;
inline constexpr std::uint32_t kErrorNotInitialized = 20002;

}  // namespace ETWLogging
