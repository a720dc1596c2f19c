#pragma once
// Named timing marker: "PERFTEST" lines to the debugger output, only when HKLM
// "SOFTWARE\Tervane\QRN" "PerfCounter" (64-bit view) is 1 when the marker is made.

#include <windows.h>

#include <cstdint>

class CKvPerfCounter {
public:
    // Where the lines go; the default is OutputDebugStringW.
    using OutputFunction = void (*)(const wchar_t* line);

    explicit CKvPerfCounter(OutputFunction output = nullptr) noexcept;
    virtual ~CKvPerfCounter() = default;
    CKvPerfCounter(const CKvPerfCounter&) = delete;
    CKvPerfCounter& operator=(const CKvPerfCounter&) = delete;

    // Formats the label (Microsoft formats, at most 1,024 characters), writes "PERFTEST: <label>"
    // and notes the time.
    void Start(const wchar_t* format, ...) noexcept;
    // Writes the time taken since the last Start (since 0 without one).
    void Stop() noexcept;

    [[nodiscard]] bool Enabled() const noexcept { return m_enabled != 0; }
    [[nodiscard]] const wchar_t* Label() const noexcept { return m_label; }

private:
    void Write(const wchar_t* line) const noexcept;

    std::int64_t m_start = 0;
    std::uint32_t m_enabled = 0;
    wchar_t m_label[2048] = {};
    OutputFunction m_output;
};
