#include "core/Logging/CDefaultLoggingHandler.h"

#include "core/base/StringFormat.h"

#include <windows.h>

#include <string>

namespace Fundor {

void CDefaultLoggingHandler::HandleMessage(std::uint32_t level, const wchar_t* file, const wchar_t* function,
                                           int line, const wchar_t* text)
{
    const wchar_t* format;
    switch (level) {
    case 0:
        return;
    case 1:
        format = L"%s(%d): [INFO]: [%s]: %s\n";
        break;
    case 2:
        format = L"%s(%d): [ERROR]: [%s]: %s\n";
        break;
    default:
        format = L"%s(%d): [UNKNOWN]: [%s]: %s\n";
        break;
    }
    try {
        const std::wstring message = FormatString(format, file, line, function, text);
        if (m_output != nullptr) {
            m_output(message.c_str());
        } else {
            ::OutputDebugStringW(message.c_str());
        }
    } catch (...) {
        // Out of memory: the line is lost.
    }
}

}  // namespace Fundor
