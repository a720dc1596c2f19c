#include "core/registry/ObfuscationCipher.h"

#include <new>
#include <utility>

namespace Fundor {

ObfuscationCipher::ObfuscationCipher(const void* key, int keyLength, int rounds)
    : m_rounds(rounds >= 2 ? rounds : 1)
{
    if (m_rounds <= kInlineRounds) {
        m_scratchA = m_inlineA;
        m_scratchB = m_inlineB;
    } else {
        // Without scratch space Decipher fails; enciphering still works.
        m_heapA.reset(new (std::nothrow) std::uint8_t[m_rounds]);
        m_heapB.reset(new (std::nothrow) std::uint8_t[m_rounds]);
        m_scratchA = m_heapA.get();
        m_scratchB = m_heapB.get();
    }
    if (key != nullptr && keyLength >= 1) {
        Key(static_cast<const std::uint8_t*>(key), keyLength);
    } else {
        Key(reinterpret_cast<const std::uint8_t*>(kDefaultCipherKey), kCipherKeyLength);
    }
    m_seed = NextByte();
    m_feedback = m_seed;
}

void ObfuscationCipher::Key(const std::uint8_t* key, int length)
{
    if (key == nullptr || length < 1) {
        return;
    }
    for (int k = 0; k < 256; ++k) {
        m_state[k] = static_cast<std::uint8_t>(k);
    }
    std::uint8_t j = 0;
    for (int k = 0; k < 256; ++k) {
        j = static_cast<std::uint8_t>(j + m_state[k] + key[k % length]);
        std::swap(m_state[k], m_state[j]);
    }
    m_i = 0;
    m_j = 0;
    m_keyed = true;
}

std::uint8_t ObfuscationCipher::NextByte()
{
    if (!m_keyed) {
        return 0;
    }
    m_i = static_cast<std::uint8_t>(m_i + 1);
    m_j = static_cast<std::uint8_t>(m_j + m_state[m_i]);
    std::swap(m_state[m_i], m_state[m_j]);
    return m_state[static_cast<std::uint8_t>(m_state[m_i] + m_state[m_j])];
}

bool ObfuscationCipher::Encipher(const std::uint8_t* in, std::uint8_t* out, std::size_t n)
{
    if (in == nullptr || out == nullptr || n == 0) {
        return false;
    }
    for (std::size_t index = 0; index < n; ++index) {
        const std::uint8_t plain = in[index];
        m_feedback ^= plain;
        std::uint8_t a = NextByte();
        std::uint8_t b = NextByte();
        std::uint8_t c = static_cast<std::uint8_t>((a ^ m_feedback) + b);
        for (int round = 1; round < m_rounds; ++round) {
            a = NextByte();
            b = NextByte();
            c = static_cast<std::uint8_t>((c ^ a) + b);
        }
        out[index] = c;
    }
    return true;
}

bool ObfuscationCipher::Decipher(const std::uint8_t* in, std::uint8_t* out, std::size_t n)
{
    if (in == nullptr || out == nullptr || n == 0 || m_scratchA == nullptr || m_scratchB == nullptr) {
        return false;
    }
    for (std::size_t index = 0; index < n; ++index) {
        for (int round = 0; round < m_rounds; ++round) {
            m_scratchA[round] = NextByte();
            m_scratchB[round] = NextByte();
        }
        std::uint8_t x = in[index];
        for (int round = m_rounds - 1; round >= 1; --round) {
            x = static_cast<std::uint8_t>(x - m_scratchB[round]) ^ m_scratchA[round];
        }
        x = static_cast<std::uint8_t>(x - m_scratchB[0]) ^ m_scratchA[0];
        const std::uint8_t plain = x ^ m_feedback;
        m_feedback ^= plain;
        out[index] = plain;
    }
    return true;
}

}  // namespace Fundor
