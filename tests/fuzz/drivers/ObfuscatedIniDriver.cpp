// The enciphered ini reader over hostile files: the reader takes a path, so each input is written
// to a scratch file (from its guarded copy) and loaded, then the sample's values are read.

#include "tests/fuzz/FuzzHarness.h"

#include "core/base/FileSystemHelpers.h"
#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"
#include "core/ini/CObfuscatedIniReader.h"

#include <tuple>
#include <unordered_map>

namespace {

using Fuzz::Bytes;

constexpr wchar_t kSection[] = L"Config";
constexpr wchar_t kFolderValue[] = L"C:\\ProgramData\\Tervane\\KVLOGS";

// Rewrites the whole file through a handle kept open for the run (the reader opens it with
// sharing), sparing two file-server calls an input.
bool Rewrite(HANDLE file, const std::uint8_t* data, std::size_t size)
{
    DWORD written = 0;
    return ::SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0 &&
           (size == 0 || (::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) != FALSE &&
                          written == size)) &&
           ::SetEndOfFile(file) != FALSE;
}

Bytes ReadWholeFile(const std::wstring& path)
{
    Fundor::ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    Bytes bytes(64 * 1024);
    DWORD got = 0;
    if (!file.valid() || ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) == FALSE) {
        return {};
    }
    bytes.resize(got);
    return bytes;
}

class ObfuscatedIniDriver final : public Fuzz::FuzzDriver {
public:
    ~ObfuscatedIniDriver() override
    {
        m_input.reset();
        if (!m_folder.empty()) (void)Fundor::RemoveDirectoryPath(m_folder.c_str());
    }

    const char* Name() const override { return "enciphered-ini"; }
    // Past the reader's 1024-character line buffer, so that long lines arrive in pieces.
    std::size_t GrowthLimit() const override { return 4096; }
    std::vector<std::string> Dictionary() const override
    {
        return {"[Config]", "[", "]", "=", "_Severity=", "Severity=", "\r\n", "\n", "4B56524701000000",
                "\xFF\xFE", "\xEF\xBB\xBF", ";"};
    }

    std::vector<Bytes> Samples() override
    {
        wchar_t temp[MAX_PATH] = {};
        if (::GetTempPathW(MAX_PATH, temp) == 0) return {};
        wchar_t name[64];
        (void)Fundor::FormatW(name, std::size(name), L"OrdwellFuzzIni_%lu_%llu", ::GetCurrentProcessId(),
                              static_cast<unsigned long long>(::GetTickCount64()));
        m_folder = std::wstring(temp) + name;
        if (!Fundor::CreateDirectoryPath(m_folder.c_str())) return {};
        m_path = m_folder + L"\\input.ini";
        m_input.reset(::CreateFileW(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!m_input.valid()) return {};

        const std::wstring samplePath = m_folder + L"\\sample.ini";
        {
            Fundor::CObfuscatedIniReader writer;
            (void)writer.Load(samplePath);
            if (!writer.WriteInt(kSection, L"Severity", 2) || !writer.WriteString(kSection, L"Folder", kFolderValue) ||
                !writer.WriteInt(kSection, L"MaxSize", 1048576)) {
                return {};
            }
        }
        Bytes ansi = ReadWholeFile(samplePath);
        if (ansi.empty()) return {};
        const std::string plain = "; plain lines count for nothing\r\n[Other]\r\nPlain=7\r\n";
        ansi.insert(ansi.end(), plain.begin(), plain.end());

        // The same file as UTF-16 with a byte-order mark, and with bare line feeds.
        Bytes utf16 = {0xFF, 0xFE};
        for (std::uint8_t byte : ansi) {
            utf16.push_back(byte);
            utf16.push_back(0);
        }
        Bytes lineFeeds;
        for (std::uint8_t byte : ansi) {
            if (byte != '\r') lineFeeds.push_back(byte);
        }
        return {ansi, utf16, lineFeeds};
    }

    std::string Run(const std::uint8_t* data, std::size_t size, const Fuzz::InputInfo& info) override
    {
        if (!Rewrite(m_input.get(), data, size)) return "the scratch file could not be written";
        Fundor::CObfuscatedIniReader reader;
        if (!reader.Load(m_path)) return "an existing small file did not load";

        int severity = -12345;
        const bool haveSeverity = reader.ReadInt(kSection, L"Severity", severity);
        std::wstring folder = L"untouched";
        const bool haveFolder = reader.ReadString(kSection, L"Folder", folder);
        int plain = -12345;
        const bool havePlain = reader.ReadInt(L"Other", L"Plain", plain);
        if (!haveSeverity && severity != -12345) return "a failed read changed its out value";
        if (!haveFolder && folder != L"untouched") return "a failed read changed its out value";
        for (const auto& [section, key, found] : {std::tuple{kSection, L"Severity", haveSeverity},
                                                  std::tuple{kSection, L"Folder", haveFolder},
                                                  std::tuple{L"Other", L"Plain", havePlain}}) {
            const auto* entry = reader.FindEntry(section, key);
            if (found && (entry == nullptr || !entry->obfuscated)) return "a value not stored enciphered was read";
        }
        if (info.pristineSample >= 0) {
            int maxSize = 0;
            std::unordered_map<std::wstring, std::wstring> other;
            if (!haveSeverity || severity != 2 || !haveFolder || folder != kFolderValue ||
                !reader.ReadInt(kSection, L"MaxSize", maxSize) || maxSize != 1048576) {
                return "a valid file did not give back its enciphered values";
            }
            if (havePlain || !reader.ReadSection(L"Other", other) || other[L"Plain"] != L"7") {
                return "a plain line was not kept as a plain entry";
            }
        }
        return {};
    }

private:
    std::wstring m_folder;
    std::wstring m_path;
    Fundor::ScopedHandle m_input;
};

}  // namespace

ORDWELL_FUZZ_DRIVER(ObfuscatedIniDriver);
