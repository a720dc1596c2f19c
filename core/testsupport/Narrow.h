#pragma once
// A wide text as UTF-8, for test messages, narrow file names and narrow kernel-object names.
// ASCII comes out unchanged; nothing is cut or replaced.

#include <windows.h>

#include <string>
#include <string_view>

namespace Fundor::testing {

[[nodiscard]] inline std::string Narrow(std::wstring_view text)
{
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(bytes > 0 ? bytes : 0), '\0');
    if (bytes > 0) ::WideCharToMultiByte(CP_UTF8, 0, text.data(), length, result.data(), bytes, nullptr, nullptr);
    return result;
}

}  // namespace Fundor::testing
