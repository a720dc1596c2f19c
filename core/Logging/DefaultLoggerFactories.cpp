#include "core/Logging/DefaultLoggerFactories.h"

#include "core/Logging/CETWLogging.h"
#include "core/Logging/CLogging.h"

namespace ETWLogging {

std::unique_ptr<CLoggingIf> CreateEtwLogger() { return std::make_unique<CETWLogging>(); }

std::unique_ptr<CLoggingIf> CreateFileLogger() { return std::make_unique<CLogging>(); }

}  // namespace ETWLogging
