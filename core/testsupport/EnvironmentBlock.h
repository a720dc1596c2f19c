#pragma once
// The environment block for a child process (CREATE_UNICODE_ENVIRONMENT): this process's
// environment with each named variable set to its value, or left out when it has none. Names
// compare without case, as Windows has them; the entries are sorted the same way.

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Fundor::testing {

using EnvironmentChanges = std::vector<std::pair<std::wstring, std::optional<std::wstring>>>;

[[nodiscard]] inline std::wstring EnvironmentBlock(const EnvironmentChanges& changes)
{
    std::vector<std::wstring> entries;
    const LPWCH current = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = current; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        const bool changed = std::any_of(changes.begin(), changes.end(), [entry](const auto& change) {
            const std::wstring& name = change.first;
            return ::_wcsnicmp(entry, name.c_str(), name.size()) == 0 && entry[name.size()] == L'=';
        });
        if (!changed) entries.emplace_back(entry);
    }
    ::FreeEnvironmentStringsW(current);
    for (const auto& [name, value] : changes) {
        if (value) entries.push_back(name + L"=" + *value);
    }
    std::sort(entries.begin(), entries.end(),
              [](const std::wstring& a, const std::wstring& b) { return ::_wcsicmp(a.c_str(), b.c_str()) < 0; });
    std::wstring block;
    for (const std::wstring& entry : entries) block += entry + L'\0';
    block += L'\0';
    return block;
}

}  // namespace Fundor::testing
