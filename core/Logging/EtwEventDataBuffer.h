#pragma once
// Packs the data of one ETW record: little-endian, no padding. The first 256 bytes live inside
// the object (a typical record allocates nothing); beyond that the data moves to a zero-filled
// heap block of max(needed, 1.5 x capacity) bytes, owned by the buffer.
//
// Appends never throw. When a heap block cannot be had, the buffer keeps what it held, ignores
// every later append and reports Failed(): a record that cannot be packed whole is not sent.

#include <cstddef>
#include <cstdint>
#include <string>

namespace ETWLogging {

class EtwEventDataBuffer {
public:
    static constexpr std::size_t kInlineBytes = 256;
    // A counted string holds at most this many UTF-16 characters; longer text is cut to it.
    static constexpr std::size_t kMaxCountedChars = 0xFFFF;

    EtwEventDataBuffer() noexcept = default;
    ~EtwEventDataBuffer();
    EtwEventDataBuffer(const EtwEventDataBuffer&) = delete;
    EtwEventDataBuffer& operator=(const EtwEventDataBuffer&) = delete;

    void Append(const void* data, std::size_t bytes) noexcept;
    void AppendU32(std::uint32_t value) noexcept;
    void AppendI64(std::int64_t value) noexcept;
    // u16 count of UTF-16 characters, then the characters without a terminator. Null text is
    // the empty string.
    void AppendCountedString(const wchar_t* text) noexcept;
    void AppendCountedString(const std::wstring& text) noexcept;

    [[nodiscard]] const std::uint8_t* Data() const noexcept { return m_heap != nullptr ? m_heap : m_inline; }
    [[nodiscard]] std::size_t Size() const noexcept { return m_size; }
    [[nodiscard]] std::size_t Capacity() const noexcept { return m_capacity; }
    [[nodiscard]] bool OnHeap() const noexcept { return m_heap != nullptr; }
    [[nodiscard]] bool Failed() const noexcept { return m_failed; }

private:
    void AppendCounted(const wchar_t* text, std::size_t length) noexcept;
    [[nodiscard]] bool Reserve(std::size_t needed) noexcept;
    [[nodiscard]] std::uint8_t* Bytes() noexcept { return m_heap != nullptr ? m_heap : m_inline; }

    std::uint8_t m_inline[kInlineBytes] = {};
    std::uint8_t* m_heap = nullptr;  // owned; null while the inline storage is used
    std::size_t m_size = 0;
    std::size_t m_capacity = kInlineBytes;
    bool m_failed = false;
};

}  // namespace ETWLogging
