#pragma once
// The reply object of the reply form of a request: a future of the reply message and a deadline
// of (now + 1000 ms + the request's timeout), fixed when the reply object is made.

#include "access/message/Reply.h"

#include <future>

namespace Velmo {

class ReplyImpl final : public Reply {
public:
    ReplyImpl(std::future<std::shared_ptr<Message>> future, const std::chrono::milliseconds& timeout);

    [[nodiscard]] std::uint32_t getStatus() const override { return m_status; }
    [[nodiscard]] std::shared_ptr<Message> getMessage() const override;
    [[nodiscard]] std::uint32_t status() override;
    [[nodiscard]] std::uint32_t waitFor(const std::chrono::milliseconds& duration) override;

    // Milliseconds of unbiased interrupt time: the clock of the deadline.
    [[nodiscard]] static std::int64_t NowMilliseconds() noexcept;

private:
    [[nodiscard]] std::uint32_t takeReplyMessage(const std::chrono::milliseconds& wait);

    std::uint32_t m_status = kReplyPending;
    std::future<std::shared_ptr<Message>> m_future;
    std::shared_ptr<Message> m_message;
    std::int64_t m_deadline = 0;
};

}  // namespace Velmo
