#include "access/message/ReplyImpl.h"

#include "core/Logging/Logging.h"

#include <windows.h>
#include <realtimeapiset.h>

namespace Velmo {

namespace {
constexpr const wchar_t* kSource = L"message\\ReplyImpl";
constexpr std::int64_t kGraceMilliseconds = 1000;
}  // namespace

std::int64_t ReplyImpl::NowMilliseconds() noexcept
{
    ULONGLONG interruptTime = 0;
    QueryUnbiasedInterruptTime(&interruptTime);
    return static_cast<std::int64_t>(interruptTime / 10000);
}

ReplyImpl::ReplyImpl(std::future<std::shared_ptr<Message>> future, const std::chrono::milliseconds& timeout)
    : m_future(std::move(future)), m_deadline(NowMilliseconds() + kGraceMilliseconds + timeout.count())
{
}

std::shared_ptr<Message> ReplyImpl::getMessage() const
{
    return m_status == kReplyReceived ? m_message : nullptr;
}

std::uint32_t ReplyImpl::status()
{
    if (m_status == kReplyPending) m_status = takeReplyMessage(std::chrono::milliseconds(m_deadline - NowMilliseconds()));
    return m_status;
}

std::uint32_t ReplyImpl::waitFor(const std::chrono::milliseconds& duration)
{
    // A reply already taken keeps its state: its future is spent, not broken.
    if (m_status != kReplyPending) return m_status;
    if (!m_future.valid()) {
        if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelError))
            ETWLogging::LogMessage(ETWLogging::kLevelError, kSource, L"Velmo::ReplyImpl::waitFor", __LINE__,
                                   L"Reply future is in an invalid state. Returning.");
        m_status = kReplyInvalid;
        return m_status;
    }
    if (m_future.wait_for(duration) != std::future_status::ready) {
        if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelWarning))
            ETWLogging::LogMessage(ETWLogging::kLevelWarning, kSource, L"Velmo::ReplyImpl::waitFor", __LINE__,
                                   L"Reply waitFor timed out. Returning.");
        return m_status;
    }
    m_status = takeReplyMessage(std::chrono::milliseconds(m_deadline - NowMilliseconds()));
    return m_status;
}

std::uint32_t ReplyImpl::takeReplyMessage(const std::chrono::milliseconds& wait)
{
    if (!m_future.valid()) {
        if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelError))
            ETWLogging::LogMessage(ETWLogging::kLevelError, kSource, L"Velmo::ReplyImpl::takeReplyMessage", __LINE__,
                                   L"Reply future is in an invalid state. Returning.");
        return kReplyInvalid;
    }
    // A reply that has already arrived is taken even when asked for after the deadline.
    const bool arrived = m_future.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
    if (!arrived && (wait.count() <= 0 || m_future.wait_for(wait) != std::future_status::ready)) {
        if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelError))
            ETWLogging::LogMessage(ETWLogging::kLevelError, kSource, L"Velmo::ReplyImpl::takeReplyMessage", __LINE__,
                                   L"Reply future did not get fulfilled on time. Returning.");
        return kReplyNotFulfilledInTime;
    }
    try {
        m_message = m_future.get();
    } catch (const std::exception&) {
        // The bus reported a timeout or another failure for this request.
        if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelError))
            ETWLogging::LogMessage(ETWLogging::kLevelError, kSource, L"Velmo::ReplyImpl::takeReplyMessage", __LINE__,
                                   L"Reply future did not get fulfilled on time. Returning.");
        return kReplyNotFulfilledInTime;
    }
    return m_message ? kReplyReceived : kReplyInvalid;
}

}  // namespace Velmo
