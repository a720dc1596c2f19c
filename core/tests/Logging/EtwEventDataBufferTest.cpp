#include "core/Logging/EtwEventDataBuffer.h"
#include "core/Logging/EtwProcessInfo.h"
#include "core/tests/registry/RegistryTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace ETWLogging {
namespace {

std::string Hex(const EtwEventDataBuffer& buffer)
{
    return Fundor::testing::Hex(buffer.Data(), buffer.Size());
}

TEST(EtwEventDataBufferTest, PacksLittleEndianWithoutPadding)
{
    EtwEventDataBuffer buffer;
    buffer.AppendU32(0x01020304);
    buffer.AppendCountedString(L"ab");
    buffer.AppendCountedString(static_cast<const wchar_t*>(nullptr));
    buffer.AppendCountedString(std::wstring(L"c\0d", 3));
    buffer.AppendI64(-2);
    EXPECT_FALSE(buffer.Failed());
    EXPECT_EQ("04030201" "020061006200" "0000" "0300" "6300" "0000" "6400" "FEFFFFFFFFFFFFFF", Hex(buffer));
}

TEST(EtwEventDataBufferTest, GrowsToTheHeapByHalfItsCapacityOrWhatIsNeeded)
{
    EtwEventDataBuffer buffer;
    std::uint8_t bytes[1000];
    for (std::size_t i = 0; i < sizeof(bytes); ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + 1);

    buffer.Append(bytes, 256);
    EXPECT_FALSE(buffer.OnHeap());
    EXPECT_EQ(256u, buffer.Capacity());
    buffer.Append(bytes + 256, 1);
    EXPECT_TRUE(buffer.OnHeap());
    EXPECT_EQ(384u, buffer.Capacity());
    // The new block is zero-filled beyond what was written.
    for (std::size_t i = buffer.Size(); i < buffer.Capacity(); ++i) ASSERT_EQ(0, buffer.Data()[i]) << i;
    buffer.Append(bytes + 257, 127);
    EXPECT_EQ(384u, buffer.Capacity());
    buffer.Append(bytes + 384, 1);
    EXPECT_EQ(576u, buffer.Capacity());
    buffer.Append(bytes + 385, 615);
    EXPECT_EQ(1000u, buffer.Capacity());  // what is needed, being more than 1.5 x 576
    ASSERT_EQ(1000u, buffer.Size());
    EXPECT_EQ(0, std::memcmp(bytes, buffer.Data(), 1000));
    EXPECT_FALSE(buffer.Failed());
}

TEST(EtwEventDataBufferTest, CountedStringIsClampedNotWrapped)
{
    const std::wstring text(70000, L'Z');
    EtwEventDataBuffer buffer;
    buffer.AppendCountedString(text);
    buffer.AppendU32(0xAABBCCDD);
    ASSERT_EQ(2u + 65535u * 2u + 4u, buffer.Size());
    std::uint16_t count = 0;
    std::memcpy(&count, buffer.Data(), 2);
    EXPECT_EQ(65535u, count);
    EXPECT_EQ(0, std::memcmp(text.data(), buffer.Data() + 2, 65535 * 2));
    EXPECT_EQ("DDCCBBAA", Fundor::testing::Hex(buffer.Data() + buffer.Size() - 4, 4));

    EtwEventDataBuffer exact;
    exact.AppendCountedString(std::wstring(65535, L'Y'));
    std::memcpy(&count, exact.Data(), 2);
    EXPECT_EQ(65535u, count);
    EXPECT_EQ(2u + 65535u * 2u, exact.Size());
}

TEST(EtwProcessInfoTest, FileVersionTextWithCommasIsRewrittenWithDots)
{
    using internal::NormalizeFileVersion;
    EXPECT_EQ(L"1.2.3.4", NormalizeFileVersion(L"1,2,3,4"));
    EXPECT_EQ(L"10.0.19041.1", NormalizeFileVersion(L"10, 0, 19041, 1"));
    EXPECT_EQ(L"1.2.3.4", NormalizeFileVersion(L"1.2.3.4"));
    EXPECT_EQ(L"1,2,3", NormalizeFileVersion(L"1,2,3"));
    EXPECT_EQ(L"", NormalizeFileVersion(L""));

    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(::GetModuleFileNameW(nullptr, path, MAX_PATH), 0u);
    std::wstring probe = path;
    probe = probe.substr(0, probe.rfind(L'\\')) + L"\\OrdwellVersionProbe.dll";
    EXPECT_EQ(L"1.2.3.4", internal::ReadFileVersionText(probe.c_str()));
    EXPECT_EQ(L"", internal::ReadFileVersionText(path));  // the test program has no version resource
}

}  // namespace
}  // namespace ETWLogging
