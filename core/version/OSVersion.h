#pragma once
// Free functions over the operating-system classification of OSInfoProxy.h.

#include "core/version/OSInfoProxy.h"

#include <cstdint>

namespace Fundor {

// Classifies the running system with a fresh proxy over the real system calls (nothing is
// cached between calls). True with the OS class and generation flag; false with class 0 and
// flag 0 when the class cannot be computed or is 12 (unknown).
[[nodiscard]] bool GetOSVersion(std::uint32_t& osClass, std::uint32_t& generationFlag);

// The class of GetOSVersion; 0 when it answers false.
[[nodiscard]] std::uint32_t GetOSVersionClass();

// True only when IsWow64Process (looked up in kernel32 at run time) says the current process is
// a 32-bit process on 64-bit Windows; false when it is missing or fails.
[[nodiscard]] bool IsWow64();

namespace internal {
// GetOSVersion over a given proxy.
[[nodiscard]] bool GetOSVersionFrom(OSInfoProxy<WinOSVersionAPI>& proxy, std::uint32_t& osClass,
                                    std::uint32_t& generationFlag);
}  // namespace internal

}  // namespace Fundor
