// The host's command-line parser, CKvShellModule::ParseCommandLine, over whole command lines.
// Each input's bytes become the line's characters one for one; the line and its terminator end
// where a no-access page begins, so a read past the terminator faults. Every input gets a fresh
// module, as the program has one per process; parsing creates no event and no window.
//
// Registration switches are served by the class library against this program's own image,
// which holds no registry scripts: the switch is found and reported as a failed registration,
// and nothing is written.

#include "tests/fuzz/FuzzHarness.h"

#include "classlib/KvExeModule.h"
#include "core/base/ScopedResource.h"
#include "shell/host/CKvShellModule.h"

#include <shellapi.h>

#include <cwchar>
#include <optional>

namespace {

using Fuzz::Bytes;

constexpr std::size_t kLongestLine = kCommandLineCharacters - 1;
constexpr HRESULT kNoRegistryScript = HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::wstring Lowered(std::wstring text)
{
    if (!text.empty()) ::CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

bool StartsWithNoCase(const std::wstring& text, const wchar_t* prefix)
{
    const std::size_t length = std::wcslen(prefix);
    return text.size() >= length && _wcsnicmp(text.c_str(), prefix, length) == 0;
}

// What the parser must leave, worked out from the line's arguments as the system splits them.
struct Expected {
    bool parsed = false;
    HRESULT result = S_OK;
    std::uint32_t flags = 0;
    std::uint32_t headerGiven = 0;
    std::wstring header, body, hostId;
    std::wstring programPath;
    std::wstring mode, simulate, ngmData;
};

std::optional<Expected> Expect(const wchar_t* line)
{
    int count = 0;
    Fundor::ScopedLocalMemory arguments(::CommandLineToArgvW(line, &count));
    if (!arguments) return std::nullopt;
    wchar_t** argv = static_cast<wchar_t**>(arguments.get());
    Expected expected;
    expected.programPath = std::wstring(count > 0 ? argv[0] : L"").substr(0, kProgramPathCharacters - 2);
    for (int index = 1; index < count; ++index) {
        const std::wstring argument = argv[index];
        const std::size_t mark = argument.find_first_of(L"-/");
        if (mark == std::wstring::npos) continue;
        const std::wstring option = argument.substr(mark + 1);
        const auto valueOf = [&](std::size_t prefix) { return option.substr(prefix); };
        if (_wcsicmp(option.c_str(), L"H") == 0) {
            expected.flags |= kCommandFlagHidden;
        } else if (StartsWithNoCase(option, L"header:")) {
            expected.flags |= kCommandFlagPageOption;
            if (option.size() > 7) {
                expected.header = valueOf(7).substr(0, Fundor::kUrlBufferCharacters - 1);
                expected.headerGiven = 1;
            }
        } else if (StartsWithNoCase(option, L"body:")) {
            expected.flags |= kCommandFlagPageOption;
            if (option.size() > 5) expected.body = valueOf(5).substr(0, Fundor::kUrlBufferCharacters - 1);
        } else if (StartsWithNoCase(option, L"id:")) {
            expected.flags |= kCommandFlagPageOption;
            if (option.size() > 3) expected.hostId = Lowered(valueOf(3).substr(0, kHostIdCharacters - 1));
        } else if (StartsWithNoCase(option, L"mode:")) {
            if (option.size() > 5) expected.mode = Lowered(valueOf(5));
        } else if (StartsWithNoCase(option, L"ngmdata:")) {
            const std::wstring whole = line;
            const std::size_t at = Lowered(whole).find(L"ngmdata:");
            if (at != std::wstring::npos && at + 8 < whole.size()) expected.ngmData = StripQuotes(whole.substr(at + 8));
        } else if (StartsWithNoCase(option, L"simulate:")) {
            if (option.size() > 9) expected.simulate = Lowered(valueOf(9));
        }
    }
    if (expected.flags != 0) {
        expected.parsed = FindRegistrationSwitch(line) == KvRegistrationSwitch::None;
        expected.result = expected.parsed ? S_OK : kNoRegistryScript;
    }
    return expected;
}

// A field holds its terminator within its capacity and then equals the expected text.
bool FieldIs(const wchar_t* field, std::size_t capacity, const std::wstring& expected)
{
    return wcsnlen(field, capacity) < capacity && expected == field;
}

class CommandLineDriver final : public Fuzz::FuzzDriver {
public:
    const char* Name() const override { return "command-line"; }
    // Past the longest line the host takes.
    std::size_t GrowthLimit() const override { return kLongestLine + 64; }
    std::vector<std::string> Dictionary() const override
    {
        return {"/id:", "/body:", "/header:", "/mode:", "/simulate:", "/ngmdata:", "/H", "-h", "-ID:", "/RegServer",
                "/UnregServer", "-regserverperuser", "/UnregServerPerUser", "\"", "\\\"", "\\\\", " ", "\t",
                "sarn://", "::", "NGMDATA:", "x/"};
    }

    std::vector<Bytes> Samples() override
    {
        std::vector<Bytes> samples = {
            Text("Ordwell.exe /id:MixedCase -body:SARN://Kv.dll::Page.html x/header:sarn://h /mode:FAKE /simulate:ON"),
            Text("\"C:\\Program Files\\Tervane\\Ordwell.exe\" /H /id:{0654DB93} /ngmdata:\"Some Value\" "
                 "/body:sarn://main.html"),
            Text("Ordwell.exe /id:host /RegServer"),
            Text("Ordwell.exe -header: /body:\"sarn://quoted page.html\" /ID:ABC"),
            Text("Ordwell.exe /mode:fake /simulate:uninstall /ngmdata:abc"),
            Text("Ordwell.exe /id:" + std::string(600, 'I') + " /body:sarn://" + std::string(2100, 'b') +
                 " /header:" + std::string(2100, 'h')),
        };
        m_line = std::make_unique<Fuzz::GuardedBuffer>((Fuzz::InputCapacity(*this, samples) + 1) * sizeof(wchar_t));
        return samples;
    }

    std::string Run(const std::uint8_t* data, std::size_t size, const Fuzz::InputInfo& info) override
    {
        if (!m_line || !m_line->valid()) return "no room for the line";
        auto* line = reinterpret_cast<wchar_t*>(m_line->Room((size + 1) * sizeof(wchar_t)));
        for (std::size_t i = 0; i < size; ++i) line[i] = static_cast<wchar_t>(data[i]);
        line[size] = L'\0';
        const std::size_t length = std::wcslen(line);

        CKvShellModule module;
        HRESULT result = E_UNEXPECTED;
        const bool parsed = module.ParseCommandLine(line, &result);
        const KvCommandRecord* record = module.CommandRecord();

        const std::optional<Expected> expected = Expect(line);
        if (!expected) return parsed ? "a line the system cannot split was run" : std::string();
        if (record == nullptr) return "a line that splits left no command record";
        if (length > kLongestLine) {
            if (parsed || result != S_OK) return "an over-long line was not refused with 0";
            if (record->commandLine[0] != L'\0' || record->flags != 0) return "an over-long line was kept";
            return {};
        }
        if (parsed != expected->parsed || result != expected->result) return "wrong outcome";
        if (!FieldIs(record->commandLine, kCommandLineCharacters, line)) return "the line was not kept whole";
        if (!FieldIs(record->programPath, kProgramPathCharacters, expected->programPath)) return "wrong program path";
        if (record->flags != expected->flags) return "wrong flags";
        if (record->headerGiven != expected->headerGiven) return "wrong header-given mark";
        if (!FieldIs(record->headerUrl, Fundor::kUrlBufferCharacters, expected->header)) return "wrong header URL";
        if (!FieldIs(record->bodyUrl, Fundor::kUrlBufferCharacters, expected->body)) return "wrong body URL";
        if (!FieldIs(record->hostId, kHostIdCharacters, expected->hostId)) return "wrong host ID";
        if (module.Mode() != expected->mode) return "wrong mode";
        if (module.Simulate() != expected->simulate) return "wrong simulate";
        if (module.NgmData() != expected->ngmData) return "wrong ngmdata";
        if (info.pristineSample == 0 &&
            (!parsed || std::wcscmp(record->hostId, L"mixedcase") != 0 || module.Mode() != L"fake")) {
            return "a valid line was not parsed as given";
        }
        return {};
    }

private:
    std::unique_ptr<Fuzz::GuardedBuffer> m_line;
};

}  // namespace

ORDWELL_FUZZ_DRIVER(CommandLineDriver);
