#include "core/Logging/EtwEventDataBuffer.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <limits>
#include <new>

namespace ETWLogging {

EtwEventDataBuffer::~EtwEventDataBuffer()
{
    delete[] m_heap;
}

bool EtwEventDataBuffer::Reserve(std::size_t needed) noexcept
{
    if (needed <= m_capacity) {
        return true;
    }
    const std::size_t grown = m_capacity + m_capacity / 2;
    const std::size_t capacity = std::max(needed, grown);
    auto* block = new (std::nothrow) std::uint8_t[capacity]();
    if (block == nullptr) {
        return false;
    }
    std::memcpy(block, Data(), m_size);
    delete[] m_heap;
    m_heap = block;
    m_capacity = capacity;
    return true;
}

void EtwEventDataBuffer::Append(const void* data, std::size_t bytes) noexcept
{
    if (m_failed || bytes == 0) {
        return;
    }
    if (data == nullptr || bytes > std::numeric_limits<std::size_t>::max() - m_size || !Reserve(m_size + bytes)) {
        m_failed = true;
        return;
    }
    std::memcpy(Bytes() + m_size, data, bytes);
    m_size += bytes;
}

void EtwEventDataBuffer::AppendU32(std::uint32_t value) noexcept
{
    // The target is x64: the host byte order is the little-endian wire order.
    Append(&value, sizeof(value));
}

void EtwEventDataBuffer::AppendI64(std::int64_t value) noexcept
{
    Append(&value, sizeof(value));
}

void EtwEventDataBuffer::AppendCounted(const wchar_t* text, std::size_t length) noexcept
{
    // A longer text keeps its first 65,535 characters, so the count always matches what follows
    // (a count taken modulo 65,536 would leave the rest of the record unreadable).
    const std::size_t kept = std::min(length, kMaxCountedChars);
    const auto count = static_cast<std::uint16_t>(kept);
    Append(&count, sizeof(count));
    if (kept != 0) {
        Append(text, kept * sizeof(wchar_t));
    }
}

void EtwEventDataBuffer::AppendCountedString(const wchar_t* text) noexcept
{
    AppendCounted(text, text != nullptr ? std::wcslen(text) : 0);
}

void EtwEventDataBuffer::AppendCountedString(const std::wstring& text) noexcept
{
    AppendCounted(text.c_str(), text.size());
}

}  // namespace ETWLogging
