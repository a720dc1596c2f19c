#pragma once
// Reading back what the ETW logger sends.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace ETWLogging::testing {

// The record data of one event, field by field, in wire order.
struct EtwPayload {
    std::uint32_t processId = 0;
    std::uint32_t threadId = 0;
    std::wstring processName;
    std::wstring file;
    std::wstring function;
    std::uint32_t line = 0;
    std::wstring fileVersion;
    std::wstring modulePath;
    std::wstring group;
    std::int64_t messageBytes = -1;
    bool exact = false;  // every byte read, none missing, none left over
};

class PayloadReader {
public:
    explicit PayloadReader(const std::vector<std::uint8_t>& data) : m_data(data) {}

    bool Read(void* target, std::size_t bytes)
    {
        if (m_offset + bytes > m_data.size()) {
            m_failed = true;
            return false;
        }
        std::memcpy(target, m_data.data() + m_offset, bytes);
        m_offset += bytes;
        return true;
    }
    std::uint32_t U32()
    {
        std::uint32_t value = 0;
        Read(&value, sizeof(value));
        return value;
    }
    std::wstring Counted()
    {
        std::uint16_t count = 0;
        if (!Read(&count, sizeof(count))) return {};
        std::wstring text(count, L'\0');
        Read(text.data(), count * sizeof(wchar_t));
        return text;
    }
    [[nodiscard]] bool AtEnd() const { return !m_failed && m_offset == m_data.size(); }

private:
    const std::vector<std::uint8_t>& m_data;
    std::size_t m_offset = 0;
    bool m_failed = false;
};

inline EtwPayload ParsePayload(const std::vector<std::uint8_t>& data)
{
    PayloadReader reader(data);
    EtwPayload payload;
    payload.processId = reader.U32();
    payload.threadId = reader.U32();
    payload.processName = reader.Counted();
    payload.file = reader.Counted();
    payload.function = reader.Counted();
    payload.line = reader.U32();
    payload.fileVersion = reader.Counted();
    payload.modulePath = reader.Counted();
    payload.group = reader.Counted();
    reader.Read(&payload.messageBytes, sizeof(payload.messageBytes));
    payload.exact = reader.AtEnd();
    return payload;
}

inline std::uint32_t U32At(const std::uint8_t* bytes)
{
    std::uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof(value));
    return value;
}

inline std::uint64_t U64At(const std::uint8_t* bytes)
{
    std::uint64_t value = 0;
    std::memcpy(&value, bytes, sizeof(value));
    return value;
}

inline std::string Text(const std::vector<std::uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace ETWLogging::testing
