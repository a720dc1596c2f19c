#pragma once
// A variable of this process's environment, or nothing when it is unset, empty or longer than a
// test ever sets one.

#include <windows.h>

#include <optional>
#include <string>

namespace Fundor::testing {

[[nodiscard]] inline std::optional<std::wstring> EnvironmentVariable(const wchar_t* name)
{
    wchar_t value[1024];
    const DWORD length = ::GetEnvironmentVariableW(name, value, 1024);
    if (length == 0 || length >= 1024) {
        return std::nullopt;
    }
    return std::wstring(value, length);
}

}  // namespace Fundor::testing
