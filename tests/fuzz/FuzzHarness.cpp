#include "tests/fuzz/FuzzHarness.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <mutex>
#include <thread>

namespace Fuzz {
namespace {

// --- driver registry ------------------------------------------------------------------------

std::map<std::string, DriverFactory>& Registry()
{
    static std::map<std::string, DriverFactory> registry;
    return registry;
}

// --- what the fault and hang reports name ---------------------------------------------------

struct ActiveRun {
    std::atomic<const char*> driver{nullptr};
    std::atomic<std::uint64_t> seed{0};
    std::atomic<std::uint64_t> index{0};
    std::atomic<ULONGLONG> startedMs{0};
    std::atomic<bool> busy{false};
    std::atomic<GuardedBuffer*> buffer{nullptr};
};

ActiveRun g_active;

// Written with WriteFile: the C runtime's stream locks may be held by the code that faulted.
void ReportAndExit(UINT exitCode, const char* what)
{
    char line[512];
    const char* driver = g_active.driver.load();
    const int length = std::snprintf(line, sizeof line, "fuzz: %s: %s on input %llu (seed %llu)\n",
                                     driver != nullptr ? driver : "?", what,
                                     static_cast<unsigned long long>(g_active.index.load()),
                                     static_cast<unsigned long long>(g_active.seed.load()));
    DWORD written = 0;
    if (length > 0) {
        (void)::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), line,
                          static_cast<DWORD>(std::min<int>(length, sizeof line - 1)), &written, nullptr);
    }
    ::TerminateProcess(::GetCurrentProcess(), exitCode);
}

void ReportFault(const EXCEPTION_RECORD* record)
{
    char what[160];
    const bool access = record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2;
    if (access) {
        std::snprintf(what, sizeof what, "fault 0x%08lX (%s at %p)", record->ExceptionCode,
                      record->ExceptionInformation[0] == 0 ? "read" : "write",
                      reinterpret_cast<void*>(record->ExceptionInformation[1]));
    } else {
        std::snprintf(what, sizeof what, "fault 0x%08lX at %p", record->ExceptionCode, record->ExceptionAddress);
    }
    ReportAndExit(kExitFault, what);
}

// A touch of the guard page is a read past the input whatever handler lies between: report it
// first. Other faults are left to the handlers of the code under test, then to the filter below.
LONG CALLBACK GuardPageHandler(EXCEPTION_POINTERS* pointers)
{
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    GuardedBuffer* buffer = g_active.buffer.load();
    if (g_active.busy.load() && buffer != nullptr && record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION &&
        record->NumberParameters >= 2 && buffer->IsGuard(record->ExceptionInformation[1])) {
        ReportFault(record);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI UnhandledFault(EXCEPTION_POINTERS* pointers)
{
    ReportFault(pointers->ExceptionRecord);
    return EXCEPTION_EXECUTE_HANDLER;
}

void TerminateReport()
{
    ReportAndExit(kExitFault, "std::terminate (an exception escaped a noexcept function)");
}

void InstallFaultReporting()
{
    static std::once_flag once;
    std::call_once(once, [] {
        (void)::AddVectoredExceptionHandler(1, GuardPageHandler);
        (void)::SetUnhandledExceptionFilter(UnhandledFault);
        std::set_terminate(TerminateReport);
    });
}

class Watchdog {
public:
    explicit Watchdog(DWORD limitMs)
        : m_thread([this, limitMs] {
              const DWORD step = std::clamp<DWORD>(limitMs / 4, 5, 100);
              while (!m_stop.load()) {
                  ::Sleep(step);
                  if (!g_active.busy.load()) continue;
                  const ULONGLONG started = g_active.startedMs.load();
                  if (g_active.busy.load() && ::GetTickCount64() - started > limitMs) {
                      char what[64];
                      std::snprintf(what, sizeof what, "ran longer than %lu ms", static_cast<unsigned long>(limitMs));
                      ReportAndExit(kExitHang, what);
                  }
              }
          })
    {
    }
    ~Watchdog()
    {
        m_stop = true;
        m_thread.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

private:
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// --- input generation ------------------------------------------------------------------------

constexpr std::uint8_t kInterestingBytes[] = {0x00, 0x01, 0x7F, 0x80, 0xFF, 0xFE, '\n', '\r', '\t', ' ',
                                              '[',  ']',  '=',  '_',  '/',  '*',  ';',  '0',  '9',  'F'};
constexpr std::uint32_t kInterestingWords[] = {0,          1,          2,          0x7F,       0x80,
                                               0xFF,       0x100,      0x7FFF,     0xFFFF,     0x10000,
                                               0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFE0, 0xFFFFFFDF};

void InsertBytes(Bytes& input, std::size_t at, const std::uint8_t* data, std::size_t size)
{
    input.insert(input.begin() + static_cast<std::ptrdiff_t>(std::min(at, input.size())), data, data + size);
}

void Grow(Bytes& input, Rng& rng, std::size_t limit, const std::vector<std::string>& dictionary)
{
    std::size_t target = 0;
    switch (rng.Below(5)) {
    case 0: target = limit; break;
    case 1: target = limit > 0 ? limit - 1 : 0; break;
    case 2: target = limit + 1; break;
    case 3: target = limit + 1 + rng.Below(limit / 8 + 2); break;
    default: target = input.size() + 1 + rng.Below(limit + 1); break;
    }
    // Repeats of a piece of the input keep it looking like the grammar; random bytes and tokens
    // break it up.
    while (input.size() < target) {
        const std::size_t room = target - input.size();
        if (!input.empty() && rng.Below(4) != 0) {
            const std::size_t start = rng.Below(input.size());
            const std::size_t length = std::min({1 + rng.Below(input.size() - start), room, std::size_t{4096}});
            const Bytes piece(input.begin() + static_cast<std::ptrdiff_t>(start),
                              input.begin() + static_cast<std::ptrdiff_t>(start + length));
            input.insert(input.end(), piece.begin(), piece.end());
        } else if (!dictionary.empty() && rng.OneIn(2)) {
            const std::string& token = dictionary[rng.Below(dictionary.size())];
            input.insert(input.end(), token.begin(), token.begin() + static_cast<std::ptrdiff_t>(std::min(token.size(), room)));
        } else {
            input.push_back(rng.Byte());
        }
    }
}

void Mutate(Bytes& input, Rng& rng, std::size_t limit, const std::vector<Bytes>& samples,
            const std::vector<std::string>& dictionary)
{
    switch (rng.Below(11)) {
    case 0:  // bytes set to random or interesting values
        for (std::size_t k = 1 + rng.Below(8); k > 0 && !input.empty(); --k) {
            input[rng.Below(input.size())] =
                rng.OneIn(2) ? rng.Byte() : kInterestingBytes[rng.Below(std::size(kInterestingBytes))];
        }
        break;
    case 1:  // bit flips
        for (std::size_t k = 1 + rng.Below(8); k > 0 && !input.empty(); --k) {
            input[rng.Below(input.size())] ^= static_cast<std::uint8_t>(1u << rng.Below(8));
        }
        break;
    case 2:  // cut the end off
        input.resize(rng.Below(input.size() + 1));
        break;
    case 3: {  // cut a piece out of the middle
        if (input.empty()) break;
        const std::size_t start = rng.Below(input.size());
        const std::size_t length = 1 + rng.Below(input.size() - start);
        input.erase(input.begin() + static_cast<std::ptrdiff_t>(start),
                    input.begin() + static_cast<std::ptrdiff_t>(start + length));
        break;
    }
    case 4:  // growth to the limit and past it
        Grow(input, rng, limit, dictionary);
        break;
    case 5: {  // a 32-bit boundary value, mostly at an aligned offset (length and type fields)
        if (input.size() < 4) break;
        std::size_t at = rng.Below(input.size() - 3);
        if (rng.Below(4) != 0) at &= ~std::size_t{3};
        const std::uint32_t word = rng.OneIn(4) ? static_cast<std::uint32_t>(input.size() - rng.Below(40))
                                                : kInterestingWords[rng.Below(std::size(kInterestingWords))];
        for (int k = 0; k < 4; ++k) input[at + k] = static_cast<std::uint8_t>(word >> (8 * k));
        break;
    }
    case 6: {  // no terminator: trailing line ends, NULs and the last byte dropped
        while (!input.empty() && (input.back() == 0 || input.back() == '\n' || input.back() == '\r')) input.pop_back();
        if (!input.empty() && rng.OneIn(2)) input.pop_back();
        break;
    }
    case 7: {  // splice: the head of this input, the tail of a sample
        const Bytes& other = samples[rng.Below(samples.size())];
        input.resize(rng.Below(input.size() + 1));
        const std::size_t from = rng.Below(other.size() + 1);
        input.insert(input.end(), other.begin() + static_cast<std::ptrdiff_t>(from), other.end());
        break;
    }
    case 8: {  // a grammar token inserted or written over
        if (dictionary.empty()) break;
        const std::string& token = dictionary[rng.Below(dictionary.size())];
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(token.data());
        const std::size_t at = rng.Below(input.size() + 1);
        if (rng.OneIn(2) || at + token.size() > input.size()) {
            InsertBytes(input, at, bytes, token.size());
        } else {
            std::memcpy(input.data() + at, bytes, token.size());
        }
        break;
    }
    case 9: {  // a piece repeated elsewhere
        if (input.empty()) break;
        const std::size_t start = rng.Below(input.size());
        const std::size_t length = 1 + rng.Below(std::min<std::size_t>(input.size() - start, 256));
        const Bytes piece(input.begin() + static_cast<std::ptrdiff_t>(start),
                          input.begin() + static_cast<std::ptrdiff_t>(start + length));
        InsertBytes(input, rng.Below(input.size() + 1), piece.data(), piece.size());
        break;
    }
    default: {  // interesting bytes inserted
        const std::uint8_t value = kInterestingBytes[rng.Below(std::size(kInterestingBytes))];
        const Bytes run(1 + rng.Below(4), value);
        InsertBytes(input, rng.Below(input.size() + 1), run.data(), run.size());
        break;
    }
    }
}

}  // namespace

// --- Rng -------------------------------------------------------------------------------------

std::uint64_t Rng::Next()
{
    std::uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// --- GuardedBuffer ---------------------------------------------------------------------------

GuardedBuffer::GuardedBuffer(std::size_t capacity)
{
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    m_pageSize = info.dwPageSize;
    const std::size_t committed = (std::max<std::size_t>(capacity, 1) + m_pageSize - 1) / m_pageSize * m_pageSize;
    auto* base = static_cast<std::uint8_t*>(
        ::VirtualAlloc(nullptr, committed + m_pageSize, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (base == nullptr) return;
    DWORD previous = 0;
    if (::VirtualProtect(base + committed, m_pageSize, PAGE_NOACCESS, &previous) == FALSE) {
        (void)::VirtualFree(base, 0, MEM_RELEASE);
        return;
    }
    m_base = base;
    m_guard = base + committed;
    m_capacity = committed;
}

GuardedBuffer::~GuardedBuffer()
{
    if (m_base != nullptr) (void)::VirtualFree(m_base, 0, MEM_RELEASE);
}

std::uint8_t* GuardedBuffer::Place(const void* data, std::size_t size)
{
    std::uint8_t* at = Room(size);
    if (at != nullptr && size > 0) std::memcpy(at, data, size);
    return at;
}

std::uint8_t* GuardedBuffer::Room(std::size_t size)
{
    if (m_base == nullptr || size > m_capacity) return nullptr;
    return m_guard - size;
}

bool GuardedBuffer::IsGuard(ULONG_PTR address) const
{
    const auto guard = reinterpret_cast<ULONG_PTR>(m_guard);
    return m_guard != nullptr && address >= guard && address < guard + m_pageSize;
}

// --- registry --------------------------------------------------------------------------------

bool RegisterDriver(const char* name, DriverFactory factory)
{
    return Registry().emplace(name, std::move(factory)).second;
}

std::vector<std::string> DriverNames(bool includeHarnessChecks)
{
    std::vector<std::string> names;
    for (const auto& [name, factory] : Registry()) {
        if (includeHarnessChecks || !factory()->IsHarnessCheck()) names.push_back(name);
    }
    return names;
}

std::unique_ptr<FuzzDriver> CreateDriver(const std::string& name)
{
    const auto found = Registry().find(name);
    return found == Registry().end() ? nullptr : found->second();
}

// --- generation and runs ---------------------------------------------------------------------

std::size_t InputCapacity(const FuzzDriver& driver, const std::vector<Bytes>& samples)
{
    const std::size_t limit = driver.GrowthLimit();
    std::size_t largest = 0;
    for (const Bytes& sample : samples) largest = std::max(largest, sample.size());
    return std::max(limit + limit / 8 + 64, 2 * largest + 64);
}

Bytes GenerateInput(FuzzDriver& driver, const std::vector<Bytes>& samples, std::uint64_t seed, std::uint64_t index,
                    std::size_t capacity, int* pristineSample)
{
    if (index < samples.size()) {
        *pristineSample = static_cast<int>(index);
        Bytes input = samples[index];
        if (input.size() > capacity) input.resize(capacity);
        return input;
    }
    *pristineSample = -1;
    // Each input depends on the seed and its index alone, so that one can be replayed by itself.
    Rng rng(seed * 0xD1B54A32D192ED03ull ^ (index + 1) * 0x9E3779B97F4A7C15ull);
    (void)rng.Next();
    Bytes input = samples[rng.Below(samples.size())];
    const std::vector<std::string> dictionary = driver.Dictionary();
    for (std::size_t ops = 1 + rng.Below(4); ops > 0; --ops) {
        Mutate(input, rng, driver.GrowthLimit(), samples, dictionary);
        if (input.size() > capacity) input.resize(capacity);
    }
    driver.Shape(input, rng);
    if (input.size() > capacity) input.resize(capacity);
    return input;
}

RunReport RunDriver(FuzzDriver& driver, const RunOptions& options)
{
    RunReport report;
    const std::vector<Bytes> samples = driver.Samples();
    if (samples.empty()) {
        report.undefinedResults = 1;
        report.failures.push_back("the driver gave no samples");
        return report;
    }
    const std::size_t capacity = InputCapacity(driver, samples);
    GuardedBuffer buffer(capacity);
    if (!buffer.valid()) {
        report.undefinedResults = 1;
        report.failures.push_back("no guarded buffer");
        return report;
    }

    InstallFaultReporting();
    g_active.driver = driver.Name();
    g_active.seed = options.seed;
    g_active.buffer = &buffer;
    const auto started = std::chrono::steady_clock::now();
    {
        Watchdog watchdog(options.timeLimitMs);
        for (std::uint64_t index = options.first; index < options.first + options.count; ++index) {
            InputInfo info;
            info.index = index;
            const Bytes input = GenerateInput(driver, samples, options.seed, index, capacity, &info.pristineSample);
            const std::uint8_t* placed = buffer.Place(input.data(), input.size());
            if (input.size() > driver.GrowthLimit()) ++report.pastLimit;
            report.largest = std::max<std::uint64_t>(report.largest, input.size());

            std::string problem;
            g_active.index = index;
            g_active.startedMs = ::GetTickCount64();
            g_active.busy = true;
            try {
                problem = driver.Run(placed, input.size(), info);
            } catch (const std::exception& error) {
                problem = std::string("threw: ") + error.what();
            } catch (...) {
                problem = "threw an unknown exception";
            }
            g_active.busy = false;
            ++report.inputs;
            if (!problem.empty()) {
                ++report.undefinedResults;
                if (report.failures.size() < options.keepFailures) {
                    report.failures.push_back("input " + std::to_string(index) + ": " + problem);
                }
            }
        }
    }
    g_active.buffer = nullptr;
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return report;
}

}  // namespace Fuzz
