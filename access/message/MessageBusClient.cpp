#include "access/message/MessageBusClient.h"

#include "access/ModuleException.h"
#include "access/message/MessageBusLib.h"
#include "access/message/ReplyImpl.h"
#include "core/Logging/Logging.h"

#include <new>
#include <regex>
#include <stdexcept>
#include <vector>

namespace Velmo {

namespace {

constexpr const wchar_t* kSource = L"MessageBusClient";

template <typename... Arguments>
void Log(ETWLogging::LogLevel level, const wchar_t* function, int line, const wchar_t* format,
         const Arguments&... arguments)
{
    if (ETWLogging::IsLogLevelEnabled(level)) {
        ETWLogging::LogMessage(level, kSource, function, line, format, arguments...);
    }
}

// Entering/leaving lines of a public method, at the normal level.
class MethodTrace {
public:
    explicit MethodTrace(const wchar_t* function) : m_function(function)
    {
        Log(ETWLogging::kLevelNormal, m_function, __LINE__, L"Entering.");
    }
    ~MethodTrace() { Log(ETWLogging::kLevelNormal, m_function, __LINE__, L"Leaving."); }
    MethodTrace(const MethodTrace&) = delete;
    MethodTrace& operator=(const MethodTrace&) = delete;

private:
    const wchar_t* m_function;
};

// How a failed reply promise ends: the waiting side learns that no message will come.
class ReplyFailure : public std::runtime_error {
public:
    explicit ReplyFailure(ModuleStatus status)
        : std::runtime_error(status == MODULE_STATUS_TIMEOUT ? "Reply timed out" : "Reply failed"), m_status(status)
    {
    }
    [[nodiscard]] ModuleStatus status() const noexcept { return m_status; }

private:
    ModuleStatus m_status;
};

}  // namespace

std::unique_ptr<MessageBus> MessageBusClient::getInstance()
{
    constexpr const wchar_t* kFunction = L"Velmo::MessageBusClient::getInstance";
    try {
        MethodTrace trace(kFunction);
        auto transport = std::make_shared<MessageBusLib>();
        return std::make_unique<MessageBusClient>(std::move(transport), nullptr);
    } catch (const ModuleException& exception) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__,
            L"Failed to create message bus client. Caught ModuleException - what: %hs.", exception.what());
    } catch (const std::bad_alloc&) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__,
            L"Failed to create message bus client. Caught bad_alloc - Failed to alllocate resources.");
    } catch (const std::exception& exception) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__,
            L"Faield to create message bus client. Caught standard exception - what: %hs.", exception.what());
    } catch (...) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__,
            L"Failed to create message bus client. Caught unexpected exception.");
    }
    return nullptr;
}

MessageBusClient::MessageBusClient(std::shared_ptr<MessageBusShim> transport, std::shared_ptr<ProcessAPI> processApi)
    : m_transport(std::move(transport)),
      m_processApi(processApi ? std::move(processApi) : std::make_shared<ProcessAPI>())
{
    constexpr const wchar_t* kFunction = L"Velmo::MessageBusClient::MessageBusClient";
    MethodTrace trace(kFunction);
    if (!m_transport) throw ModuleException("Invalid message bus transport");
    m_replyHandler = [this](std::uint32_t replyIndex, std::shared_ptr<Message> reply, ModuleStatus status) {
        return replyCallback(replyIndex, std::move(reply), status);
    };

    const DWORD processId = m_processApi->getCurrentProcessId();
    DWORD sessionId = 0;
    if (m_processApi->processIdToSessionId(processId, &sessionId)) {
        Log(ETWLogging::kLevelNormal, kFunction, __LINE__, L"Found session id %ld for process %ld",
            static_cast<long>(sessionId), static_cast<long>(processId));
        m_sessionId = sessionId;
    } else {
        Log(ETWLogging::kLevelError, kFunction, __LINE__,
            L"Failed to get the session id for process %ld - defaulting to %ld", static_cast<long>(processId), 0L);
        m_sessionId = 0;
    }
}

MessageBusClient::~MessageBusClient()
{
    constexpr const wchar_t* kFunction = L"Velmo::MessageBusClient::~MessageBusClient";
    MethodTrace trace(kFunction);
    // Take the table out under the lock and call the DLL without it: a callback that is running
    // right now may itself subscribe or unsubscribe.
    std::unordered_map<std::wstring, AliasEntry> subscriptions;
    std::vector<std::shared_ptr<SubscriberCallback>> retired;
    {
        std::lock_guard<std::mutex> lock(m_subscriptionLock);
        subscriptions.swap(m_subscriptions);
        retired.swap(m_retiredCallbacks);
    }
    for (const auto& [alias, entry] : subscriptions) {
        for (const auto& subscription : entry.names) static_cast<void>(m_transport->unsubscribe(subscription.id));
        for (const auto& subscription : entry.patterns) static_cast<void>(m_transport->unsubscribe(subscription.id));
    }
    // The transport goes first: releasing the bus waits for deliveries and replies still running
    // on its threads, which use the callback holders and the reply handler freed below.
    m_transport.reset();
}

// ---------------------------------------------------------------------------------------------
// Publish

ModuleStatus MessageBusClient::publish(const std::shared_ptr<Message>& message)
{
    MethodTrace trace(L"Velmo::MessageBusClient::publish");
    return internalPublish(message, 0);
}

ModuleStatus MessageBusClient::publishEx(const std::shared_ptr<Message>& message)
{
    MethodTrace trace(L"Velmo::MessageBusClient::publishEx");
    return internalPublish(message, 1);
}

ModuleStatus MessageBusClient::internalPublish(const std::shared_ptr<Message>& message, std::uint32_t flag)
{
    constexpr const wchar_t* kFunction = L"Velmo::MessageBusClient::internalPublish";
    if (!message) return MODULE_STATUS_INVALID_PARAMETER;

    // A reply reaches its requester and, as a second ordinary message, every subscriber of its
    // name, unless the sender asked for one copy or a copy was already made.
    const bool copyFollows = message->headerFlag(kReplyFlagBit) != 0 && message->headerFlag(kNoNonReplyCopyBit) == 0 &&
                             message->headerFlag(kNonReplyCopyFollowsBit) == 0;
    if (copyFollows) message->setHeaderFlag(kNonReplyCopyFollowsBit);

    const ModuleStatus status = m_transport->publish(message, flag);
    if (status != MODULE_STATUS_SUCCESS) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__, L"Failed to publish message. Error code %lu.",
            static_cast<unsigned long>(status));
        // Leave the message as it came, so that publishing it again still makes the copy.
        if (copyFollows) message->clearHeaderFlag(kNonReplyCopyFollowsBit);
        return status;
    }
    if (copyFollows) {
        message->clearHeaderFlag(kReplyFlagBit);
        message->clearReplyIndex();
        const ModuleStatus copyStatus = m_transport->publish(message, flag);
        if (copyStatus != MODULE_STATUS_SUCCESS) {
            Log(ETWLogging::kLevelWarning, kFunction, __LINE__,
                L"Failed to publish non-reply copy of the message. Error code %lu.",
                static_cast<unsigned long>(copyStatus));
        }
    }
    return MODULE_STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// Requests and replies

ModuleStatus MessageBusClient::requestAsync(const std::shared_ptr<Message>& message, ReplyCallback callback,
                                            const std::chrono::milliseconds& timeout)
{
    MethodTrace trace(L"Velmo::MessageBusClient::requestAsync");
    return internalRequest(message, std::move(callback), timeout, 0);
}

ModuleStatus MessageBusClient::request(const std::shared_ptr<Message>& message, std::unique_ptr<Reply>& reply,
                                       const std::chrono::milliseconds& timeout)
{
    MethodTrace trace(L"Velmo::MessageBusClient::request");
    return internalRequest(message, reply, timeout, 0);
}

ModuleStatus MessageBusClient::requestAsyncEx(const std::shared_ptr<Message>& message, ReplyCallback callback,
                                              const std::chrono::milliseconds& timeout)
{
    MethodTrace trace(L"Velmo::MessageBusClient::requestAsyncEx");
    return internalRequest(message, std::move(callback), timeout, 1);
}

ModuleStatus MessageBusClient::requestEx(const std::shared_ptr<Message>& message, std::unique_ptr<Reply>& reply,
                                         const std::chrono::milliseconds& timeout)
{
    MethodTrace trace(L"Velmo::MessageBusClient::requestEx");
    return internalRequest(message, reply, timeout, 1);
}

bool MessageBusClient::addPendingReply(std::uint32_t& replyIndex, PendingReply pending,
                                       std::future<std::shared_ptr<Message>>* future)
{
    std::lock_guard<std::mutex> lock(m_replyLock);
    replyIndex = m_nextReplyIndex++;
    auto [entry, inserted] = m_replies.try_emplace(replyIndex, std::move(pending));
    if (!inserted) return false;
    if (future != nullptr) {
        try {
            *future = entry->second.promise.get_future();
        } catch (...) {
            m_replies.erase(entry);
            throw;
        }
    }
    return true;
}

void MessageBusClient::erasePendingReply(std::uint32_t replyIndex)
{
    std::lock_guard<std::mutex> lock(m_replyLock);
    m_replies.erase(replyIndex);
}

ModuleStatus MessageBusClient::internalRequest(const std::shared_ptr<Message>& message, std::unique_ptr<Reply>& reply,
                                               const std::chrono::milliseconds& timeout, std::uint32_t flag)
{
    constexpr const wchar_t* kFunction = L"Velmo::MessageBusClient::internalRequest";
    if (!message) return MODULE_STATUS_INVALID_PARAMETER;
    std::uint32_t replyIndex = 0;
    std::future<std::shared_ptr<Message>> future;
    if (!addPendingReply(replyIndex, PendingReply{}, &future)) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__, L"Unable to create reply promise. Returning.");
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    const ModuleStatus status = m_transport->request(message, replyIndex, &m_replyHandler, timeout, flag);
    if (status != MODULE_STATUS_SUCCESS) {
        erasePendingReply(replyIndex);
        Log(ETWLogging::kLevelError, kFunction, __LINE__, L"Failed to make request. Error code %lu.",
            static_cast<unsigned long>(status));
        return status;
    }
    reply = std::make_unique<ReplyImpl>(std::move(future), timeout);
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus MessageBusClient::internalRequest(const std::shared_ptr<Message>& message, ReplyCallback callback,
                                               const std::chrono::milliseconds& timeout, std::uint32_t flag)
{
    constexpr const wchar_t* kFunction = L"Velmo::MessageBusClient::internalRequest";
    if (!message) return MODULE_STATUS_INVALID_PARAMETER;
    std::uint32_t replyIndex = 0;
    PendingReply pending;
    pending.callback = std::move(callback);
    if (!addPendingReply(replyIndex, std::move(pending), nullptr)) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__, L"Unable to create reply promise. Returning.");
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    const ModuleStatus status = m_transport->request(message, replyIndex, &m_replyHandler, timeout, flag);
    if (status != MODULE_STATUS_SUCCESS) {
        erasePendingReply(replyIndex);
        Log(ETWLogging::kLevelError, kFunction, __LINE__, L"Failed to make request. Error code %lu.",
            static_cast<unsigned long>(status));
        return status;
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus MessageBusClient::replyCallback(std::uint32_t replyIndex, std::shared_ptr<Message> reply,
                                             ModuleStatus status)
{
    constexpr const wchar_t* kFunction = L"Velmo::MessageBusClient::replyCallback";
    PendingReply pending;
    {
        std::lock_guard<std::mutex> lock(m_replyLock);
        const auto entry = m_replies.find(replyIndex);
        if (entry == m_replies.end()) {
            Log(ETWLogging::kLevelWarning, kFunction, __LINE__, L"Reply index not found. Returning");
            return MODULE_STATUS_NOT_FOUND;
        }
        pending = std::move(entry->second);
        m_replies.erase(entry);
    }
    if (status == MODULE_STATUS_SUCCESS) {
        pending.promise.set_value(reply);
    } else {
        pending.promise.set_exception(std::make_exception_ptr(ReplyFailure(status)));
    }
    if (pending.callback) pending.callback(status == MODULE_STATUS_SUCCESS ? std::move(reply) : nullptr);
    return MODULE_STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// Subscriptions

SubscriberCallback MessageBusClient::sessionFiltered(SubscriberCallback callback) const
{
    if (m_sessionId == 0) return callback;
    const std::uint32_t ownSession = m_sessionId;
    return [ownSession, callback = std::move(callback)](std::shared_ptr<Message> message) -> unsigned long {
        if (message) {
            const SessionTrailer* trailer = message->getSessionTrailer(2);
            // Only a sender session that is known and differs from ours is dropped.
            if (trailer != nullptr && trailer->senderSessionId != 0 && trailer->senderSessionId != ownSession) return 0;
        }
        return callback(std::move(message));
    };
}

ModuleStatus MessageBusClient::subscribe(const std::wstring& messageName, const std::wstring& alias,
                                         SubscriberCallback callback)
{
    constexpr const wchar_t* kFunction = L"Velmo::MessageBusClient::subscribe";
    MethodTrace trace(kFunction);
    if (!callback) return MODULE_STATUS_INVALID_PARAMETER;
    auto holder = std::make_shared<SubscriberCallback>(std::move(callback));
    // The DLL is called without the lock; the holder is kept alive here until it is in the table,
    // and deliveries go straight to it, so none can miss it.
    const std::uint32_t id = m_transport->subscribe(messageName, holder.get());
    if (id == 0) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__, L"Failed to subscribe. Alias: %ls Message name: %ls", alias,
            messageName);
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    try {
        std::lock_guard<std::mutex> lock(m_subscriptionLock);
        m_subscriptions[alias].names.push_back(NameSubscription{id, messageName, holder});
    } catch (...) {
        // The DLL must not keep a context that is about to be freed.
        static_cast<void>(m_transport->unsubscribe(id));
        throw;
    }
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus MessageBusClient::subscribeAll(const std::wstring& messageName, SubscriberCallback callback)
{
    return subscribe(messageName, messageName, std::move(callback));
}

ModuleStatus MessageBusClient::subscribeSession(const std::wstring& messageName, const std::wstring& alias,
                                                SubscriberCallback callback)
{
    if (!callback) return MODULE_STATUS_INVALID_PARAMETER;
    return subscribe(messageName, alias, sessionFiltered(std::move(callback)));
}

ModuleStatus MessageBusClient::subscribeSessionAll(const std::wstring& messageName, SubscriberCallback callback)
{
    return subscribeSession(messageName, messageName, std::move(callback));
}

ModuleStatus MessageBusClient::subscribeFilter(const std::wstring& namePattern, const std::wstring& alias,
                                               SubscriberCallback callback)
{
    return addPatternSubscription(namePattern, alias, std::move(callback));
}

ModuleStatus MessageBusClient::subscribeFilterAll(const std::wstring& namePattern, SubscriberCallback callback)
{
    return subscribeFilter(namePattern, namePattern, std::move(callback));
}

ModuleStatus MessageBusClient::subscribeFilterSession(const std::wstring& namePattern, const std::wstring& alias,
                                                      SubscriberCallback callback)
{
    if (!callback) return MODULE_STATUS_INVALID_PARAMETER;
    return addPatternSubscription(namePattern, alias, sessionFiltered(std::move(callback)));
}

ModuleStatus MessageBusClient::subscribeFilterSessionAll(const std::wstring& namePattern, SubscriberCallback callback)
{
    return subscribeFilterSession(namePattern, namePattern, std::move(callback));
}

ModuleStatus MessageBusClient::addPatternSubscription(const std::wstring& namePattern, const std::wstring& alias,
                                                      SubscriberCallback callback)
{
    constexpr const wchar_t* kFunction = L"Velmo::MessageBusClient::subscribeFilter";
    MethodTrace trace(kFunction);
    if (!callback) return MODULE_STATUS_INVALID_PARAMETER;
    // A pattern the library cannot compile never reaches the DLL; the bus DLL does the matching.
    try {
        static_cast<void>(std::wregex(namePattern, std::regex_constants::ECMAScript | std::regex_constants::nosubs));
    } catch (const std::regex_error& error) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__,
            L"subscribeFilter failed. Regex error with regex \"%ls\" [caught: %hs]", namePattern, error.what());
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    auto holder = std::make_shared<SubscriberCallback>(std::move(callback));
    const std::uint32_t id = m_transport->subscribeFilter(namePattern, holder.get());
    if (id == 0) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__,
            L"Failed to subscribeFilter. Alias: %ls Message nameRegex: %ls", alias, namePattern);
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    try {
        std::lock_guard<std::mutex> lock(m_subscriptionLock);
        m_subscriptions[alias].patterns.push_back(PatternSubscription{id, namePattern, holder});
    } catch (...) {
        static_cast<void>(m_transport->unsubscribe(id));
        throw;
    }
    return MODULE_STATUS_SUCCESS;
}

bool MessageBusClient::hasAlias(const std::wstring& alias)
{
    std::lock_guard<std::mutex> lock(m_subscriptionLock);
    return m_subscriptions.find(alias) != m_subscriptions.end();
}

ModuleStatus MessageBusClient::unsubscribe(const std::wstring& alias)
{
    constexpr const wchar_t* kFunction = L"Velmo::MessageBusClient::unsubscribe";
    MethodTrace trace(kFunction);
    AliasEntry entry;
    {
        std::lock_guard<std::mutex> lock(m_subscriptionLock);
        const auto found = m_subscriptions.find(alias);
        if (found == m_subscriptions.end()) {
            Log(ETWLogging::kLevelWarning, kFunction, __LINE__, L"Subscription not found. Alias: %ls.", alias);
            return MODULE_STATUS_SUCCESS;
        }
        entry = std::move(found->second);
        m_subscriptions.erase(found);
    }
    // Without the lock: the DLL's unsubscribe waits for callbacks of that id still running.
    std::vector<std::shared_ptr<SubscriberCallback>> stillReferenced;
    auto release = [&](std::uint32_t id, std::shared_ptr<SubscriberCallback>& holder) {
        const ModuleStatus status = m_transport->unsubscribe(id);
        if (status != MODULE_STATUS_SUCCESS) {
            Log(ETWLogging::kLevelWarning, kFunction, __LINE__, L"Failed to unsubscribe. Alias: %ls Error code %lu.",
                alias, static_cast<unsigned long>(status));
            // The DLL may still call this holder: keep it until the transport is gone.
            stillReferenced.push_back(std::move(holder));
        }
    };
    for (auto& subscription : entry.names) release(subscription.id, subscription.callback);
    for (auto& subscription : entry.patterns) release(subscription.id, subscription.callback);
    if (!stillReferenced.empty()) {
        std::lock_guard<std::mutex> lock(m_subscriptionLock);
        for (auto& holder : stillReferenced) m_retiredCallbacks.push_back(std::move(holder));
    }
    return MODULE_STATUS_SUCCESS;
}

}  // namespace Velmo
