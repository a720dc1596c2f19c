#pragma once
// This test program's path, and its folder (the build's bin folder), where the programs,
// stand-ins and files a test uses are built beside it.

#include <windows.h>

#include <string>

namespace Fundor::testing {

[[nodiscard]] inline std::wstring ThisProgramPath()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length);
}

[[nodiscard]] inline std::wstring ProgramFolder()
{
    const std::wstring path = ThisProgramPath();
    return path.substr(0, path.find_last_of(L'\\'));
}

}  // namespace Fundor::testing
