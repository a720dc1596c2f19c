#pragma once
// Reader and writer of small ini files (section headings in brackets, "key=value" lines).
//
// The file is parsed line by line into a cache kept by the derived class; writes go through the
// Windows profile functions and then update the cache. A reader is a short-lived local object of
// one thread: build one, Load, read or write, let it go.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

namespace Fundor {

class CBaseIniReader {
public:
    // Lines are read through a buffer of kLineBufferChars (terminator included): a line longer
    // than kMaxLineChars reaches Parse in pieces, each taken as a line of its own.
    static constexpr std::size_t kLineBufferChars = 1024;
    static constexpr std::size_t kMaxLineChars = kLineBufferChars - 1;
    // An ini file of the system is a few hundred bytes; a larger file is not read.
    static constexpr std::uint64_t kMaxFileBytes = std::uint64_t{16} * 1024 * 1024;

    CBaseIniReader() = default;
    CBaseIniReader(const CBaseIniReader&) = delete;
    CBaseIniReader& operator=(const CBaseIniReader&) = delete;

    // Full path of the bound file; empty when none is bound.
    [[nodiscard]] const std::wstring& FilePath() const { return m_filePath; }
    // Section of the last heading parsed; empty before the first.
    [[nodiscard]] const std::wstring& CurrentSection() const { return m_currentSection; }
    // Values taken and non-empty headings seen by the last Load.
    [[nodiscard]] std::uint32_t EntryCount() const { return m_entryCount; }
    [[nodiscard]] std::uint32_t SectionCount() const { return m_sectionCount; }

    // Reads a signed decimal number from the start of text (optional sign, leading digits only;
    // no digits gives 0; out-of-range values are clamped to the int range).
    [[nodiscard]] static int ParseDecimal(const std::wstring& text);
    // Splits "section.key" at the first '.'; without one both parts are empty.
    static void SplitName(const std::wstring& name, std::wstring& section, std::wstring& key);

    // The virtual operations are declared in their table order; keep it.
    virtual ~CBaseIniReader();

    // Binds the reader to the file and parses it. An empty path fails and changes nothing.
    // Otherwise the path is stored as a full path (so that writes, which the profile functions
    // would otherwise put into the Windows folder for a bare name, reach the file that was read)
    // and parsing starts afresh. A file that does not exist fails but keeps the path, so that a
    // later write creates the file; any other open failure fails and clears the path; a read
    // failure or a file above kMaxFileBytes fails and keeps the path.
    // ANSI files (the profile functions' code page) and files with a UTF-16 (either byte order)
    // or UTF-8 byte-order mark are understood.
    [[nodiscard]] virtual bool Load(const std::wstring& path);

    // Read section.key through the name forms below. On failure the out value is untouched, so
    // the caller's prior value serves as the default.
    [[nodiscard]] virtual bool ReadInt(const std::wstring& section, const std::wstring& key, int& value);
    [[nodiscard]] virtual bool ReadString(const std::wstring& section, const std::wstring& key,
                                          std::wstring& value);
    // Name form: "section.key", split at the first '.' (no '.': empty section and empty key).
    [[nodiscard]] virtual bool ReadInt(const std::wstring& name, int& value) = 0;
    [[nodiscard]] virtual bool ReadString(const std::wstring& name, std::wstring& value) = 0;
    // Sets every key of the section in the caller's map (other keys of the map are kept); false
    // when the section is unknown.
    [[nodiscard]] virtual bool ReadSection(const std::wstring& section,
                                           std::unordered_map<std::wstring, std::wstring>& values) = 0;

    // Plain writes: the value as text ("%d" for numbers) with WritePrivateProfileStringW, then into
    // the cache. False when no path is bound or the write fails.
    [[nodiscard]] virtual bool WriteInt(const std::wstring& section, const std::wstring& key, int value);
    [[nodiscard]] virtual bool WriteString(const std::wstring& section, const std::wstring& key,
                                           const std::wstring& value);

protected:
    // Stores one parsed (overwrite false) or written (overwrite true) value. True when the value
    // was taken as an entry.
    [[nodiscard]] virtual bool AddEntry(const std::wstring& section, const std::wstring& key,
                                        const std::wstring& value, bool overwrite) = 0;
    // One line of the file, or one piece of a longer line (with its line feed when it has one).
    virtual void Parse(const std::wstring& line);

private:
    std::wstring m_filePath;
    std::wstring m_currentSection;
    std::uint32_t m_entryCount = 0;
    std::uint32_t m_sectionCount = 0;
};

}  // namespace Fundor
