#pragma once
// Tests that use one machine-wide resource of the test prefix are run one at a time by ctest,
// through the resource lock their CMake definition gives them (cmake/Wine.cmake lists the locks).
// The runner hands each test the names of the locks it holds in ORDWELL_TEST_LOCKS, comma
// separated, or "none". A test program started some other way (by hand, by a benchmark) runs
// alone and holds every lock. A helper that takes such a resource checks that its test holds the
// lock, so that a definition that lacks it fails instead of racing the tests that hold it.
//
// Header only and without GoogleTest: benchmark programs share the helpers that take the locks.

#include <windows.h>

#include <string>
#include <string_view>

namespace Fundor::testing {

// Whether the runner gave this process the named lock.
[[nodiscard]] inline bool HoldsRunnerLock(std::wstring_view lock)
{
    wchar_t value[512] = {};
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length = ::GetEnvironmentVariableW(L"ORDWELL_TEST_LOCKS", value, ARRAYSIZE(value));
    if (length == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return true;
    if (length >= ARRAYSIZE(value)) return false;
    std::wstring_view names(value, length);
    while (!names.empty()) {
        const std::size_t comma = names.find(L',');
        if (names.substr(0, comma) == lock) return true;
        if (comma == std::wstring_view::npos) break;
        names.remove_prefix(comma + 1);
    }
    return false;
}

}  // namespace Fundor::testing
