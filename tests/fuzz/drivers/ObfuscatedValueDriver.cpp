// The registry form of an enciphered value: DecodeObfuscatedValue over hostile records.

#include "tests/fuzz/FuzzHarness.h"

#include "core/registry/Md5Digest.h"
#include "core/registry/ObfuscatedValueBlob.h"

#include <cstring>

namespace {

using Fuzz::Bytes;

std::uint32_t U32(const std::uint8_t* at)
{
    return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
           (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

void PutU32(std::uint8_t* at, std::uint32_t value)
{
    for (int k = 0; k < 4; ++k) at[k] = static_cast<std::uint8_t>(value >> (8 * k));
}

class ObfuscatedValueDriver final : public Fuzz::FuzzDriver {
public:
    const char* Name() const override { return "kvrg-record"; }
    std::size_t GrowthLimit() const override { return 4096; }
    std::vector<std::string> Dictionary() const override { return {"KVRG", std::string("\x01\0\0\0", 4)}; }

    std::vector<Bytes> Samples() override
    {
        const std::string text("C:\\Program Files\\Tervane\\QRN", 29);  // with its terminator
        const std::string multi("one\0two\0\0", 9);
        const std::uint8_t dword[4] = {0x2A, 0, 0, 0};
        Bytes binary(300);
        for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<std::uint8_t>(i * 7);
        m_plain = {Bytes(text.begin(), text.end()), Bytes(dword, dword + 4), Bytes(1, 0x5A),
                   Bytes(multi.begin(), multi.end()), binary};
        m_types = {REG_SZ, REG_DWORD, REG_BINARY, REG_MULTI_SZ, REG_BINARY};
        m_out = std::make_unique<Fuzz::GuardedBuffer>(2 * GrowthLimit() + 4096);
        std::vector<Bytes> samples;
        for (std::size_t i = 0; i < m_plain.size(); ++i) {
            Bytes record(m_plain[i].size() + Fundor::kObfuscatedValueHeaderSize);
            if (Fundor::EncodeObfuscatedValue(m_plain[i].data(), static_cast<DWORD>(m_plain[i].size()), m_types[i],
                                              record.data(), static_cast<DWORD>(record.size())) != ERROR_SUCCESS) {
                return {};
            }
            samples.push_back(std::move(record));
        }
        return samples;
    }

    // The digest is not keyed: an attacker re-seals whatever he changed. Half the inputs are
    // re-sealed (some with a matching length field too) so that the checks behind the digest
    // and the deciphering are reached.
    void Shape(Bytes& input, Fuzz::Rng& rng) override
    {
        if (input.size() < Fundor::kObfuscatedValueHeaderSize || rng.OneIn(2)) return;
        if (rng.OneIn(2)) PutU32(input.data() + 8, static_cast<std::uint32_t>(input.size() - 32));
        std::memset(input.data() + 16, 0, Fundor::kMd5Length);
        std::uint8_t digest[Fundor::kMd5Length];
        if (Fundor::Md5Digest(input.data(), input.size(), digest, sizeof digest) == 0) {
            std::memcpy(input.data() + 16, digest, sizeof digest);
        }
    }

    std::string Run(const std::uint8_t* data, std::size_t size, const Fuzz::InputInfo& info) override
    {
        const auto length = static_cast<DWORD>(size);
        constexpr DWORD kUntouched = 0xDEADBEEF;

        DWORD type = kUntouched;
        const LONG checked = Fundor::DecodeObfuscatedValue(data, length, &type, nullptr, nullptr);
        if (checked != ERROR_SUCCESS && checked != ERROR_INVALID_DATA) {
            return "check alone gave " + std::to_string(checked);
        }
        if (checked != ERROR_SUCCESS) {
            return type == kUntouched ? std::string() : "the type was written for a refused record";
        }
        if (size < 32 || std::memcmp(data, "KVRG", 4) != 0 || U32(data + 8) != size - 32) {
            return "a record with a wrong magic or length was accepted";
        }
        if (type != U32(data + 12)) return "the type read back differs from the record's";

        // Deciphering into room of exactly N bytes that ends at a no-access page.
        const std::uint32_t n = U32(data + 8);
        std::uint8_t* room = m_out ? m_out->Room(n) : nullptr;
        if (room == nullptr) return "no room for the output";
        DWORD got = n;
        const LONG decoded = Fundor::DecodeObfuscatedValue(data, length, nullptr, room, &got);
        if (decoded != (n == 0 ? 6001 : ERROR_SUCCESS)) return "decode with room N gave " + std::to_string(decoded);
        if (got != n) return "the size read back differs from N";
        if (info.pristineSample >= 0) {
            const Bytes& plain = m_plain[static_cast<std::size_t>(info.pristineSample)];
            if (type != m_types[static_cast<std::size_t>(info.pristineSample)] || n != plain.size() ||
                std::memcmp(room, plain.data(), n) != 0) {
                return "a valid record did not give back its plain data";
            }
        }

        if (n > 0) {
            std::memset(room, 0xA5, n);
            DWORD short_ = n - 1;
            const LONG small = Fundor::DecodeObfuscatedValue(data, length, nullptr, room, &short_);
            if (small != ERROR_MORE_DATA || short_ != n) return "decode with room N-1 gave " + std::to_string(small);
            for (std::uint32_t i = 0; i < n; ++i) {
                if (room[i] != 0xA5) return "data was written although the room was too small";
            }
        }
        return {};
    }

private:
    std::vector<Bytes> m_plain;
    std::vector<DWORD> m_types;
    std::unique_ptr<Fuzz::GuardedBuffer> m_out;
};

}  // namespace

ORDWELL_FUZZ_DRIVER(ObfuscatedValueDriver);
