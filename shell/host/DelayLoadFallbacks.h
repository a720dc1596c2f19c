#pragma once
// What happens when a system DLL that Ordwell.exe binds at its first call (delay-loaded, see
// host.cmake) cannot be had: the call must fail cleanly, never crash the program.
//
// The toolchain's delay-load helper asks the failure hook below when it cannot load the DLL or
// find one of its functions. The hook logs one line naming the DLL, the function and the
// loader's error, and hands the helper a stand-in of the function's own signature, which from
// then on answers every call the way the function reports a failure (FALSE, 0, a null pointer,
// the loader's error as an HRESULT or NTSTATUS) and sets that error as the thread's last error.
// Only VariantInit, which cannot fail, still empties its variant. The helper writes the stand-in
// into the import slot, so a later call costs no more than a call to the real function.
//
// Every function named in the .def files of delayload/ must have a stand-in here: for any other
// the helper would raise a structured exception (a test checks that the lists agree).

#include <windows.h>
#include <delayimp.h>

#include <cstddef>

namespace DelayLoad {

// One delay-loaded function and its stand-in.
struct Fallback {
    const char* dll;       // the DLL's name as the delay-import table holds it
    const char* function;  // the function's exported name
    FARPROC standIn;
};

// Every delay-loaded function, DLL by DLL; *count gets their number.
[[nodiscard]] const Fallback* Fallbacks(std::size_t* count) noexcept;

// The stand-in of dll!function (the DLL's name compared without case, the function's exactly);
// null when the program does not delay-load that function.
[[nodiscard]] FARPROC FallbackFor(const char* dll, const char* function) noexcept;

// The failure hook installed in the helper (__pfnDliFailureHook2). A DLL that cannot be loaded
// is answered with the program's own module, in which no function is found, so that each of its
// functions comes back here for its stand-in. Never throws; null only for an unknown function.
FARPROC WINAPI OnDelayLoadFailure(unsigned notification, PDelayLoadInfo info) noexcept;

}  // namespace DelayLoad
