// The trusted publisher list file's text: ParseListText and CheckSections over hostile bytes.

#include "tests/fuzz/FuzzHarness.h"

#include "access/TrustedPublisherList.h"

#include <cwctype>

namespace {

using Fuzz::Bytes;

Bytes Text(const char* text) { return Bytes(text, text + std::char_traits<char>::length(text)); }

bool IsHexDigit(wchar_t c) { return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'); }

class TrustedListDriver final : public Fuzz::FuzzDriver {
public:
    const char* Name() const override { return "trusted-list"; }
    std::size_t GrowthLimit() const override { return 16384; }
    std::vector<std::string> Dictionary() const override
    {
        return {"[VER]", "[ORG]", "[SER]", "[SHA]", "[]", "[ ]", "/*", "*/", "//", "\r\n", "\n",
                "4294967295", "4294967296", "0123456789abcdefABCDEF0123456789abcdefAB"};
    }

    std::vector<Bytes> Samples() override
    {
        return {
            Text("/* Publishers trusted by the suite's modules */\r\n"
                 "[VER]\r\n9\r\n"
                 "[ORG]\r\nTervane, Inc.\r\nTervane, LLC\r\n"
                 "[SER]\r\n0a1b2c3d4e5f\r\n"
                 "[SHA]\r\n0123456789ABCDEF0123456789ABCDEF01234567\r\n"
                 "a9993e364706816aba3e25717850c26c9cd0d89d\r\n"
                 "// end\r\n"),
            Text("[VER]\n\t12 \n[ ORG ]\n  Tervane, Inc.\n[SHA]\nda39a3ee5e6b4b0d3255bfef95601890afd80709"),
        };
    }

    std::string Run(const std::uint8_t* data, std::size_t size, const Fuzz::InputInfo& info) override
    {
        TrustedPublisherList::SectionMap sections;
        const bool parsed =
            TrustedPublisherList::ParseListText(reinterpret_cast<const char*>(data), size, sections);
        if (!parsed) {
            return sections.empty() ? std::string() : "a refused text left sections behind";
        }
        DWORD version = 0xDEADBEEF;
        const bool checked = TrustedPublisherList::CheckSections(sections, &version);
        if (info.pristineSample >= 0) {
            const DWORD expected = info.pristineSample == 0 ? 9 : 12;
            const auto names = sections.find(L"ORG");
            if (!checked || version != expected || names == sections.end() || names->second.empty() ||
                names->second[0] != L"Tervane, Inc.") {
                return "a valid list was not read as written";
            }
        }
        if (!checked) return {};
        // What was accepted must meet the list's rules.
        const auto versions = sections.find(L"VER");
        if (versions == sections.end() || versions->second.size() != 1) return "accepted without exactly one [VER] value";
        unsigned long long value = 0;
        for (wchar_t c : versions->second[0]) {
            if (c < L'0' || c > L'9') return "accepted a [VER] value that is not a decimal number";
            value = value * 10 + static_cast<unsigned>(c - L'0');
            if (value > 0xFFFFFFFFull) return "accepted a [VER] value above 32 bits";
        }
        if (versions->second[0].empty() || value != version) return "the version read differs from [VER]";
        if (const auto thumbprints = sections.find(L"SHA"); thumbprints != sections.end()) {
            for (const std::wstring& text : thumbprints->second) {
                if (text.size() != 40) return "accepted a thumbprint that is not 40 digits";
                for (wchar_t c : text) {
                    if (!IsHexDigit(c)) return "accepted a thumbprint with a non-hex digit";
                }
            }
        }
        for (const auto& [name, values] : sections) {
            if (name.empty()) return "accepted an empty section name";
            for (const std::wstring& line : values) {
                if (line.empty() || line.front() == L' ' || line.front() == L'\t' || line.back() == L' ' ||
                    line.back() == L'\t' || line.find(L'\n') != std::wstring::npos) {
                    return "a value was kept untrimmed or spans lines";
                }
            }
        }
        return {};
    }
};

}  // namespace

ORDWELL_FUZZ_DRIVER(TrustedListDriver);
