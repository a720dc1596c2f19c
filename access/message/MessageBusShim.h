#pragma once
// The transport under the bus client: drives the bus DLL (Velmo::MessageBusLib) or, in tests, a
// fake. Callback holders are owned by the client; a transport only passes their addresses to the
// DLL as contexts and must stop calling them once unsubscribe(id) or its own destruction returns.

#include "access/ModuleStatus.h"
#include "access/message/Message.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Velmo {

// A subscriber: receives a delivered message; its result goes back to the bus DLL.
using SubscriberCallback = std::function<unsigned long(std::shared_ptr<Message>)>;

// The client's handler of replies: (reply index, reply message or empty, status) -> result.
using ReplyHandler = std::function<ModuleStatus(std::uint32_t, std::shared_ptr<Message>, ModuleStatus)>;

class MessageBusShim {
public:
    virtual ~MessageBusShim() = default;

    // flag 0 uses the DLL's first set of entries, 1 the second. Results are module status codes.
    [[nodiscard]] virtual ModuleStatus publish(const std::shared_ptr<Message>& message, std::uint32_t flag) = 0;
    [[nodiscard]] virtual ModuleStatus request(const std::shared_ptr<Message>& message, std::uint32_t replyIndex,
                                               ReplyHandler* replyContext, const std::chrono::milliseconds& timeout,
                                               std::uint32_t flag) = 0;
    [[nodiscard]] virtual ModuleStatus setReplyCallback() = 0;
    // The DLL's subscription id; 0 is failure. context stays the caller's.
    [[nodiscard]] virtual std::uint32_t subscribe(const std::wstring& messageName, SubscriberCallback* context) = 0;
    [[nodiscard]] virtual std::uint32_t subscribeFilter(const std::wstring& namePattern, SubscriberCallback* context) = 0;
    [[nodiscard]] virtual ModuleStatus unsubscribe(std::uint32_t subscriptionId) = 0;
};

}  // namespace Velmo
