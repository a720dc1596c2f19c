#include "access/message/Message.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <vector>

using Velmo::CopyMessageHeader;
using Velmo::CreateMessage;
using Velmo::Message;
using Velmo::MessageHeader;

namespace {

std::vector<unsigned char> Bytes(const MessageHeader* header)
{
    const auto* first = reinterpret_cast<const unsigned char*>(header);
    return std::vector<unsigned char>(first, first + sizeof(MessageHeader));
}

void PutU16(std::vector<unsigned char>& bytes, std::size_t offset, unsigned value)
{
    bytes[offset] = static_cast<unsigned char>(value);
    bytes[offset + 1] = static_cast<unsigned char>(value >> 8);
}

void PutU32(std::vector<unsigned char>& bytes, std::size_t offset, unsigned long value)
{
    for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

// The header of a new message as the wire table writes it: kind 1, total size, version 2,
// session trailer 11 / 8 / 0, everything else zero.
std::vector<unsigned char> NewHeaderBytes(unsigned long totalSize)
{
    std::vector<unsigned char> bytes(108, 0);
    PutU16(bytes, 0, 1);
    PutU32(bytes, 2, totalSize);
    PutU16(bytes, 10, 2);
    PutU16(bytes, 100, 11);
    PutU16(bytes, 102, 8);
    return bytes;
}

// Memory whose last readable byte is the end of a block of the given size: reading past it
// faults, so a copy that reads too much cannot go unnoticed.
class GuardedBlock {
public:
    explicit GuardedBlock(std::size_t size)
    {
        SYSTEM_INFO info{};
        GetSystemInfo(&info);
        m_pageSize = info.dwPageSize;
        m_base = static_cast<unsigned char*>(VirtualAlloc(nullptr, 2 * m_pageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD previous = 0;
        m_guarded = m_base != nullptr && VirtualProtect(m_base + m_pageSize, m_pageSize, PAGE_NOACCESS, &previous) != FALSE;
        m_data = m_base + m_pageSize - size;
    }
    ~GuardedBlock()
    {
        if (m_base != nullptr) VirtualFree(m_base, 0, MEM_RELEASE);
    }
    [[nodiscard]] bool valid() const { return m_guarded; }
    [[nodiscard]] unsigned char* data() const { return m_data; }

private:
    std::size_t m_pageSize = 0;
    unsigned char* m_base = nullptr;
    unsigned char* m_data = nullptr;
    bool m_guarded = false;
};

TEST(BusMessage, NewHeaderMatchesTheWireTableByteForByte)
{
    // One-character name and source, empty data: 2 x 2 + 114.
    Message small(L"N", L"S", L"");
    EXPECT_EQ(NewHeaderBytes(118), Bytes(small.getHeader()));

    Message longer(L"Nbr.Uninstall.Start", L"Ordwell.exe", L"{\"a\":1}");
    EXPECT_EQ(NewHeaderBytes(2 * (19 + 11 + 7) + 114), Bytes(longer.getHeader()));
    EXPECT_EQ(L"Nbr.Uninstall.Start", longer.getName());
    EXPECT_EQ(L"Ordwell.exe", longer.getSource());
    EXPECT_EQ(L"{\"a\":1}", longer.getData());

    Message empty(L"", L"", L"");
    EXPECT_EQ(NewHeaderBytes(114), Bytes(empty.getHeader()));

    EXPECT_EQ(118u, Velmo::MessageTotalSize(1, 1, 0));
    EXPECT_EQ(0xFFFFFFFFu, Velmo::MessageTotalSize(0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF));
}

TEST(BusMessage, FlagsAndReplyIndexChangeOnlyTheirBytes)
{
    Message message(L"N", L"S", L"");
    message.setHeaderFlag(0);
    message.setHeaderFlag(4);
    message.setHeaderFlag(31);
    message.getHeader()->replyIndex = 0x01020304;
    std::vector<unsigned char> expected = NewHeaderBytes(118);
    PutU32(expected, 6, 0x80000011);
    PutU32(expected, 92, 0x01020304);
    EXPECT_EQ(expected, Bytes(message.getHeader()));
    EXPECT_EQ(1u, message.headerFlag(0));
    EXPECT_EQ(0u, message.headerFlag(3));
    EXPECT_EQ(1u, message.headerFlag(4));
    EXPECT_EQ(1u, message.headerFlag(31));
    EXPECT_EQ(0u, message.headerFlag(32));

    message.clearHeaderFlag(0);
    message.clearHeaderFlag(31);
    message.clearReplyIndex();
    message.setHeaderFlag(40);  // outside the word: nothing changes
    expected = NewHeaderBytes(118);
    PutU32(expected, 6, 0x10);
    EXPECT_EQ(expected, Bytes(message.getHeader()));
}

TEST(BusMessage, SessionTrailerOnlyForVersionTwo)
{
    Message message(L"N", L"S", L"D");
    auto* trailer = message.getSessionTrailer(2);
    ASSERT_NE(nullptr, trailer);
    EXPECT_EQ(reinterpret_cast<unsigned char*>(message.getHeader()) + 100, reinterpret_cast<unsigned char*>(trailer));
    EXPECT_EQ(11, trailer->type);
    EXPECT_EQ(8, trailer->length);
    EXPECT_EQ(0u, trailer->senderSessionId);
    EXPECT_EQ(nullptr, message.getSessionTrailer(1));
    EXPECT_EQ(nullptr, message.getSessionTrailer(3));
    message.getHeader()->version = 1;
    EXPECT_EQ(nullptr, message.getSessionTrailer(2));
}

TEST(BusMessage, VersionOneHeaderIsUpgradedWithoutReadingPastIt)
{
    GuardedBlock block(100);
    ASSERT_TRUE(block.valid());
    std::vector<unsigned char> v1(100);
    for (std::size_t i = 0; i < v1.size(); ++i) v1[i] = static_cast<unsigned char>(0xA0 + i);
    PutU16(v1, 0, 1);
    PutU32(v1, 2, 150);
    PutU32(v1, 6, 0x9);
    PutU16(v1, 10, 1);
    PutU32(v1, 92, 7);
    std::memcpy(block.data(), v1.data(), v1.size());

    MessageHeader destination;
    std::memset(&destination, 0xFF, sizeof(destination));
    CopyMessageHeader(&destination, block.data());

    std::vector<unsigned char> expected(v1);
    PutU32(expected, 2, 158);  // 8 bytes longer
    PutU16(expected, 10, 2);
    expected.insert(expected.end(), {11, 0, 8, 0, 0, 0, 0, 0});
    EXPECT_EQ(expected, Bytes(&destination));

    // A message carrying it passes a session check: the trailer exists and names session 0.
    auto message = CreateMessage(L"N", L"S", L"");
    CopyMessageHeader(message->getHeader(), block.data());
    ASSERT_NE(nullptr, message->getSessionTrailer(2));
    EXPECT_EQ(0u, message->getSessionTrailer(2)->senderSessionId);
}

TEST(BusMessage, VersionTwoHeaderIsCopiedWholeAndNullResetsToTheTemplate)
{
    GuardedBlock block(108);
    ASSERT_TRUE(block.valid());
    std::vector<unsigned char> v2(108);
    for (std::size_t i = 0; i < v2.size(); ++i) v2[i] = static_cast<unsigned char>(i * 7 + 3);
    PutU16(v2, 10, 2);
    std::memcpy(block.data(), v2.data(), v2.size());

    MessageHeader destination;
    std::memset(&destination, 0, sizeof(destination));
    CopyMessageHeader(&destination, block.data());
    EXPECT_EQ(v2, Bytes(&destination));

    CopyMessageHeader(&destination, nullptr);
    EXPECT_EQ(NewHeaderBytes(0), Bytes(&destination));
    CopyMessageHeader(nullptr, block.data());  // nothing to write to: no fault
}

TEST(BusMessage, EmptySourceBecomesTheProgramFileName)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    ASSERT_GT(length, 0u);
    std::wstring program(path, length);
    program = program.substr(program.find_last_of(L'\\') + 1);
    ASSERT_EQ(L"access_tests.exe", program);

    EXPECT_EQ(program, Velmo::DefaultMessageSource());
    auto message = CreateMessage(L"Name", L"", L"data");
    EXPECT_EQ(program, message->getSource());
    // Fields of the packed header are compared as copies: a reference to one may be misaligned.
    EXPECT_EQ(2u * (4 + program.size() + 4) + 114, std::uint32_t{message->getHeader()->totalSize});
    EXPECT_EQ(L"Given", CreateMessage(L"Name", L"Given", L"")->getSource());
}

}  // namespace
