#pragma once
// A run-size setting from the environment (ORDWELL_E2E_STARTS=100): the variable's number, or the
// fallback when it is unset or longer than any number it may hold.

#include <windows.h>

#include <cwchar>

namespace Fundor::testing {

[[nodiscard]] inline unsigned long EnvironmentNumber(const wchar_t* name, unsigned long fallback)
{
    wchar_t text[32] = {};
    const DWORD length = ::GetEnvironmentVariableW(name, text, 32);
    return length == 0 || length >= 32 ? fallback : std::wcstoul(text, nullptr, 10);
}

}  // namespace Fundor::testing
