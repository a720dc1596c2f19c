#pragma once
// The folder of this test program (the build's bin folder), where the programs, stand-ins and
// files a test uses are built beside it.

#include <windows.h>

#include <string>

namespace Fundor::testing {

[[nodiscard]] inline std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring text(path, length);
    return text.substr(0, text.find_last_of(L'\\'));
}

}  // namespace Fundor::testing
