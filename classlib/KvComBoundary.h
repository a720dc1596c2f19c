#pragma once
// The edge of every COM method this product serves (page objects, the class library's objects,
// the window's browser subscriber). Their callers are a script engine, the platform's dispatch
// code, a browser control or another process's stub: none of them can take a C++ exception. A
// method's body runs inside KvComBoundary; what it throws is caught by kind, logged as one fixed
// line under the method's name at the error level, and becomes a failing HRESULT.
//
//     HRESULT CThing::DoIt(long* result)
//     {
//         if (result == nullptr) return E_POINTER;
//         return KvComBoundary(kSource, L"CThing::DoIt", [&] { ...; return S_OK; },
//                              [&](HRESULT failure) { *result = KvPageResultOf(failure); return S_OK; });
//     }

#include "core/Logging/Logging.h"
#include "core/base/LastError.h"

#include <windows.h>

#include <exception>
#include <new>

// What a failed boundary gives: std::bad_alloc E_OUTOFMEMORY, any other std::exception E_FAIL,
// anything else E_UNEXPECTED.
inline constexpr HRESULT kKvBoundaryOutOfMemory = E_OUTOFMEMORY;
inline constexpr HRESULT kKvBoundaryException = E_FAIL;
inline constexpr HRESULT kKvBoundaryUnknownException = E_UNEXPECTED;

// Runs body() (returning HRESULT) and returns its result. When it throws, onFailure(failure)
// runs instead and its HRESULT is the method's: it puts the method's out parameters into their
// documented failure state. onFailure must not throw.
template <typename Body, typename OnFailure>
[[nodiscard]] HRESULT KvComBoundary(const wchar_t* source, const wchar_t* method, Body&& body,
                                    OnFailure&& onFailure) noexcept
{
    HRESULT failure = kKvBoundaryUnknownException;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        ETWLOG(ETWLogging::kLevelError, source, method, L"Out of memory");
        failure = kKvBoundaryOutOfMemory;
    } catch (const std::exception&) {
        ETWLOG(ETWLogging::kLevelError, source, method, L"Exception caught");
        failure = kKvBoundaryException;
    } catch (...) {
        ETWLOG(ETWLogging::kLevelError, source, method, L"Unknown exception caught");
        failure = kKvBoundaryUnknownException;
    }
    return onFailure(failure);
}

// The same for a method whose only failure report is its HRESULT.
template <typename Body>
[[nodiscard]] HRESULT KvComBoundary(const wchar_t* source, const wchar_t* method, Body&& body) noexcept
{
    return KvComBoundary(source, method, static_cast<Body&&>(body), [](HRESULT failure) noexcept { return failure; });
}

// The Win32-style result a page reads when its call ended at the boundary: ERROR_OUTOFMEMORY
// or ERROR_UNHANDLED_EXCEPTION.
[[nodiscard]] constexpr long KvPageResultOf(HRESULT failure) noexcept
{
    return failure == kKvBoundaryOutOfMemory ? long{ERROR_OUTOFMEMORY} : long{ERROR_UNHANDLED_EXCEPTION};
}
