// The bus wire header as the bus DLL hands it over: CopyMessageHeader with the version-1 upgrade.
// The header carries no length of its own, so each input is exactly as long as its version field
// says (108 bytes for version 2, 100 for anything else): a read beyond what that version holds
// touches the no-access page.

#include "tests/fuzz/FuzzHarness.h"

#include "access/message/Message.h"

#include <cstddef>
#include <cstring>

namespace {

using Fuzz::Bytes;

constexpr std::size_t kVersionOffset = offsetof(Velmo::MessageHeader, version);

std::uint16_t VersionOf(const Bytes& input)
{
    if (input.size() < kVersionOffset + 2) return 0;
    return static_cast<std::uint16_t>(input[kVersionOffset] | (input[kVersionOffset + 1] << 8));
}

Bytes HeaderBytes(const Velmo::MessageHeader& header, std::size_t size)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&header);
    return Bytes(bytes, bytes + size);
}

class MessageHeaderDriver final : public Fuzz::FuzzDriver {
public:
    const char* Name() const override { return "bus-header"; }
    std::size_t GrowthLimit() const override { return CORVANE_HEADER_SIZE_V2; }

    std::vector<Bytes> Samples() override
    {
        Velmo::MessageHeader current = Velmo::MessageHeaderTemplate();
        current.totalSize = 2 * 30 + Velmo::kMessageSizeOverhead;
        current.flags = 1u << Velmo::kReplyFlagBit;
        current.replyIndex = 7;
        current.trailer.senderSessionId = 3;
        Velmo::MessageHeader old = current;
        old.version = 1;
        old.totalSize -= 8;
        return {HeaderBytes(current, CORVANE_HEADER_SIZE_V2), HeaderBytes(old, CORVANE_HEADER_SIZE_V1)};
    }

    // The version field is read after padding: random padding may itself make a version 2.
    void Shape(Bytes& input, Fuzz::Rng& rng) override
    {
        while (input.size() < CORVANE_HEADER_SIZE_V1) input.push_back(rng.Byte());
        const std::size_t size = VersionOf(input) == 2 ? CORVANE_HEADER_SIZE_V2 : CORVANE_HEADER_SIZE_V1;
        while (input.size() < size) input.push_back(rng.Byte());
        input.resize(size);
    }

    std::string Run(const std::uint8_t* data, std::size_t size, const Fuzz::InputInfo& info) override
    {
        Velmo::MessageHeader copy;
        std::memset(&copy, 0xA5, sizeof copy);
        Velmo::CopyMessageHeader(&copy, data);
        const auto* out = reinterpret_cast<const std::uint8_t*>(&copy);
        if (copy.version != Velmo::kMessageHeaderVersion) return "the copy is not a version-2 header";
        if (size == CORVANE_HEADER_SIZE_V2) {
            return std::memcmp(out, data, CORVANE_HEADER_SIZE_V2) == 0 ? std::string() : "a version-2 header changed";
        }
        // Version 1: everything but the version and the size as sent, the template's trailer.
        const Velmo::MessageHeader model = Velmo::MessageHeaderTemplate();
        std::uint32_t sentSize = 0;
        std::memcpy(&sentSize, data + offsetof(Velmo::MessageHeader, totalSize), sizeof sentSize);
        if (copy.totalSize != static_cast<std::uint32_t>(sentSize + 8)) return "the size did not grow by the trailer";
        if (std::memcmp(&copy.trailer, &model.trailer, sizeof model.trailer) != 0) return "the trailer is not the template's";
        const std::size_t versionField = kVersionOffset;
        const std::size_t sizeField = offsetof(Velmo::MessageHeader, totalSize);
        for (std::size_t i = 0; i < CORVANE_HEADER_SIZE_V1; ++i) {
            const bool rewritten = (i >= versionField && i < versionField + 2) || (i >= sizeField && i < sizeField + 4);
            if (!rewritten && out[i] != data[i]) return "a version-1 field changed in the upgrade";
        }
        if (info.pristineSample == 1 && (copy.replyIndex != 7 || copy.totalSize != 2 * 30 + Velmo::kMessageSizeOverhead)) {
            return "a valid version-1 header was not upgraded as sent";
        }
        return {};
    }
};

}  // namespace

ORDWELL_FUZZ_DRIVER(MessageHeaderDriver);
