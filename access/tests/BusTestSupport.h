#pragma once
// Test doubles for the bus client: a transport that records what reaches it and delivers through
// the same C callbacks the bus DLL calls, and a process wrapper with a chosen session.

#include "access/message/MessageBusShim.h"
#include "access/message/MessageBusShimImpl.h"
#include "access/wrappers/ProcessAPI.h"

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace BusTesting {

class FakeProcessAPI : public Velmo::ProcessAPI {
public:
    explicit FakeProcessAPI(bool sessionKnown, DWORD session = 0) : m_known(sessionKnown), m_session(session) {}
    DWORD getCurrentProcessId() override { return 4242; }
    bool processIdToSessionId(DWORD processId, DWORD* sessionId) override
    {
        askedFor = processId;
        if (!m_known) return false;
        *sessionId = m_session;
        return true;
    }
    DWORD askedFor = 0;

private:
    bool m_known;
    DWORD m_session;
};

struct PublishedMessage {
    Velmo::MessageHeader header{};
    std::wstring name;
    std::wstring source;
    std::wstring data;
    std::uint32_t flag = 0;
};

struct RequestCall {
    std::wstring name;
    std::uint32_t replyIndex = 0;
    Velmo::ReplyHandler* context = nullptr;
    std::chrono::milliseconds timeout{0};
    std::uint32_t flag = 0;
};

struct SubscriptionCall {
    std::wstring text;
    bool pattern = false;
    Velmo::SubscriberCallback* context = nullptr;
};

// Records every call (under its own lock, so bus threads of a test may call it too). hook, when
// set, runs inside each call, as if the DLL were busy there.
class FakeTransport : public Velmo::MessageBusShim {
public:
    ~FakeTransport() override
    {
        if (onDestroy) onDestroy();
    }

    Velmo::ModuleStatus publish(const std::shared_ptr<Velmo::Message>& message, std::uint32_t flag) override
    {
        runHook("publish");
        std::lock_guard<std::mutex> lock(m_lock);
        published.push_back({*message->getHeader(), message->getName(), message->getSource(), message->getData(), flag});
        if (publishResults.empty()) return 0;
        const Velmo::ModuleStatus result = publishResults.front();
        publishResults.erase(publishResults.begin());
        return result;
    }
    Velmo::ModuleStatus request(const std::shared_ptr<Velmo::Message>& message, std::uint32_t replyIndex,
                                Velmo::ReplyHandler* replyContext, const std::chrono::milliseconds& timeout,
                                std::uint32_t flag) override
    {
        runHook("request");
        std::lock_guard<std::mutex> lock(m_lock);
        requests.push_back({message->getName(), replyIndex, replyContext, timeout, flag});
        return requestResult;
    }
    Velmo::ModuleStatus setReplyCallback() override { return 0; }
    std::uint32_t subscribe(const std::wstring& messageName, Velmo::SubscriberCallback* context) override
    {
        return add(messageName, false, context);
    }
    std::uint32_t subscribeFilter(const std::wstring& namePattern, Velmo::SubscriberCallback* context) override
    {
        return add(namePattern, true, context);
    }
    Velmo::ModuleStatus unsubscribe(std::uint32_t subscriptionId) override
    {
        runHook("unsubscribe");
        std::lock_guard<std::mutex> lock(m_lock);
        unsubscribed.push_back(subscriptionId);
        if (unsubscribeResult == 0) live.erase(subscriptionId);
        return unsubscribeResult;
    }

    // Delivers as the DLL does: through the C message callback with the subscription's context.
    std::uint32_t deliver(std::uint32_t id, const Velmo::MessageHeader* header, const wchar_t* name,
                          const wchar_t* source, const wchar_t* data)
    {
        Velmo::SubscriberCallback* context = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            const auto found = live.find(id);
            if (found == live.end()) return 0xDEADu;
            context = found->second.context;
        }
        return Velmo::MessageBusShimImpl::DeliverMessage(context, header, name, source, data);
    }
    // Answers a recorded request through the C reply callback.
    std::uint32_t reply(std::size_t requestNumber, const Velmo::MessageHeader* header, const wchar_t* name,
                        const wchar_t* source, const wchar_t* data, std::uint32_t status)
    {
        RequestCall call;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            call = requests.at(requestNumber);
        }
        return Velmo::MessageBusShimImpl::DeliverReply(call.context, call.replyIndex, header, name, source, data, status);
    }

    std::mutex m_lock;
    std::vector<PublishedMessage> published;
    std::vector<Velmo::ModuleStatus> publishResults;
    std::vector<RequestCall> requests;
    Velmo::ModuleStatus requestResult = 0;
    std::map<std::uint32_t, SubscriptionCall> live;
    std::vector<SubscriptionCall> subscribeCalls;
    std::vector<std::uint32_t> unsubscribed;
    Velmo::ModuleStatus unsubscribeResult = 0;
    bool failSubscribe = false;
    std::uint32_t nextId = 100;
    std::function<void(const char* call)> hook;
    std::function<void()> onDestroy;

private:
    void runHook(const char* call)
    {
        if (hook) hook(call);
    }
    std::uint32_t add(const std::wstring& text, bool pattern, Velmo::SubscriberCallback* context)
    {
        runHook(pattern ? "subscribeFilter" : "subscribe");
        std::lock_guard<std::mutex> lock(m_lock);
        subscribeCalls.push_back({text, pattern, context});
        if (failSubscribe) return 0;
        const std::uint32_t id = nextId++;
        live[id] = {text, pattern, context};
        return id;
    }
};

}  // namespace BusTesting
