#pragma once
// One message of the suite's message bus: name, source, data and the packed wire header that
// travels with them through the bus DLL. Messages are handed around as shared pointers; after
// creation they are read-only except for the header flags the client changes while publishing.

#include "access/message/MessageBusDllInterface.h"

#include <cstdint>
#include <memory>
#include <string>

namespace Velmo {

using MessageHeader = CorvaneMessageHeader;
using SessionTrailer = CorvaneSessionTrailer;

inline constexpr std::uint16_t kMessageHeaderKind = 1;
inline constexpr std::uint16_t kMessageHeaderVersion = 2;
inline constexpr std::uint16_t kSessionTrailerType = 11;
inline constexpr std::uint16_t kSessionTrailerLength = 8;
inline constexpr std::uint32_t kMessageSizeOverhead = 114;

// Flag bits of the header's flags word.
inline constexpr unsigned kReplyFlagBit = 0;         // answers a request; the reply index says which
inline constexpr unsigned kNoNonReplyCopyBit = 3;    // publish a reply once, without an ordinary copy
inline constexpr unsigned kNonReplyCopyFollowsBit = 4;

class Message {
public:
    // Takes the three texts and makes a fresh header: kind 1, version 2, session trailer (11, 8,
    // session 0), all else zero, total size 2 x (characters) + 114. Throws std::bad_alloc.
    Message(std::wstring name, std::wstring source, std::wstring data);
    virtual ~Message();
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;

    [[nodiscard]] const std::wstring& getName() const noexcept { return m_name; }
    [[nodiscard]] const std::wstring& getSource() const noexcept { return m_source; }
    [[nodiscard]] const std::wstring& getData() const noexcept { return m_data; }

    // The owned header; valid for the message's lifetime.
    [[nodiscard]] MessageHeader* getHeader() noexcept { return m_header.get(); }
    [[nodiscard]] const MessageHeader* getHeader() const noexcept { return m_header.get(); }

    // Bit n (0-31) of the flags word as 0 or 1; n outside the word reads 0 and changes nothing.
    [[nodiscard]] std::uint32_t headerFlag(unsigned n) const noexcept;
    void setHeaderFlag(unsigned n) noexcept;
    void clearHeaderFlag(unsigned n) noexcept;
    void clearReplyIndex() noexcept;

    // The session trailer, only for trailer version 2 of a version-2 header; else null.
    [[nodiscard]] SessionTrailer* getSessionTrailer(unsigned version) noexcept;
    [[nodiscard]] const SessionTrailer* getSessionTrailer(unsigned version) const noexcept;

private:
    std::wstring m_name;
    std::wstring m_source;
    std::wstring m_data;
    std::unique_ptr<MessageHeader> m_header;
};

// The header every new message starts from.
[[nodiscard]] MessageHeader MessageHeaderTemplate() noexcept;

// 2 x (characters of name + source + data) + 114, held at the largest 32-bit value.
[[nodiscard]] std::uint32_t MessageTotalSize(std::size_t nameLength, std::size_t sourceLength,
                                             std::size_t dataLength) noexcept;

// A shared message; an empty source becomes DefaultMessageSource(). Throws std::bad_alloc.
[[nodiscard]] std::shared_ptr<Message> CreateMessage(std::wstring name, std::wstring source,
                                                     std::wstring data);

// Copies a header received from the bus DLL. destination is reset to the template first; a null
// source leaves it so. A version-2 source is copied whole (108 bytes). Anything else is read as a
// version-1 header of 100 bytes: those are copied, the template's trailer stays, the total size
// grows by 8 and the version becomes 2. Never reads more than the source's own version holds.
void CopyMessageHeader(MessageHeader* destination, const void* source) noexcept;

// The file name (with extension) of the module that holds this code, computed once; empty when
// it cannot be read.
[[nodiscard]] const std::wstring& DefaultMessageSource();

}  // namespace Velmo
