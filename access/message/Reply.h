#pragma once
// A pending reply to a request made with Velmo::MessageBus::request. Used by the requesting
// thread only.

#include "access/message/Message.h"

#include <chrono>
#include <cstdint>
#include <memory>

namespace Velmo {

// Reply states.
inline constexpr std::uint32_t kReplyReceived = 0;
inline constexpr std::uint32_t kReplyPending = 1;
inline constexpr std::uint32_t kReplyNotFulfilledInTime = 2;
inline constexpr std::uint32_t kReplyInvalid = 3;

class Reply {
public:
    virtual ~Reply() = default;
    // The state as it stands, without waiting.
    [[nodiscard]] virtual std::uint32_t getStatus() const = 0;
    // The reply message when the state is kReplyReceived, else empty. Does not wait.
    [[nodiscard]] virtual std::shared_ptr<Message> getMessage() const = 0;
    // While pending, waits for the reply until the request's deadline; then the state.
    [[nodiscard]] virtual std::uint32_t status() = 0;
    // Waits at most duration; on timeout the state stays as it was.
    [[nodiscard]] virtual std::uint32_t waitFor(const std::chrono::milliseconds& duration) = 0;
};

}  // namespace Velmo
