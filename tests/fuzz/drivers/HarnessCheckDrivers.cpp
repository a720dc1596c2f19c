// Drivers that misbehave on purpose, so that the harness's fault and hang reports are tested.
// They run only when named.

#include "tests/fuzz/FuzzHarness.h"

namespace {

using Fuzz::Bytes;

class ReadsOnePastTheEnd final : public Fuzz::FuzzDriver {
public:
    const char* Name() const override { return "harness-overread"; }
    std::size_t GrowthLimit() const override { return 64; }
    std::vector<Bytes> Samples() override { return {Bytes(16, 'x')}; }
    bool IsHarnessCheck() const override { return true; }
    std::string Run(const std::uint8_t* data, std::size_t size, const Fuzz::InputInfo&) override
    {
        const volatile std::uint8_t* end = data + size;
        return *end == 0x5A ? "unreachable" : "read past the end without a fault";
    }
};

class NeverReturns final : public Fuzz::FuzzDriver {
public:
    const char* Name() const override { return "harness-hang"; }
    std::size_t GrowthLimit() const override { return 64; }
    std::vector<Bytes> Samples() override { return {Bytes(16, 'x')}; }
    bool IsHarnessCheck() const override { return true; }
    std::string Run(const std::uint8_t*, std::size_t, const Fuzz::InputInfo&) override
    {
        ::Sleep(60000);
        return "the time limit did not end the run";
    }
};

}  // namespace

ORDWELL_FUZZ_DRIVER(ReadsOnePastTheEnd);
ORDWELL_FUZZ_DRIVER(NeverReturns);
