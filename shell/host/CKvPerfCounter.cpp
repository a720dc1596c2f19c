#include "shell/host/CKvPerfCounter.h"

#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"

#include <cstdarg>

namespace {

constexpr wchar_t kProductKey[] = L"SOFTWARE\\Tervane\\QRN";
constexpr std::size_t kLabelFormatCharacters = 1024;
constexpr std::size_t kLineCharacters = 4096;

}  // namespace

CKvPerfCounter::CKvPerfCounter(OutputFunction output) noexcept : m_output(output)
{
    Fundor::ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ | KEY_WOW64_64KEY, key.put()) != ERROR_SUCCESS) {
        return;
    }
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = 0;
    if (::RegQueryValueExW(key.get(), L"PerfCounter", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) ==
            ERROR_SUCCESS &&
        size == sizeof(value) && value == 1) {
        m_enabled = 1;
    }
}

void CKvPerfCounter::Write(const wchar_t* line) const noexcept
{
    if (m_output != nullptr) {
        m_output(line);
    } else {
        ::OutputDebugStringW(line);
    }
}

void CKvPerfCounter::Start(const wchar_t* format, ...) noexcept
{
    if (m_enabled == 0 || format == nullptr) return;
    wchar_t label[kLabelFormatCharacters] = {};
    va_list arguments;
    va_start(arguments, format);
    (void)Fundor::FormatWV(label, kLabelFormatCharacters, format, arguments);
    va_end(arguments);
    wchar_t line[2048] = {};
    (void)Fundor::FormatW(line, 2048, L"PERFTEST: %s", label);
    Write(line);
    (void)Fundor::FormatW(m_label, 2048, L"%s", label);
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    m_start = now.QuadPart;
}

void CKvPerfCounter::Stop() noexcept
{
    if (m_enabled == 0) return;
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    const std::uint64_t elapsed = static_cast<std::uint64_t>(now.QuadPart) - static_cast<std::uint64_t>(m_start);
    LARGE_INTEGER frequency{};
    ::QueryPerformanceFrequency(&frequency);
    wchar_t line[kLineCharacters] = {};
    if (frequency.QuadPart != 0) {
        const float seconds = static_cast<float>(elapsed) / static_cast<float>(frequency.QuadPart);
        (void)Fundor::FormatW(line, kLineCharacters,
                              L"PERFTEST: Time taken for %s operation = %I64u processor counts (or %2.8f seconds)",
                              m_label, elapsed, static_cast<double>(seconds));
    } else {
        (void)Fundor::FormatW(line, kLineCharacters, L"PERFTEST: Time taken for this operation = %u processor counts",
                              static_cast<unsigned>(elapsed));
    }
    Write(line);
}
