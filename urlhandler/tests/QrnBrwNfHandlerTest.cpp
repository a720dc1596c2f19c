// The built Tessil.dll, loaded by path, against a redirected registry and an install folder
// holding copies of the HTML resource DLLs.

#include "core/testsupport/ProgramFolder.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

namespace {

using Fundor::testing::RegistryIsolatedTest;
using Fundor::testing::ScratchFolder;
using Handler = DWORD(WINAPI*)(int, wchar_t*);

constexpr std::size_t kUrlCharacters = 2084;
constexpr wchar_t kProductKey[] = L"SOFTWARE\\Tervane\\QRN";
constexpr wchar_t kPackagesKey[] = L"SOFTWARE\\Tervane\\QRN\\Packages";
constexpr wchar_t kQrnAppKey[] = L"SOFTWARE\\Tervane\\QRN\\Settings\\ApplicationInfo\\QRN";

using Fundor::testing::ProgramFolder;

// The caller's 2,084 characters end where an inaccessible page begins, so reading or writing
// past them faults at once.
class GuardedUrlBuffer {
public:
    GuardedUrlBuffer()
    {
        m_base = static_cast<BYTE*>(VirtualAlloc(nullptr, 3 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        EXPECT_TRUE(m_base != nullptr && VirtualProtect(m_base + 2 * kPage, kPage, PAGE_NOACCESS, &old));
        m_url = reinterpret_cast<wchar_t*>(m_base + 2 * kPage) - kUrlCharacters;
    }
    ~GuardedUrlBuffer() { VirtualFree(m_base, 0, MEM_RELEASE); }
    GuardedUrlBuffer(const GuardedUrlBuffer&) = delete;
    GuardedUrlBuffer& operator=(const GuardedUrlBuffer&) = delete;
    wchar_t* data() { return m_url; }

private:
    static constexpr std::size_t kPage = 4096;
    BYTE* m_base = nullptr;
    wchar_t* m_url = nullptr;
};

struct Outcome {
    DWORD result;
    std::wstring url;
    bool untouched;  // every one of the 2,084 characters as before the call
};

// Fills the buffer with a pattern, writes input (terminated unless it fills the buffer), calls.
Outcome Call(Handler handler, const std::wstring& input, int code = 1)
{
    GuardedUrlBuffer buffer;
    std::vector<wchar_t> before(kUrlCharacters, static_cast<wchar_t>(0xA5A5));
    std::copy(input.begin(), input.end(), before.begin());
    if (input.size() < kUrlCharacters) {
        before[input.size()] = L'\0';
    }
    std::copy(before.begin(), before.end(), buffer.data());
    const DWORD result = handler(code, buffer.data());
    return {result, std::wstring(buffer.data(), wcsnlen(buffer.data(), kUrlCharacters)),
            std::equal(before.begin(), before.end(), buffer.data())};
}

void SetString(const wchar_t* key, const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ)
{
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, key, name, type, value.c_str(),
                                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

std::wstring Replace(std::wstring text, const std::wstring& token, const std::wstring& value)
{
    for (std::size_t at = text.find(token); at != std::wstring::npos; at = text.find(token, at + value.size())) {
        text.replace(at, token.size(), value);
    }
    return text;
}

// One row: input, result, and the URL after the call ("{F}" the install folder without its
// trailing backslash); a null output means the buffer is left untouched.
struct Case {
    std::wstring input;
    DWORD result;
    const wchar_t* output;
};

class TessilExport : public RegistryIsolatedTest {
protected:
    static void SetUpTestSuite()
    {
        // A fault ends the test program at once instead of waiting in the debugger.
        SetErrorMode(GetErrorMode() | SEM_NOGPFAULTERRORBOX);
        // Loaded once and kept until the program ends.
        s_module = LoadLibraryW((ProgramFolder() + L"\\Tessil.dll").c_str());
        ASSERT_NE(nullptr, s_module);
        s_handler = reinterpret_cast<Handler>(reinterpret_cast<void*>(GetProcAddress(s_module, "QrnBrwNfHandler")));
    }

    void SetUp() override
    {
        ASSERT_NE(nullptr, s_handler);
        for (const wchar_t* dll : {L"qrnuild.dll", L"oemuild.dll", L"OemUI.dll"}) {
            ASSERT_TRUE(CopyFileW((ProgramFolder() + L"\\resources\\pages\\" + dll).c_str(),
                                  m_install.File(dll).c_str(), FALSE));
        }
        SetString(kProductKey, L"Install Dir", m_install.Path());
        SetString(kQrnAppKey, L"UIDll", m_install.File(L"qrnuild.dll"));
    }

    void ExpectCases(const std::vector<Case>& cases)
    {
        for (const Case& row : cases) {
            SCOPED_TRACE(testing::Message() << "input " << testing::PrintToString(row.input.substr(0, 80)));
            const Outcome outcome = Call(s_handler, row.input);
            EXPECT_EQ(row.result, outcome.result);
            if (row.output == nullptr) {
                EXPECT_TRUE(outcome.untouched) << testing::PrintToString(outcome.url.substr(0, 80));
            } else {
                EXPECT_EQ(Replace(row.output, L"{F}", m_install.Path()), outcome.url);
            }
        }
    }

    static inline HMODULE s_module = nullptr;
    static inline Handler s_handler = nullptr;
    ScratchFolder m_install;
};

TEST_F(TessilExport, ExportsOneEntryByNameAndOrdinalAndFiltersCallsBeforeReading)
{
    EXPECT_EQ(reinterpret_cast<void*>(s_handler),
              reinterpret_cast<void*>(GetProcAddress(s_module, MAKEINTRESOURCEA(1))));
    EXPECT_EQ(87u, s_handler(1, nullptr));
    EXPECT_EQ(0u, s_handler(0, nullptr));
    for (int code : {0, 2, -1}) {
        const Outcome outcome = Call(s_handler, L"sarn://main.html", code);
        EXPECT_EQ(0u, outcome.result);
        EXPECT_TRUE(outcome.untouched);
    }
}

TEST_F(TessilExport, RewritesNamesIntoTheProductUiDll)
{
    ExpectCases({
        {L"sarn://main.html", 0, L"sarn://{F}\\qrnuild.dll::main.html"},
        {L"sarn://pages\\main.html", 0, L"sarn://{F}\\qrnuild.dll::main.html"},
        {L"sarn://oemuild.dll::logo_a", 0, L"sarn://{F}\\oemuild.dll::logo_a"},
        {L"sarn://oemuild.dll::x\\y\\logo_a", 0, L"sarn://{F}\\oemuild.dll::logo_a"},
        // The slashes skipped behind the scheme stay in front of the rewritten path.
        {L"sarn:///main.html", 0, L"sarn:///{F}\\qrnuild.dll::main.html"},
        {L"sarn://\\\\main.html", 0, L"sarn://\\\\{F}\\qrnuild.dll::main.html"},
        {L"sarn:///\\/main.html", 0, L"sarn:///\\{F}\\qrnuild.dll::/main.html"},
        // ".dll" is looked for case-sensitively.
        {L"sarn://page.DLL", 0, L"sarn://{F}\\qrnuild.dll::page.DLL"},
        {L"sarn://page.dll", 13, nullptr},
        // A DLL part with a folder of its own passes as it is.
        {L"sarn://D:\\x\\other.dll::main.html", 0, nullptr},
        {L"sarn://x/other.dll::main.html", 0, nullptr},
        {L"SARN://main.html", 13, nullptr},
        {L" sarn://main.html", 13, nullptr},
        {L"sarn://", 13, nullptr},
        {L"sarn://\\/", 13, nullptr},
        {L"http://main.html", 13, nullptr},
    });
}

TEST_F(TessilExport, PassesUnchangedWhenTheProductUiDllIsUnknownAndRestoresWhenItCannotBeUsed)
{
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kQrnAppKey, L"UIDll"));
    ExpectCases({{L"sarn://main.html", 0, nullptr}, {L"sarn://oemuild.dll::logo_a", 0, nullptr}});

    // Not a string: a failed lookup, not a path made of its bytes.
    const DWORD number = 0x00410041;
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, kQrnAppKey, L"UIDll", REG_DWORD, &number, 4));
    ExpectCases({{L"sarn://main.html", 0, nullptr}});

    // A path without a folder cannot hold a sibling DLL; an empty one has no short form. The
    // caller gets its own URL back, never the bare scheme.
    SetString(kQrnAppKey, L"UIDll", L"qrnuild.dll");
    ExpectCases({{L"sarn://oemuild.dll::logo_a", 13, nullptr}, {L"sarn://main.html", 0, L"sarn://qrnuild.dll::main.html"}});
    SetString(kQrnAppKey, L"UIDll", L"");
    ExpectCases({{L"sarn://main.html", 13, nullptr}});

    SetEnvironmentVariableW(L"ORDWELL_TESSIL_UI", m_install.Path().c_str());
    SetString(kQrnAppKey, L"UIDll", L"%ORDWELL_TESSIL_UI%\\qrnuild.dll", REG_EXPAND_SZ);
    ExpectCases({{L"sarn://main.html", 0, L"sarn://{F}\\qrnuild.dll::main.html"}});
}

TEST_F(TessilExport, InstallFolderAndTokenUrls)
{
    SetString(L"SOFTWARE\\Tervane\\QRN\\Settings\\ApplicationInfo\\App1", L"UIDll", L"C:\\App1\\app1ui.dll");
    ExpectCases({
        // The folder's own backslash and the format's make two.
        {L"sarn://@pages\\main.html", 0, L"sarn://{F}\\\\pages\\main.html"},
        {L"sarn://@", 0, L"sarn://{F}\\\\"},
        {L"sarn://@{x", 120, L""},
        {L"sarn://@{tk:other}", 120, L""},
        {L"sarn://@{tk:logo_a", 13, L""},
        // Co-branded: the partner DLL when it holds the page, else the application's UI DLL.
        {L"sarn://@{tk:appid_App1}offer.html", 0, L"sarn://{F}\\OemUI.dll::offer.html"},
        {L"sarn://@{TK:APPID_App1}main.html", 0, L"sarn://C:\\App1\\app1ui.dll::main.html"},
        {L"sarn://@{tK:AppId_QRN}about.html", 0, L"sarn://{F}\\qrnuild.dll::about.html"},
        {L"sarn://@{tk:appid_None}main.html", 13, L"sarn://::main.html"},
        {L"sarn://@{tk:appid_None}offer.html", 13, L"sarn://{F}\\OemUI.dll::offer.html"},
        {L"sarn://@{tk:appid_App1", 13, L""},
        {L"sarn://@{tk:appid_" + std::wstring(260, L'a') + L"}main.html", 13, L""},
        {L"sarn://@{tk:appid_App1}" + std::wstring(260, L'r'), 13, L""},
    });
}

TEST_F(TessilExport, LogoOrderFollowsTheActivePackages)
{
    const std::vector<Case> onePackage = {
        {L"sarn://@{tk:logo_a}", 0, L"sarn://{F}\\\\oemuild.dll::1001_logo_a"},
        {L"sarn://@{tk:logo_b}", 0, L"sarn://{F}\\\\oemuild.dll::logo_b"},
        {L"sarn://@{TK:LOGO_C}tail", 0, L"sarn://{F}\\\\qrnuild.dll::1001_logo_c"},
        {L"sarn://@{tk:logo_d}", 0, L"sarn://{F}\\\\qrnuild.dll::logo_d"},
        {L"sarn://@{tk:logo_z}", 13, L""},
    };
    const std::vector<Case> unprefixed = {
        {L"sarn://@{tk:logo_a}", 0, L"sarn://{F}\\\\oemuild.dll::logo_a"},
        {L"sarn://@{tk:logo_c}", 0, L"sarn://{F}\\\\qrnuild.dll::logo_c"},
    };
    SetString(kPackagesKey, L"activeuipackages", L"1001");
    ExpectCases(onePackage);
    SetString(kPackagesKey, L"activeuipackages", L"1001;1002");
    ExpectCases(unprefixed);
    // "activepackages" decides when "activeuipackages" is empty or missing.
    SetString(kPackagesKey, L"activeuipackages", L"");
    SetString(kPackagesKey, L"activepackages", L"1001");
    ExpectCases(onePackage);
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPackagesKey, L"activeuipackages"));
    ExpectCases(onePackage);
    // A package name too long for a resource name only loses its own logos.
    SetString(kPackagesKey, L"activepackages", std::wstring(1000, L'p'));
    ExpectCases(unprefixed);
}

TEST_F(TessilExport, NeverReadsOrWritesBeyondTheCallersBuffer)
{
    const std::wstring full = L"sarn://" + std::wstring(kUrlCharacters - 7, L'a');  // no terminator
    const std::wstring longName = L"sarn://" + std::wstring(2070, L'n');             // fits, rewrite does not
    ExpectCases({
        {full, 13, nullptr},
        {longName, 13, nullptr},
        {L"sarn://oemuild.dll::" + std::wstring(2060, L'r'), 13, nullptr},
        {L"sarn://" + std::wstring(300, L'd') + L"::main.html", 13, nullptr},
    });
    // A long install folder with a long "@" body.
    SetString(kProductKey, L"Install Dir", L"C:\\" + std::wstring(500, L'f'));
    ExpectCases({{L"sarn://@" + std::wstring(1700, L'b'), 13, L""}});
}

TEST_F(TessilExport, EightThreadsGiveTheResultsOfOne)
{
    SetString(kPackagesKey, L"activeuipackages", L"1001");
    const std::vector<std::wstring> inputs = {
        L"sarn://main.html",          L"sarn://oemuild.dll::logo_b", L"sarn://@pages\\a.html",
        L"sarn://@{tk:logo_a}",       L"sarn://@{tk:appid_QRN}offer.html", L"sarn://@{x",
        L"SARN://main.html",          L"sarn://page.dll",
    };
    std::vector<Outcome> expected;
    for (const std::wstring& input : inputs) {
        expected.push_back(Call(s_handler, input));
    }
    std::vector<int> mismatches(8, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 40; ++round) {
                const std::size_t i = (t + round) % inputs.size();
                const Outcome outcome = Call(s_handler, inputs[i]);
                mismatches[t] += outcome.result != expected[i].result || outcome.url != expected[i].url;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(std::vector<int>(8, 0), mismatches);
    EXPECT_EQ(L"sarn://" + m_install.Path() + L"\\\\oemuild.dll::1001_logo_a", expected[3].url);
}

}  // namespace
