#include "DefaultLoggerFactories.h"

#include "CETWLogging.h"

namespace ETWLogging {

std::unique_ptr<CLoggingIf> CreateEtwLogger() { return std::make_unique<CETWLogging>(); }

}  // namespace ETWLogging
