#pragma once
// The length of a URL everywhere in the suite: a buffer of INTERNET_MAX_URL_LENGTH characters
// with its terminator, so at most 2,083 characters. The command record, the page objects, the
// browser control's rewrite buffer and the URL library all hold URLs in such buffers.

#include <windows.h>
#include <wininet.h>

#include <cstddef>

namespace Fundor {

inline constexpr std::size_t kUrlBufferCharacters = INTERNET_MAX_URL_LENGTH;
inline constexpr std::size_t kMaxUrlCharacters = kUrlBufferCharacters - 1;
static_assert(kUrlBufferCharacters == 2084, "the suite's URL buffers hold 2,084 characters");

}  // namespace Fundor
