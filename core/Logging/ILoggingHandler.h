#pragma once
// Receiver of the core library's own messages (see CLogger).

#include <cstdint>

namespace Fundor {

// Fundor levels: 0 nothing, 1 information, 2 error; other values are unknown levels.
class ILoggingHandler {
public:
    virtual void HandleMessage(std::uint32_t level, const wchar_t* file, const wchar_t* function,
                               int line, const wchar_t* text) = 0;

protected:
    ~ILoggingHandler() = default;
};

}  // namespace Fundor
