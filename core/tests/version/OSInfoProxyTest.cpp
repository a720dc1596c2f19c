#include "core/version/OSInfoProxy.h"
#include "core/version/OSVersion.h"
#include "core/version/SystemFileVersionInfo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace Fundor {
namespace {

using Proxy = internal::OSInfoProxy<WinOSVersionAPI>;

// A system as VerifyVersionInfoW would describe it. Answers only the single-field questions the
// classification asks, with the condition read back out of the condition mask.
class FakeVersionAPI : public WinOSVersionAPI {
public:
    DWORD platformId = VER_PLATFORM_WIN32_NT;
    DWORD minorVersion = 0;
    WORD servicePack = 0;

    BOOL VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, DWORDLONG conditionMask) override
    {
        EXPECT_EQ(sizeof(OSVERSIONINFOEXW), info->dwOSVersionInfoSize);
        switch (typeMask) {
        case VER_PLATFORMID:
            return Holds(platformId, info->dwPlatformId, ConditionAt(conditionMask, 3));
        case VER_MINORVERSION:
            return Holds(minorVersion, info->dwMinorVersion, ConditionAt(conditionMask, 0));
        case VER_SERVICEPACKMAJOR: {
            std::lock_guard lock(m_mutex);
            m_servicePackQueries.push_back(info->wServicePackMajor);
            return Holds(servicePack, info->wServicePackMajor, ConditionAt(conditionMask, 5));
        }
        default:
            ADD_FAILURE() << "unexpected type mask " << typeMask;
            return FALSE;
        }
    }

    std::vector<WORD> ServicePackQueries()
    {
        std::lock_guard lock(m_mutex);
        return m_servicePackQueries;
    }

private:
    // VerSetConditionMask keeps three bits per field, in the order of the field's type bit.
    static BYTE ConditionAt(DWORDLONG mask, int fieldIndex) { return static_cast<BYTE>((mask >> (fieldIndex * 3)) & 7); }

    static BOOL Holds(DWORD system, DWORD asked, BYTE condition)
    {
        switch (condition) {
        case VER_EQUAL: return system == asked;
        case VER_LESS: return system < asked;
        default:
            ADD_FAILURE() << "unexpected condition " << int(condition);
            return FALSE;
        }
    }

    std::mutex m_mutex;
    std::vector<WORD> m_servicePackQueries;
};

class FakeVersionSource : public internal::ProductVersionSource {
public:
    explicit FakeVersionSource(std::wstring text) : m_text(std::move(text)) {}

    std::wstring ReadProductVersion() override
    {
        ++reads;
        if (delayMs > 0) ::Sleep(delayMs);
        std::lock_guard lock(m_mutex);
        if (throwOnRead) throw std::runtime_error("version source broke");
        return m_text;
    }
    void Set(std::wstring text, bool throwing = false)
    {
        std::lock_guard lock(m_mutex);
        m_text = std::move(text);
        throwOnRead = throwing;
    }

    std::atomic<int> reads{0};
    DWORD delayMs = 0;

private:
    std::mutex m_mutex;
    std::wstring m_text;
    bool throwOnRead = false;
};

// Runs call on its own thread and gives up after a few seconds, so that a computation stuck in
// its "computing" state fails the test instead of hanging it.
template <typename Call>
auto WithinSeconds(Call call) -> decltype(call())
{
    using Result = decltype(call());
    auto promise = std::make_shared<std::promise<Result>>();
    std::future<Result> result = promise->get_future();
    std::thread([promise, call]() mutable { promise->set_value(call()); }).detach();
    if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ADD_FAILURE() << "the call did not return";
        return Result{};
    }
    return result.get();
}

struct NtCase {
    const wchar_t* productVersion;
    WORD installedServicePack;
    std::uint32_t osClass;
    std::uint32_t flag;
    WORD servicePack;
    std::vector<WORD> servicePackQueries;
    ProductVersionNumbers numbers;
};

TEST(OSInfoProxy, ClassifiesNtFromKernelProductVersionAndSearchesServicePacksDownwards)
{
    const std::vector<NtCase> cases = {
        {L"10.0.19041.1", 0, 11, 1, 0, {}, {10, 0, 19041, 1}},
        {L"6.1.7601", 1, 8, 1, 1, {1}, {6, 1, 7601, 0}},
        {L"6.1.7600", 0, 8, 1, 0, {1}, {6, 1, 7600, 0}},
        {L"6.0.6002", 2, 7, 1, 2, {2}, {6, 0, 6002, 0}},
        {L"6.0.6001", 1, 7, 1, 1, {2, 1}, {6, 0, 6001, 0}},
        {L"5.2.3790", 1, 6, 1, 1, {3, 2, 1}, {5, 2, 3790, 0}},
        {L"5.1.2600.5512", 3, 6, 1, 3, {3}, {5, 1, 2600, 5512}},
        {L"5.0.2195", 4, 4, 0, 4, {4}, {5, 0, 2195, 0}},
        {L"5.0.2195", 0, 4, 0, 0, {4, 3, 2, 1}, {5, 0, 2195, 0}},
        {L"4.0.1381", 6, 3, 0, 0, {}, {4, 0, 1381, 0}},
        {L"6.2.9200", 0, 9, 1, 0, {}, {6, 2, 9200, 0}},
        {L"6.3.9600", 0, 10, 1, 0, {}, {6, 3, 9600, 0}},
        {L"6.4", 0, 10, 1, 0, {}, {6, 4, 0, 0}},
        {L"10.0.22631.2.7.7", 0, 11, 1, 0, {}, {10, 0, 22631, 2}},
    };
    for (const NtCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.productVersion << " sp " << c.installedServicePack);
        auto api = std::make_shared<FakeVersionAPI>();
        api->servicePack = c.installedServicePack;
        auto source = std::make_shared<FakeVersionSource>(c.productVersion);
        Proxy proxy(api, source);

        EXPECT_EQ(c.osClass, proxy.GetOSClass());
        EXPECT_EQ(c.flag, proxy.GetOSSubValue());
        OSVersionRecord record;
        ASSERT_TRUE(proxy.GetRealVersion(record));
        EXPECT_EQ(c.numbers.major, record.major);
        EXPECT_EQ(c.numbers.minor, record.minor);
        EXPECT_EQ(c.servicePack, record.servicePackMajor);
        ProductVersionNumbers numbers;
        ASSERT_TRUE(proxy.GetVersionRecord(numbers));
        EXPECT_EQ(c.numbers.major, numbers.major);
        EXPECT_EQ(c.numbers.minor, numbers.minor);
        EXPECT_EQ(c.numbers.build, numbers.build);
        EXPECT_EQ(c.numbers.revision, numbers.revision);
        std::uint32_t osClass = 99, flag = 99;
        EXPECT_TRUE(internal::GetOSVersionFrom(proxy, osClass, flag));
        EXPECT_EQ(c.osClass, osClass);
        EXPECT_EQ(c.flag, flag);
        // Computed once: one read of the version and one service-pack search, however often asked.
        EXPECT_EQ(1, source->reads.load());
        EXPECT_EQ(c.servicePackQueries, api->ServicePackQueries());
        EXPECT_TRUE(proxy.IsWinNT());
    }
}

TEST(OSInfoProxy, UnknownMajorVersionIsClassTwelveAndTheFreeAnswerIsFalse)
{
    for (const wchar_t* text : {L"11.0", L"7.0.1", L"9.9", L"4294967295.0"}) {
        auto source = std::make_shared<FakeVersionSource>(text);
        Proxy proxy(std::make_shared<FakeVersionAPI>(), source);
        std::uint32_t osClass = 0, flag = 0;
        EXPECT_TRUE(proxy.GetOSVersion(osClass, flag));
        EXPECT_EQ(12u, osClass);
        EXPECT_EQ(1u, flag);
        OSVersionRecord record{77, 77, 77};
        EXPECT_FALSE(proxy.GetRealVersion(record));
        EXPECT_EQ(77u, record.major);
        ProductVersionNumbers numbers;
        EXPECT_TRUE(proxy.GetVersionRecord(numbers));
        osClass = flag = 99;
        EXPECT_FALSE(internal::GetOSVersionFrom(proxy, osClass, flag));
        EXPECT_EQ(0u, osClass);
        EXPECT_EQ(0u, flag);
    }
}

TEST(OSInfoProxy, UnreadableVersionIsNotComputedWithoutHangingAndALaterGoodVersionComputes)
{
    // "10..1" has an empty part; the last two do not fit in 32 bits.
    for (const wchar_t* garbage : {L"abc", L"", L"10..1", L".", L"10.", L"4294967296.0", L"6.99999999999999999999"}) {
        SCOPED_TRACE(testing::Message() << "\"" << garbage << "\"");
        auto source = std::make_shared<FakeVersionSource>(garbage);
        Proxy proxy(std::make_shared<FakeVersionAPI>(), source);

        EXPECT_EQ(0u, WithinSeconds([proxy]() mutable { return proxy.GetOSClass(); }));
        // A second call must find the state reset, not spin on "computing".
        EXPECT_EQ(2u, WithinSeconds([proxy]() mutable { return proxy.GetOSSubValue(); }));
        std::uint32_t osClass = 99, flag = 99;
        EXPECT_FALSE(proxy.GetOSVersion(osClass, flag));
        EXPECT_EQ(0u, osClass);
        EXPECT_EQ(2u, flag);
        ProductVersionNumbers numbers{5, 5, 5, 5};
        EXPECT_FALSE(proxy.GetVersionRecord(numbers));
        EXPECT_EQ(5u, numbers.major);
        EXPECT_EQ(4, source->reads.load());  // each failed call tried anew

        source->Set(L"10.0.19041.1");
        EXPECT_EQ(11u, WithinSeconds([proxy]() mutable { return proxy.GetOSClass(); }));
        EXPECT_EQ(1u, proxy.GetOSSubValue());
        EXPECT_EQ(5, source->reads.load());
    }

    // A source that throws something else is treated alike.
    auto source = std::make_shared<FakeVersionSource>(L"");
    source->Set(L"10.0", true);
    Proxy proxy(std::make_shared<FakeVersionAPI>(), source);
    EXPECT_EQ(0u, WithinSeconds([proxy]() mutable { return proxy.GetOSClass(); }));
    source->Set(L"6.1.7601");
    EXPECT_EQ(8u, WithinSeconds([proxy]() mutable { return proxy.GetOSClass(); }));
}

TEST(OSInfoProxy, Win9xMinorVersionIsFoundByItsSearchAndOtherPlatformsAreNotComputed)
{
    for (DWORD minor = 0; minor <= 103; ++minor) {
        auto api = std::make_shared<FakeVersionAPI>();
        api->platformId = VER_PLATFORM_WIN32_WINDOWS;
        api->minorVersion = minor;
        Proxy proxy(api, std::make_shared<FakeVersionSource>(L"4.10.2222"));
        const std::uint32_t expected = minor == 0 ? 1 : minor < 90 ? 2 : minor < 100 ? 5 : 12;
        ASSERT_EQ(expected, proxy.GetOSClass()) << "minor " << minor;
        if (expected != 12) {
            EXPECT_EQ(0u, proxy.GetOSSubValue());
            OSVersionRecord record;
            ASSERT_TRUE(proxy.GetRealVersion(record));
            EXPECT_EQ(4u, record.major);
            EXPECT_EQ(minor, record.minor) << "minor " << minor;
            EXPECT_EQ(0u, record.servicePackMajor);
        }
        EXPECT_TRUE(api->ServicePackQueries().empty());
        EXPECT_FALSE(proxy.IsWinNT());
    }
    // Beyond the search's reach, and platforms that are neither 9x nor NT.
    auto beyond = std::make_shared<FakeVersionAPI>();
    beyond->platformId = VER_PLATFORM_WIN32_WINDOWS;
    beyond->minorVersion = 104;
    EXPECT_EQ(0u, Proxy(beyond, std::make_shared<FakeVersionSource>(L"4.0")).GetOSClass());
    for (DWORD platform : {DWORD{VER_PLATFORM_WIN32s}, DWORD{3}}) {
        auto api = std::make_shared<FakeVersionAPI>();
        api->platformId = platform;
        Proxy proxy(api, std::make_shared<FakeVersionSource>(L"10.0"));
        EXPECT_EQ(0u, proxy.GetOSClass());
        EXPECT_EQ(2u, proxy.GetOSSubValue());
    }
}

TEST(OSInfoProxy, CopiesShareOneComputationAcrossThreads)
{
    auto api = std::make_shared<FakeVersionAPI>();
    api->servicePack = 1;
    auto source = std::make_shared<FakeVersionSource>(L"6.1.7601.17514");
    source->delayMs = 100;  // keeps the first caller computing while the others arrive
    const Proxy original(api, source);
    std::vector<std::future<std::uint32_t>> answers;
    for (int i = 0; i < 8; ++i) {
        answers.push_back(std::async(std::launch::async, [copy = original]() mutable { return copy.GetOSClass(); }));
    }
    for (auto& answer : answers) {
        EXPECT_EQ(8u, answer.get());
    }
    EXPECT_EQ(1, source->reads.load());
    EXPECT_EQ(std::vector<WORD>{1}, api->ServicePackQueries());
}

TEST(OSVersion, RealSystemIsClassifiedFromKernel32)
{
    std::uint32_t osClass = 0, flag = 99;
    ASSERT_TRUE(GetOSVersion(osClass, flag));
    EXPECT_GE(osClass, 1u);
    EXPECT_LE(osClass, 11u);
    EXPECT_EQ(osClass >= 6 ? 1u : 0u, flag);
    EXPECT_EQ(osClass, GetOSVersionClass());
    // This test program is 64-bit, so never a WoW64 process.
    EXPECT_FALSE(IsWow64());

    Proxy proxy;
    EXPECT_TRUE(proxy.IsWinNT());
    EXPECT_FALSE(proxy.IsWow64());
    ProductVersionNumbers numbers;
    ASSERT_TRUE(proxy.GetVersionRecord(numbers));
    SystemFileVersionInfo kernel;
    ASSERT_TRUE(kernel.Load(L"kernel32.dll"));
    ProductVersionNumbers expected;
    ASSERT_TRUE(internal::ParseProductVersion(kernel.QueryString(L"ProductVersion"), expected));
    EXPECT_EQ(expected.major, numbers.major);
    EXPECT_EQ(expected.minor, numbers.minor);
    EXPECT_EQ(expected.build, numbers.build);
    EXPECT_EQ(osClass, proxy.GetOSClass());
}

}  // namespace
}  // namespace Fundor
