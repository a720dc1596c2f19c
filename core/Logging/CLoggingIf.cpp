#include "core/Logging/CLoggingIf.h"

#include "core/base/StringFormat.h"

#include <cstdarg>

namespace ETWLogging {

std::uint32_t CLoggingIf::WriteLevelText(LogLevel level, const wchar_t* file, const wchar_t* function,
                                         int line, const wchar_t* format, va_list args)
{
    // A stack buffer: the level-named calls allocate nothing. A longer text, or one whose
    // formatting fails, keeps what fitted (the helper always terminates).
    wchar_t text[kLevelTextBufferChars];
    (void)Fundor::FormatWV(text, kLevelTextBufferChars, format, args);
    return WriteText(file, function, line, level, text);
}

#define ORDWELL_LEVEL_SLOT(name, level)                                                         \
    std::uint32_t CLoggingIf::name(const wchar_t* file, const wchar_t* function, int line,      \
                                   const wchar_t* format, ...)                                  \
    {                                                                                           \
        va_list args;                                                                           \
        va_start(args, format);                                                                 \
        const std::uint32_t result = WriteLevelText(level, file, function, line, format, args); \
        va_end(args);                                                                           \
        return result;                                                                          \
    }

ORDWELL_LEVEL_SLOT(LogNormal, kLevelNormal)
ORDWELL_LEVEL_SLOT(LogError, kLevelError)
ORDWELL_LEVEL_SLOT(LogWarning, kLevelWarning)
ORDWELL_LEVEL_SLOT(LogCritical, kLevelCritical)
ORDWELL_LEVEL_SLOT(LogInformation, kLevelInformation)

#undef ORDWELL_LEVEL_SLOT

}  // namespace ETWLogging
