#include "core/Logging/CFundorLogHandler.h"

#include "core/Logging/CLogger.h"
#include "core/Logging/LoggerHolder.h"

namespace ETWLogging {

CFundorLogHandler& CFundorLogHandler::Instance() noexcept
{
    static CFundorLogHandler handler;
    return handler;
}

CFundorLogHandler::~CFundorLogHandler()
{
    // Only a handler the holder registered is unregistered: one refused at registration was
    // never registered and has nothing to take back.
    LoggerHolder* holder = internal::PublishedHolder();
    Fundor::ILoggingHandler* self = this;
    if (holder != nullptr && holder->handler.compare_exchange_strong(self, nullptr)) {
        (void)Fundor::CLogger::UnregisterHandler(this);
    }
}

LogLevel CFundorLogHandler::MapLevel(std::uint32_t fundorLevel) noexcept
{
    switch (fundorLevel) {
    case 0:
    case 1:
        return kLevelNormal;
    case 2:
        return kLevelError;
    default:
        return kLevelWarning;
    }
}

void CFundorLogHandler::HandleMessage(std::uint32_t level, const wchar_t* file, const wchar_t* function, int line,
                                      const wchar_t* text)
{
    internal::HolderUse use;
    if (LoggerHolder* holder = internal::PublishedHolder()) {
        (void)WriteLogText(holder, file, function, line, MapLevel(level), text);
    }
}

}  // namespace ETWLogging
