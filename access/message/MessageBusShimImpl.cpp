#include "access/message/MessageBusShimImpl.h"

#include "access/ModuleException.h"
#include "core/Logging/Logging.h"

#include <limits>

namespace Velmo {

namespace {

constexpr const wchar_t* kSource = L"MessageBusShimImpl";

template <typename... Arguments>
void Log(ETWLogging::LogLevel level, const wchar_t* function, int line, const wchar_t* format,
         const Arguments&... arguments)
{
    if (ETWLogging::IsLogLevelEnabled(level)) {
        ETWLogging::LogMessage(level, kSource, function, line, format, arguments...);
    }
}

std::wstring TextOrEmpty(const wchar_t* text) { return text != nullptr ? std::wstring(text) : std::wstring(); }

// A message as the DLL delivered it: its texts, and its header upgraded to version 2.
std::shared_ptr<Message> MessageFromDll(const CorvaneMessageHeader* header, const wchar_t* name,
                                        const wchar_t* source, const wchar_t* data)
{
    auto message = CreateMessage(TextOrEmpty(name), TextOrEmpty(source), TextOrEmpty(data));
    // Without a header the message keeps the one it was made with (and its size).
    if (header != nullptr) CopyMessageHeader(message->getHeader(), header);
    return message;
}

std::uint32_t TimeoutMilliseconds(const std::chrono::milliseconds& timeout)
{
    if (timeout.count() <= 0) return 0;
    constexpr auto limit = std::numeric_limits<std::uint32_t>::max();
    return timeout.count() >= static_cast<std::int64_t>(limit) ? limit : static_cast<std::uint32_t>(timeout.count());
}

}  // namespace

MessageBusShimImpl::MessageBusShimImpl(CorvaneHandle handle, const CorvaneFunctionTable* table)
    : m_handle(handle), m_table(table)
{
    constexpr const wchar_t* kFunction = L"Velmo::MessageBusShimImpl::MessageBusShimImpl";
    if (m_handle == nullptr) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__, L"Invalid message bus handle. Throwing ModuleException.");
        throw ModuleException("Invalid message bus handle");
    }
    if (m_table == nullptr) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__,
            L"Invalid message bus functions object. Throwing ModuleException.");
        throw ModuleException("Invalid message bus functions object");
    }
}

MessageBusShimImpl::~MessageBusShimImpl()
{
    if (m_table->setReplyCallback != nullptr) static_cast<void>(m_table->setReplyCallback(m_handle, &DeliverReply));
}

ModuleStatus MessageBusShimImpl::publish(const std::shared_ptr<Message>& message, std::uint32_t flag)
{
    if (!message) return MODULE_STATUS_INVALID_PARAMETER;
    const CorvanePublishFn entry = flag == 0 ? m_table->publish : m_table->publishEx;
    if (entry == nullptr) return MODULE_STATUS_NOT_IMPLEMENTED;
    return entry(m_handle, message->getHeader(), message->getName().c_str(), message->getSource().c_str(),
                 message->getData().c_str());
}

ModuleStatus MessageBusShimImpl::request(const std::shared_ptr<Message>& message, std::uint32_t replyIndex,
                                         ReplyHandler* replyContext, const std::chrono::milliseconds& timeout,
                                         std::uint32_t flag)
{
    if (!message) return MODULE_STATUS_INVALID_PARAMETER;
    const CorvaneRequestFn entry = flag == 0 ? m_table->request : m_table->requestEx;
    if (entry == nullptr) return MODULE_STATUS_NOT_IMPLEMENTED;
    return entry(m_handle, replyIndex, replyContext, &DeliverReply, message->getHeader(), message->getName().c_str(),
                 message->getSource().c_str(), message->getData().c_str(), TimeoutMilliseconds(timeout));
}

ModuleStatus MessageBusShimImpl::setReplyCallback()
{
    if (m_table->setReplyCallback == nullptr) return MODULE_STATUS_NOT_IMPLEMENTED;
    return m_table->setReplyCallback(m_handle, &DeliverReply);
}

std::uint32_t MessageBusShimImpl::subscribe(const std::wstring& messageName, SubscriberCallback* context)
{
    if (m_table->subscribe == nullptr) return 0;
    return m_table->subscribe(m_handle, context, &DeliverMessage, messageName.c_str());
}

std::uint32_t MessageBusShimImpl::subscribeFilter(const std::wstring& namePattern, SubscriberCallback* context)
{
    if (m_table->subscribeFilter == nullptr) return 0;
    return m_table->subscribeFilter(m_handle, context, &DeliverMessage, namePattern.c_str());
}

ModuleStatus MessageBusShimImpl::unsubscribe(std::uint32_t subscriptionId)
{
    if (m_table->unsubscribe == nullptr) return MODULE_STATUS_NOT_IMPLEMENTED;
    return m_table->unsubscribe(m_handle, subscriptionId);
}

std::uint32_t MessageBusShimImpl::DeliverMessage(void* context, const CorvaneMessageHeader* header,
                                                  const wchar_t* name, const wchar_t* source,
                                                  const wchar_t* data) noexcept
{
    try {
        if (context == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
        auto message = MessageFromDll(header, name, source, data);
        auto& callback = *static_cast<SubscriberCallback*>(context);
        return static_cast<std::uint32_t>(callback(std::move(message)));
    } catch (...) {
        Log(ETWLogging::kLevelError, L"Velmo::MessageBusShimImpl::DeliverMessage", __LINE__,
            L"Subscriber failed with an exception.");
        return MODULE_STATUS_UNKNOWN_EXCEPTION;
    }
}

std::uint32_t MessageBusShimImpl::DeliverReply(void* context, std::uint32_t replyIndex,
                                                const CorvaneMessageHeader* header, const wchar_t* name,
                                                const wchar_t* source, const wchar_t* data,
                                                std::uint32_t status) noexcept
{
    try {
        std::shared_ptr<Message> reply;
        if (status == MODULE_STATUS_SUCCESS) reply = MessageFromDll(header, name, source, data);
        if (context == nullptr) return MODULE_STATUS_INVALID_PARAMETER;
        auto& handler = *static_cast<ReplyHandler*>(context);
        return handler(replyIndex, std::move(reply), status);
    } catch (...) {
        Log(ETWLogging::kLevelError, L"Velmo::MessageBusShimImpl::DeliverReply", __LINE__,
            L"Reply handler failed with an exception.");
        return MODULE_STATUS_UNKNOWN_EXCEPTION;
    }
}

}  // namespace Velmo
