#pragma once
// Hostile-input runs over the system's parsers.
//
// Each parser has a driver: valid sample inputs, the largest input the parser is meant to take,
// and a check that one input gives a defined result. The runner derives every input from the
// samples by a seeded generator (byte and bit flips, cuts, growth to the limit and past it,
// dropped terminators, splices, dictionary tokens), places it at the very end of a committed
// page followed by a no-access page, so that a read past its end faults, and watches each input
// with a time limit. A fault or a hang ends the process with the driver, input index and seed
// printed; `OrdwellFuzz.exe --driver NAME --seed S --from INDEX --count 1` replays that input.
//
// Adding a parser: one file with a FuzzDriver subclass and ORDWELL_FUZZ_DRIVER(Class) in
// tests/fuzz/drivers/ (picked up by the build; name its library in tests/fuzz/CMakeLists.txt if
// it is not linked there yet).

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Fuzz {

using Bytes = std::vector<std::uint8_t>;

// splitmix64: small, fast, and the same everywhere for the same seed.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : m_state(seed) {}
    std::uint64_t Next();
    // 0 .. bound-1; 0 when bound is 0.
    std::size_t Below(std::size_t bound) { return bound == 0 ? 0 : static_cast<std::size_t>(Next() % bound); }
    bool OneIn(unsigned n) { return Below(n) == 0; }
    std::uint8_t Byte() { return static_cast<std::uint8_t>(Next()); }

private:
    std::uint64_t m_state;
};

// Pages of which the last is no-access; Place copies bytes so that they end where that page
// begins. One allocation serves a whole run.
class GuardedBuffer {
public:
    explicit GuardedBuffer(std::size_t capacity);
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    [[nodiscard]] bool valid() const { return m_base != nullptr; }
    [[nodiscard]] std::size_t capacity() const { return m_capacity; }
    // The copy of size bytes (size at most capacity()); for size 0, the start of the guard page.
    [[nodiscard]] std::uint8_t* Place(const void* data, std::size_t size);
    // Room of size bytes ending at the guard page, for outputs written by the code under test.
    [[nodiscard]] std::uint8_t* Room(std::size_t size);
    // True when address lies in this buffer's no-access page.
    [[nodiscard]] bool IsGuard(ULONG_PTR address) const;

private:
    std::uint8_t* m_base = nullptr;
    std::uint8_t* m_guard = nullptr;
    std::size_t m_capacity = 0;
    std::size_t m_pageSize = 0;
};

// What the runner passes to a driver about the input being checked.
struct InputInfo {
    std::uint64_t index = 0;
    // The sample this input is, unchanged; -1 when generated.
    int pristineSample = -1;
};

class FuzzDriver {
public:
    virtual ~FuzzDriver() = default;
    // Short, stable, lower case: used on the command line and in test names.
    [[nodiscard]] virtual const char* Name() const = 0;
    // Valid inputs; the runner starts from these. Called once per run.
    [[nodiscard]] virtual std::vector<Bytes> Samples() = 0;
    // The largest input the parser is meant to take: growth goes up to it and past it.
    [[nodiscard]] virtual std::size_t GrowthLimit() const = 0;
    // Tokens of the input's grammar that the generator may insert.
    [[nodiscard]] virtual std::vector<std::string> Dictionary() const { return {}; }
    // Adjusts a generated input (after mutation) where the driver knows better, e.g. re-sealing a
    // checksum so that later checks are reached too.
    virtual void Shape(Bytes& input, Rng& rng) {}
    // Runs the parser over size bytes at data (which end at a no-access page). Empty when the
    // result is one the parser defines; otherwise what was wrong.
    [[nodiscard]] virtual std::string Run(const std::uint8_t* data, std::size_t size, const InputInfo& info) = 0;
    // Drivers that prove the harness itself; never part of a run of every parser.
    [[nodiscard]] virtual bool IsHarnessCheck() const { return false; }
};

using DriverFactory = std::function<std::unique_ptr<FuzzDriver>()>;

// Every registered driver's name, harness checks included when asked, sorted.
[[nodiscard]] std::vector<std::string> DriverNames(bool includeHarnessChecks);
[[nodiscard]] std::unique_ptr<FuzzDriver> CreateDriver(const std::string& name);
bool RegisterDriver(const char* name, DriverFactory factory);

template <typename Driver>
struct DriverRegistration {
    DriverRegistration() { RegisterDriver(Driver().Name(), [] { return std::make_unique<Driver>(); }); }
};

#define ORDWELL_FUZZ_DRIVER(Class) static const ::Fuzz::DriverRegistration<Class> g_registration_##Class

// The generated input number index of a run with this seed. The first Samples().size() inputs
// are the samples themselves.
[[nodiscard]] Bytes GenerateInput(FuzzDriver& driver, const std::vector<Bytes>& samples, std::uint64_t seed,
                                  std::uint64_t index, std::size_t capacity, int* pristineSample);
// The largest input a run of the driver generates.
[[nodiscard]] std::size_t InputCapacity(const FuzzDriver& driver, const std::vector<Bytes>& samples);

struct RunOptions {
    std::uint64_t seed = 1;
    std::uint64_t first = 0;
    std::uint64_t count = 20000;
    DWORD timeLimitMs = 5000;
    // Undefined results kept in the report (all are counted).
    std::size_t keepFailures = 10;
};

struct RunReport {
    std::uint64_t inputs = 0;
    std::uint64_t undefinedResults = 0;
    std::uint64_t pastLimit = 0;  // inputs longer than the driver's growth limit
    std::uint64_t largest = 0;
    double seconds = 0;
    std::vector<std::string> failures;  // "input N: what"
};

// Runs count inputs through the driver in this process. A fault (also one escaping as an
// unhandled exception) or an input running past the time limit prints the driver, index and seed
// to stderr and ends the process with kExitFault or kExitHang.
[[nodiscard]] RunReport RunDriver(FuzzDriver& driver, const RunOptions& options);

inline constexpr UINT kExitUndefinedResult = 1;
inline constexpr UINT kExitUsage = 2;
inline constexpr UINT kExitFault = 3;
inline constexpr UINT kExitHang = 4;

}  // namespace Fuzz
