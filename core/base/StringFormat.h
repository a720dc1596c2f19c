#pragma once
// The one wide-string formatting helper of the system.
//
// Formats follow the Microsoft meaning: in a wide format "%s" takes a wide string and "%hs" a
// narrow one. (The ISO functions of mingw's C++ library read "%s" as narrow; never use them with
// the system's formats.) Every write is bounded by the given buffer and always terminated.

#include <cstdarg>
#include <cstddef>
#include <string>

namespace Fundor {

// Formats into buffer[capacity]. Returns the number of characters written (without the
// terminator), or -1 when the text did not fit (the buffer then holds the cut, terminated text)
// or when the buffer or format is null or capacity is 0 (the buffer is then untouched, or
// terminated at [0] when it exists).
[[nodiscard]] int FormatW(wchar_t* buffer, std::size_t capacity, const wchar_t* format, ...);
[[nodiscard]] int FormatWV(wchar_t* buffer, std::size_t capacity, const wchar_t* format, va_list args);

// Formats the whole text into a string of the needed length. Throws std::bad_alloc when out of
// memory; a null format gives an empty string.
[[nodiscard]] std::wstring FormatString(const wchar_t* format, ...);
[[nodiscard]] std::wstring FormatStringV(const wchar_t* format, va_list args);

}  // namespace Fundor
