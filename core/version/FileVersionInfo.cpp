#include "core/version/FileVersionInfo.h"

#include "core/base/StringFormat.h"

#include <string.h>
#include <wchar.h>

namespace Fundor {

const std::array<const wchar_t*, 6> kVersionStringKeyNames = {
    L"CompanyName", L"FileVersion", L"FileDescription", L"Copyright", L"ProductName", L"ProductVersion",
};

const wchar_t* VersionStringKeyName(VersionStringKey key) noexcept
{
    const auto index = static_cast<std::size_t>(key);
    return index < kVersionStringKeyNames.size() ? kVersionStringKeyNames[index] : L"";
}

FileVersionInfo::~FileVersionInfo() = default;

bool FileVersionInfo::Load(const wchar_t* path)
{
    if (m_loaded || path == nullptr) {
        return false;
    }
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) {
        return false;
    }
    std::vector<BYTE> data(size);
    if (::GetFileVersionInfoW(path, 0, size, data.data()) == FALSE) {
        return false;
    }
    m_data = std::move(data);
    m_loaded = true;
    return true;
}

std::wstring FileVersionInfo::QueryString(const wchar_t* key) const
{
    if (!m_loaded || key == nullptr) {
        return {};
    }
    struct Translation {
        WORD language;
        WORD codePage;
    };
    void* table = nullptr;
    UINT tableBytes = 0;
    if (::VerQueryValueW(m_data.data(), L"\\VarFileInfo\\Translation", &table, &tableBytes) == FALSE ||
        table == nullptr) {
        return {};
    }
    const auto* translations = static_cast<const Translation*>(table);
    const std::size_t count = tableBytes / sizeof(Translation);
    for (std::size_t i = 0; i < count; ++i) {
        const std::wstring subBlock = FormatString(L"\\StringFileInfo\\%04X%04X\\%s", translations[i].language,
                                                   translations[i].codePage, key);
        void* value = nullptr;
        UINT length = 0;
        if (::VerQueryValueW(m_data.data(), subBlock.c_str(), &value, &length) != FALSE) {
            if (value == nullptr) {
                return {};
            }
            // The length counts characters and may include the terminator; never read past it.
            const auto* text = static_cast<const wchar_t*>(value);
            return std::wstring(text, ::wcsnlen(text, length));
        }
    }
    return {};
}

}  // namespace Fundor
