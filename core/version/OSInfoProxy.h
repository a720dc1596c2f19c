#pragma once
// Which Windows generation the process runs on. The version numbers come from the System
// folder's kernel32.dll ("ProductVersion"), not from what Windows reports to the process (that
// depends on the program's manifest); VerifyVersionInfoW only supplies the platform and the
// service pack.
//
// OS classes: 1 Windows 9x minor 0, 2 9x minor 1-89, 5 9x minor 90-99, 3 NT below 5.0, 4 NT 5.0,
// 6 NT 5.x (x != 0), 7 NT 6.0, 8 NT 6.1, 9 NT 6.2, 10 NT 6.3 and other 6.x, 11 NT 10.x,
// 12 unknown (any other version). Generation flag: 0 for classes 1-5, 1 for 6-12, 2 while not
// computed.

#include "core/version/ProductVersionSource.h"
#include "core/version/WinOSVersionAPI.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace Fundor {

struct OSVersionRecord {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint16_t servicePackMajor = 0;
};

struct ProductVersionNumbers {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::uint32_t revision = 0;
};

namespace internal {

// Splits a version text at '.' (empty parts kept) and reads the first up to four parts as
// unsigned decimal numbers, as std::stoul does. Returns false for an empty text; throws
// std::invalid_argument for a part that is not a number (an empty one included) and
// std::out_of_range for one beyond 32 bits. numbers is touched only on success.
[[nodiscard]] bool ParseProductVersion(const std::wstring& text, ProductVersionNumbers& numbers);

// Copies of a proxy share one set of facts, computed once on first use and safe to compute from
// several threads. A failed computation (including a version text that is not a number) leaves
// the facts cleared, and the next call tries again.
template <typename VersionAPI>
class OSInfoProxy {
public:
    // Empty pointers are replaced by default objects (the real system calls).
    explicit OSInfoProxy(std::shared_ptr<VersionAPI> api = nullptr,
                         std::shared_ptr<ProductVersionSource> versionSource = nullptr);
    OSInfoProxy(const OSInfoProxy&) = default;
    OSInfoProxy& operator=(const OSInfoProxy&) = default;
    virtual ~OSInfoProxy();

    // OS class; 0 when it cannot be computed.
    [[nodiscard]] virtual std::uint32_t GetOSClass();
    // Generation flag; 2 when it cannot be computed.
    [[nodiscard]] virtual std::uint32_t GetOSSubValue();
    // {major, minor, service pack}; false (record untouched) when not computable or class 12.
    [[nodiscard]] virtual bool GetRealVersion(OSVersionRecord& record);
    // True with class and flag once computed; else false with 0 and 2.
    [[nodiscard]] virtual bool GetOSVersion(std::uint32_t& osClass, std::uint32_t& generationFlag);
    // The process is a 32-bit process on 64-bit Windows.
    [[nodiscard]] virtual bool IsWow64();
    // VerifyVersionInfoW says platform id 2 (VER_PLATFORM_WIN32_NT). Asked anew on each call.
    [[nodiscard]] virtual bool IsWinNT();
    // kernel32's product version; false (numbers untouched) when not computable.
    [[nodiscard]] virtual bool GetVersionRecord(ProductVersionNumbers& numbers);

    struct _Impl {
        // 0 not computed, 1 computing, 2 computed.
        std::atomic<std::uint32_t> onceState{0};
        std::uint32_t computed = 0;
        OSVersionRecord osRecord;
        ProductVersionNumbers realVersion;
        std::uint32_t osClass = 0;
        std::uint32_t generationFlag = 2;
    };

private:
    [[nodiscard]] bool EnsureComputed();
    [[nodiscard]] bool Compute(_Impl& facts);
    [[nodiscard]] bool PlatformIs(DWORD platformId);
    [[nodiscard]] bool FindWin9xMinor(std::uint32_t& minor);
    [[nodiscard]] std::uint16_t FindServicePack(std::uint16_t highest);

    std::shared_ptr<VersionAPI> m_api;
    std::shared_ptr<ProductVersionSource> m_versionSource;
    std::shared_ptr<_Impl> m_impl;
};

extern template class OSInfoProxy<WinOSVersionAPI>;

}  // namespace internal
}  // namespace Fundor
