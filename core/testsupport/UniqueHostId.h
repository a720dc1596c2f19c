#pragma once
// A host ID that no other host of this run uses: what it is for, this process's id and a counter.
// Short on purpose: window classes are named by the host ID, and long ones are refused.

#include <windows.h>

#include <string>

namespace Fundor::testing {

[[nodiscard]] inline std::wstring UniqueHostId(const wchar_t* what)
{
    static unsigned counter = 0;
    return std::wstring(what) + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
}

}  // namespace Fundor::testing
