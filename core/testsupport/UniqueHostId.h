#pragma once
// A host ID that no other host of this run uses: what it is for, this process's id and a counter.
// Short on purpose (window classes are named by the host ID, and long ones are refused), and lower
// case from the start, as the program lower-cases host IDs.

#include <windows.h>

#include <string>

namespace Fundor::testing {

[[nodiscard]] inline std::wstring UniqueHostId(const wchar_t* what)
{
    static LONG counter = 0;
    std::wstring id = std::wstring(what) + L"-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                      std::to_wstring(::InterlockedIncrement(&counter));
    ::CharLowerBuffW(id.data(), static_cast<DWORD>(id.size()));
    return id;
}

}  // namespace Fundor::testing
