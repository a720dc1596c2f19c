#include "core/ini/CObfuscatedIniReader.h"

#include "core/base/StringFormat.h"
#include "core/registry/Md5Digest.h"
#include "core/registry/ObfuscationCipher.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <vector>

namespace Fundor {
namespace {

constexpr std::uint8_t kMagic[4] = {'K', 'V', 'R', 'G'};
constexpr wchar_t kHeaderPrefix[] = L"4B565247";  // the magic as the profile functions write it
constexpr std::size_t kHeaderPrefixChars = 8;
// 36 bytes and the checksum byte, two digits each.
constexpr std::size_t kHeaderTextChars = (CObfuscatedIniReader::kHeaderBytes + 1) * 2;

void PutU32(std::uint8_t* out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) {
        *out++ = static_cast<std::uint8_t>(value >> shift);
    }
}

std::uint32_t GetU32(const std::uint8_t* in)
{
    return static_cast<std::uint32_t>(in[0]) | (static_cast<std::uint32_t>(in[1]) << 8) |
           (static_cast<std::uint32_t>(in[2]) << 16) | (static_cast<std::uint32_t>(in[3]) << 24);
}

int HexDigit(wchar_t ch)
{
    if (ch >= L'0' && ch <= L'9') return ch - L'0';
    if (ch >= L'A' && ch <= L'F') return ch - L'A' + 10;
    if (ch >= L'a' && ch <= L'f') return ch - L'a' + 10;
    return -1;
}

// Text written by WritePrivateProfileStructW: the bytes and a checksum byte, two hex digits each.
// Anything else (odd length, a non-hex digit, no data byte) is refused; the checksum is not
// checked (the digest covers the data).
bool ParseStructText(const std::wstring& text, std::vector<std::uint8_t>& bytes)
{
    if (text.size() < 4 || text.size() % 2 != 0) {
        return false;
    }
    const std::size_t count = text.size() / 2 - 1;
    bytes.resize(count);
    for (std::size_t index = 0; index <= count; ++index) {
        const int high = HexDigit(text[2 * index]);
        const int low = HexDigit(text[2 * index + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        if (index < count) {
            bytes[index] = static_cast<std::uint8_t>((high << 4) | low);
        }
    }
    return true;
}

// Builds the header and the enciphered data of one value (size >= 1).
bool EncodeRecord(const std::uint8_t* data, std::size_t size, std::uint32_t type,
                  std::uint8_t (&header)[CObfuscatedIniReader::kHeaderBytes], std::vector<std::uint8_t>& enciphered)
{
    if (data == nullptr || size == 0 || size > UINT32_MAX) {
        return false;
    }
    enciphered.resize(size);
    ObfuscationCipher cipher(kIniCipherKey, kCipherKeyLength, 1);
    if (!cipher.Encipher(data, enciphered.data(), size)) {
        return false;
    }
    std::memcpy(header, kMagic, 4);
    PutU32(header + 4, 1);
    PutU32(header + 8, static_cast<std::uint32_t>(size));
    PutU32(header + 12, type);
    PutU32(header + 16, 1);
    return Md5Digest(enciphered.data(), size, header + 20, kMd5Length) == 0;
}

// Converts exactly the given bytes; the data is untrusted, so no terminator is looked for.
bool AnsiToWide(const std::vector<std::uint8_t>& bytes, std::wstring& text)
{
    if (bytes.empty() || bytes.size() > INT_MAX) {
        return false;
    }
    const auto* chars = reinterpret_cast<const char*>(bytes.data());
    const int count = static_cast<int>(bytes.size());
    const int needed = ::MultiByteToWideChar(CP_THREAD_ACP, 0, chars, count, nullptr, 0);
    if (needed <= 0) {
        return false;
    }
    std::wstring converted(static_cast<std::size_t>(needed), L'\0');
    const int written = ::MultiByteToWideChar(CP_THREAD_ACP, 0, chars, count, converted.data(), needed);
    if (written <= 0) {
        return false;
    }
    converted.resize(static_cast<std::size_t>(written));
    text = std::move(converted);
    return true;
}

// The text in the thread's ANSI code page, only when it converts back unchanged: a character the
// code page lacks would otherwise be stored as a substitute and read back as another text.
bool WideToAnsiExact(const std::wstring& text, std::vector<std::uint8_t>& bytes)
{
    if (text.empty() || text.size() > INT_MAX / 4) {
        return false;
    }
    const int count = static_cast<int>(text.size());
    const int needed = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), count, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(needed));
    const int written = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), count,
                                              reinterpret_cast<char*>(bytes.data()), needed, nullptr, nullptr);
    if (written <= 0) {
        return false;
    }
    bytes.resize(static_cast<std::size_t>(written));
    std::wstring back;
    return AnsiToWide(bytes, back) && back == text;
}

}  // namespace

CObfuscatedIniReader::~CObfuscatedIniReader() = default;

bool CObfuscatedIniReader::Load(const std::wstring& path)
{
    m_pendingHeaders.clear();
    m_sections.clear();
    const bool loaded = CBaseIniReader::Load(path);
    DecodePendingHeaders();
    m_pendingHeaders.clear();
    return loaded;
}

void CObfuscatedIniReader::DecodePendingHeaders()
{
    for (const auto& [sectionName, headers] : m_pendingHeaders) {
        const auto section = m_sections.find(sectionName);
        if (section == m_sections.end()) {
            continue;
        }
        for (const auto& [keyName, headerText] : headers) {
            const auto found = section->second.find(keyName);
            if (found == section->second.end()) {
                continue;  // a header without data is dropped
            }
            ValueEntry& entry = found->second;

            std::vector<std::uint8_t> header;
            if (!ParseStructText(headerText, header) || header.size() != kHeaderBytes ||
                std::memcmp(header.data(), kMagic, 4) != 0 || GetU32(&header[4]) != 1 ||
                GetU32(&header[16]) == 0) {
                continue;
            }
            const std::uint32_t size = GetU32(&header[8]);
            const std::uint32_t type = GetU32(&header[12]);
            if (type != kTypeString && type != kTypeDword) {
                continue;
            }
            // Any failure below leaves the entry plain, which the obfuscated-only rule hides.
            std::vector<std::uint8_t> data;
            if (!ParseStructText(entry.text, data) || data.size() != size ||
                Md5Compare(data.data(), data.size(), &header[20]) != 0) {
                continue;
            }
            if (type == kTypeDword && size != 4) {
                continue;
            }
            ObfuscationCipher cipher(kIniCipherKey, kCipherKeyLength, 1);
            if (!cipher.Decipher(data.data(), data.data(), data.size())) {
                continue;
            }
            std::wstring text;
            if (type == kTypeString) {
                if (!AnsiToWide(data, text)) {
                    continue;
                }
            } else {
                text = FormatString(L"%d", static_cast<int>(GetU32(data.data())));
            }
            entry = ValueEntry{std::move(text), true, type};
        }
    }
}

bool CObfuscatedIniReader::ReadEntryText(const ValueEntry* entry, std::wstring& value) const
{
    if (entry == nullptr || (m_obfuscatedOnly && !entry->obfuscated)) {
        return false;
    }
    value = entry->text;
    return true;
}

bool CObfuscatedIniReader::ReadInt(const std::wstring& section, const std::wstring& key, int& value)
{
    std::wstring text;
    if (!ReadString(section, key, text)) {
        return false;
    }
    value = ParseDecimal(text);
    return true;
}

bool CObfuscatedIniReader::ReadString(const std::wstring& section, const std::wstring& key, std::wstring& value)
{
    return ReadEntryText(FindEntry(section, key), value);
}

bool CObfuscatedIniReader::ReadInt(const std::wstring& name, int& value)
{
    std::wstring text;
    if (!ReadString(name, text)) {
        return false;
    }
    value = ParseDecimal(text);
    return true;
}

bool CObfuscatedIniReader::ReadString(const std::wstring& name, std::wstring& value)
{
    std::wstring section;
    std::wstring key;
    SplitName(name, section, key);
    return ReadEntryText(FindEntry(section, key), value);
}

bool CObfuscatedIniReader::ReadSection(const std::wstring& section,
                                       std::unordered_map<std::wstring, std::wstring>& values)
{
    const auto found = m_sections.find(section);
    if (found == m_sections.end()) {
        return false;
    }
    for (const auto& [key, entry] : found->second) {
        values[key] = entry.text;
    }
    return true;
}

const CObfuscatedIniReader::ValueEntry* CObfuscatedIniReader::FindEntry(const std::wstring& section,
                                                                        const std::wstring& key) const
{
    const auto found = m_sections.find(section);
    if (found == m_sections.end()) {
        return nullptr;
    }
    const auto entry = found->second.find(key);
    return entry == found->second.end() ? nullptr : &entry->second;
}

bool CObfuscatedIniReader::AddEntry(const std::wstring& section, const std::wstring& key,
                                    const std::wstring& value, bool overwrite)
{
    if (!overwrite && FindEntry(section, key) != nullptr) {
        return false;  // the first occurrence of a key wins
    }
    if (!key.empty() && key.front() == L'_' && value.size() == kHeaderTextChars &&
        value.compare(0, kHeaderPrefixChars, kHeaderPrefix) == 0) {
        // The first header wins too, as for data lines: the profile functions read and update
        // the first occurrence, so a later stale header must not pair with fresh data.
        (void)m_pendingHeaders[section].try_emplace(key.substr(1), value);
        return false;
    }
    m_sections[section][key] = ValueEntry{value, false, kTypeString};
    return true;
}

bool CObfuscatedIniReader::WriteRecord(const std::wstring& section, const std::wstring& key,
                                       const std::uint8_t* data, std::size_t size, std::uint32_t type)
{
    if (FilePath().empty()) {
        return false;
    }
    // Every line must come back in one piece, or the value could never be read again.
    if (section.size() + 2 > kMaxLineChars || 1 + key.size() + 1 + kHeaderTextChars > kMaxLineChars ||
        size > kMaxLineChars || key.size() + 1 + (size + 1) * 2 > kMaxLineChars) {
        return false;
    }
    std::uint8_t header[kHeaderBytes] = {};
    std::vector<std::uint8_t> enciphered;
    if (!EncodeRecord(data, size, type, header, enciphered)) {
        return false;
    }
    const std::wstring headerKey = L"_" + key;
    const bool headerWritten = ::WritePrivateProfileStructW(section.c_str(), headerKey.c_str(), header,
                                                            kHeaderBytes, FilePath().c_str()) != FALSE;
    if (!headerWritten) {
        return false;
    }
    return ::WritePrivateProfileStructW(section.c_str(), key.c_str(), enciphered.data(),
                                        static_cast<UINT>(enciphered.size()), FilePath().c_str()) != FALSE;
}

bool CObfuscatedIniReader::WriteInt(const std::wstring& section, const std::wstring& key, int value)
{
    std::uint8_t bytes[4] = {};
    PutU32(bytes, static_cast<std::uint32_t>(value));
    if (!WriteRecord(section, key, bytes, sizeof bytes, kTypeDword)) {
        return false;
    }
    m_sections[section][key] = ValueEntry{FormatString(L"%d", value), true, kTypeDword};
    return true;
}

bool CObfuscatedIniReader::WriteString(const std::wstring& section, const std::wstring& key,
                                       const std::wstring& value)
{
    if (FilePath().empty()) {
        return false;
    }
    std::vector<std::uint8_t> ansi;
    if (!WideToAnsiExact(value, ansi)) {
        return false;
    }
    if (!WriteRecord(section, key, ansi.data(), ansi.size(), kTypeString)) {
        return false;
    }
    m_sections[section][key] = ValueEntry{value, true, kTypeString};
    return true;
}

}  // namespace Fundor
