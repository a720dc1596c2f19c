#pragma once
// The bridge from the core library's own messages (Fundor::CLogger) to the front end's logger.

#include "core/Logging/ILoggingHandler.h"
#include "core/Logging/LogLevel.h"

namespace ETWLogging {

class CFundorLogHandler final : public Fundor::ILoggingHandler {
public:
    // The one handler of the process, created on first use and destroyed at exit. Its
    // destruction takes it out of the holder and unregisters it from Fundor::CLogger.
    static CFundorLogHandler& Instance() noexcept;

    // Writes the text to the holder's logger (no level test) with the mapped level; nothing
    // when the holder does not exist. Never throws.
    void HandleMessage(std::uint32_t level, const wchar_t* file, const wchar_t* function, int line,
                       const wchar_t* text) override;

    // Fundor level 0 or 1 -> 1, 2 (error) -> 4, any other -> 2.
    [[nodiscard]] static LogLevel MapLevel(std::uint32_t fundorLevel) noexcept;

    CFundorLogHandler(const CFundorLogHandler&) = delete;
    CFundorLogHandler& operator=(const CFundorLogHandler&) = delete;

private:
    CFundorLogHandler() = default;
    ~CFundorLogHandler();
};

}  // namespace ETWLogging
