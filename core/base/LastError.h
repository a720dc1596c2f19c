#pragma once
// Small helpers around the thread's last-error value. Each reads it on the line of the failing
// call: a log call, an owner's release or any other call in between may replace it.
//
//     RETURN_LAST_ERROR_IF(!::SetEvent(event));                 // in a function returning DWORD
//     RETURN_HR_LAST_ERROR_IF(::RegisterClassExW(&info) == 0);   // in a function returning HRESULT
//     const DWORD status = Fundor::Win32Status(::LockFileEx(...));

#include <windows.h>

// The platform's code for "an unhandled exception occurred" (574), which this toolchain's
// winerror.h lacks: what a boundary that caught an exception reports.
#ifndef ERROR_UNHANDLED_EXCEPTION
#define ERROR_UNHANDLED_EXCEPTION 574L
#endif

namespace Fundor {

// The thread's last error, or fallback when a failed call left none (some calls fail with 0).
[[nodiscard]] inline DWORD LastErrorOr(DWORD fallback) noexcept
{
    const DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS ? error : fallback;
}

// The status of a call that answers BOOL: ERROR_SUCCESS when it succeeded (whatever the last
// error holds), else its last error, or fallback when it left none, so that a failure never
// reads as success.
[[nodiscard]] inline DWORD Win32Status(BOOL succeeded, DWORD fallback = ERROR_GEN_FAILURE) noexcept
{
    return succeeded != FALSE ? DWORD{ERROR_SUCCESS} : LastErrorOr(fallback);
}

}  // namespace Fundor

// Returns the last error (never ERROR_SUCCESS) from the enclosing function when condition, which
// holds the failing call, is true.
#define RETURN_LAST_ERROR_IF(condition)                                    \
    do {                                                                   \
        if (condition) return ::Fundor::LastErrorOr(ERROR_GEN_FAILURE);    \
    } while (false)

// The same as an HRESULT (never a success code).
#define RETURN_HR_LAST_ERROR_IF(condition)                                                   \
    do {                                                                                     \
        if (condition) return HRESULT_FROM_WIN32(::Fundor::LastErrorOr(ERROR_GEN_FAILURE));  \
    } while (false)
