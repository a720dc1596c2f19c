#pragma once
// The production loggers of the default builder. Each returns a new, uninitialised logger
// (owned by the caller), or throws std::bad_alloc.

#include "core/Logging/CLoggingIf.h"

#include <memory>

namespace ETWLogging {

// A new CETWLogging.
[[nodiscard]] std::unique_ptr<CLoggingIf> CreateEtwLogger();
// A new CLogging with its defaults.
[[nodiscard]] std::unique_ptr<CLoggingIf> CreateFileLogger();

}  // namespace ETWLogging
