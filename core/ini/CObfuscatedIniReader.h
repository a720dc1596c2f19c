#pragma once
// Ini reader whose values count only when stored enciphered, so that a setting can be changed
// only by someone who can produce a valid enciphered record.
//
// An enciphered value K of section S is two keys of S, both written by
// WritePrivateProfileStructW (two upper-case hex digits a byte plus one checksum byte):
//   "_K": a 36-byte header: "KVRG", u32 version 1, u32 N, u32 type (1 string, 4 DWORD), u32 1,
//         MD5 of the N enciphered bytes;
//   "K":  the N enciphered bytes (ini cipher key, one round).
// A string is stored as its text in the thread's ANSI code page, N being its byte count; a DWORD
// as its 4 little-endian bytes.
//
// Typical use (one fresh reader per read or write):
//   CObfuscatedIniReader reader;
//   (void)reader.Load(path);           // a missing file still binds the path for writing
//   int severity = 3;                  // default
//   (void)reader.ReadInt(L"Config", L"Severity", severity);
//   if (!reader.WriteInt(L"Config", L"LastLogIdx", index)) { ... }

#include "core/ini/CBaseIniReader.h"

#include <cstdint>
#include <string>
#include <unordered_map>

namespace Fundor {

class CObfuscatedIniReader : public CBaseIniReader {
public:
    static constexpr std::uint32_t kTypeString = 1;  // REG_SZ
    static constexpr std::uint32_t kTypeDword = 4;   // REG_DWORD
    static constexpr std::size_t kHeaderBytes = 36;

    struct ValueEntry {
        std::wstring text;
        bool obfuscated = false;  // text is the decoded form of an enciphered value
        std::uint32_t type = kTypeString;
    };

    CObfuscatedIniReader() = default;
    ~CObfuscatedIniReader() override;

    // Empties the cache, parses the file, then decodes the enciphered values. A value whose
    // header or data is malformed, tampered with or foreign stays a plain entry.
    [[nodiscard]] bool Load(const std::wstring& path) override;

    // Answer only for values that were stored enciphered and decoded (plain lines read as
    // missing). Out values are untouched on failure. The section-and-key forms look the pair up
    // directly, so names holding '.' work too.
    [[nodiscard]] bool ReadInt(const std::wstring& section, const std::wstring& key, int& value) override;
    [[nodiscard]] bool ReadString(const std::wstring& section, const std::wstring& key,
                                  std::wstring& value) override;
    [[nodiscard]] bool ReadInt(const std::wstring& name, int& value) override;
    [[nodiscard]] bool ReadString(const std::wstring& name, std::wstring& value) override;
    // Plain and enciphered entries alike.
    [[nodiscard]] bool ReadSection(const std::wstring& section,
                                   std::unordered_map<std::wstring, std::wstring>& values) override;

    // Enciphered writes of both keys, then the cache. False, and the file untouched, when no
    // path is bound, the value cannot be stored (an empty string; text that the ANSI code page
    // cannot represent exactly), or a line would be too long to be read back in one piece.
    // False also when a profile write fails; when the second one fails the file holds a new
    // header without matching data, which reads as missing.
    [[nodiscard]] bool WriteInt(const std::wstring& section, const std::wstring& key, int value) override;
    [[nodiscard]] bool WriteString(const std::wstring& section, const std::wstring& key,
                                   const std::wstring& value) override;

    // The whole cache entry (plain or not), or null. Valid until the next Load or write.
    [[nodiscard]] const ValueEntry* FindEntry(const std::wstring& section, const std::wstring& key) const;

protected:
    [[nodiscard]] bool AddEntry(const std::wstring& section, const std::wstring& key,
                                const std::wstring& value, bool overwrite) override;

private:
    using ValueMap = std::unordered_map<std::wstring, ValueEntry>;

    [[nodiscard]] bool WriteRecord(const std::wstring& section, const std::wstring& key,
                                   const std::uint8_t* data, std::size_t size, std::uint32_t type);
    void DecodePendingHeaders();
    [[nodiscard]] bool ReadEntryText(const ValueEntry* entry, std::wstring& value) const;

    // Section -> key -> header hex text, collected while parsing, emptied at the end of Load.
    std::unordered_map<std::wstring, std::unordered_map<std::wstring, std::wstring>> m_pendingHeaders;
    std::unordered_map<std::wstring, ValueMap> m_sections;
    // Set on construction; nothing clears it.
    bool m_obfuscatedOnly = true;
};

}  // namespace Fundor
