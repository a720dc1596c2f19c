#pragma once
// Small helpers around the thread's last-error value.

#include <windows.h>

namespace Fundor {

// The thread's last error, or fallback when a failed call left none (some calls fail with 0).
[[nodiscard]] inline DWORD LastErrorOr(DWORD fallback) noexcept
{
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

}  // namespace Fundor
