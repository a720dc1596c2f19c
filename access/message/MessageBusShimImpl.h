#pragma once
// Makes the C calls of the bus DLL's function table for the transport operations, and turns the
// DLL's C callbacks back into Velmo::Message objects for the client's callback holders. Holds the
// bus handle and the table but owns neither (Velmo::MessageBusLib does). Takes no lock: whatever
// the callbacks touch is guarded by the client.

#include "access/message/MessageBusDllInterface.h"
#include "access/message/MessageBusShim.h"

namespace Velmo {

class MessageBusShimImpl : public MessageBusShim {
public:
    // Throws ModuleException "Invalid message bus handle" / "Invalid message bus functions
    // object" when either is null.
    MessageBusShimImpl(CorvaneHandle handle, const CorvaneFunctionTable* table);
    MessageBusShimImpl(const MessageBusShimImpl&) = delete;
    MessageBusShimImpl& operator=(const MessageBusShimImpl&) = delete;
    // Hands the reply callback to the DLL once more (table entry 7) before the handle goes.
    ~MessageBusShimImpl() override;

    [[nodiscard]] ModuleStatus publish(const std::shared_ptr<Message>& message, std::uint32_t flag) override;
    [[nodiscard]] ModuleStatus request(const std::shared_ptr<Message>& message, std::uint32_t replyIndex,
                                       ReplyHandler* replyContext, const std::chrono::milliseconds& timeout,
                                       std::uint32_t flag) override;
    [[nodiscard]] ModuleStatus setReplyCallback() override;
    [[nodiscard]] std::uint32_t subscribe(const std::wstring& messageName, SubscriberCallback* context) override;
    [[nodiscard]] std::uint32_t subscribeFilter(const std::wstring& namePattern, SubscriberCallback* context) override;
    [[nodiscard]] ModuleStatus unsubscribe(std::uint32_t subscriptionId) override;

    // The two C callbacks given to the DLL. context is a SubscriberCallback* resp. ReplyHandler*.
    // No exception leaves them (MODULE_STATUS_UNKNOWN_EXCEPTION); a null context gives
    // MODULE_STATUS_INVALID_PARAMETER.
    static std::uint32_t DeliverMessage(void* context, const CorvaneMessageHeader* header, const wchar_t* name,
                                         const wchar_t* source, const wchar_t* data) noexcept;
    static std::uint32_t DeliverReply(void* context, std::uint32_t replyIndex, const CorvaneMessageHeader* header,
                                       const wchar_t* name, const wchar_t* source, const wchar_t* data,
                                       std::uint32_t status) noexcept;

private:
    CorvaneHandle m_handle;
    const CorvaneFunctionTable* m_table;
};

}  // namespace Velmo
