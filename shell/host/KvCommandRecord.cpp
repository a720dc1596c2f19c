#include "shell/host/KvCommandRecord.h"

#include "classlib/KvExeModule.h"
#include "core/base/ScopedResource.h"

#include <shellapi.h>

#include <cwchar>
#include <cwctype>
#include <limits>

KvCommandRecord* AllocCommandRecord(std::size_t count) noexcept
{
    if (count == 0) count = 1;
    if (count > std::numeric_limits<std::size_t>::max() / sizeof(KvCommandRecord)) return nullptr;
    const HANDLE heap = ::GetProcessHeap();
    if (heap == nullptr) return nullptr;
    return static_cast<KvCommandRecord*>(::HeapAlloc(heap, HEAP_ZERO_MEMORY, count * sizeof(KvCommandRecord)));
}

void FreeCommandRecord(KvCommandRecord* record) noexcept
{
    if (record != nullptr) ::HeapFree(::GetProcessHeap(), 0, record);
}

std::wstring StripQuotes(const std::wstring& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && std::iswspace(text[begin])) ++begin;
    while (end > begin && std::iswspace(text[end - 1])) --end;
    std::wstring result = text.substr(begin, end - begin);
    if (!result.empty() && result.front() == L'"') result.erase(0, 1);
    if (!result.empty() && result.back() == L'"') result.pop_back();
    return result;
}

void CopyCut(wchar_t* destination, std::size_t capacity, const wchar_t* source) noexcept
{
    if (destination == nullptr || capacity == 0) return;
    std::size_t length = 0;
    if (source != nullptr) {
        while (length + 1 < capacity && source[length] != L'\0') {
            destination[length] = source[length];
            ++length;
        }
    }
    destination[length] = L'\0';
}

void LowerCaseField(wchar_t* text, std::size_t capacity) noexcept
{
    if (text == nullptr) return;
    const std::size_t length = wcsnlen(text, capacity);
    if (length > 0) ::CharLowerBuffW(text, static_cast<DWORD>(length));
}

bool IsSarnUrl(const wchar_t* url) noexcept
{
    return url != nullptr && std::wcsncmp(url, L"sarn://", 7) == 0;
}

const wchar_t* CommandOptionOf(const wchar_t* argument) noexcept
{
    const wchar_t* const mark = argument != nullptr ? std::wcspbrk(argument, L"-/") : nullptr;
    return mark != nullptr ? mark + 1 : nullptr;
}

bool CommandLineNamesHostId(const wchar_t* line) noexcept
{
    if (line == nullptr || std::wcslen(line) > kCommandLineCharacters - 1) return false;
    if (FindRegistrationSwitch(line) != KvRegistrationSwitch::None) return false;
    int argumentCount = 0;
    const Fundor::ScopedLocalMemory arguments(::CommandLineToArgvW(line, &argumentCount));
    if (!arguments) return false;
    wchar_t* const* argv = static_cast<wchar_t**>(arguments.get());
    for (int index = 1; index < argumentCount; ++index) {
        const wchar_t* const option = CommandOptionOf(argv[index]);
        if (option != nullptr && _wcsnicmp(option, L"id:", 3) == 0 && option[3] != L'\0') return true;
    }
    return false;
}
