// The UI configuration's page names: CAgentUICfg::GetOrdwellFontAndDimInfo over a small real
// "qrnuicfg.dat", read through the configuration component beside the program (the stand-in
// over the platform's XML DOM). Each input's bytes become the page name's characters one for
// one; the name and its terminator end where a no-access page begins. Page names reach the
// component as XPath steps, so brackets, quotes and bars make expressions of their own: whatever
// they select, only values the file holds may come back.

#include "tests/fuzz/FuzzHarness.h"

#include "core/base/FileSystemHelpers.h"
#include "core/base/StringFormat.h"
#include "shell/config/CAgentUICfg.h"

#include <cwchar>
#include <fstream>

namespace {

using Fuzz::Bytes;

constexpr DWORD kUntouched = 0xDEADBEEF;

// Every element of the file that carries sizes: the values the reader may hand out, whatever
// element an expression reaches.
struct PageRow {
    const char* path;  // language/screen class
    const char* name;
    const char* width;
    const char* height;
    const char* position;
    DWORD expectedWidth, expectedHeight, expectedPosition;  // 0: not a size the reader gives
};
constexpr PageRow kPages[] = {
    {"en-us/hires", "abouto.html", "640x", "480", "2", 640, 480, 2},
    {"en-us/hires", "main.html", "800", "600", "1", 800, 600, 1},
    {"en-us/hires", "posonly.html", nullptr, nullptr, "5", 0, 0, 5},
    {"en-us/hires", "negative.html", "-5", "300", "6", 0, 0, 6},
    {"en-us/hires", "zero.html", "400", "0", "7", 0, 0, 7},
    {"en-us/lores", "abouto.html", "500", "400", "3", 500, 400, 3},
    {"de/hires", "abouto.html", "700", "500", "4", 700, 500, 4},
    {"de/hires", "noposition.html", "710", "510", nullptr, 710, 510, 0},
};

std::string Attribute(const char* name, const char* value)
{
    return value == nullptr ? std::string() : std::string(" ") + name + "=\"" + value + "\"";
}

// Only en-us has fonts, so the font read ends in en-us whatever the UI language is.
std::string Configuration()
{
    std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<qrnuicfg>\n <sarn_ordwell>\n";
    for (const char* language : {"en-us", "de"}) {
        text += "  <" + std::string(language) + ">\n";
        for (const char* screen : {"hires", "lores"}) {
            const std::string path = std::string(language) + "/" + screen;
            text += "   <" + std::string(screen) + ">\n";
            if (path == "en-us/hires") text += "    <font codepage=\"1252\" point_size=\"9\" face_name=\"Tahoma\"/>\n";
            if (path == "en-us/lores") text += "    <font codepage=\"1250\" point_size=\"8\" face_name=\"Verdana\"/>\n";
            for (const PageRow& row : kPages) {
                if (path != row.path) continue;
                text += "    <" + std::string(row.name) + Attribute("width", row.width) +
                        Attribute("height", row.height) + Attribute("position", row.position) + "/>\n";
            }
            text += "   </" + std::string(screen) + ">\n";
        }
        text += "  </" + std::string(language) + ">\n";
    }
    return text + " </sarn_ordwell>\n</qrnuicfg>\n";
}

KvScreenSize g_screen = {1024, 768};
KvScreenSize Screen() { return g_screen; }

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

class UiPageNameDriver final : public Fuzz::FuzzDriver {
public:
    ~UiPageNameDriver() override
    {
        m_config.Close();
        if (!m_folder.empty()) (void)Fundor::RemoveDirectoryPath(m_folder.c_str());
    }

    const char* Name() const override { return "ui-page-name"; }
    // Far past the 260-character paths the names are formatted into.
    std::size_t GrowthLimit() const override { return 3100; }
    std::vector<std::string> Dictionary() const override
    {
        return {"abouto.html", "main.html", "posonly.html", "noposition.html", "|", "'", "\"", "[", "]", "(", ")",
                "*", "..", "/", "//", "@", "::", " and ", " or ", "[1]", "node()", "text()", "..//", "1", " "};
    }

    std::vector<Bytes> Samples() override
    {
        wchar_t temp[MAX_PATH] = {};
        if (::GetTempPathW(MAX_PATH, temp) == 0) return {};
        wchar_t name[80];
        (void)Fundor::FormatW(name, std::size(name), L"OrdwellFuzzUiCfg_%lu_%llu", ::GetCurrentProcessId(),
                              static_cast<unsigned long long>(::GetTickCount64()));
        m_folder = std::wstring(temp) + name;
        if (!Fundor::CreateDirectoryPath(m_folder.c_str())) return {};
        const std::wstring file = m_folder + L"\\qrnuicfg.dat";
        {
            std::ofstream out(file.c_str(), std::ios::binary | std::ios::trunc);
            out << Configuration();
        }
        if (m_config.Load(file.c_str(), L"en-us", 0) != 0) return {};
        m_language = m_config.UiLanguageTag() != nullptr ? m_config.UiLanguageTag() : L"en-us";

        std::vector<Bytes> samples = {
            Text("abouto.html"), Text("main.html"), Text("posonly.html"), Text("noposition.html"),
            Text("negative.html"), Text("1abouto.html"), Text("about o.html"), Text("main.html|abouto.html"),
            Text("abouto.html[1]"), Text("ab\"o'ut[o.html"), Text(std::string(3000, 'p')),
        };
        m_page = std::make_unique<Fuzz::GuardedBuffer>((Fuzz::InputCapacity(*this, samples) + 1) * sizeof(wchar_t));
        return samples;
    }

    std::string Run(const std::uint8_t* data, std::size_t size, const Fuzz::InputInfo& info) override
    {
        if (!m_config.IsLoaded() || !m_page || !m_page->valid()) return "the configuration is not loaded";
        auto* page = reinterpret_cast<wchar_t*>(m_page->Room((size + 1) * sizeof(wchar_t)));
        for (std::size_t i = 0; i < size; ++i) page[i] = static_cast<wchar_t>(data[i]);
        page[size] = L'\0';
        const bool lores = info.index % 4 == 3;
        g_screen = lores ? KvScreenSize{800, 600} : KvScreenSize{1280, 1024};

        DWORD width = kUntouched, height = kUntouched, position = kUntouched;
        KvFontRecord font = {};
        const DWORD code = m_config.GetOrdwellFontAndDimInfo(page, &width, &height, &position, &font);
        const std::wstring face = font.faceName != nullptr ? font.faceName : L"";
        CAgentUICfg::FreeFontRecord(&font);

        if (code != 0 && code != S_FALSE && code != ERROR_INVALID_DATA && code != ERROR_INSUFFICIENT_BUFFER &&
            !FAILED(static_cast<HRESULT>(code))) {
            return "code " + std::to_string(code) + " is none the reader gives";
        }
        const bool fontRight = lores ? face == L"Verdana" && font.pointSize == 8 && font.codePage == 1250
                                     : face == L"Tahoma" && font.pointSize == 9 && font.codePage == 1252;
        if (!fontRight) return "the screen class's font was not read";

        // 2 + 12 + 1 + tag + 1 + 5 + 1 characters surround the page name in its path.
        const std::size_t length = std::wcslen(page);
        const bool anyFits = 22 + std::min<std::size_t>(m_language.size(), 5) + length < CAgentUICfg::kPagePathCapacity;
        if (!anyFits) {
            return code == ERROR_INSUFFICIENT_BUFFER && width == kUntouched && height == kUntouched &&
                           position == kUntouched
                       ? ""
                       : "a name too long for its path was looked up";
        }
        bool sizeKnown = width == kUntouched && height == kUntouched;
        // A position is written exactly when its read succeeded, and that read's code is the result.
        bool positionKnown = position == kUntouched && code != 0;
        for (const PageRow& row : kPages) {
            sizeKnown = sizeKnown || (row.expectedWidth != 0 && width == row.expectedWidth && height == row.expectedHeight);
            positionKnown = positionKnown || (code == 0 && row.expectedPosition != 0 && position == row.expectedPosition);
        }
        if (!sizeKnown) return "a size the file does not hold";
        if (code == 0 && position == kUntouched) return "success without a position";
        if (!positionKnown) return "a position the file does not hold";
        if (info.pristineSample == 0 && !lores && m_language == L"en-us" &&
            (code != 0 || width != 640 || height != 480 || position != 2)) {
            return "a listed page was not read";
        }
        return {};
    }

private:
    CAgentUICfg m_config{&Screen};
    std::wstring m_folder;
    std::wstring m_language;
    std::unique_ptr<Fuzz::GuardedBuffer> m_page;
};

}  // namespace

ORDWELL_FUZZ_DRIVER(UiPageNameDriver);
