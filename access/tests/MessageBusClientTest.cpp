#include "access/message/MessageBusClient.h"
#include "access/tests/BusTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

using namespace BusTesting;
using Velmo::CreateMessage;
using Velmo::Message;
using Velmo::MessageBusClient;
using Velmo::MessageHeader;

namespace {

using namespace std::chrono_literals;

struct ClientWithFake {
    explicit ClientWithFake(bool sessionKnown = true, DWORD session = 0)
    {
        auto transport = std::make_shared<FakeTransport>();
        fake = transport.get();
        process = std::make_shared<FakeProcessAPI>(sessionKnown, session);
        client = std::make_unique<MessageBusClient>(std::move(transport), process);
    }
    FakeTransport* fake = nullptr;  // owned by the client
    std::shared_ptr<FakeProcessAPI> process;
    std::unique_ptr<MessageBusClient> client;
};

MessageHeader HeaderWithSession(std::uint32_t session)
{
    MessageHeader header = Velmo::MessageHeaderTemplate();
    header.trailer.senderSessionId = session;
    return header;
}

TEST(MessageBusClient, PublishingAReplyAlsoPublishesAnOrdinaryCopy)
{
    ClientWithFake bus;
    auto reply = CreateMessage(L"Reply.Name", L"S", L"D");
    reply->setHeaderFlag(0);
    reply->getHeader()->replyIndex = 7;
    ASSERT_EQ(0u, bus.client->publish(reply));
    ASSERT_EQ(2u, bus.fake->published.size());
    // Fields of the packed header are compared as copies: a reference to one may be misaligned.
    EXPECT_EQ(0x11u, std::uint32_t{bus.fake->published[0].header.flags});
    EXPECT_EQ(7u, std::uint32_t{bus.fake->published[0].header.replyIndex});
    EXPECT_EQ(0x10u, std::uint32_t{bus.fake->published[1].header.flags});
    EXPECT_EQ(0u, std::uint32_t{bus.fake->published[1].header.replyIndex});
    EXPECT_EQ(L"Reply.Name", bus.fake->published[1].name);
    EXPECT_EQ(0u, bus.fake->published[1].flag);

    // Bit 3 asks for the reply alone; bit 4 says the copy was already made.
    for (unsigned preset : {3u, 4u}) {
        bus.fake->published.clear();
        auto once = CreateMessage(L"Reply.Name", L"S", L"D");
        once->setHeaderFlag(0);
        once->setHeaderFlag(preset);
        once->getHeader()->replyIndex = 9;
        ASSERT_EQ(0u, bus.client->publishEx(once));
        ASSERT_EQ(1u, bus.fake->published.size()) << preset;
        EXPECT_EQ(1u | (1u << preset), std::uint32_t{bus.fake->published[0].header.flags});
        EXPECT_EQ(9u, std::uint32_t{bus.fake->published[0].header.replyIndex});
        EXPECT_EQ(1u, bus.fake->published[0].flag);
    }

    // An ordinary message goes once, unchanged.
    bus.fake->published.clear();
    ASSERT_EQ(0u, bus.client->publish(CreateMessage(L"Plain", L"S", L"")));
    ASSERT_EQ(1u, bus.fake->published.size());
    EXPECT_EQ(0u, std::uint32_t{bus.fake->published[0].header.flags});

    EXPECT_EQ(0x80000008u, bus.client->publish(nullptr));
}

TEST(MessageBusClient, PublishFailuresAreReportedAndLeaveTheMessageRepublishable)
{
    ClientWithFake bus;
    auto reply = CreateMessage(L"Reply.Name", L"S", L"D");
    reply->setHeaderFlag(0);
    reply->getHeader()->replyIndex = 5;
    bus.fake->publishResults = {0x80000002u};
    EXPECT_EQ(0x80000002u, bus.client->publish(reply));
    ASSERT_EQ(1u, bus.fake->published.size());
    EXPECT_EQ(0x1u, std::uint32_t{reply->getHeader()->flags});
    EXPECT_EQ(5u, std::uint32_t{reply->getHeader()->replyIndex});

    // Published again it still makes its copy; a failing copy does not fail the publish.
    bus.fake->published.clear();
    bus.fake->publishResults = {0u, 0x8000000Eu};
    EXPECT_EQ(0u, bus.client->publish(reply));
    ASSERT_EQ(2u, bus.fake->published.size());
    EXPECT_EQ(0x11u, std::uint32_t{bus.fake->published[0].header.flags});
    EXPECT_EQ(0x10u, std::uint32_t{bus.fake->published[1].header.flags});
}

TEST(MessageBusClient, SessionSubscriptionsDropOnlyOtherKnownSessions)
{
    ClientWithFake bus(true, 1);
    EXPECT_EQ(4242u, bus.process->askedFor);
    EXPECT_EQ(1u, bus.client->sessionId());
    int calls = 0;
    ASSERT_EQ(0u, bus.client->subscribeSessionAll(L"UiContainer.Destroyed", [&](std::shared_ptr<Message>) {
        ++calls;
        return 7ul;
    }));
    ASSERT_EQ(0u, bus.client->subscribeFilterSessionAll(L"Ui.*", [&](std::shared_ptr<Message>) {
        ++calls;
        return 8ul;
    }));
    const std::uint32_t exact = 100;
    const std::uint32_t pattern = 101;

    const MessageHeader other = HeaderWithSession(2);
    EXPECT_EQ(0u, bus.fake->deliver(exact, &other, L"UiContainer.Destroyed", L"S", L""));
    EXPECT_EQ(0u, bus.fake->deliver(pattern, &other, L"UiContainer.Destroyed", L"S", L""));
    EXPECT_EQ(0, calls);

    const MessageHeader own = HeaderWithSession(1);
    const MessageHeader unknown = HeaderWithSession(0);
    EXPECT_EQ(7u, bus.fake->deliver(exact, &own, L"UiContainer.Destroyed", L"S", L""));
    EXPECT_EQ(7u, bus.fake->deliver(exact, &unknown, L"UiContainer.Destroyed", L"S", L""));
    EXPECT_EQ(8u, bus.fake->deliver(pattern, &unknown, L"UiContainer.Destroyed", L"S", L""));
    EXPECT_EQ(3, calls);

    // A version-1 header has no trailer until it is upgraded (with session 0): it passes.
    unsigned char v1[100] = {};
    v1[0] = 1;
    v1[10] = 1;
    EXPECT_EQ(7u, bus.fake->deliver(exact, reinterpret_cast<const MessageHeader*>(v1), L"UiContainer.Destroyed", L"S", L""));
    EXPECT_EQ(4, calls);

    // A client in session 0 filters nothing; an unknown session counts as 0.
    for (bool known : {true, false}) {
        ClientWithFake unfiltered(known, 0);
        EXPECT_EQ(0u, unfiltered.client->sessionId());
        int seen = 0;
        ASSERT_EQ(0u, unfiltered.client->subscribeSession(L"N", L"alias", [&](std::shared_ptr<Message>) {
            ++seen;
            return 1ul;
        }));
        EXPECT_EQ(1u, unfiltered.fake->deliver(100, &other, L"N", L"S", L""));
        EXPECT_EQ(1, seen);
    }
    ClientWithFake unreadable(false, 3);
    EXPECT_EQ(0u, unreadable.client->sessionId());
}

TEST(MessageBusClient, SubscribeDeliversAndUnsubscribeRemovesTheWholeAlias)
{
    ClientWithFake bus;
    std::shared_ptr<Message> received;
    ASSERT_EQ(0u, bus.client->subscribe(L"Nbr.Uninstall.Start", L"group", [&](std::shared_ptr<Message> message) {
        received = message;
        return 0ul;
    }));
    ASSERT_EQ(0u, bus.client->subscribe(L"Other.Name", L"group", [](std::shared_ptr<Message>) { return 0ul; }));
    ASSERT_EQ(0u, bus.client->subscribeAll(L"Third.Name", [](std::shared_ptr<Message>) { return 0ul; }));
    ASSERT_EQ(3u, bus.fake->subscribeCalls.size());
    EXPECT_EQ(L"Nbr.Uninstall.Start", bus.fake->subscribeCalls[0].text);
    EXPECT_FALSE(bus.fake->subscribeCalls[0].pattern);

    MessageHeader header = HeaderWithSession(4);
    header.flags = 0x40;
    EXPECT_EQ(0u, bus.fake->deliver(100, &header, L"Nbr.Uninstall.Start", L"Sender.exe", L"payload"));
    ASSERT_TRUE(received);
    EXPECT_EQ(L"Nbr.Uninstall.Start", received->getName());
    EXPECT_EQ(L"Sender.exe", received->getSource());
    EXPECT_EQ(L"payload", received->getData());
    EXPECT_EQ(0x40u, std::uint32_t{received->getHeader()->flags});
    EXPECT_EQ(4u, received->getSessionTrailer(2)->senderSessionId);

    // Null texts from the DLL arrive as empty ones; an empty source as the program's name.
    received.reset();
    EXPECT_EQ(0u, bus.fake->deliver(100, nullptr, L"Nbr.Uninstall.Start", nullptr, nullptr));
    ASSERT_TRUE(received);
    EXPECT_EQ(L"access_tests.exe", received->getSource());
    EXPECT_EQ(L"", received->getData());
    EXPECT_EQ(2u * (19 + 16) + 114, std::uint32_t{received->getHeader()->totalSize});

    EXPECT_EQ(0u, bus.client->unsubscribe(L"group"));
    EXPECT_EQ((std::vector<std::uint32_t>{100, 101}), bus.fake->unsubscribed);
    EXPECT_EQ(0u, bus.client->unsubscribe(L"group"));  // unknown now: nothing reaches the bus
    EXPECT_EQ(2u, bus.fake->unsubscribed.size());
    EXPECT_EQ(0u, bus.client->unsubscribe(L"Third.Name"));
    EXPECT_EQ((std::vector<std::uint32_t>{100, 101, 102}), bus.fake->unsubscribed);

    EXPECT_EQ(0x80000008u, bus.client->subscribe(L"N", L"a", nullptr));
    EXPECT_EQ(3u, bus.fake->subscribeCalls.size());
}

TEST(MessageBusClient, FailedSubscribeLeavesNoAliasEntry)
{
    ClientWithFake bus;
    bus.fake->failSubscribe = true;
    EXPECT_EQ(0x80000002u, bus.client->subscribe(L"N", L"alias", [](std::shared_ptr<Message>) { return 0ul; }));
    EXPECT_EQ(0x80000002u, bus.client->subscribeFilter(L"N.*", L"alias", [](std::shared_ptr<Message>) { return 0ul; }));
    EXPECT_FALSE(bus.client->hasAlias(L"alias"));
    EXPECT_EQ(0u, bus.client->unsubscribe(L"alias"));
    EXPECT_TRUE(bus.fake->unsubscribed.empty());

    // Under an alias that already holds a subscription, the failed one leaves that one alone.
    bus.fake->failSubscribe = false;
    ASSERT_EQ(0u, bus.client->subscribe(L"N", L"alias", [](std::shared_ptr<Message>) { return 0ul; }));
    bus.fake->failSubscribe = true;
    EXPECT_EQ(0x80000002u, bus.client->subscribe(L"M", L"alias", [](std::shared_ptr<Message>) { return 0ul; }));
    EXPECT_TRUE(bus.client->hasAlias(L"alias"));
    EXPECT_EQ(0u, bus.client->unsubscribe(L"alias"));
    EXPECT_EQ((std::vector<std::uint32_t>{100}), bus.fake->unsubscribed);
    EXPECT_FALSE(bus.client->hasAlias(L"alias"));
}

TEST(MessageBusClient, PatternSubscriptionsCompileFirst)
{
    ClientWithFake bus;
    for (const wchar_t* invalid : {L"([", L"a{2,1}", L"*x"}) {
        EXPECT_EQ(0x80000008u, bus.client->subscribeFilter(invalid, L"alias", [](std::shared_ptr<Message>) { return 0ul; }))
            << invalid;
        EXPECT_EQ(0x80000008u, bus.client->subscribeFilterSessionAll(invalid, [](std::shared_ptr<Message>) { return 0ul; }));
    }
    EXPECT_TRUE(bus.fake->subscribeCalls.empty());
    EXPECT_FALSE(bus.client->hasAlias(L"alias"));
    EXPECT_TRUE(bus.fake->unsubscribed.empty());

    ASSERT_EQ(0u, bus.client->subscribeFilterAll(L"Nbr\\..*", [](std::shared_ptr<Message>) { return 3ul; }));
    ASSERT_EQ(1u, bus.fake->subscribeCalls.size());
    EXPECT_EQ(L"Nbr\\..*", bus.fake->subscribeCalls[0].text);
    EXPECT_TRUE(bus.fake->subscribeCalls[0].pattern);
    EXPECT_EQ(3u, bus.fake->deliver(100, nullptr, L"Nbr.Anything", L"S", L""));
    EXPECT_EQ(0u, bus.client->unsubscribe(L"Nbr\\..*"));
    EXPECT_EQ((std::vector<std::uint32_t>{100}), bus.fake->unsubscribed);
}

TEST(MessageBusClient, ThrowingSubscriberIsAnsweredWithUnknownException)
{
    ClientWithFake bus;
    ASSERT_EQ(0u, bus.client->subscribeAll(L"Throws", [](std::shared_ptr<Message>) -> unsigned long {
        throw std::runtime_error("subscriber failed");
    }));
    ASSERT_EQ(0u, bus.client->subscribeAll(L"ThrowsInt", [](std::shared_ptr<Message>) -> unsigned long { throw 5; }));
    EXPECT_EQ(0x8000000Fu, bus.fake->deliver(100, nullptr, L"Throws", L"S", L""));
    EXPECT_EQ(0x8000000Fu, bus.fake->deliver(101, nullptr, L"ThrowsInt", L"S", L""));
    EXPECT_EQ(0x80000008u, Velmo::MessageBusShimImpl::DeliverMessage(nullptr, nullptr, L"N", L"S", L""));
    // The client still works after it.
    EXPECT_EQ(0u, bus.client->publish(CreateMessage(L"After", L"S", L"")));
}

TEST(MessageBusClient, RequestWithoutReplyEndsAfterItsTimeout)
{
    ClientWithFake bus;
    std::unique_ptr<Velmo::Reply> reply;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(0u, bus.client->request(CreateMessage(L"Ask", L"S", L""), reply, 0ms));
    ASSERT_TRUE(reply);
    ASSERT_EQ(1u, bus.fake->requests.size());
    EXPECT_EQ(0u, bus.fake->requests[0].flag);
    EXPECT_EQ(0, bus.fake->requests[0].timeout.count());
    EXPECT_EQ(1u, reply->getStatus());
    EXPECT_EQ(1u, reply->waitFor(50ms));  // still pending
    EXPECT_EQ(2u, reply->status());
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    EXPECT_GE(waited.count(), 900);
    EXPECT_LT(waited.count(), 3000);
    EXPECT_EQ(2u, reply->getStatus());
    EXPECT_EQ(nullptr, reply->getMessage());
    EXPECT_EQ(2u, reply->status());  // no second wait

    // A reply that comes after all finds its entry, and nobody is hurt.
    EXPECT_EQ(0u, bus.fake->reply(0, nullptr, L"Late", L"S", L"", 0));
}

TEST(MessageBusClient, RepliesReachTheirRequests)
{
    ClientWithFake bus;
    std::unique_ptr<Velmo::Reply> answered;
    std::unique_ptr<Velmo::Reply> timedOut;
    ASSERT_EQ(0u, bus.client->request(CreateMessage(L"Ask", L"S", L""), answered, 5000ms));
    ASSERT_EQ(0u, bus.client->requestEx(CreateMessage(L"Ask", L"S", L""), timedOut, 5000ms));
    ASSERT_EQ(2u, bus.fake->requests.size());
    EXPECT_EQ(0u, bus.fake->requests[0].replyIndex);
    EXPECT_EQ(1u, bus.fake->requests[1].replyIndex);
    EXPECT_EQ(1u, bus.fake->requests[1].flag);
    EXPECT_EQ(5000, bus.fake->requests[1].timeout.count());

    MessageHeader header = HeaderWithSession(0);
    header.flags = 1;
    header.replyIndex = 0;
    EXPECT_EQ(0u, bus.fake->reply(0, &header, L"Answer", L"Responder", L"42", 0));
    EXPECT_EQ(0u, answered->waitFor(0ms));
    ASSERT_TRUE(answered->getMessage());
    EXPECT_EQ(L"42", answered->getMessage()->getData());
    EXPECT_EQ(L"Responder", answered->getMessage()->getSource());
    EXPECT_EQ(1u, answered->getMessage()->headerFlag(0));
    EXPECT_EQ(0u, answered->status());
    EXPECT_EQ(0u, answered->waitFor(0ms));

    // A timeout reported by the bus ends the wait at once, without a message.
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(0u, bus.fake->reply(1, nullptr, nullptr, nullptr, nullptr, 0x8000000D));
    EXPECT_EQ(2u, timedOut->status());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 500ms);
    EXPECT_EQ(nullptr, timedOut->getMessage());

    // Each reply is taken once; a second one for the same index is unknown.
    EXPECT_EQ(0x8000000Au, bus.fake->reply(0, &header, L"Answer", L"Responder", L"43", 0));
    EXPECT_EQ(0x8000000Au, bus.client->replyCallback(77, nullptr, 0));

    // A request the bus refuses leaves the out reply alone and no entry behind.
    bus.fake->requestResult = 0x8000000E;
    std::unique_ptr<Velmo::Reply> refused;
    EXPECT_EQ(0x8000000Eu, bus.client->request(CreateMessage(L"Ask", L"S", L""), refused, 100ms));
    EXPECT_FALSE(refused);
    EXPECT_EQ(0x8000000Au, bus.fake->reply(2, nullptr, L"Answer", L"S", L"", 0));
    EXPECT_EQ(0x80000008u, bus.client->request(nullptr, refused, 100ms));
    EXPECT_EQ(3u, bus.fake->requests.size());
}

TEST(MessageBusClient, CallbackRequestsReceiveTheReplyOrNothing)
{
    ClientWithFake bus;
    std::vector<std::shared_ptr<Message>> received;
    auto collect = [&](std::shared_ptr<Message> message) { received.push_back(std::move(message)); };
    ASSERT_EQ(0u, bus.client->requestAsync(CreateMessage(L"Ask", L"S", L""), collect, 1000ms));
    ASSERT_EQ(0u, bus.client->requestAsyncEx(CreateMessage(L"Ask", L"S", L""), collect, 1000ms));
    EXPECT_EQ(0u, bus.fake->requests[0].flag);
    EXPECT_EQ(1u, bus.fake->requests[1].flag);
    EXPECT_EQ(0u, bus.fake->reply(1, nullptr, nullptr, nullptr, nullptr, 0x80000002));
    EXPECT_EQ(0u, bus.fake->reply(0, nullptr, L"Answer", L"S", L"ok", 0));
    ASSERT_EQ(2u, received.size());
    EXPECT_EQ(nullptr, received[0]);
    ASSERT_TRUE(received[1]);
    EXPECT_EQ(L"ok", received[1]->getData());

    // A callback that throws is answered as a throwing subscriber is.
    ASSERT_EQ(0u, bus.client->requestAsync(CreateMessage(L"Ask", L"S", L""),
                                           [](std::shared_ptr<Message>) { throw std::runtime_error("x"); }, 1000ms));
    EXPECT_EQ(0x8000000Fu, bus.fake->reply(2, nullptr, L"Answer", L"S", L"", 0));
    EXPECT_EQ(0x80000008u, Velmo::MessageBusShimImpl::DeliverReply(nullptr, 0, nullptr, L"A", L"S", L"", 0));
}

// A subscriber that is still running when the client goes away: the client must release the
// transport (whose release waits for the DLL's threads) before it frees the callback holders.
TEST(MessageBusClient, TeardownReleasesTheTransportBeforeTheCallbacks)
{
    struct Events {
        std::mutex lock;
        std::vector<std::string> order;
        void add(const std::string& event)
        {
            std::lock_guard<std::mutex> guard(lock);
            order.push_back(event);
        }
    };
    struct Sentinel {
        explicit Sentinel(std::shared_ptr<Events> events) : events(std::move(events)) {}
        ~Sentinel() { events->add("callback freed"); }
        std::shared_ptr<Events> events;
        int value = 1;
    };
    auto events = std::make_shared<Events>();
    std::promise<void> started;
    std::thread delivery;
    {
        ClientWithFake bus;
        auto sentinel = std::make_shared<Sentinel>(events);
        ASSERT_EQ(0u, bus.client->subscribeAll(L"Slow", [sentinel, &started](std::shared_ptr<Message>) {
            started.set_value();
            std::this_thread::sleep_for(300ms);
            sentinel->events->add("callback finished");
            return static_cast<unsigned long>(sentinel->value);
        }));
        sentinel.reset();
        bus.fake->hook = [events](const char* call) {
            if (std::string(call) == "unsubscribe") events->add("unsubscribe");
        };
        // The fake stands for a DLL whose release joins its delivery thread.
        bus.fake->onDestroy = [events, &delivery] {
            if (delivery.joinable()) delivery.join();
            events->add("transport released");
        };
        FakeTransport* fake = bus.fake;
        delivery = std::thread([fake] { static_cast<void>(fake->deliver(100, nullptr, L"Slow", L"S", L"")); });
        started.get_future().wait();
        bus.client.reset();
    }
    EXPECT_EQ((std::vector<std::string>{"unsubscribe", "callback finished", "transport released", "callback freed"}),
              events->order);
}

// A bus DLL may wait inside a call for a callback that itself calls the client (unsubscribe
// waits for running callbacks): the client must hold none of its locks while it calls the DLL.
TEST(MessageBusClient, NoClientLockIsHeldWhileTheBusIsCalled)
{
    ClientWithFake bus;
    MessageBusClient* client = bus.client.get();
    std::vector<std::string> blocked;
    std::vector<std::thread> others;
    bus.fake->hook = [&](const char* call) {
        // The other thread is joined only after the call returned, so a lock held across the
        // call shows up as a blocked thread, not as a hang.
        auto done = std::make_shared<std::promise<void>>();
        auto finished = done->get_future();
        const std::string name = call;
        others.emplace_back([client, name, done] {
            if (name == "request") {
                static_cast<void>(client->replyCallback(9999, nullptr, 0));  // takes the reply lock
            } else {
                static_cast<void>(client->unsubscribe(L"unknown alias"));  // takes the subscription lock
            }
            done->set_value();
        });
        if (finished.wait_for(2s) != std::future_status::ready) blocked.push_back(name);
    };
    ASSERT_EQ(0u, bus.client->subscribe(L"N", L"a", [](std::shared_ptr<Message>) { return 0ul; }));
    ASSERT_EQ(0u, bus.client->subscribeFilter(L"N.*", L"a", [](std::shared_ptr<Message>) { return 0ul; }));
    std::unique_ptr<Velmo::Reply> reply;
    ASSERT_EQ(0u, bus.client->request(CreateMessage(L"Ask", L"S", L""), reply, 10ms));
    ASSERT_EQ(0u, bus.client->requestAsync(CreateMessage(L"Ask", L"S", L""), [](std::shared_ptr<Message>) {}, 10ms));
    ASSERT_EQ(0u, bus.client->unsubscribe(L"a"));
    ASSERT_EQ(0u, bus.client->subscribe(L"N", L"b", [](std::shared_ptr<Message>) { return 0ul; }));
    // The destructor unsubscribes "b"; the hook's threads use the client, so they are joined
    // before its members go.
    bus.fake->onDestroy = [&others] {
        for (auto& other : others) other.join();
    };
    bus.client.reset();
    EXPECT_EQ((std::vector<std::string>{}), blocked);
}

TEST(MessageBusClient, RefusedUnsubscribeKeepsTheCallbackUntilTheTransportIsGone)
{
    auto events = std::make_shared<std::vector<std::string>>();
    struct Sentinel {
        explicit Sentinel(std::shared_ptr<std::vector<std::string>> events) : events(std::move(events)) {}
        ~Sentinel() { events->push_back("callback freed"); }
        std::shared_ptr<std::vector<std::string>> events;
    };
    {
        ClientWithFake bus;
        auto sentinel = std::make_shared<Sentinel>(events);
        ASSERT_EQ(0u, bus.client->subscribeAll(L"N", [sentinel](std::shared_ptr<Message>) { return 0ul; }));
        sentinel.reset();
        bus.fake->unsubscribeResult = 0x80000002;
        EXPECT_EQ(0u, bus.client->unsubscribe(L"N"));
        EXPECT_TRUE(events->empty());
        // The DLL still has it, so it may still deliver to it.
        EXPECT_EQ(0u, bus.fake->deliver(100, nullptr, L"N", L"S", L""));
        bus.fake->onDestroy = [events] { events->push_back("transport released"); };
    }
    EXPECT_EQ((std::vector<std::string>{"transport released", "callback freed"}), *events);
}

}  // namespace
