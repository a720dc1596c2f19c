// Change callbacks and the worker that tells them.

#include "pageobjects/tests/net/NetTestSupport.h"

#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/EnvironmentBlock.h"
#include "core/testsupport/ProgramFolder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
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

// Runs one disabled test of this program in a child process, so that a deadlock there fails the
// test instead of hanging it. The child learns the name of an event that it sets when it got to
// its end from KV_NET_CHILD_EVENT, and a free-form argument from KV_NET_CHILD_ARGUMENT.
struct ChildRun {
    bool ended = false;       // started and ended within the bound (else it was killed)
    DWORD exitCode = 0xFFFF;  // the child's gtest result
    bool reachedEnd = false;  // the child test ran to its last line
};

ChildRun RunChildTest(const char* testName, const std::string& argument, DWORD boundMs)
{
    ChildRun run;
    const auto wide = [](const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); };
    const std::wstring eventName = Fundor::testing::UniqueName(L"NetChildDone");
    Fundor::ScopedHandle done(::CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    if (!done) {
        return run;
    }
    const std::optional<DWORD> exitCode = Fundor::testing::RunProgram(
        Fundor::testing::ThisProgramPath(), Fundor::testing::SingleTestArguments(wide(testName)), boundMs,
        {.environment = Fundor::testing::EnvironmentBlock(
             {{L"KV_NET_CHILD_EVENT", eventName}, {L"KV_NET_CHILD_ARGUMENT", wide(argument)}})});
    run.ended = exitCode.has_value();
    run.exitCode = exitCode.value_or(run.exitCode);
    run.reachedEnd = ::WaitForSingleObject(done.get(), 0) == WAIT_OBJECT_0;
    return run;
}

// In a child started by RunChildTest: the argument, or null when run any other way.
const char* ChildArgument()
{
    static std::string argument;
    const char* value = std::getenv("KV_NET_CHILD_ARGUMENT");
    if (value == nullptr || std::getenv("KV_NET_CHILD_EVENT") == nullptr) {
        return nullptr;
    }
    argument = value;
    return argument.c_str();
}

void ReportChildEnd()
{
    Fundor::ScopedHandle done(::OpenEventA(EVENT_MODIFY_STATE, FALSE, std::getenv("KV_NET_CHILD_EVENT")));
    if (done) {
        ::SetEvent(done.get());
    }
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

// Told once per test of the connection, and registers itself again each time while asked to.
struct RegisteringAgain {
    KvPlatformNet* net = nullptr;
    std::atomic<bool> keepGoing{true};
    std::atomic<int> told{0};
    std::atomic<int> failures{0};
};

void RegisterAgain(void* context)
{
    auto* again = static_cast<RegisteringAgain*>(context);
    ++again->told;
    if (again->keepGoing) {
        again->failures += again->net->RegisterNetCallback(nullptr, &RegisterAgain, again, nullptr) != 0;
    }
}

TEST_F(NetTest, DISABLED_CallbackRegisteringAgainAmongRegisteringThreads)
{
    if (ChildArgument() == nullptr) {
        GTEST_SKIP() << "run by ACallbackThatRegistersAgainWhileEightThreadsRegisterReturns";
    }
    KvPlatformNetSettings settings = TestSettings(nettest::MakeFakeNetwork());
    settings.pollIntervalMs = 1;
    KvPlatformNet net(settings);
    Fake().table = Table::LoopbackOnly;  // each test answers "not connected" at once
    RegisteringAgain again;
    again.net = &net;
    ASSERT_EQ(net.RegisterNetCallback(nullptr, &RegisterAgain, &again, nullptr), 0u);

    // The threads' entries wait for "connected", which never comes: they stay until removed, and
    // the map empties now and then, so that workers are stopped and started meanwhile.
    Calls calls;
    std::atomic<int> failures{0};
    std::atomic<int> rounds{0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            while (again.told < 200 && std::chrono::steady_clock::now() < deadline) {
                DWORD cookies[4] = {};
                for (DWORD& cookie : cookies) {
                    failures += net.RegisterNetCallback(&OnConnected, nullptr, &calls, &cookie) != 0;
                }
                for (const DWORD cookie : cookies) {
                    failures += net.UnregisterNetCallback(cookie) != 0;
                }
                ++rounds;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_GE(again.told, 200);
    EXPECT_GE(rounds, 8);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(again.failures, 0);
    again.keepGoing = false;
    EXPECT_TRUE(WaitFor([&] { return net.CallbackCount() == 0 && !net.HasWorkerThread(); }));
    EXPECT_EQ(calls.connected, 0);
    ReportChildEnd();
}

TEST(KvPlatformNetProcess, ACallbackThatRegistersAgainWhileEightThreadsRegisterReturns)
{
    const ChildRun run = RunChildTest("NetTest.DISABLED_CallbackRegisteringAgainAmongRegisteringThreads", "run", 90000);
    EXPECT_TRUE(run.ended) << "still running after 90 s: the registrations deadlocked";
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_TRUE(run.reachedEnd);
}

// The worker goes away while a registration is under way, or before it; the registration must
// still end with a worker that tells its entry.
enum class WorkerGoes { StopsItselfWithTheMapEmptied, EndedByTheExitEventFromOutside };
struct WorkerGoesCase {
    WorkerGoes way;
    const char* label;
};

TEST_F(NetTest, DISABLED_SetTheExitEventOfAnotherProcess)
{
    const char* name = ChildArgument();
    if (name == nullptr) {
        GTEST_SKIP() << "run by ARegistrationAcceptedWhileTheWorkerGoesAwayIsTold";
    }
    Fundor::ScopedHandle event(::OpenEventA(EVENT_MODIFY_STATE, FALSE, name));
    ASSERT_TRUE(event.valid()) << ::GetLastError();
    ASSERT_NE(::SetEvent(event.get()), FALSE);
    ReportChildEnd();
}

// Holds the worker inside its LAN test once, when closed, so that the next answer is decided by
// what the table is set to after the gate opens.
struct LanGate {
    std::atomic<bool> closed{false};
    Fundor::ScopedHandle reached{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    Fundor::ScopedHandle opened{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

LanGate& Gate()
{
    static LanGate gate;
    return gate;
}

DWORD WINAPI GatedGetIpAddrTable(PMIB_IPADDRTABLE table, PULONG size, BOOL sorted)
{
    if (table == nullptr && Gate().closed.exchange(false)) {
        ::SetEvent(Gate().reached.get());
        ::WaitForSingleObject(Gate().opened.get(), 10000);
    }
    return nettest::FakeGetIpAddrTable(table, size, sorted);
}

TEST_F(NetTest, ARegistrationAcceptedWhileTheWorkerGoesAwayIsTold)
{
    const WorkerGoesCase cases[] = {
        {WorkerGoes::StopsItselfWithTheMapEmptied, "the worker empties the map and stops itself meanwhile"},
        {WorkerGoes::EndedByTheExitEventFromOutside, "another process set the worker's exit event before"},
    };
    for (const auto& [way, label] : cases) {
        SCOPED_TRACE(label);
        Fake().table = Table::Fails;  // no answer yet: nobody is told
        ::ResetEvent(Gate().reached.get());
        ::ResetEvent(Gate().opened.get());
        Calls first;
        Calls second;
        std::atomic<bool> armed{false};
        std::atomic<DWORD> worker{0};
        Fundor::ScopedHandle visitedAfterFirst(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        auto binding = nettest::MakeFakeNetwork();
        binding->Override("GetIpAddrTable", &GatedGetIpAddrTable);
        KvPlatformNetSettings settings = TestSettings(binding);
        settings.stepHook = [&](KvNetStep step) {
            if (step == KvNetStep::WorkerBeforeStopDecision && first.disconnected == 1) {
                ::SetEvent(visitedAfterFirst.get());
            }
            if (step != KvNetStep::RegistrationWorkerDecided || !armed.exchange(false)) {
                return;
            }
            // The registration has settled its worker. The gated worker now finds the LAN gone,
            // tells the first entry, which empties the map, and is given time to end before the
            // second entry is added.
            Fake().table = Table::LoopbackOnly;
            ::SetEvent(Gate().opened.get());
            ::WaitForSingleObject(visitedAfterFirst.get(), 10000);
            Fundor::ScopedHandle thread(::OpenThread(SYNCHRONIZE, FALSE, worker));
            if (thread) {
                ::WaitForSingleObject(thread.get(), 2000);
            }
        };
        KvPlatformNet net(settings);
        ASSERT_EQ(net.RegisterNetCallback(nullptr, &OnDisconnected, &first, nullptr), 0u);
        worker = net.WorkerThreadId();

        if (way == WorkerGoes::EndedByTheExitEventFromOutside) {
            const ChildRun run = RunChildTest("NetTest.DISABLED_SetTheExitEventOfAnotherProcess",
                                              net.ExitEventName(), 60000);
            ASSERT_TRUE(run.reachedEnd);
            ASSERT_TRUE(ThreadHasEnded(worker));
            Fake().table = Table::LoopbackOnly;
        } else {
            Gate().closed = true;
            ASSERT_EQ(::WaitForSingleObject(Gate().reached.get(), 10000), WAIT_OBJECT_0);
            armed = true;
        }
        ASSERT_EQ(net.RegisterNetCallback(nullptr, &OnDisconnected, &second, nullptr), 0u);
        EXPECT_TRUE(WaitFor([&] { return second.disconnected == 1; }));
        EXPECT_EQ(first.disconnected, 1);
        EXPECT_TRUE(WaitFor([&] { return !net.HasWorkerThread(); }));
        EXPECT_EQ(net.CallbackCount(), 0u);
    }
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
