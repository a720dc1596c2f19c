#pragma once
// The core library's default message handler: one line per message to the debugger.

#include "core/Logging/ILoggingHandler.h"

namespace Fundor {

class CDefaultLoggingHandler : public ILoggingHandler {
public:
    // Receives one finished line (with its "\n").
    using DebugOutput = void (*)(const wchar_t* line);

    // Writes with OutputDebugStringW.
    constexpr CDefaultLoggingHandler() noexcept = default;
    // Writes through output instead (null: OutputDebugStringW).
    constexpr explicit CDefaultLoggingHandler(DebugOutput output) noexcept : m_output(output) {}
    ~CDefaultLoggingHandler() = default;

    // Level 0 writes nothing; level 1 "%s(%d): [INFO]: [%s]: %s\n", level 2 "[ERROR]", any other
    // "[UNKNOWN]", of (file, line, function, text). A line that cannot be built is dropped.
    void HandleMessage(std::uint32_t level, const wchar_t* file, const wchar_t* function, int line,
                       const wchar_t* text) override;

private:
    DebugOutput m_output = nullptr;
};

}  // namespace Fundor
