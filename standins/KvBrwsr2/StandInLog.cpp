#include "standins/KvBrwsr2/StandInLog.h"

#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"

#include <mutex>

namespace KvBrwsr2 {
namespace {

std::string Utf8(const std::wstring& text)
{
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    if (size <= 0) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

// Serialises the writers of this process; other processes rely on the single appending write.
std::mutex& LogMutex()
{
    static std::mutex mutex;
    return mutex;
}

}  // namespace

void RecordLine(const std::wstring& event) noexcept
{
    try {
        wchar_t path[MAX_PATH] = {};
        const DWORD length = GetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_LOG", path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return;

        std::wstring line = L"pid=" + std::to_wstring(GetCurrentProcessId()) + L" " + event;
        for (wchar_t& character : line) {
            if (character == L'\r' || character == L'\n') character = L' ';
        }
        const std::string bytes = Utf8(line) + "\r\n";

        std::lock_guard<std::mutex> lock(LogMutex());
        Fundor::ScopedResource<Fundor::KernelHandleTraits> file(
            CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) return;
        DWORD written = 0;
        (void)WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        (void)FlushFileBuffers(file.get());
    } catch (...) {
        // Recording is best effort; a lost line must not break the caller.
    }
}

std::wstring Hex32(unsigned long value)
{
    wchar_t text[16] = {};
    (void)Fundor::FormatW(text, 16, L"0x%08lX", value);
    return text;
}

std::wstring HexPointer(const void* value)
{
    wchar_t text[24] = {};
    (void)Fundor::FormatW(text, 24, L"0x%llX", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(value)));
    return text;
}

}  // namespace KvBrwsr2
