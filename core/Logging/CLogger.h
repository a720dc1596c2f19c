#pragma once
// The core library's own logging entry: every message goes to one process-wide handler, the
// default debugger handler until another one is registered (the front end registers its bridge
// once its logger exists).

#include "core/Logging/CDefaultLoggingHandler.h"
#include "core/Logging/ILoggingHandler.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace Fundor {

class CLogger {
public:
    // Formats the message (Fundor level: 0 nothing, 1 information, 2 error) and hands it to the
    // registered handler, registering the default handler when there is none. When the text
    // cannot be allocated the handler gets the level-2 line "General memory-allocation failure
    // in Fundor logger." instead. Never throws.
    static void Log(std::uint32_t level, const wchar_t* file, const wchar_t* function, int line,
                    const wchar_t* format, ...) noexcept;

    // 0 when handler is now the registered one (nothing or the default handler was registered,
    // or it was already). ERROR_INVALID_PARAMETER for null; ERROR_INVALID_STATE when another
    // handler is registered, which stays and receives a level-2 line saying so.
    [[nodiscard]] static std::uint32_t RegisterHandler(ILoggingHandler* handler) noexcept;

    // 0 when handler was the registered one (none is registered afterwards).
    // ERROR_INVALID_PARAMETER for null. ERROR_INVALID_STATE when none or another handler is
    // registered; the registration is unchanged and the complaint goes to the given handler (and
    // to the registered one).
    [[nodiscard]] static std::uint32_t UnregisterHandler(ILoggingHandler* handler) noexcept;

    // The registered handler, or null.
    [[nodiscard]] static ILoggingHandler* RegisteredHandler() noexcept;

    // The process-wide default handler (writes to the debugger).
    [[nodiscard]] static CDefaultLoggingHandler& DefaultHandler() noexcept;
};

// The system's message text for a Win32 code, as FormatMessageW gives it (with its line end);
// empty when the system has none. Throws std::bad_alloc.
[[nodiscard]] std::wstring GetErrorText(DWORD code);

}  // namespace Fundor
