#include "core/version/OSInfoProxy.h"

#include "core/version/OSVersion.h"

#include <climits>
#include <exception>
#include <stdexcept>
#include <thread>

namespace Fundor::internal {
namespace {

constexpr std::uint32_t kNotComputed = 0;
constexpr std::uint32_t kComputing = 1;
constexpr std::uint32_t kComputed = 2;

constexpr std::uint32_t kUnknownClass = 12;

struct NtClassification {
    std::uint32_t osClass;
    std::uint16_t servicePackSearchStart;  // 0: no search
};

NtClassification ClassifyNt(std::uint32_t major, std::uint32_t minor)
{
    if (major < 5) return {3, 0};
    if (major == 5) return minor == 0 ? NtClassification{4, 4} : NtClassification{6, 3};
    if (major == 6) {
        switch (minor) {
        case 0: return {7, 2};
        case 1: return {8, 1};
        case 2: return {9, 0};
        default: return {10, 0};
        }
    }
    if (major == 10) return {11, 0};
    return {kUnknownClass, 0};
}

std::uint32_t ClassifyWin9x(std::uint32_t minor)
{
    if (minor == 0) return 1;
    if (minor < 90) return 2;
    if (minor < 100) return 5;
    return kUnknownClass;
}

std::uint32_t GenerationFlagOf(std::uint32_t osClass) { return osClass >= 6 ? 1 : 0; }

OSVERSIONINFOEXW EmptyVersionInfo()
{
    OSVERSIONINFOEXW info = {};
    info.dwOSVersionInfoSize = sizeof(info);
    return info;
}

}  // namespace

bool ParseProductVersion(const std::wstring& text, ProductVersionNumbers& numbers)
{
    if (text.empty()) {
        return false;
    }
    std::uint32_t values[4] = {};
    std::size_t begin = 0;
    for (std::size_t index = 0; index < 4; ++index) {
        const std::size_t end = text.find(L'.', begin);
        const std::wstring part = text.substr(begin, end == std::wstring::npos ? std::wstring::npos : end - begin);
        const unsigned long value = std::stoul(part);
        if (value > UINT32_MAX) {
            throw std::out_of_range("version part beyond 32 bits");
        }
        values[index] = static_cast<std::uint32_t>(value);
        if (end == std::wstring::npos) {
            break;
        }
        begin = end + 1;
    }
    numbers = {values[0], values[1], values[2], values[3]};
    return true;
}

template <typename VersionAPI>
OSInfoProxy<VersionAPI>::OSInfoProxy(std::shared_ptr<VersionAPI> api,
                                     std::shared_ptr<ProductVersionSource> versionSource)
    : m_api(api ? std::move(api) : std::make_shared<VersionAPI>()),
      m_versionSource(versionSource ? std::move(versionSource) : std::make_shared<ProductVersionSource>()),
      m_impl(std::make_shared<_Impl>())
{
}

template <typename VersionAPI>
OSInfoProxy<VersionAPI>::~OSInfoProxy() = default;

template <typename VersionAPI>
bool OSInfoProxy<VersionAPI>::EnsureComputed()
{
    _Impl& facts = *m_impl;
    for (;;) {
        std::uint32_t state = kNotComputed;
        if (facts.onceState.compare_exchange_strong(state, kComputing, std::memory_order_acq_rel)) {
            // Whatever happens inside, the state must not stay at "computing": every other
            // caller would spin on it for good.
            struct StateReset {
                std::atomic<std::uint32_t>& state;
                bool committed = false;
                ~StateReset()
                {
                    if (!committed) state.store(kNotComputed, std::memory_order_release);
                }
            } reset{facts.onceState};
            bool computed = false;
            try {
                computed = Compute(facts);
            } catch (const std::exception&) {
                // A version text that is not a number, or no memory: not computable this time.
                computed = false;
            }
            if (computed) {
                facts.onceState.store(kComputed, std::memory_order_release);
                reset.committed = true;
            }
            return computed;
        }
        if (state == kComputed) {
            return facts.computed == 1;
        }
        // Another caller is computing; wait for its outcome (a failure lets this caller retry).
        std::this_thread::yield();
    }
}

template <typename VersionAPI>
bool OSInfoProxy<VersionAPI>::PlatformIs(DWORD platformId)
{
    OSVERSIONINFOEXW info = EmptyVersionInfo();
    info.dwPlatformId = platformId;
    return m_api->VerifyVersionInfoW(&info, VER_PLATFORMID, ::VerSetConditionMask(0, VER_PLATFORMID, VER_EQUAL)) !=
           FALSE;
}

template <typename VersionAPI>
bool OSInfoProxy<VersionAPI>::FindWin9xMinor(std::uint32_t& minor)
{
    auto minorTest = [this](std::uint32_t candidate, BYTE condition) {
        OSVERSIONINFOEXW info = EmptyVersionInfo();
        info.dwMinorVersion = candidate;
        return m_api->VerifyVersionInfoW(&info, VER_MINORVERSION,
                                         ::VerSetConditionMask(0, VER_MINORVERSION, condition)) != FALSE;
    };
    // The first multiple of 8 above the minor version, then a binary search inside that octet.
    std::uint32_t candidate = 8;
    while (!minorTest(candidate, VER_LESS)) {
        candidate += 8;
        if (candidate > 104) {
            return false;
        }
    }
    candidate -= 4;
    for (const std::uint32_t step : {2u, 1u}) {
        if (minorTest(candidate, VER_LESS)) {
            candidate -= step;
        } else {
            candidate += step;
        }
    }
    if (!minorTest(candidate, VER_EQUAL)) {
        candidate -= 1;
    }
    minor = candidate;
    return true;
}

template <typename VersionAPI>
std::uint16_t OSInfoProxy<VersionAPI>::FindServicePack(std::uint16_t highest)
{
    for (std::uint16_t servicePack = highest; servicePack >= 1; --servicePack) {
        OSVERSIONINFOEXW info = EmptyVersionInfo();
        info.wServicePackMajor = servicePack;
        if (m_api->VerifyVersionInfoW(&info, VER_SERVICEPACKMAJOR,
                                      ::VerSetConditionMask(0, VER_SERVICEPACKMAJOR, VER_EQUAL)) != FALSE) {
            return servicePack;
        }
    }
    return 0;
}

template <typename VersionAPI>
bool OSInfoProxy<VersionAPI>::Compute(_Impl& facts)
{
    ProductVersionNumbers real;
    if (!ParseProductVersion(m_versionSource->ReadProductVersion(), real)) {
        return false;
    }
    OSVersionRecord record;
    std::uint32_t osClass = 0;
    if (PlatformIs(VER_PLATFORM_WIN32_WINDOWS)) {
        std::uint32_t minor = 0;
        if (!FindWin9xMinor(minor)) {
            return false;
        }
        osClass = ClassifyWin9x(minor);
        record = {4, minor, 0};
    } else if (PlatformIs(VER_PLATFORM_WIN32_NT)) {
        const NtClassification classification = ClassifyNt(real.major, real.minor);
        osClass = classification.osClass;
        record = {real.major, real.minor, FindServicePack(classification.servicePackSearchStart)};
    } else {
        return false;
    }
    facts.realVersion = real;
    facts.osRecord = record;
    facts.osClass = osClass;
    facts.generationFlag = GenerationFlagOf(osClass);
    facts.computed = 1;
    return true;
}

template <typename VersionAPI>
std::uint32_t OSInfoProxy<VersionAPI>::GetOSClass()
{
    return EnsureComputed() ? m_impl->osClass : 0;
}

template <typename VersionAPI>
std::uint32_t OSInfoProxy<VersionAPI>::GetOSSubValue()
{
    return EnsureComputed() ? m_impl->generationFlag : 2;
}

template <typename VersionAPI>
bool OSInfoProxy<VersionAPI>::GetRealVersion(OSVersionRecord& record)
{
    if (!EnsureComputed() || m_impl->osClass == kUnknownClass) {
        return false;
    }
    record = m_impl->osRecord;
    return true;
}

template <typename VersionAPI>
bool OSInfoProxy<VersionAPI>::GetOSVersion(std::uint32_t& osClass, std::uint32_t& generationFlag)
{
    if (!EnsureComputed()) {
        osClass = 0;
        generationFlag = 2;
        return false;
    }
    osClass = m_impl->osClass;
    generationFlag = m_impl->generationFlag;
    return true;
}

template <typename VersionAPI>
bool OSInfoProxy<VersionAPI>::IsWow64()
{
    return ::Fundor::IsWow64();
}

template <typename VersionAPI>
bool OSInfoProxy<VersionAPI>::IsWinNT()
{
    return PlatformIs(VER_PLATFORM_WIN32_NT);
}

template <typename VersionAPI>
bool OSInfoProxy<VersionAPI>::GetVersionRecord(ProductVersionNumbers& numbers)
{
    if (!EnsureComputed()) {
        return false;
    }
    numbers = m_impl->realVersion;
    return true;
}

template class OSInfoProxy<WinOSVersionAPI>;

}  // namespace Fundor::internal
