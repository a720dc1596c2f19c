#include "access/message/Message.h"

#include <windows.h>

#include <cstring>
#include <limits>
#include <vector>

namespace Velmo {

MessageHeader MessageHeaderTemplate() noexcept
{
    MessageHeader header;
    std::memset(&header, 0, sizeof(header));
    header.kind = kMessageHeaderKind;
    header.version = kMessageHeaderVersion;
    header.trailer.type = kSessionTrailerType;
    header.trailer.length = kSessionTrailerLength;
    return header;
}

std::uint32_t MessageTotalSize(std::size_t nameLength, std::size_t sourceLength, std::size_t dataLength) noexcept
{
    constexpr std::uint64_t limit = std::numeric_limits<std::uint32_t>::max();
    const std::uint64_t characters = static_cast<std::uint64_t>(nameLength) + sourceLength + dataLength;
    if (characters > (limit - kMessageSizeOverhead) / 2) return static_cast<std::uint32_t>(limit);
    return static_cast<std::uint32_t>(2 * characters + kMessageSizeOverhead);
}

Message::Message(std::wstring name, std::wstring source, std::wstring data)
    : m_name(std::move(name)), m_source(std::move(source)), m_data(std::move(data)),
      m_header(std::make_unique<MessageHeader>(MessageHeaderTemplate()))
{
    m_header->totalSize = MessageTotalSize(m_name.size(), m_source.size(), m_data.size());
}

Message::~Message() = default;

std::uint32_t Message::headerFlag(unsigned n) const noexcept
{
    if (n >= 32) return 0;
    return (m_header->flags >> n) & 1u;
}

void Message::setHeaderFlag(unsigned n) noexcept
{
    if (n < 32) m_header->flags |= (1u << n);
}

void Message::clearHeaderFlag(unsigned n) noexcept
{
    if (n < 32) m_header->flags &= ~(1u << n);
}

void Message::clearReplyIndex() noexcept { m_header->replyIndex = 0; }

SessionTrailer* Message::getSessionTrailer(unsigned version) noexcept
{
    if (version != 2 || m_header->version != 2) return nullptr;
    return &m_header->trailer;
}

const SessionTrailer* Message::getSessionTrailer(unsigned version) const noexcept
{
    if (version != 2 || m_header->version != 2) return nullptr;
    return &m_header->trailer;
}

std::shared_ptr<Message> CreateMessage(std::wstring name, std::wstring source, std::wstring data)
{
    if (source.empty()) source = DefaultMessageSource();
    return std::make_shared<Message>(std::move(name), std::move(source), std::move(data));
}

void CopyMessageHeader(MessageHeader* destination, const void* source) noexcept
{
    if (destination == nullptr) return;
    *destination = MessageHeaderTemplate();
    if (source == nullptr) return;

    // Only the version field is read before the size of the source is known.
    std::uint16_t version = 0;
    std::memcpy(&version, static_cast<const unsigned char*>(source) + offsetof(MessageHeader, version), sizeof(version));
    if (version == 2) {
        std::memcpy(destination, source, CORVANE_HEADER_SIZE_V2);
        return;
    }
    std::memcpy(destination, source, CORVANE_HEADER_SIZE_V1);
    destination->trailer = MessageHeaderTemplate().trailer;
    destination->totalSize += CORVANE_HEADER_SIZE_V2 - CORVANE_HEADER_SIZE_V1;
    destination->version = kMessageHeaderVersion;
}

namespace {

std::wstring ReadDefaultSource()
{
    HMODULE module = nullptr;
    const BOOL found = GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                          reinterpret_cast<LPCWSTR>(&ReadDefaultSource), &module);
    if (!found) return {};
    // Grow until the whole path fits: a cut path would give a wrong file name.
    std::vector<wchar_t> path(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) {
            std::wstring full(path.data(), length);
            const std::size_t slash = full.find_last_of(L'\\');
            return slash == std::wstring::npos ? full : full.substr(slash + 1);
        }
        if (path.size() >= 32768) return {};
        path.resize(path.size() * 2);
    }
}

}  // namespace

const std::wstring& DefaultMessageSource()
{
    // A thread-safe one-time initialisation; a failure to allocate leaves it for the next call.
    static const std::wstring source = ReadDefaultSource();
    return source;
}

}  // namespace Velmo
