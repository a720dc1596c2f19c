#pragma once
// The bus client's interface (see Velmo::MessageBusClient). Every operation returns a module
// status code, 0 for success, and never throws except std::bad_alloc.

#include "access/ModuleStatus.h"
#include "access/message/Message.h"
#include "access/message/MessageBusShim.h"
#include "access/message/Reply.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace Velmo {

// The reply callback of the callback form of a request: the reply message, or an empty pointer
// when the bus reports the request failed or timed out. Runs on a bus-DLL thread.
using ReplyCallback = std::function<void(std::shared_ptr<Message>)>;

class MessageBus {
public:
    // Unsubscribes everything.
    virtual ~MessageBus() = default;

    [[nodiscard]] virtual ModuleStatus publish(const std::shared_ptr<Message>& message) = 0;
    [[nodiscard]] virtual ModuleStatus publishEx(const std::shared_ptr<Message>& message) = 0;
    [[nodiscard]] virtual ModuleStatus requestAsync(const std::shared_ptr<Message>& message, ReplyCallback callback,
                                                    const std::chrono::milliseconds& timeout) = 0;
    // On success reply is a new pending reply; on failure it is left untouched.
    [[nodiscard]] virtual ModuleStatus request(const std::shared_ptr<Message>& message, std::unique_ptr<Reply>& reply,
                                               const std::chrono::milliseconds& timeout) = 0;
    [[nodiscard]] virtual ModuleStatus requestAsyncEx(const std::shared_ptr<Message>& message, ReplyCallback callback,
                                                      const std::chrono::milliseconds& timeout) = 0;
    [[nodiscard]] virtual ModuleStatus requestEx(const std::shared_ptr<Message>& message, std::unique_ptr<Reply>& reply,
                                                 const std::chrono::milliseconds& timeout) = 0;
    [[nodiscard]] virtual ModuleStatus subscribe(const std::wstring& messageName, const std::wstring& alias,
                                                 SubscriberCallback callback) = 0;
    [[nodiscard]] virtual ModuleStatus subscribeAll(const std::wstring& messageName, SubscriberCallback callback) = 0;
    // Session forms: messages whose sender session is known and differs from this process's
    // session are dropped before the callback.
    [[nodiscard]] virtual ModuleStatus subscribeSession(const std::wstring& messageName, const std::wstring& alias,
                                                        SubscriberCallback callback) = 0;
    [[nodiscard]] virtual ModuleStatus subscribeSessionAll(const std::wstring& messageName, SubscriberCallback callback) = 0;
    // Pattern forms: an ECMAScript pattern of message names, matched by the bus DLL.
    [[nodiscard]] virtual ModuleStatus subscribeFilter(const std::wstring& namePattern, const std::wstring& alias,
                                                       SubscriberCallback callback) = 0;
    [[nodiscard]] virtual ModuleStatus subscribeFilterAll(const std::wstring& namePattern, SubscriberCallback callback) = 0;
    [[nodiscard]] virtual ModuleStatus subscribeFilterSession(const std::wstring& namePattern, const std::wstring& alias,
                                                              SubscriberCallback callback) = 0;
    [[nodiscard]] virtual ModuleStatus subscribeFilterSessionAll(const std::wstring& namePattern,
                                                                 SubscriberCallback callback) = 0;
    // Removes every subscription under the alias; returns once none of their callbacks runs.
    [[nodiscard]] virtual ModuleStatus unsubscribe(const std::wstring& alias) = 0;
};

}  // namespace Velmo
