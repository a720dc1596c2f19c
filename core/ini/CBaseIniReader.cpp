#include "core/ini/CBaseIniReader.h"

#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"

#include <windows.h>

#include <climits>
#include <string_view>
#include <vector>

namespace Fundor {
namespace {

constexpr wchar_t kWhiteSpace[] = L" \t\r\n\v\f";

std::wstring Trim(std::wstring_view text)
{
    const std::size_t last = text.find_last_not_of(kWhiteSpace);
    if (last == std::wstring_view::npos) {
        return {};
    }
    const std::size_t first = text.find_first_not_of(kWhiteSpace);
    return std::wstring(text.substr(first, last - first + 1));
}

enum class ReadResult { Ok, Missing, OpenFailed, ReadFailed };

ReadResult ReadAllBytes(const std::wstring& path, std::vector<std::uint8_t>& bytes)
{
    ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? ReadResult::Missing : ReadResult::OpenFailed;
    }
    LARGE_INTEGER size{};
    const bool sized = ::GetFileSizeEx(file.get(), &size) != FALSE;
    if (!sized || size.QuadPart < 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > CBaseIniReader::kMaxFileBytes) {
        return ReadResult::ReadFailed;
    }
    bytes.resize(static_cast<std::size_t>(size.QuadPart));
    std::size_t filled = 0;
    while (filled < bytes.size()) {
        DWORD got = 0;
        const bool read = ::ReadFile(file.get(), bytes.data() + filled,
                                     static_cast<DWORD>(bytes.size() - filled), &got, nullptr) != FALSE;
        if (!read) {
            return ReadResult::ReadFailed;
        }
        if (got == 0) {
            break;  // the file shrank meanwhile
        }
        filled += got;
    }
    bytes.resize(filled);
    return ReadResult::Ok;
}

bool MultiByteToWide(UINT codePage, const std::uint8_t* data, std::size_t length, std::wstring& text)
{
    text.clear();
    if (length == 0) {
        return true;
    }
    const auto* chars = reinterpret_cast<const char*>(data);
    const int count = static_cast<int>(length);  // bounded by kMaxFileBytes
    const int needed = ::MultiByteToWideChar(codePage, 0, chars, count, nullptr, 0);
    if (needed <= 0) {
        return false;
    }
    text.resize(static_cast<std::size_t>(needed));
    const int written = ::MultiByteToWideChar(codePage, 0, chars, count, text.data(), needed);
    if (written <= 0) {
        return false;
    }
    text.resize(static_cast<std::size_t>(written));
    return true;
}

// The profile functions write new files in the ANSI code page and keep a file's byte-order mark
// when it has one; read them the same way rather than byte by byte as the C runtime's wide text
// mode would.
bool DecodeFileText(const std::vector<std::uint8_t>& bytes, std::wstring& text)
{
    const std::size_t size = bytes.size();
    if (size >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
        const bool bigEndian = bytes[0] == 0xFE;
        const std::size_t count = (size - 2) / 2;  // a stray last byte is dropped
        text.resize(count);
        for (std::size_t index = 0; index < count; ++index) {
            const std::uint8_t first = bytes[2 + 2 * index];
            const std::uint8_t second = bytes[3 + 2 * index];
            text[index] = bigEndian ? static_cast<wchar_t>((first << 8) | second)
                                    : static_cast<wchar_t>((second << 8) | first);
        }
        return true;
    }
    if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        return MultiByteToWide(CP_UTF8, bytes.data() + 3, size - 3, text);
    }
    return MultiByteToWide(CP_ACP, bytes.data(), size, text);
}

}  // namespace

CBaseIniReader::~CBaseIniReader() = default;

bool CBaseIniReader::Load(const std::wstring& path)
{
    if (path.empty()) {
        return false;
    }
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    std::wstring fullPath;
    if (needed != 0) {
        fullPath.resize(needed);
        const DWORD written = ::GetFullPathNameW(path.c_str(), needed, fullPath.data(), nullptr);
        fullPath.resize(written != 0 && written < needed ? written : 0);
    }
    m_filePath = fullPath.empty() ? path : fullPath;
    // A second Load starts afresh: keys before the first heading belong to no section.
    m_currentSection.clear();
    m_entryCount = 0;
    m_sectionCount = 0;

    std::vector<std::uint8_t> bytes;
    switch (ReadAllBytes(m_filePath, bytes)) {
    case ReadResult::Ok:
        break;
    case ReadResult::Missing:
        return false;  // path kept: a write creates the file
    case ReadResult::OpenFailed:
        m_filePath.clear();
        return false;
    case ReadResult::ReadFailed:
        return false;
    }
    std::wstring text;
    if (!DecodeFileText(bytes, text)) {
        return false;
    }

    // Text mode: CR LF is one line feed. Each piece is what a 1024-character line buffer holds:
    // up to and including the line feed, or kMaxLineChars characters.
    std::wstring piece;
    piece.reserve(kLineBufferChars);
    for (std::size_t index = 0; index < text.size(); ++index) {
        wchar_t ch = text[index];
        if (ch == L'\r' && index + 1 < text.size() && text[index + 1] == L'\n') {
            ch = L'\n';
            ++index;
        }
        piece.push_back(ch);
        if (ch == L'\n' || piece.size() == kMaxLineChars) {
            Parse(piece);
            piece.clear();
        }
    }
    if (!piece.empty()) {
        Parse(piece);
    }
    return true;
}

bool CBaseIniReader::ReadInt(const std::wstring& section, const std::wstring& key, int& value)
{
    return ReadInt(section + L"." + key, value);
}

bool CBaseIniReader::ReadString(const std::wstring& section, const std::wstring& key, std::wstring& value)
{
    return ReadString(section + L"." + key, value);
}

bool CBaseIniReader::WriteInt(const std::wstring& section, const std::wstring& key, int value)
{
    return WriteString(section, key, FormatString(L"%d", value));
}

bool CBaseIniReader::WriteString(const std::wstring& section, const std::wstring& key, const std::wstring& value)
{
    if (m_filePath.empty()) {
        return false;
    }
    const bool written = ::WritePrivateProfileStringW(section.c_str(), key.c_str(), value.c_str(),
                                                      m_filePath.c_str()) != FALSE;
    if (!written) {
        return false;
    }
    (void)AddEntry(section, key, value, true);
    return true;
}

void CBaseIniReader::Parse(const std::wstring& line)
{
    const std::wstring text = Trim(line);
    if (text.empty() || text.front() == L';') {
        return;
    }
    if (text.front() == L'[' && text.back() == L']' && text.size() >= 2) {
        std::wstring name = Trim(std::wstring_view(text).substr(1, text.size() - 2));
        if (!name.empty()) {
            m_currentSection = std::move(name);
            ++m_sectionCount;
        }
        return;
    }
    const std::size_t equals = text.find(L'=');
    if (equals == std::wstring::npos) {
        return;
    }
    const std::wstring key = Trim(std::wstring_view(text).substr(0, equals));
    const std::wstring value = Trim(std::wstring_view(text).substr(equals + 1));
    if (AddEntry(m_currentSection, key, value, false)) {
        ++m_entryCount;
    }
}

int CBaseIniReader::ParseDecimal(const std::wstring& text)
{
    std::size_t index = 0;
    bool negative = false;
    if (index < text.size() && (text[index] == L'-' || text[index] == L'+')) {
        negative = text[index] == L'-';
        ++index;
    }
    long long magnitude = 0;
    for (; index < text.size() && text[index] >= L'0' && text[index] <= L'9'; ++index) {
        if (magnitude <= static_cast<long long>(INT_MAX) + 1) {
            magnitude = magnitude * 10 + (text[index] - L'0');
        }
    }
    const long long signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT_MAX) return INT_MAX;
    if (signedValue < INT_MIN) return INT_MIN;
    return static_cast<int>(signedValue);
}

void CBaseIniReader::SplitName(const std::wstring& name, std::wstring& section, std::wstring& key)
{
    const std::size_t point = name.find(L'.');
    if (point == std::wstring::npos) {
        section.clear();
        key.clear();
        return;
    }
    section = name.substr(0, point);
    key = name.substr(point + 1);
}

}  // namespace Fundor
