// The bus client over the real stand-in "Corvane.dll": found in the program's folder by the
// macro search, trust-checked (the validation-service stand-in vouches for it), loaded, bound,
// and delivering on its own threads. Each test builds the process-wide validator, so each needs
// a process of its own (as CTest runs them).

#include "access/message/MessageBusClient.h"
#include "access/tests/TrustTestSupport.h"
#include "core/testsupport/Narrow.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

using namespace TrustTesting;
using Fundor::testing::ScratchFolder;
using Fundor::testing::UniqueName;
using Velmo::CreateMessage;
using Velmo::Message;
using Velmo::MessageBusClient;

namespace {

using namespace std::chrono_literals;

std::wstring BusDllPath() { return ProgramFolder() + L"\\Corvane.dll"; }

// Messages a subscriber saw, with the thread each came on.
class Inbox {
public:
    unsigned long take(std::shared_ptr<Message> message)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_messages.push_back(std::move(message));
        m_threads.push_back(GetCurrentThreadId());
        m_arrived.notify_all();
        return 5;
    }
    bool waitFor(std::size_t count, std::chrono::milliseconds limit = 5000ms)
    {
        std::unique_lock<std::mutex> lock(m_lock);
        return m_arrived.wait_for(lock, limit, [&] { return m_messages.size() >= count; });
    }
    std::size_t size()
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_messages.size();
    }
    std::shared_ptr<Message> at(std::size_t i)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_messages.at(i);
    }
    DWORD threadAt(std::size_t i)
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_threads.at(i);
    }

private:
    std::mutex m_lock;
    std::condition_variable m_arrived;
    std::vector<std::shared_ptr<Message>> m_messages;
    std::vector<DWORD> m_threads;
};

std::string ReadFileText(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text(65536, '\0');
    DWORD read = 0;
    if (!ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr)) read = 0;
    CloseHandle(file);
    text.resize(read);
    return text;
}

using Fundor::testing::Narrow;

class BusOverCorvane : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_turn.owned());
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Tervane\\Halvorn", 0, nullptr, 0,
                                                 KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &m_halvorn, nullptr));
        SetText(L"szInstallDir64", ProgramFolder() + L"\\halvorn");
        SetText(L"halvorn_version", L"15.9");
        const std::wstring list = BusDllPath() + L'\0' + L'\0';
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(m_halvorn, L"trusted_paths", 0, REG_MULTI_SZ,
                                                reinterpret_cast<const BYTE*>(list.data()),
                                                static_cast<DWORD>(list.size() * sizeof(wchar_t))));
        m_log = m_folder.File(L"corvane.log");
        ASSERT_TRUE(SetEnvironmentVariableW(L"CORVANE_STANDIN_LOG", m_log.c_str()));
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"CORVANE_STANDIN_LOG", nullptr);
        const std::wstring inject = L"Software\\Tervane\\CorvaneStandIn\\Inject\\" + std::to_wstring(GetCurrentProcessId());
        RegDeleteTreeW(HKEY_CURRENT_USER, inject.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, inject.c_str());
        if (m_halvorn != nullptr) RegCloseKey(m_halvorn);
    }
    void SetText(const wchar_t* name, const std::wstring& value)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(m_halvorn, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
    }

    HalvornKeyTurn m_turn;
    HKEY m_halvorn = nullptr;
    ScratchFolder m_folder;
    std::wstring m_log;
};

TEST_F(BusOverCorvane, DeliversPublishesAndRepliesOnItsOwnThread)
{
    auto bus = MessageBusClient::getInstance();
    ASSERT_TRUE(bus) << "Corvane.dll was not found, trusted or bound";
    EXPECT_NE(nullptr, GetModuleHandleW(BusDllPath().c_str()));

    const std::wstring name = UniqueName(L"Ordwell.Test.");
    Inbox inbox;
    ASSERT_EQ(0u, bus->subscribeAll(name, [&](std::shared_ptr<Message> message) { return inbox.take(std::move(message)); }));
    ASSERT_EQ(0u, bus->publish(CreateMessage(name, L"", L"payload")));
    ASSERT_TRUE(inbox.waitFor(1));
    EXPECT_NE(GetCurrentThreadId(), inbox.threadAt(0));
    EXPECT_EQ(name, inbox.at(0)->getName());
    EXPECT_EQ(L"access_tests.exe", inbox.at(0)->getSource());
    EXPECT_EQ(L"payload", inbox.at(0)->getData());
    // Fields of the packed header are compared as copies: a reference to one may be misaligned.
    EXPECT_EQ(2u * (name.size() + 16 + 7) + 114, std::uint32_t{inbox.at(0)->getHeader()->totalSize});

    // A responder answers on the bus thread by publishing a reply: the requester gets it, and
    // the ordinary subscribers of the reply's name get the non-reply copy.
    const std::wstring ask = UniqueName(L"Ordwell.Ask.");
    const std::wstring answer = ask + L".Answer";
    Inbox answers;
    ASSERT_EQ(0u, bus->subscribeAll(answer, [&](std::shared_ptr<Message> message) { return answers.take(std::move(message)); }));
    Velmo::MessageBus* client = bus.get();
    ASSERT_EQ(0u, bus->subscribeFilter(L"Ordwell\\.Ask\\..*", L"responder", [client, answer](std::shared_ptr<Message> request) {
        auto reply = CreateMessage(answer, L"Responder", L"reply to " + request->getData());
        reply->setHeaderFlag(0);
        reply->getHeader()->replyIndex = request->getHeader()->replyIndex;
        return static_cast<unsigned long>(client->publish(reply));
    }));
    std::unique_ptr<Velmo::Reply> reply;
    ASSERT_EQ(0u, bus->request(CreateMessage(ask, L"", L"question"), reply, 3000ms));
    ASSERT_EQ(0u, reply->status());
    EXPECT_EQ(L"reply to question", reply->getMessage()->getData());
    EXPECT_EQ(1u, reply->getMessage()->headerFlag(0));
    ASSERT_TRUE(answers.waitFor(1));
    EXPECT_EQ(0u, answers.at(0)->headerFlag(0));
    EXPECT_EQ(1u, answers.at(0)->headerFlag(4));
    EXPECT_EQ(0u, std::uint32_t{answers.at(0)->getHeader()->replyIndex});

    // Nobody answers this one: the bus reports the timeout before the client's own deadline.
    ASSERT_EQ(0u, bus->unsubscribe(L"responder"));
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(0u, bus->request(CreateMessage(ask, L"", L"unanswered"), reply, 100ms));
    EXPECT_EQ(2u, reply->status());
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1000ms);

    // Unsubscribed names get nothing more.
    ASSERT_EQ(0u, bus->unsubscribe(name));
    ASSERT_EQ(0u, bus->publish(CreateMessage(name, L"", L"late")));
    Sleep(300);
    EXPECT_EQ(1u, inbox.size());

    // Unsubscribe returns only after a callback already running for it has finished; a
    // callback may unsubscribe itself.
    const std::wstring slow = UniqueName(L"Ordwell.Slow.");
    HANDLE slowStarted = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> finished{false};
    ASSERT_EQ(0u, bus->subscribeAll(slow, [&](std::shared_ptr<Message>) {
        SetEvent(slowStarted);
        Sleep(300);
        finished = true;
        return 0ul;
    }));
    ASSERT_EQ(0u, bus->publish(CreateMessage(slow, L"", L"")));
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(slowStarted, 5000));
    ASSERT_EQ(0u, bus->unsubscribe(slow));
    EXPECT_TRUE(finished);
    CloseHandle(slowStarted);
    const std::wstring once = UniqueName(L"Ordwell.Once.");
    Inbox onceInbox;
    ASSERT_EQ(0u, bus->subscribeAll(once, [&, client, once](std::shared_ptr<Message> message) {
        static_cast<void>(client->unsubscribe(once));
        return onceInbox.take(std::move(message));
    }));
    ASSERT_EQ(0u, bus->publish(CreateMessage(once, L"", L"1")));
    ASSERT_EQ(0u, bus->publish(CreateMessage(once, L"", L"2")));
    ASSERT_TRUE(onceInbox.waitFor(1));
    Sleep(200);
    EXPECT_EQ(1u, onceInbox.size());

    bus.reset();
    EXPECT_EQ(nullptr, GetModuleHandleW(BusDllPath().c_str())) << "released and unloaded";
    const std::string log = ReadFileText(m_log);
    const std::string pid = "pid=" + std::to_string(GetCurrentProcessId()) + " ";
    EXPECT_NE(std::string::npos, log.find(pid + "open handle=")) << log;
    EXPECT_NE(std::string::npos, log.find(" name=" + Narrow(name) + "\r\n")) << log;
    EXPECT_NE(std::string::npos, log.find(pid + "subscribe_filter id=")) << log;
    EXPECT_NE(std::string::npos, log.find(" pattern=Ordwell\\.Ask\\..*\r\n")) << log;
    EXPECT_NE(std::string::npos, log.find("result=0x00000000")) << log;
    EXPECT_NE(std::string::npos, log.find(pid + "release handle=")) << log;
    // Every subscription ended: by alias, by its own callback, and the last one by the client's
    // destructor.
    std::size_t subscribes = 0;
    std::size_t unsubscribes = 0;
    for (std::size_t at = log.find("subscribe"); at != std::string::npos; at = log.find("subscribe", at + 1)) {
        if (at >= 2 && log.compare(at - 2, 2, "un") == 0) {
            ++unsubscribes;
        } else if (log.compare(at - 1, 1, " ") == 0) {
            ++subscribes;
        }
    }
    EXPECT_EQ(5u, subscribes) << log;
    EXPECT_EQ(5u, unsubscribes) << log;
}

// The injection protocol the stand-in offers to tests in other processes (see its source),
// driven here from the test's own thread.
TEST_F(BusOverCorvane, InjectedMessageReachesSubscribersThroughTheSessionFilter)
{
    auto bus = MessageBusClient::getInstance();
    ASSERT_TRUE(bus);
    const auto* client = static_cast<MessageBusClient*>(bus.get());

    const std::wstring name = UniqueName(L"UiContainer.Destroyed.");
    Inbox inbox;
    ASSERT_EQ(0u, bus->subscribeSessionAll(name, [&](std::shared_ptr<Message> message) { return inbox.take(std::move(message)); }));

    const std::wstring keyPath = L"Software\\Tervane\\CorvaneStandIn\\Inject\\" + std::to_wstring(GetCurrentProcessId());
    const std::wstring suffix = L"." + std::to_wstring(GetCurrentProcessId());
    HANDLE delivered = OpenEventW(SYNCHRONIZE, FALSE, (L"CorvaneStandIn.Delivered" + suffix).c_str());
    HANDLE inject = OpenEventW(EVENT_MODIFY_STATE, FALSE, (L"CorvaneStandIn.Inject" + suffix).c_str());
    ASSERT_NE(nullptr, delivered);
    ASSERT_NE(nullptr, inject);

    auto injectMessage = [&](DWORD senderSession, DWORD version) -> DWORD {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                                 &key, nullptr));
        auto text = [&](const wchar_t* value, const std::wstring& data) {
            RegSetValueExW(key, value, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                           static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
        };
        text(L"name", name);
        text(L"source", L"Injector.exe");
        text(L"data", L"window=0x1234");
        RegSetValueExW(key, L"sender_session", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&senderSession), sizeof(DWORD));
        RegSetValueExW(key, L"version", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&version), sizeof(DWORD));
        SetEvent(inject);
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(delivered, 5000));
        DWORD count = 0xFFFFFFFF;
        DWORD size = sizeof(count);
        EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(key, nullptr, L"delivered", RRF_RT_REG_DWORD, nullptr, &count, &size));
        size = 0;
        EXPECT_NE(ERROR_SUCCESS, RegGetValueW(key, nullptr, L"name", RRF_RT_REG_SZ, nullptr, nullptr, &size)) << "taken";
        RegCloseKey(key);
        return count;
    };

    const DWORD own = client->sessionId();
    EXPECT_EQ(1u, injectMessage(own, 2));
    ASSERT_EQ(1u, inbox.size());
    EXPECT_NE(GetCurrentThreadId(), inbox.threadAt(0));
    EXPECT_EQ(name, inbox.at(0)->getName());
    EXPECT_EQ(L"Injector.exe", inbox.at(0)->getSource());
    EXPECT_EQ(L"window=0x1234", inbox.at(0)->getData());
    EXPECT_EQ(own, inbox.at(0)->getSessionTrailer(2)->senderSessionId);

    // A version-1 header arrives upgraded, and passes the filter.
    EXPECT_EQ(1u, injectMessage(own + 1, 1));
    ASSERT_EQ(2u, inbox.size());
    EXPECT_EQ(2u, std::uint16_t{inbox.at(1)->getHeader()->version});
    EXPECT_EQ(0u, inbox.at(1)->getSessionTrailer(2)->senderSessionId);
    EXPECT_EQ(2u * (name.size() + 12 + 13) + 114, std::uint32_t{inbox.at(1)->getHeader()->totalSize});

    // Another session's message reaches the DLL's callback but not the subscriber, unless this
    // process runs in session 0 (which filters nothing).
    EXPECT_EQ(1u, injectMessage(own + 1, 2));
    EXPECT_EQ(own == 0 ? 3u : 2u, inbox.size());

    CloseHandle(inject);
    CloseHandle(delivered);
}

// Without the validation service's word the stand-in's signature alone must not get it loaded
// (its signer is a test publisher), and the host then runs without a bus.
TEST_F(BusOverCorvane, UntrustedBusDllIsNotLoaded)
{
    RegDeleteValueW(m_halvorn, L"trusted_paths");
    auto bus = MessageBusClient::getInstance();
    EXPECT_FALSE(bus);
    EXPECT_EQ(nullptr, GetModuleHandleW(BusDllPath().c_str()));
}

}  // namespace
