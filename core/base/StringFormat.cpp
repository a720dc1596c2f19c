#include "core/base/StringFormat.h"

#include <cstdio>
#include <cwchar>

namespace Fundor {

int FormatWV(wchar_t* buffer, std::size_t capacity, const wchar_t* format, va_list args)
{
    if (buffer == nullptr || capacity == 0) {
        return -1;
    }
    buffer[0] = L'\0';
    if (format == nullptr) {
        return -1;
    }
    // _TRUNCATE: cut to the buffer, terminate, and answer -1 instead of raising the invalid
    // parameter handler.
    const int written = _vsnwprintf_s(buffer, capacity, _TRUNCATE, format, args);
    return written < 0 ? -1 : written;
}

int FormatW(wchar_t* buffer, std::size_t capacity, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int written = FormatWV(buffer, capacity, format, args);
    va_end(args);
    return written;
}

std::wstring FormatStringV(const wchar_t* format, va_list args)
{
    if (format == nullptr) {
        return {};
    }
    va_list counting;
    va_copy(counting, args);
    const int needed = _vscwprintf(format, counting);
    va_end(counting);
    if (needed <= 0) {
        return {};
    }
    std::wstring text(static_cast<std::size_t>(needed) + 1, L'\0');
    const int written = _vsnwprintf_s(text.data(), text.size(), _TRUNCATE, format, args);
    text.resize(written < 0 ? 0 : static_cast<std::size_t>(written));
    return text;
}

std::wstring FormatString(const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    std::wstring text = FormatStringV(format, args);
    va_end(args);
    return text;
}

}  // namespace Fundor
