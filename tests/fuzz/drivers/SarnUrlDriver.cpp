// "QrnBrwNfHandler" of the built Tessil.dll (loaded by path) over "sarn://" URLs. Each input's
// bytes become the URL's characters one for one, written into the caller's 2,084-character
// buffer whose end is the start of a no-access page; the rest of the buffer holds a pattern. An
// input of 2,084 characters or more fills the buffer without a terminator.
//
// The registry's HKEY_LOCAL_MACHINE is redirected to a scratch key for the driver's lifetime,
// holding a small install: an install folder with the three resource DLLs, the product's UI DLL,
// one co-branded application and one active package, so that every form reaches its lookups.

#include "tests/fuzz/FuzzHarness.h"

#include "core/base/FileSystemHelpers.h"
#include "core/base/StringFormat.h"
#include "core/testsupport/ProgramFolder.h"

#include <algorithm>
#include <cwchar>
#include <string_view>

namespace {

using Fuzz::Bytes;
using Handler = DWORD(WINAPI*)(int, wchar_t*);

constexpr std::size_t kUrl = 2084;
constexpr std::size_t kPath = 260;
constexpr wchar_t kPattern = static_cast<wchar_t>(0xA5A5);
constexpr wchar_t kScheme[] = L"sarn://";

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

using Fundor::testing::ProgramFolder;

bool SetString(const wchar_t* key, const wchar_t* name, const std::wstring& value)
{
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, REG_SZ, value.c_str(),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

std::wstring_view AfterLastBackslash(std::wstring_view text)
{
    const std::size_t slash = text.rfind(L'\\');
    return slash == std::wstring_view::npos ? text : text.substr(slash + 1);
}

class SarnUrlDriver final : public Fuzz::FuzzDriver {
public:
    ~SarnUrlDriver() override
    {
        if (m_overridden) ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
        if (m_machine != nullptr) ::RegCloseKey(m_machine);
        if (!m_scratchKey.empty()) ::RegDeleteTreeW(HKEY_CURRENT_USER, m_scratchKey.c_str());
        if (!m_folder.empty()) (void)Fundor::RemoveDirectoryPath(m_folder.c_str());
    }

    const char* Name() const override { return "sarn-url"; }
    // Past the caller's buffer: such inputs fill it with no terminator.
    std::size_t GrowthLimit() const override { return kUrl + 16; }
    std::vector<std::string> Dictionary() const override
    {
        return {"sarn://", "@", "{tk:logo_", "{tk:appid_", "{TK:APPID_", "{", "}", "_", "::", "\\", "/", ".dll",
                ".DLL", "oemuild.dll", "qrnuild.dll", "OemUI.dll", "App1", "QRN", "logo_a", "offer.html", "C:\\"};
    }

    std::vector<Bytes> Samples() override
    {
        if (!Prepare()) return {};
        std::vector<Bytes> samples = {
            Text("sarn://main.html"),
            Text("sarn://pages\\main.html"),
            Text("sarn://oemuild.dll::x\\y\\logo_a"),
            Text("sarn:///\\/main.html"),
            Text("sarn://page.dll"),
            Text("sarn://D:\\x\\other.dll::main.html"),
            Text("sarn://@pages\\main.html"),
            Text("sarn://@{tk:logo_a}"),
            Text("sarn://@{TK:APPID_App1}main.html"),
            Text("sarn://@{tk:appid_QRN}offer.html"),
            Text("sarn://@{x"),
            Text("sarn://" + std::string(kUrl - 7, 'a')),
        };
        m_buffer = std::make_unique<Fuzz::GuardedBuffer>(kUrl * sizeof(wchar_t));
        return samples;
    }

    std::string Run(const std::uint8_t* data, std::size_t size, const Fuzz::InputInfo& info) override
    {
        if (m_handler == nullptr || !m_buffer || !m_buffer->valid()) return "the fixture is not ready";
        auto* url = reinterpret_cast<wchar_t*>(m_buffer->Room(kUrl * sizeof(wchar_t)));
        std::wstring before(kUrl, kPattern);
        for (std::size_t i = 0; i < std::min(size, kUrl); ++i) before[i] = static_cast<wchar_t>(data[i]);
        if (size < kUrl) before[size] = L'\0';
        std::copy(before.begin(), before.end(), url);

        const DWORD result = m_handler(1, url);

        const bool untouched = std::equal(before.begin(), before.end(), url);
        const std::size_t inputLength = wcsnlen(before.c_str(), kUrl);
        if (inputLength == kUrl) return result == ERROR_INVALID_DATA && untouched ? "" : "an unterminated URL was used";
        const std::size_t outputLength = wcsnlen(url, kUrl);
        if (outputLength == kUrl) return "the output is not terminated within the buffer";
        const std::wstring input(before.c_str());
        const std::wstring output(url, outputLength);

        if (result != 0 && result != ERROR_NOT_ENOUGH_MEMORY && result != ERROR_INVALID_DATA &&
            result != ERROR_CALL_NOT_IMPLEMENTED) {
            return "result " + std::to_string(result) + " is none the export gives";
        }
        std::size_t bodyOffset = 7;
        while (bodyOffset < 9 && bodyOffset < input.size() && (input[bodyOffset] == L'/' || input[bodyOffset] == L'\\')) {
            ++bodyOffset;
        }
        if (input.compare(0, 7, kScheme) != 0 || bodyOffset >= input.size()) {
            return result == ERROR_INVALID_DATA && untouched ? "" : "a URL without a body was not refused untouched";
        }
        const std::wstring body = input.substr(bodyOffset);
        const std::string problem = body[0] == L'@' ? CheckAtForm(body, result, output)
                                                    : CheckPlainForm(input, bodyOffset, result, untouched, output);
        if (!problem.empty()) return problem;
        if (info.pristineSample == 7 && (result != 0 || output.find(L"oemuild.dll::1001_logo_a") == std::wstring::npos)) {
            return "the active package's logo was not found";
        }
        return {};
    }

private:
    // "@" forms: the buffer is emptied first; the plain one is the install folder and the body.
    std::string CheckAtForm(const std::wstring& body, DWORD result, const std::wstring& output) const
    {
        if (body.size() < 2 || body[1] != L'{') {
            const std::wstring expected = kScheme + m_folder + L"\\\\" + body.substr(1);
            if (expected.size() < kUrl) return result == 0 && output == expected ? "" : "wrong install-folder URL";
            return result == ERROR_INVALID_DATA && output.empty() ? "" : "an over-long install-folder URL was kept";
        }
        if (result == ERROR_CALL_NOT_IMPLEMENTED) return output.empty() ? "" : "an unknown token left text";
        const bool token = body.size() >= 5 && _wcsnicmp(body.c_str() + 1, L"{tk:", 4) == 0;
        if (!token) return "an unknown token was not refused with 120";
        if (_wcsnicmp(body.c_str() + 1, L"{tk:logo_", 9) == 0) {
            if (result == ERROR_INVALID_DATA) return output.empty() ? "" : "a logo not found left text";
            const std::wstring prefix = kScheme + m_folder + L"\\\\";
            return result == 0 && output.compare(0, prefix.size(), prefix) == 0 && output.find(L"::") != std::wstring::npos
                       ? ""
                       : "wrong logo URL";
        }
        if (_wcsnicmp(body.c_str() + 1, L"{tk:appid_", 10) == 0) {
            if (result != 0 && result != ERROR_INVALID_DATA) return "wrong co-branded result";
            const std::size_t close = body.find(L'}');
            const std::wstring tail = close == std::wstring::npos ? L"" : L"::" + body.substr(close + 1);
            const bool formed = output.compare(0, 7, kScheme) == 0 && close != std::wstring::npos &&
                                output.size() >= tail.size() && output.compare(output.size() - tail.size(), tail.size(), tail) == 0;
            if (result == 0) return formed ? "" : "wrong co-branded URL";
            return output.empty() || formed ? "" : "a failed co-branded URL holds other text";
        }
        return result == ERROR_CALL_NOT_IMPLEMENTED ? "" : "an unknown token was not refused with 120";
    }

    // Other forms: rewritten to a DLL path and the resource's last element, or left untouched.
    std::string CheckPlainForm(const std::wstring& input, std::size_t bodyOffset, DWORD result, bool untouched,
                               const std::wstring& output) const
    {
        const std::wstring_view body = std::wstring_view(input).substr(bodyOffset);
        const std::size_t separator = body.find(L"::");
        std::wstring dllPath;
        std::wstring_view resource;
        if (separator != std::wstring_view::npos) {
            const std::wstring_view dllPart = body.substr(0, separator);
            if (dllPart.find_first_of(L"\\/:") != std::wstring_view::npos) {
                return result == 0 && untouched ? "" : "a DLL with a folder of its own was not passed unchanged";
            }
            dllPath = m_folder + L"\\" + std::wstring(dllPart);
            resource = AfterLastBackslash(body.substr(separator + 2));
        } else {
            if (body.find(L".dll") != std::wstring_view::npos) {
                return result == ERROR_INVALID_DATA && untouched ? "" : "a DLL name without a resource was taken";
            }
            dllPath = m_uiDll;
            resource = AfterLastBackslash(body);
        }
        if (result == ERROR_INVALID_DATA || untouched) {
            const std::size_t rewritten = bodyOffset + dllPath.size() + 2 + resource.size();
            const bool fits = dllPath.size() < kPath && rewritten < kUrl;
            if (fits) return "a rewrite that fits was not made";
            return result == ERROR_INVALID_DATA && untouched ? "" : "a failed rewrite changed the buffer";
        }
        const std::wstring expected = input.substr(0, bodyOffset) + dllPath + L"::" + std::wstring(resource);
        return result == 0 && output == expected ? "" : "wrong rewritten URL";
    }

    bool Prepare()
    {
        wchar_t temp[MAX_PATH] = {};
        if (::GetTempPathW(MAX_PATH, temp) == 0) return false;
        wchar_t name[80];
        (void)Fundor::FormatW(name, std::size(name), L"OrdwellFuzzSarn_%lu_%llu", ::GetCurrentProcessId(),
                              static_cast<unsigned long long>(::GetTickCount64()));
        m_folder = std::wstring(temp) + name;
        if (!Fundor::CreateDirectoryPath(m_folder.c_str())) return false;
        const std::wstring pages = ProgramFolder() + L"\\resources\\pages\\";
        for (const wchar_t* dll : {L"qrnuild.dll", L"oemuild.dll", L"OemUI.dll"}) {
            if (!::CopyFileW((pages + dll).c_str(), (m_folder + L"\\" + dll).c_str(), FALSE)) return false;
        }
        m_uiDll = m_folder + L"\\qrnuild.dll";

        m_scratchKey = std::wstring(L"Software\\") + name;
        if (::RegCreateKeyExW(HKEY_CURRENT_USER, m_scratchKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &m_machine, nullptr) != ERROR_SUCCESS ||
            ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, m_machine) != ERROR_SUCCESS) {
            return false;
        }
        m_overridden = true;
        if (!SetString(L"SOFTWARE\\Tervane\\QRN", L"Install Dir", m_folder) ||
            !SetString(L"SOFTWARE\\Tervane\\QRN\\Settings\\ApplicationInfo\\QRN", L"UIDll", m_uiDll) ||
            !SetString(L"SOFTWARE\\Tervane\\QRN\\Settings\\ApplicationInfo\\App1", L"UIDll", L"C:\\App1\\app1ui.dll") ||
            !SetString(L"SOFTWARE\\Tervane\\QRN\\Packages", L"activeuipackages", L"1001")) {
            return false;
        }
        // Loaded once and kept until the program ends, as the host keeps it.
        static HMODULE tessil = ::LoadLibraryW((ProgramFolder() + L"\\Tessil.dll").c_str());
        if (tessil == nullptr) return false;
        m_handler = reinterpret_cast<Handler>(reinterpret_cast<void*>(::GetProcAddress(tessil, "QrnBrwNfHandler")));
        return m_handler != nullptr;
    }

    std::wstring m_folder;
    std::wstring m_uiDll;
    std::wstring m_scratchKey;
    HKEY m_machine = nullptr;
    bool m_overridden = false;
    Handler m_handler = nullptr;
    std::unique_ptr<Fuzz::GuardedBuffer> m_buffer;
};

}  // namespace

ORDWELL_FUZZ_DRIVER(SarnUrlDriver);
