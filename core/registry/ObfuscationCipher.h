#pragma once
// The keyed stream cipher of enciphered ("KVRG") values: an RC4 key stream with a feedback
// register that chains every byte to all bytes before it, and one or more rounds per byte.

#include <cstddef>
#include <cstdint>
#include <memory>

namespace Fundor {

// Key of registry records: the 38 ASCII characters, no terminator.
inline constexpr char kRegistryCipherKey[] = "{9A2E6C71-D34B-4c5f-8E07-B1F2A93D6C48}";
// Key of ini records.
inline constexpr char kIniCipherKey[] = "{2C96B0E4-A1F7-4D35-8B6E-90D4F3A7C152}";
// Key used when the caller gives none.
inline constexpr char kDefaultCipherKey[] = "{4B7D19E2-5C3A-4F08-A6D1-2E9B7C40F583}";
inline constexpr int kCipherKeyLength = 38;

class ObfuscationCipher {
public:
    // A null key or a length below 1 selects the default key; rounds below 2 mean one round.
    ObfuscationCipher(const void* key, int keyLength, int rounds);
    ObfuscationCipher(const ObfuscationCipher&) = delete;
    ObfuscationCipher& operator=(const ObfuscationCipher&) = delete;

    // Both may work in place. False for null buffers or n == 0 (nothing written).
    [[nodiscard]] bool Encipher(const std::uint8_t* in, std::uint8_t* out, std::size_t n);
    [[nodiscard]] bool Decipher(const std::uint8_t* in, std::uint8_t* out, std::size_t n);

    [[nodiscard]] int Rounds() const { return m_rounds; }

private:
    static constexpr int kInlineRounds = 5;

    void Key(const std::uint8_t* key, int length);
    std::uint8_t NextByte();

    std::uint8_t m_state[256] = {};
    std::uint8_t m_i = 0;
    std::uint8_t m_j = 0;
    bool m_keyed = false;
    int m_rounds = 1;
    // Scratch for deciphering: inline for the usual few rounds, on the heap beyond.
    std::uint8_t m_inlineA[kInlineRounds] = {};
    std::uint8_t m_inlineB[kInlineRounds] = {};
    std::unique_ptr<std::uint8_t[]> m_heapA;
    std::unique_ptr<std::uint8_t[]> m_heapB;
    std::uint8_t* m_scratchA = nullptr;
    std::uint8_t* m_scratchB = nullptr;
    std::uint8_t m_seed = 0;
    std::uint8_t m_feedback = 0;
};

}  // namespace Fundor
