// Change callbacks and the worker that tells them.

#include "NetTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>
#include <vector>

namespace {

using nettest::Address;
using nettest::Fake;
using nettest::NetTest;
using nettest::Table;
using nettest::TestSettings;

struct Calls {
    std::atomic<int> connected{0};
    std::atomic<int> disconnected{0};
};

void OnConnected(void* context) { ++static_cast<Calls*>(context)->connected; }
void OnDisconnected(void* context) { ++static_cast<Calls*>(context)->disconnected; }

template <typename Condition>
bool WaitFor(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        ::Sleep(10);
    }
    return true;
}

bool ThreadHasEnded(DWORD threadId)
{
    HANDLE thread = ::OpenThread(SYNCHRONIZE, FALSE, threadId);
    if (thread == nullptr) {
        return true;
    }
    const bool ended = ::WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0;
    ::CloseHandle(thread);
    return ended;
}

TEST_F(NetTest, EachEntryIsToldOnceForItsFirstChangeAndTheWorkerEndsWithTheLast)
{
    KvPlatformNet net(TestSettings(nettest::MakeFakeNetwork()));
    Fake().resolvedAddress = Address("127.0.0.2");
    Fake().connectResult = 0;  // connected through the keep-alive server
    Calls onlyConnected;
    Calls onlyDisconnected;
    Calls both;
    DWORD cookies[3] = {};
    ASSERT_EQ(net.RegisterNetCallback(&OnConnected, nullptr, &onlyConnected, &cookies[0]), 0u);
    const DWORD worker = net.WorkerThreadId();
    EXPECT_NE(worker, 0u);
    ASSERT_EQ(net.RegisterNetCallback(nullptr, &OnDisconnected, &onlyDisconnected, &cookies[1]), 0u);
    ASSERT_EQ(net.RegisterNetCallback(&OnConnected, &OnDisconnected, &both, &cookies[2]), 0u);

    ASSERT_TRUE(WaitFor([&] { return onlyConnected.connected == 1 && both.connected == 1; }));
    // The entry with no function for "connected" stays; the told ones are gone.
    EXPECT_TRUE(WaitFor([&] { return net.CallbackCount() == 1; }));
    EXPECT_EQ(net.UnregisterNetCallback(cookies[0]), kNetMapUnknownCookie);
    EXPECT_TRUE(net.HasWorkerThread());

    Fake().connectResult = -1;
    Fake().table = Table::LoopbackOnly;
    ASSERT_TRUE(WaitFor([&] { return onlyDisconnected.disconnected == 1; }));
    // The worker stopped itself with the map empty, and gave up its handle.
    EXPECT_TRUE(WaitFor([&] { return !net.HasWorkerThread(); }));
    EXPECT_TRUE(ThreadHasEnded(worker));
    ::Sleep(200);
    EXPECT_EQ(onlyConnected.connected, 1);
    EXPECT_EQ(both.connected, 1);
    EXPECT_EQ(both.disconnected, 0);
    EXPECT_EQ(onlyDisconnected.connected, 0);
    EXPECT_EQ(net.CallbackCount(), 0u);

}

TEST_F(NetTest, TheFirstRegistrationStartsTheWorkerAndRemovingTheLastStopsIt)
{
    KvPlatformNet net(TestSettings(nettest::MakeFakeNetwork()));
    Fake().table = Table::Fails;  // no answer, so nobody is told and entries stay
    Calls calls;
    DWORD first = 0;
    DWORD second = 0;
    EXPECT_FALSE(net.HasWorkerThread());
    ASSERT_EQ(net.RegisterNetCallback(&OnConnected, nullptr, &calls, &first), 0u);
    const DWORD worker = net.WorkerThreadId();
    ASSERT_TRUE(net.HasWorkerThread());
    ASSERT_EQ(net.RegisterNetCallback(&OnConnected, nullptr, &calls, &second), 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(net.WorkerThreadId(), worker);
    EXPECT_EQ(net.UnregisterNetCallback(first), 0u);
    EXPECT_TRUE(net.HasWorkerThread());
    EXPECT_EQ(net.UnregisterNetCallback(second), 0u);
    EXPECT_FALSE(net.HasWorkerThread());
    EXPECT_TRUE(ThreadHasEnded(worker));
    EXPECT_EQ(net.UnregisterNetCallback(second), kNetMapUnknownCookie);
    EXPECT_EQ(calls.connected, 0);
    // Uninitialising with entries registered stops the worker as well.
    ASSERT_EQ(net.RegisterNetCallback(&OnConnected, nullptr, &calls, &first), 0u);
    const DWORD next = net.WorkerThreadId();
    EXPECT_EQ(net.Uninitialize(), 0u);
    EXPECT_FALSE(net.HasWorkerThread());
    EXPECT_TRUE(ThreadHasEnded(next));
}

TEST_F(NetTest, EightThreadsRegisteringAndRemovingAtOnceLoseNoEntry)
{
    KvPlatformNet net(TestSettings(nettest::MakeFakeNetwork()));
    Fake().table = Table::Fails;
    Calls calls;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int round = 0; round < 5; ++round) {
                DWORD cookies[4] = {};
                for (DWORD& cookie : cookies) {
                    failures += net.RegisterNetCallback(&OnConnected, nullptr, &calls, &cookie) != 0;
                }
                for (const DWORD cookie : cookies) {
                    failures += net.UnregisterNetCallback(cookie) != 0;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(net.CallbackCount(), 0u);
    EXPECT_FALSE(net.HasWorkerThread());
}

TEST_F(NetTest, ACookieAlreadyInUseIsDrawnAgain)
{
    KvPlatformNetSettings settings = TestSettings(nettest::MakeFakeNetwork());
    // 50 + n and 49 + (n + 1) collide whatever the counter n is.
    auto draws = std::make_shared<std::vector<DWORD>>(std::vector<DWORD>{50, 49, 700});
    settings.cookieSource = [draws] {
        const DWORD value = draws->front();
        draws->erase(draws->begin());
        return value;
    };
    KvPlatformNet net(settings);
    Calls calls;
    DWORD first = 0;
    DWORD second = 0;
    ASSERT_EQ(net.RegisterCallback(&OnConnected, nullptr, &calls, &first), 0u);
    ASSERT_EQ(net.RegisterCallback(&OnConnected, nullptr, &calls, &second), 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(net.CallbackCount(), 2u);
    EXPECT_EQ(net.UnregisterCallback(first), 0u);
    EXPECT_EQ(net.UnregisterCallback(second), 0u);
    EXPECT_TRUE(draws->empty());
}

}  // namespace
