#include "core/version/OSVersion.h"

namespace Fundor {

namespace internal {

bool GetOSVersionFrom(OSInfoProxy<WinOSVersionAPI>& proxy, std::uint32_t& osClass, std::uint32_t& generationFlag)
{
    std::uint32_t computedClass = 0;
    std::uint32_t computedFlag = 2;
    if (!proxy.GetOSVersion(computedClass, computedFlag) || computedClass == 12) {
        osClass = 0;
        generationFlag = 0;
        return false;
    }
    osClass = computedClass;
    generationFlag = computedFlag == 2 ? 0 : computedFlag;
    return true;
}

}  // namespace internal

bool GetOSVersion(std::uint32_t& osClass, std::uint32_t& generationFlag)
{
    internal::OSInfoProxy<WinOSVersionAPI> proxy;
    return internal::GetOSVersionFrom(proxy, osClass, generationFlag);
}

std::uint32_t GetOSVersionClass()
{
    std::uint32_t osClass = 0;
    std::uint32_t generationFlag = 0;
    return GetOSVersion(osClass, generationFlag) ? osClass : 0;
}

bool IsWow64()
{
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32");
    if (kernel == nullptr) {
        return false;
    }
    auto isWow64Process =
        reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(::GetProcAddress(kernel, "IsWow64Process")));
    if (isWow64Process == nullptr) {
        return false;
    }
    BOOL wow64 = FALSE;
    const bool called = isWow64Process(::GetCurrentProcess(), &wow64) != FALSE;
    return called && wow64 == TRUE;
}

}  // namespace Fundor
