// Every parser's driver over 20,000 generated inputs, and the harness's own promises: inputs end
// at the no-access page, generation is reproducible and reaches the limits, and a fault or a
// hang names the input and seed.

#include "tests/fuzz/FuzzHarness.h"

#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/ProgramFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

using Fuzz::Bytes;

constexpr std::uint64_t kInputsPerParser = 20000;
constexpr std::uint64_t kSeed = 20240611;

class EveryParser : public ::testing::TestWithParam<std::string> {};

TEST_P(EveryParser, TakesGeneratedInputsWithoutFaultHangOrUndefinedResult)
{
    const auto driver = Fuzz::CreateDriver(GetParam());
    ASSERT_NE(nullptr, driver);
    Fuzz::RunOptions options;
    options.seed = kSeed;
    options.count = kInputsPerParser;
    const Fuzz::RunReport report = Fuzz::RunDriver(*driver, options);
    std::printf("%s: %llu inputs, %llu past the limit, largest %llu bytes, %.1f s\n", GetParam().c_str(),
                static_cast<unsigned long long>(report.inputs), static_cast<unsigned long long>(report.pastLimit),
                static_cast<unsigned long long>(report.largest), report.seconds);
    EXPECT_EQ(kInputsPerParser, report.inputs);
    EXPECT_EQ(0u, report.undefinedResults);
    for (const std::string& failure : report.failures) ADD_FAILURE() << failure;
}

INSTANTIATE_TEST_SUITE_P(Fuzz, EveryParser, ::testing::ValuesIn(Fuzz::DriverNames(false)),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// A line-based sample, as the text parsers have.
class LinesDriver final : public Fuzz::FuzzDriver {
public:
    const char* Name() const override { return "lines"; }
    std::size_t GrowthLimit() const override { return 512; }
    std::vector<Bytes> Samples() override
    {
        const std::string text = "[A]\nkey=value\n";
        return {Bytes(text.begin(), text.end())};
    }
    std::string Run(const std::uint8_t*, std::size_t, const Fuzz::InputInfo&) override { return {}; }
};

TEST(FuzzHarness, InputsAreReproducibleEndAtTheGuardAndReachTheLimits)
{
    LinesDriver driver;
    const std::vector<Bytes> samples = driver.Samples();
    const std::size_t capacity = Fuzz::InputCapacity(driver, samples);
    Fuzz::GuardedBuffer buffer(capacity);
    ASSERT_TRUE(buffer.valid());

    int pristine = -2;
    EXPECT_EQ(samples[0], Fuzz::GenerateInput(driver, samples, 9, 0, capacity, &pristine));
    EXPECT_EQ(0, pristine);

    std::size_t empty = 0, atLimit = 0, pastLimit = 0, unterminated = 0, changed = 0, sameAcrossSeeds = 0;
    for (std::uint64_t index = 1; index < 3000; ++index) {
        const Bytes input = Fuzz::GenerateInput(driver, samples, 9, index, capacity, &pristine);
        EXPECT_EQ(-1, pristine);
        ASSERT_EQ(input, Fuzz::GenerateInput(driver, samples, 9, index, capacity, &pristine)) << index;
        if (input == Fuzz::GenerateInput(driver, samples, 10, index, capacity, &pristine)) ++sameAcrossSeeds;
        ASSERT_LE(input.size(), capacity);
        empty += input.empty();
        atLimit += input.size() == driver.GrowthLimit();
        pastLimit += input.size() > driver.GrowthLimit();
        unterminated += !input.empty() && input.back() != '\n';
        changed += input != samples[0];

        const std::uint8_t* placed = buffer.Place(input.data(), input.size());
        ASSERT_NE(nullptr, placed);
        EXPECT_TRUE(buffer.IsGuard(reinterpret_cast<ULONG_PTR>(placed + input.size())));
        EXPECT_FALSE(buffer.IsGuard(reinterpret_cast<ULONG_PTR>(placed + input.size()) - 1));
        EXPECT_EQ(0, std::memcmp(placed, input.data(), input.size()));
    }
    EXPECT_GT(empty, 0u);
    EXPECT_GT(atLimit, 0u);
    EXPECT_GT(pastLimit, 0u);
    EXPECT_GT(unterminated, 1000u);
    EXPECT_GT(changed, 2900u);
    EXPECT_LT(sameAcrossSeeds, 300u);
}

// Runs OrdwellFuzz.exe beside this program; returns its exit code (0xFFFFFFFE when it did not
// start or end within a minute) and what it wrote to stderr.
DWORD RunFuzzProgram(const std::wstring& arguments, std::string& errors)
{
    return Fundor::testing::RunProgram(Fundor::testing::ProgramFolder() + L"\\OrdwellFuzz.exe", arguments, 60000,
                                       {.output = &errors})
        .value_or(0xFFFFFFFE);
}

TEST(FuzzHarness, AReadPastTheInputOrAnInputOverTheTimeLimitEndsTheRunNamingInputAndSeed)
{
    std::string output;
    EXPECT_EQ(Fuzz::kExitFault, RunFuzzProgram(L"--driver harness-overread --seed 77 --from 3 --count 5", output));
    EXPECT_NE(std::string::npos, output.find("fuzz: harness-overread: fault 0xC0000005 (read at ")) << output;
    EXPECT_NE(std::string::npos, output.find(") on input 3 (seed 77)")) << output;

    output.clear();
    EXPECT_EQ(Fuzz::kExitHang,
              RunFuzzProgram(L"--driver harness-hang --seed 5 --count 1 --time-limit-ms 200", output));
    EXPECT_NE(std::string::npos, output.find("fuzz: harness-hang: ran longer than 200 ms on input 0 (seed 5)"))
        << output;

    output.clear();
    EXPECT_EQ(0u, RunFuzzProgram(L"--driver bus-header --count 300", output));
    EXPECT_NE(std::string::npos, output.find("bus-header       300 inputs")) << output;
}

}  // namespace
