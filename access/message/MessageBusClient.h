#pragma once
// The system's client of the suite's message bus: publish, request with replies, and
// subscriptions by message name, by name pattern and by user session, over a transport
// (Velmo::MessageBusShim) that drives the bus DLL.
//
// Usage:
//     std::unique_ptr<Velmo::MessageBus> bus = Velmo::MessageBusClient::getInstance();
//     if (bus) status = bus->subscribeAll(L"Nbr.Uninstall.Start", [](auto message) { ...; return 0ul; });
//
// Threads: subscriber callbacks and replies run on the bus DLL's threads. The subscription table
// and the reply table have one lock each; neither is held while the client calls into the
// transport, while a callback runs or while a requester waits, so callbacks may subscribe,
// unsubscribe and publish. Destruction unsubscribes everything, then releases the transport
// (which waits for its running callbacks), and only then frees the callback holders.

#include "access/message/MessageBus.h"
#include "access/message/MessageBusShim.h"
#include "access/wrappers/ProcessAPI.h"

#include <future>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace Velmo {

class MessageBusClient : public MessageBus {
public:
    // A new client over a new MessageBusLib transport (the bus DLL) and the default process
    // wrapper. Every failure is logged and answered with an empty pointer; nothing is thrown.
    [[nodiscard]] static std::unique_ptr<MessageBus> getInstance();

    // transport must not be empty (throws ModuleException); an empty processApi is replaced by the
    // default. Reads the process's Windows session (0 when it cannot be read).
    MessageBusClient(std::shared_ptr<MessageBusShim> transport, std::shared_ptr<ProcessAPI> processApi);
    MessageBusClient(const MessageBusClient&) = delete;
    MessageBusClient& operator=(const MessageBusClient&) = delete;
    ~MessageBusClient() override;

    [[nodiscard]] ModuleStatus publish(const std::shared_ptr<Message>& message) override;
    [[nodiscard]] ModuleStatus publishEx(const std::shared_ptr<Message>& message) override;
    [[nodiscard]] ModuleStatus requestAsync(const std::shared_ptr<Message>& message, ReplyCallback callback,
                                            const std::chrono::milliseconds& timeout) override;
    [[nodiscard]] ModuleStatus request(const std::shared_ptr<Message>& message, std::unique_ptr<Reply>& reply,
                                       const std::chrono::milliseconds& timeout) override;
    [[nodiscard]] ModuleStatus requestAsyncEx(const std::shared_ptr<Message>& message, ReplyCallback callback,
                                              const std::chrono::milliseconds& timeout) override;
    [[nodiscard]] ModuleStatus requestEx(const std::shared_ptr<Message>& message, std::unique_ptr<Reply>& reply,
                                         const std::chrono::milliseconds& timeout) override;
    [[nodiscard]] ModuleStatus subscribe(const std::wstring& messageName, const std::wstring& alias,
                                         SubscriberCallback callback) override;
    [[nodiscard]] ModuleStatus subscribeAll(const std::wstring& messageName, SubscriberCallback callback) override;
    [[nodiscard]] ModuleStatus subscribeSession(const std::wstring& messageName, const std::wstring& alias,
                                                SubscriberCallback callback) override;
    [[nodiscard]] ModuleStatus subscribeSessionAll(const std::wstring& messageName, SubscriberCallback callback) override;
    [[nodiscard]] ModuleStatus subscribeFilter(const std::wstring& namePattern, const std::wstring& alias,
                                               SubscriberCallback callback) override;
    [[nodiscard]] ModuleStatus subscribeFilterAll(const std::wstring& namePattern, SubscriberCallback callback) override;
    [[nodiscard]] ModuleStatus subscribeFilterSession(const std::wstring& namePattern, const std::wstring& alias,
                                                      SubscriberCallback callback) override;
    [[nodiscard]] ModuleStatus subscribeFilterSessionAll(const std::wstring& namePattern,
                                                         SubscriberCallback callback) override;
    [[nodiscard]] ModuleStatus unsubscribe(const std::wstring& alias) override;

    // The shared bodies. flag selects the DLL's second set of entries.
    [[nodiscard]] ModuleStatus internalPublish(const std::shared_ptr<Message>& message, std::uint32_t flag);
    [[nodiscard]] ModuleStatus internalRequest(const std::shared_ptr<Message>& message, std::unique_ptr<Reply>& reply,
                                               const std::chrono::milliseconds& timeout, std::uint32_t flag);
    [[nodiscard]] ModuleStatus internalRequest(const std::shared_ptr<Message>& message, ReplyCallback callback,
                                               const std::chrono::milliseconds& timeout, std::uint32_t flag);
    // Called through the transport on a bus-DLL thread for each reply (status 0, with the message)
    // or failed request (no message). 0, or MODULE_STATUS_NOT_FOUND for an unknown index.
    [[nodiscard]] ModuleStatus replyCallback(std::uint32_t replyIndex, std::shared_ptr<Message> reply, ModuleStatus status);

    // Whether any subscription is held under the alias (a failed subscribe leaves none).
    [[nodiscard]] bool hasAlias(const std::wstring& alias);

    // The Windows session this client filters on (0: no filtering).
    [[nodiscard]] std::uint32_t sessionId() const noexcept { return m_sessionId; }

private:
    struct NameSubscription {
        std::uint32_t id = 0;
        std::wstring messageName;
        std::shared_ptr<SubscriberCallback> callback;
    };
    struct PatternSubscription {
        std::uint32_t id = 0;
        std::wstring pattern;
        std::shared_ptr<SubscriberCallback> callback;
    };
    struct AliasEntry {
        std::list<NameSubscription> names;
        std::list<PatternSubscription> patterns;
    };
    struct PendingReply {
        std::promise<std::shared_ptr<Message>> promise;
        ReplyCallback callback;  // empty for the reply form
    };

    [[nodiscard]] SubscriberCallback sessionFiltered(SubscriberCallback callback) const;
    [[nodiscard]] ModuleStatus addPatternSubscription(const std::wstring& namePattern, const std::wstring& alias,
                                                      SubscriberCallback callback);
    // Takes a new entry in the reply table; false when the index is already taken.
    [[nodiscard]] bool addPendingReply(std::uint32_t& replyIndex, PendingReply pending,
                                       std::future<std::shared_ptr<Message>>* future);
    void erasePendingReply(std::uint32_t replyIndex);

    std::shared_ptr<MessageBusShim> m_transport;
    std::shared_ptr<ProcessAPI> m_processApi;
    std::mutex m_subscriptionLock;
    std::unordered_map<std::wstring, AliasEntry> m_subscriptions;
    // Holders the DLL refused to unsubscribe: kept (under the subscription lock) until the
    // transport is released.
    std::vector<std::shared_ptr<SubscriberCallback>> m_retiredCallbacks;
    std::uint32_t m_nextReplyIndex = 0;
    ReplyHandler m_replyHandler;
    std::mutex m_replyLock;
    std::unordered_map<std::uint32_t, PendingReply> m_replies;
    std::uint32_t m_sessionId = 0;
};

}  // namespace Velmo
