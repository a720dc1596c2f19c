// Stand-in of the message-bus DLL "Corvane.dll", for tests and the demo only. A bus inside one
// process: what one handle publishes reaches the subscriptions of every handle of the process.
//
// Exports: CreateObject(2001000) gives the ten-entry table of MessageBusDllInterface.h (any other
// version: null); ReleaseObject(table) 0; GetVersionStr() "2.1.0.0"; GetVersionNum() 2001000.
//
// Behaviour of the table:
// - Each handle (entry 0) owns one delivery thread; every callback of its subscriptions and
//   requests runs there. Entry 1 stops and joins that thread (never from DllMain) and drops the
//   handle's subscriptions and pending requests without calling them; called on that thread
//   itself it refuses with MODULE_STATUS_INVALID_STATE.
// - Publish and request copy the header (108 bytes, or 100 for a version-1 header) and the texts
//   before they return; null texts count as empty, a null header is refused (0x80000008).
// - Subscribe entries (4 exact name, 5 ECMAScript pattern over the whole name) give ids from 1 up;
//   an invalid pattern or null callback gives 0. Matching is done at delivery time.
// - Unsubscribe (entry 6) returns only after a callback of that id already running has finished,
//   except when the callback unsubscribes itself. Unknown id: 0x8000000A.
// - Request (3, 9) delivers the message to the subscribers with the reply index written into the
//   header (offset 92) and keeps the request until a reply or its timeout. A published message
//   with flag bit 0 is a reply: it goes to the oldest pending request with that reply index
//   (status 0), not to subscribers. A request without a reply by its timeout is answered with
//   status 0x8000000D and no message. A null reply callback uses the one set by entry 7.
// - Entries 8 and 9 behave as 2 and 3.
//
// Records for tests outside the process. When the environment variable "CORVANE_STANDIN_LOG"
// names a file, one UTF-8 line is appended per event (one write each, so processes may share it):
//     pid=<pid> open handle=<n>
//     pid=<pid> subscribe id=<id> name=<message name>
//     pid=<pid> subscribe_filter id=<id> pattern=<pattern>
//     pid=<pid> unsubscribe id=<id> result=<status, hex>
//     pid=<pid> release handle=<n>
//
// Injection of a message by another process (while at least one handle is open):
//  1. Write the message under HKCU "Software\Tervane\CorvaneStandIn\Inject\<pid of the process>":
//     "name", "source", "data" (REG_SZ; "name" required), "sender_session" (REG_DWORD, optional,
//     0 when absent) and "version" (REG_DWORD, optional: 1 sends a version-1 header, else 2).
//  2. Open the auto-reset event "CorvaneStandIn.Delivered.<pid>" (made by the stand-in), then set
//     the event "CorvaneStandIn.Inject.<pid>".
//  3. The stand-in delivers the message to every matching subscription of every handle, each on
//     its handle's delivery thread, deletes "name", "source" and "data", writes "delivered" (REG_DWORD,
//     callbacks called) and "result" (REG_DWORD, the last callback's result, 0 when none ran),
//     and then sets "CorvaneStandIn.Delivered.<pid>".

#include "access/message/MessageBusDllInterface.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kSuccess = 0;
constexpr uint32_t kInvalidHandle = 0x80000007;
constexpr uint32_t kInvalidParameter = 0x80000008;
constexpr uint32_t kNoMemory = 0x80000009;
constexpr uint32_t kNotFound = 0x8000000A;
constexpr uint32_t kTimeout = 0x8000000D;
constexpr uint32_t kUnknownException = 0x8000000F;
constexpr uint32_t kInvalidState = 0x800000FF;

// ---------------------------------------------------------------------------------------------
// Records

std::string Utf8(const std::wstring& text)
{
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

void RecordLine(const std::string& event)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"CORVANE_STANDIN_LOG", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::string line = "pid=" + std::to_string(GetCurrentProcessId()) + " " + event + "\r\n";
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
}

std::string Hex(uint32_t value)
{
    char text[16] = {};
    snprintf(text, sizeof(text), "0x%08X", value);
    return text;
}

std::wstring InjectKeyPath()
{
    return L"Software\\Tervane\\CorvaneStandIn\\Inject\\" + std::to_wstring(GetCurrentProcessId());
}

std::wstring EventName(const wchar_t* kind)
{
    return std::wstring(L"CorvaneStandIn.") + kind + L"." + std::to_wstring(GetCurrentProcessId());
}

// ---------------------------------------------------------------------------------------------
// Messages

struct CopiedMessage {
    CorvaneMessageHeader header{};
    std::size_t headerSize = CORVANE_HEADER_SIZE_V2;
    std::wstring name;
    std::wstring source;
    std::wstring data;
};

std::wstring Text(const wchar_t* text) { return text != nullptr ? std::wstring(text) : std::wstring(); }

CopiedMessage CopyMessage(const CorvaneMessageHeader* header, const wchar_t* name, const wchar_t* source, const wchar_t* data)
{
    CopiedMessage copy;
    uint16_t version = 0;
    std::memcpy(&version, reinterpret_cast<const unsigned char*>(header) + offsetof(CorvaneMessageHeader, version), sizeof(version));
    copy.headerSize = version == 2 ? CORVANE_HEADER_SIZE_V2 : CORVANE_HEADER_SIZE_V1;
    std::memcpy(&copy.header, header, copy.headerSize);
    copy.name = Text(name);
    copy.source = Text(source);
    copy.data = Text(data);
    return copy;
}

// What one injection tells the injector once every handle has delivered it.
class InjectionTally {
public:
    ~InjectionTally()
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, InjectKeyPath().c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) ==
            ERROR_SUCCESS) {
            RegDeleteValueW(key, L"name");
            RegDeleteValueW(key, L"source");
            RegDeleteValueW(key, L"data");
            const DWORD delivered = m_delivered.load();
            const DWORD result = m_result.load();
            RegSetValueExW(key, L"delivered", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&delivered), sizeof(delivered));
            RegSetValueExW(key, L"result", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&result), sizeof(result));
            RegCloseKey(key);
        }
        if (HANDLE done = OpenEventW(EVENT_MODIFY_STATE, FALSE, EventName(L"Delivered").c_str())) {
            SetEvent(done);
            CloseHandle(done);
        }
    }
    void count(uint32_t result)
    {
        ++m_delivered;
        m_result = result;
    }

private:
    std::atomic<DWORD> m_delivered{0};
    std::atomic<DWORD> m_result{0};
};

// ---------------------------------------------------------------------------------------------
// One handle

struct Subscription {
    uint32_t id = 0;
    std::wstring text;
    bool pattern = false;
    std::wregex compiled;
    void* context = nullptr;
    CorvaneMessageCallback callback = nullptr;
    int running = 0;
    bool removed = false;
    bool removedByItsCallback = false;  // then the delivery loop erases it, nobody waits
};

struct PendingRequest {
    uint32_t replyIndex = 0;
    void* context = nullptr;
    CorvaneReplyCallback callback = nullptr;
    ULONGLONG deadline = 0;
};

// One unit of work for a delivery thread.
struct Work {
    enum class Kind { Message, Reply } kind = Kind::Message;
    std::shared_ptr<const CopiedMessage> message;  // null for a failed reply
    PendingRequest request;                        // Reply only
    uint32_t status = kSuccess;                    // Reply only
    std::shared_ptr<InjectionTally> tally;         // an injected message
};

class Bus {
public:
    explicit Bus(uint32_t number) : m_number(number) {}
    ~Bus() { CloseHandle(m_wake); }

    uint32_t number() const { return m_number; }

    bool start(HANDLE injectEvent)
    {
        m_wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (m_wake == nullptr) return false;
        m_inject = injectEvent;
        try {
            m_thread = std::thread([this] { run(); });
        } catch (...) {
            return false;
        }
        return true;
    }

    bool onDeliveryThread() const { return GetCurrentThreadId() == m_threadId.load(); }

    // Stops and joins the delivery thread; work still queued is dropped.
    void stop()
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_stopping = true;
        }
        SetEvent(m_wake);
        if (m_thread.joinable()) m_thread.join();
        std::lock_guard<std::mutex> lock(m_lock);
        m_queue.clear();
        m_requests.clear();
        m_subscriptions.clear();
    }

    void enqueue(Work work)
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_stopping) return;
            m_queue.push_back(std::move(work));
        }
        SetEvent(m_wake);
    }

    uint32_t subscribe(void* context, CorvaneMessageCallback callback, const wchar_t* text, bool pattern, uint32_t id)
    {
        if (callback == nullptr || text == nullptr) return 0;
        Subscription subscription;
        subscription.id = id;
        subscription.text = text;
        subscription.pattern = pattern;
        subscription.context = context;
        subscription.callback = callback;
        if (pattern) {
            try {
                subscription.compiled = std::wregex(subscription.text, std::regex_constants::ECMAScript);
            } catch (const std::regex_error&) {
                return 0;
            }
        }
        std::lock_guard<std::mutex> lock(m_lock);
        m_subscriptions.push_back(std::move(subscription));
        return id;
    }

    uint32_t unsubscribe(uint32_t id)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        auto found = std::find_if(m_subscriptions.begin(), m_subscriptions.end(),
                                  [id](const Subscription& s) { return s.id == id && !s.removed; });
        if (found == m_subscriptions.end()) return kNotFound;
        found->removed = true;
        if (onDeliveryThread()) {
            // From a callback of this handle: waiting would wait for ourselves. The delivery loop
            // erases it when the running call returns.
            if (found->running == 0) {
                m_subscriptions.erase(found);
            } else {
                found->removedByItsCallback = true;
            }
            return kSuccess;
        }
        m_idle.wait(lock, [&] { return found->running == 0; });
        m_subscriptions.erase(found);
        return kSuccess;
    }

    void addRequest(const PendingRequest& request)
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            m_requests.push_back(request);
        }
        SetEvent(m_wake);  // the wait until the nearest deadline changes
    }

    // Takes the oldest pending request with this reply index.
    bool takeRequest(uint32_t replyIndex, PendingRequest& request)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        auto found = std::find_if(m_requests.begin(), m_requests.end(),
                                  [replyIndex](const PendingRequest& r) { return r.replyIndex == replyIndex; });
        if (found == m_requests.end()) return false;
        request = *found;
        m_requests.erase(found);
        return true;
    }

    bool hasSubscriberFor(const std::wstring& name)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return std::any_of(m_subscriptions.begin(), m_subscriptions.end(),
                           [&](const Subscription& s) { return !s.removed && matches(s, name); });
    }

    void setReplyCallback(CorvaneReplyCallback callback)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_defaultReplyCallback = callback;
    }

    CorvaneReplyCallback defaultReplyCallback()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_defaultReplyCallback;
    }

private:
    static bool matches(const Subscription& subscription, const std::wstring& name)
    {
        if (!subscription.pattern) return subscription.text == name;
        return std::regex_match(name, subscription.compiled);
    }

    void run();
    void deliver(const Work& work);
    void expireRequests();
    DWORD millisecondsToNearestDeadline();

    const uint32_t m_number;
    std::mutex m_lock;
    std::condition_variable m_idle;
    std::deque<Work> m_queue;
    std::list<Subscription> m_subscriptions;
    std::vector<PendingRequest> m_requests;
    CorvaneReplyCallback m_defaultReplyCallback = nullptr;
    bool m_stopping = false;
    HANDLE m_wake = nullptr;
    HANDLE m_inject = nullptr;
    std::thread m_thread;
    std::atomic<DWORD> m_threadId{0};
};

// ---------------------------------------------------------------------------------------------
// The process-wide bus

class Hub {
public:
    static Hub& instance()
    {
        static Hub* hub = new Hub();  // never destroyed: no work at DLL detach
        return *hub;
    }

    uint32_t open(CorvaneHandle* handle)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if (m_buses.empty()) {
            m_inject = CreateEventW(nullptr, FALSE, FALSE, EventName(L"Inject").c_str());
            m_delivered = CreateEventW(nullptr, FALSE, FALSE, EventName(L"Delivered").c_str());
        }
        auto bus = std::make_unique<Bus>(++m_nextNumber);
        if (!bus->start(m_inject)) {
            closeEventsIfIdle();
            return kNoMemory;
        }
        m_buses.push_back(bus.get());
        *handle = bus.release();
        RecordLine("open handle=" + std::to_string(static_cast<Bus*>(*handle)->number()));
        return kSuccess;
    }

    uint32_t release(Bus* bus)
    {
        {
            std::lock_guard<std::mutex> lock(m_lock);
            auto found = std::find(m_buses.begin(), m_buses.end(), bus);
            if (found == m_buses.end()) return kInvalidHandle;
            if (bus->onDeliveryThread()) return kInvalidState;  // it cannot join itself
            m_buses.erase(found);
        }
        bus->stop();
        RecordLine("release handle=" + std::to_string(bus->number()));
        delete bus;
        std::lock_guard<std::mutex> lock(m_lock);
        closeEventsIfIdle();
        return kSuccess;
    }

    bool isOpen(Bus* bus)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return std::find(m_buses.begin(), m_buses.end(), bus) != m_buses.end();
    }

    uint32_t nextSubscriptionId() { return m_nextSubscriptionId.fetch_add(1); }

    // An ordinary message goes to every handle; a reply to the request that waits for it.
    void route(const std::shared_ptr<const CopiedMessage>& message, const std::shared_ptr<InjectionTally>& tally = nullptr)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        if ((message->header.flags & 1u) != 0) {
            for (Bus* bus : m_buses) {
                Work work;
                if (bus->takeRequest(message->header.replyIndex, work.request)) {
                    work.kind = Work::Kind::Reply;
                    work.message = message;
                    bus->enqueue(std::move(work));
                    return;
                }
            }
            return;  // a reply nobody waits for
        }
        for (Bus* bus : m_buses) {
            Work work;
            work.message = message;
            work.tally = tally;
            bus->enqueue(std::move(work));
        }
    }

private:
    void closeEventsIfIdle()
    {
        if (!m_buses.empty()) return;
        if (m_inject != nullptr) CloseHandle(m_inject);
        if (m_delivered != nullptr) CloseHandle(m_delivered);
        m_inject = nullptr;
        m_delivered = nullptr;
    }

    std::mutex m_lock;
    std::vector<Bus*> m_buses;
    uint32_t m_nextNumber = 0;
    std::atomic<uint32_t> m_nextSubscriptionId{1};
    HANDLE m_inject = nullptr;
    HANDLE m_delivered = nullptr;
};

std::wstring ReadText(HKEY key, const wchar_t* name, bool* present)
{
    DWORD size = 0;
    *present = false;
    if (RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS) return {};
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
    if (RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, text.data(), &size) != ERROR_SUCCESS) return {};
    *present = true;
    return text.data();
}

DWORD ReadNumber(HKEY key, const wchar_t* name, DWORD fallback)
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    return RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &value, &size) == ERROR_SUCCESS ? value : fallback;
}

// Reads the message another process wrote and sends it to every handle.
void TakeInjectedMessage()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, InjectKeyPath().c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return;
    bool hasName = false;
    bool present = false;
    auto message = std::make_shared<CopiedMessage>();
    message->name = ReadText(key, L"name", &hasName);
    message->source = ReadText(key, L"source", &present);
    message->data = ReadText(key, L"data", &present);
    const DWORD session = ReadNumber(key, L"sender_session", 0);
    const DWORD version = ReadNumber(key, L"version", 2);
    RegCloseKey(key);
    if (!hasName) return;

    CorvaneMessageHeader& header = message->header;
    std::memset(&header, 0, sizeof(header));
    header.kind = 1;
    header.totalSize = static_cast<uint32_t>(2 * (message->name.size() + message->source.size() + message->data.size()) + 114);
    header.version = 2;
    header.trailer.type = 11;
    header.trailer.length = 8;
    header.trailer.senderSessionId = session;
    if (version == 1) {
        header.version = 1;
        header.totalSize -= 8;
        std::memset(&header.trailer, 0, sizeof(header.trailer));
        message->headerSize = CORVANE_HEADER_SIZE_V1;
    }
    Hub::instance().route(message, std::make_shared<InjectionTally>());
}

// ---------------------------------------------------------------------------------------------
// Delivery thread

void Bus::run()
{
    m_threadId = GetCurrentThreadId();
    for (;;) {
        const HANDLE events[2] = {m_wake, m_inject};
        const DWORD count = m_inject != nullptr ? 2 : 1;
        const DWORD waited = WaitForMultipleObjects(count, events, FALSE, millisecondsToNearestDeadline());
        if (waited == WAIT_OBJECT_0 + 1) {
            try {
                TakeInjectedMessage();
            } catch (...) {
            }
        }
        for (;;) {
            Work work;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                if (m_stopping) return;
                if (m_queue.empty()) break;
                work = std::move(m_queue.front());
                m_queue.pop_front();
            }
            deliver(work);
        }
        expireRequests();
    }
}

void Bus::deliver(const Work& work)
{
    const CopiedMessage* message = work.message.get();
    if (work.kind == Work::Kind::Reply) {
        if (work.request.callback == nullptr) return;
        try {
            if (message != nullptr) {
                work.request.callback(work.request.context, work.request.replyIndex, &message->header, message->name.c_str(),
                                      message->source.c_str(), message->data.c_str(), work.status);
            } else {
                work.request.callback(work.request.context, work.request.replyIndex, nullptr, nullptr, nullptr, nullptr,
                                      work.status);
            }
        } catch (...) {
        }
        return;
    }

    // Which subscriptions match is decided now: one removed meanwhile gets nothing.
    std::vector<uint32_t> ids;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        for (const Subscription& subscription : m_subscriptions) {
            if (!subscription.removed && matches(subscription, message->name)) ids.push_back(subscription.id);
        }
    }
    for (const uint32_t id : ids) {
        CorvaneMessageCallback callback = nullptr;
        void* context = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_lock);
            auto found = std::find_if(m_subscriptions.begin(), m_subscriptions.end(),
                                      [id](const Subscription& s) { return s.id == id; });
            if (found == m_subscriptions.end() || found->removed) continue;
            ++found->running;
            callback = found->callback;
            context = found->context;
        }
        uint32_t result = kUnknownException;
        try {
            result = callback(context, &message->header, message->name.c_str(), message->source.c_str(), message->data.c_str());
        } catch (...) {
        }
        if (work.tally) work.tally->count(result);
        {
            std::lock_guard<std::mutex> lock(m_lock);
            auto found = std::find_if(m_subscriptions.begin(), m_subscriptions.end(),
                                      [id](const Subscription& s) { return s.id == id; });
            if (found != m_subscriptions.end() && --found->running == 0 && found->removedByItsCallback) {
                m_subscriptions.erase(found);
            }
        }
        m_idle.notify_all();
    }
}

void Bus::expireRequests()
{
    std::vector<PendingRequest> expired;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        const ULONGLONG now = GetTickCount64();
        for (auto request = m_requests.begin(); request != m_requests.end();) {
            if (request->deadline <= now) {
                expired.push_back(*request);
                request = m_requests.erase(request);
            } else {
                ++request;
            }
        }
    }
    for (const PendingRequest& request : expired) {
        Work work;
        work.kind = Work::Kind::Reply;
        work.request = request;
        work.status = kTimeout;
        deliver(work);
    }
}

DWORD Bus::millisecondsToNearestDeadline()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_requests.empty()) return INFINITE;
    const ULONGLONG now = GetTickCount64();
    ULONGLONG nearest = m_requests.front().deadline;
    for (const PendingRequest& request : m_requests) nearest = std::min(nearest, request.deadline);
    if (nearest <= now) return 0;
    return static_cast<DWORD>(std::min<ULONGLONG>(nearest - now, 0x7FFFFFFF));
}

// ---------------------------------------------------------------------------------------------
// The table

Bus* OpenBus(CorvaneHandle handle)
{
    Bus* bus = static_cast<Bus*>(handle);
    return bus != nullptr && Hub::instance().isOpen(bus) ? bus : nullptr;
}

uint32_t CreateHandle(CorvaneHandle* handle)
{
    if (handle == nullptr) return kInvalidParameter;
    try {
        return Hub::instance().open(handle);
    } catch (...) {
        return kNoMemory;
    }
}

uint32_t ReleaseHandle(CorvaneHandle handle)
{
    try {
        return Hub::instance().release(static_cast<Bus*>(handle));
    } catch (...) {
        return kUnknownException;
    }
}

uint32_t Publish(CorvaneHandle handle, const CorvaneMessageHeader* header, const wchar_t* name, const wchar_t* source,
                 const wchar_t* data)
{
    if (OpenBus(handle) == nullptr) return kInvalidHandle;
    if (header == nullptr) return kInvalidParameter;
    try {
        Hub::instance().route(std::make_shared<const CopiedMessage>(CopyMessage(header, name, source, data)));
        return kSuccess;
    } catch (...) {
        return kNoMemory;
    }
}

uint32_t Request(CorvaneHandle handle, uint32_t replyIndex, void* replyContext, CorvaneReplyCallback replyCallback,
                 const CorvaneMessageHeader* header, const wchar_t* name, const wchar_t* source, const wchar_t* data,
                 uint32_t timeoutMs)
{
    Bus* bus = OpenBus(handle);
    if (bus == nullptr) return kInvalidHandle;
    if (header == nullptr) return kInvalidParameter;
    try {
        PendingRequest request;
        request.replyIndex = replyIndex;
        request.context = replyContext;
        request.callback = replyCallback != nullptr ? replyCallback : bus->defaultReplyCallback();
        request.deadline = GetTickCount64() + timeoutMs;
        auto message = std::make_shared<CopiedMessage>(CopyMessage(header, name, source, data));
        // The responders learn which request they answer from the reply index.
        message->header.replyIndex = replyIndex;
        message->header.flags &= ~1u;
        bus->addRequest(request);
        Hub::instance().route(message);
        return kSuccess;
    } catch (...) {
        return kNoMemory;
    }
}

uint32_t Subscribe(CorvaneHandle handle, void* context, CorvaneMessageCallback callback, const wchar_t* name)
{
    Bus* bus = OpenBus(handle);
    if (bus == nullptr) return 0;
    try {
        const uint32_t id = bus->subscribe(context, callback, name, false, Hub::instance().nextSubscriptionId());
        if (id != 0) RecordLine("subscribe id=" + std::to_string(id) + " name=" + Utf8(Text(name)));
        return id;
    } catch (...) {
        return 0;
    }
}

uint32_t SubscribeFilter(CorvaneHandle handle, void* context, CorvaneMessageCallback callback, const wchar_t* pattern)
{
    Bus* bus = OpenBus(handle);
    if (bus == nullptr) return 0;
    try {
        const uint32_t id = bus->subscribe(context, callback, pattern, true, Hub::instance().nextSubscriptionId());
        if (id != 0) RecordLine("subscribe_filter id=" + std::to_string(id) + " pattern=" + Utf8(Text(pattern)));
        return id;
    } catch (...) {
        return 0;
    }
}

uint32_t Unsubscribe(CorvaneHandle handle, uint32_t subscriptionId)
{
    Bus* bus = OpenBus(handle);
    if (bus == nullptr) return kInvalidHandle;
    try {
        const uint32_t result = bus->unsubscribe(subscriptionId);
        RecordLine("unsubscribe id=" + std::to_string(subscriptionId) + " result=" + Hex(result));
        return result;
    } catch (...) {
        return kUnknownException;
    }
}

uint32_t SetReplyCallback(CorvaneHandle handle, CorvaneReplyCallback callback)
{
    Bus* bus = OpenBus(handle);
    if (bus == nullptr) return kInvalidHandle;
    bus->setReplyCallback(callback);
    return kSuccess;
}

const CorvaneFunctionTable g_table = {
    CreateHandle, ReleaseHandle, Publish, Request, Subscribe, SubscribeFilter, Unsubscribe, SetReplyCallback, Publish, Request,
};

}  // namespace

extern "C" const CorvaneFunctionTable* CreateObject(uint32_t interfaceVersion)
{
    return interfaceVersion == CORVANE_INTERFACE_VERSION ? &g_table : nullptr;
}

extern "C" uint32_t ReleaseObject(const CorvaneFunctionTable* table)
{
    return table == &g_table ? kSuccess : kInvalidParameter;
}

extern "C" const wchar_t* GetVersionStr(void) { return L"2.1.0.0"; }

extern "C" uint32_t GetVersionNum(void) { return CORVANE_INTERFACE_VERSION; }
