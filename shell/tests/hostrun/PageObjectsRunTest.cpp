// The page objects seen by a page of a running host: a page of the test page DLL calls them by name
// through the browser control's script runner and logs what they answer; the test reads that log,
// the registry values the page wrote and what the updater stand-in was started with. A hand-over
// then shows a second page in the same host, which reads the named value the first page left.

#include "access/KvUpdateLauncher.h"
#include "access/tests/KvUtilTestSupport.h"
#include "core/registry/ObfuscatedRegistry.h"
#include "pageobjects/services/qrncmn.h"
#include "shell/tests/hostrun/HostRunSupport.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

using namespace HostRun;

constexpr DWORD kStartTimeout = 30000;
constexpr wchar_t kPageKey[] = L"Software\\Tervane\\OrdwellPageRun";

// The key the page writes to, gone before and after the run.
class PageKey {
public:
    PageKey() { Remove(); }
    ~PageKey() { Remove(); }
    PageKey(const PageKey&) = delete;
    PageKey& operator=(const PageKey&) = delete;

    // The stored type and bytes of a value; REG_NONE and nothing when it is missing.
    static std::vector<BYTE> Read(const wchar_t* name, DWORD* type)
    {
        *type = REG_NONE;
        std::vector<BYTE> data;
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kPageKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return data;
        DWORD size = 0;
        if (RegQueryValueExW(key, name, nullptr, type, nullptr, &size) == ERROR_SUCCESS) {
            data.resize(size);
            if (RegQueryValueExW(key, name, nullptr, type, data.data(), &size) != ERROR_SUCCESS) size = 0;
            data.resize(size);
        }
        RegCloseKey(key);
        return data;
    }

private:
    static void Remove()
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, kPageKey);
        RegDeleteKeyW(HKEY_CURRENT_USER, kPageKey);
    }
};

std::wstring TextOf(const std::vector<BYTE>& data)
{
    return std::wstring(reinterpret_cast<const wchar_t*>(data.data()), data.size() / sizeof(wchar_t));
}

class PageObjectsRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_environment.Ready());
        // The updater: trusted, found beside its registered server, told where to record.
        const std::wstring folder = BinFolder() + L"\\kvupdate";
        m_updater = folder + L"\\" + kUpdaterFileName;
        ASSERT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(m_updater.c_str()));
        ASSERT_TRUE(m_environment.TrustAlso(m_updater));
        ASSERT_TRUE(m_updaterServer.SetText(L"\"" + folder + L"\\KvUpdateHost.exe\""));
        ASSERT_TRUE(m_link.SetText(L"https://example.test/pagerun?from=page"));
        m_updaterLog = m_environment.Folder() + L"\\kvupdate.log";
        SetEnvironmentVariableW(L"ORDWELL_KVUPDATE_LOG", m_updaterLog.c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"ORDWELL_KVUPDATE_LOG", nullptr);
        DeleteFileW(m_updaterLog.c_str());
    }

    // What the page logged for name ("<value> typeof=<type>"), or "<none>" / "<several>".
    std::wstring Answer(DWORD pid, const std::wstring& name) const
    {
        const std::wstring marker = L" page_log text=call " + name + L"=";
        const auto lines = LinesOf(m_environment.BrowserLog(), pid, {marker});
        if (lines.empty()) return L"<none>";
        if (lines.size() > 1) return L"<several>";
        return lines[0].substr(lines[0].find(marker) + marker.size());
    }

    HostRunEnvironment m_environment;
    PageKey m_key;
    SavedValue m_updaterServer{HKEY_LOCAL_MACHINE,
                               std::wstring(L"Software\\Classes\\CLSID\\") + kUpdaterServerClsid + L"\\LocalServer32", L"",
                               KEY_WOW64_64KEY};
    SavedValue m_link{HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN\\Settings\\Links", L"pagerun", KEY_WOW64_64KEY};
    std::wstring m_updater;
    std::wstring m_updaterLog;
};

// One host: the name table, the registry round trip, the platform object's ids, then a hand-over
// to a page that finds the named value the first page set.
TEST_F(PageObjectsRun, PageCallsTheObjectsByNameAndKeepsNamedValuesAcrossAHandOver)
{
    const std::wstring id = UniqueHostId(L"objects");
    Process host(OrdwellPath(), HostArguments(id, L"pageobjects.html"));
    ASSERT_TRUE(host.valid());
    const DWORD pid = host.id();
    const std::wstring& log = m_environment.BrowserLog();
    ASSERT_TRUE(WaitUntil([&] { return !LinesOf(log, pid, {L" navigate_result "}).empty(); }, kStartTimeout))
        << "the host did not show its page";

    // The first five blocks ran whole; the last calls a name the object does not have.
    for (int block = 0; block < 5; ++block) {
        EXPECT_EQ(1u, LinesOf(log, pid, {L" script block=" + std::to_wstring(block) + L" result=0x00000000"}).size())
            << block;
    }
    EXPECT_EQ(1u, LinesOf(log, pid, {L" script_error block=5 "}).size());
    EXPECT_EQ(L"<none>", Answer(pid, L"Unknown"));

    // The name table: requests this host does not serve answer 50, names in any case.
    for (const wchar_t* name : {L"CloseWindow", L"closewindow", L"ResizeWindow", L"OpenLogWindow", L"OpenReportWindow"}) {
        EXPECT_EQ(L"50 typeof=number", Answer(pid, name)) << name;
    }
    EXPECT_EQ(L"2 typeof=number", Answer(pid, L"StopTimer"));
    // A timer name full of format directives is a label only: started and stopped.
    EXPECT_EQ(L"0 typeof=number", Answer(pid, L"StartTimer"));
    EXPECT_EQ(L"0 typeof=number", Answer(pid, L"StopTimerStarted"));
    long osCode = -1;
    (void)KvGetOSVersionCode(&osCode);
    EXPECT_EQ(std::to_wstring(osCode) + L" typeof=number", Answer(pid, L"GetOSVersionCode"));
    EXPECT_EQ(L"true typeof=boolean", Answer(pid, L"IsClickRefreshEnabled"));
    EXPECT_EQ(L"0 typeof=number", Answer(pid, L"GetLocaleInfo"));
    EXPECT_EQ(L"en-us typeof=string", Answer(pid, L"langRegion"));
    EXPECT_EQ(L"ltr typeof=string", Answer(pid, L"direction"));

    // The registry round trip, answers first, then the stored bytes.
    for (const wchar_t* name : {L"SetPlain", L"SetSecret", L"SetList", L"SetNumber"}) {
        EXPECT_EQ(L"0 typeof=number", Answer(pid, name)) << name;
    }
    EXPECT_EQ(L"-2147024809 typeof=number", Answer(pid, L"SetBadPath"));
    EXPECT_EQ(L"plain \x00E9\x4E2D text typeof=string", Answer(pid, L"GetPlain"));
    EXPECT_EQ(L"hidden typeof=string", Answer(pid, L"GetSecret"));
    EXPECT_EQ(L"undefined typeof=undefined", Answer(pid, L"GetMissing"));

    DWORD type = REG_NONE;
    std::vector<BYTE> data = PageKey::Read(L"Plain", &type);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(std::wstring(L"plain \x00E9\x4E2D text", 13) + L'\0', TextOf(data));
    data = PageKey::Read(L"Secret", &type);
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    ASSERT_GE(data.size(), 16u);
    EXPECT_EQ((std::vector<BYTE>{0x4B, 0x56, 0x52, 0x47, 0x01, 0x00, 0x00, 0x00}),
              std::vector<BYTE>(data.begin(), data.begin() + 8));
    EXPECT_EQ((std::vector<BYTE>{0x01, 0x00, 0x00, 0x00}), std::vector<BYTE>(data.begin() + 12, data.begin() + 16));
    wchar_t secret[32] = {};
    DWORD secretSize = sizeof(secret);
    DWORD secretType = REG_NONE;
    EXPECT_EQ(ERROR_SUCCESS, Fundor::ObfuscatedRegQueryValue(HKEY_CURRENT_USER, kPageKey, L"Secret", &secretType,
                                                             secret, &secretSize, Fundor::kObfuscatedValueEnciphered));
    EXPECT_STREQ(L"hidden", secret);
    // The empty element of the page's array is left out: a reader would stop at it.
    data = PageKey::Read(L"List", &type);
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
    EXPECT_EQ(std::wstring(L"a\0b\0\0", 5), TextOf(data));
    data = PageKey::Read(L"Number", &type);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ((std::vector<BYTE>{0xD2, 0x04, 0x00, 0x00}), data);
    // The named value is there for the page that set it.
    EXPECT_EQ(L"0 typeof=number", Answer(pid, L"SetNamedParameter"));
    EXPECT_EQ(L"kept across pages typeof=string", Answer(pid, L"GetNamedParameter"));

    // The platform object answers every id by name; ids it does not know give nothing.
    std::wstring fourth;
    for (int property = 0; property <= 12; ++property) {
        const std::wstring answer = Answer(pid, L"GetProperty" + std::to_wstring(property));
        const bool known = answer == L"undefined typeof=undefined" ||
                           answer.find(L" typeof=object") != std::wstring::npos ||
                           answer.find(L" typeof=number") != std::wstring::npos ||
                           answer.find(L" typeof=string") != std::wstring::npos;
        EXPECT_TRUE(known) << property << ": " << std::string(answer.begin(), answer.end());
        if (property == 4) fourth = answer;
    }
    EXPECT_EQ(L"undefined typeof=undefined", Answer(pid, L"GetProperty10"));
    EXPECT_EQ(L"undefined typeof=undefined", Answer(pid, L"GetProperty12"));
    EXPECT_EQ(fourth, Answer(pid, L"getproperty4"));

    // The link name reached the updater, expanded, as its one argument.
    EXPECT_EQ(L"0 typeof=number", Answer(pid, L"OpenBrowser"));
    std::wstring record;
    EXPECT_TRUE(WaitUntil([&] { return !(record = KvUtilTesting::ReadWholeFile(m_updaterLog)).empty(); }, 10000));
    const std::size_t lineEnd = record.find(L'\n');
    ASSERT_NE(std::wstring::npos, lineEnd);
    EXPECT_EQ(0, _wcsicmp(m_updater.c_str(), record.substr(0, lineEnd).c_str()));
    EXPECT_EQ(L"\"/link:https://example.test/pagerun?from=page&x=1\"", record.substr(lineEnd + 1));

    // The hand-over: the second start ends at once, the running host shows the next page, whose
    // script finds the value and removes it.
    {
        Process second(OrdwellPath(), L"/id:" + id + L" /body:sarn://hostpages.dll::carried.html");
        EXPECT_EQ(std::optional<DWORD>(0), second.Wait(kStartTimeout));
    }
    ASSERT_TRUE(WaitUntil([&] { return !LinesOf(log, pid, {L" page_log text=carried removed="}).empty(); }, 10000));
    EXPECT_EQ(1u, LinesOf(log, pid, {L" page_log text=carried value=kept across pages typeof=string"}).size());
    EXPECT_EQ(1u, LinesOf(log, pid, {L" page_log text=carried removed=0 after=undefined"}).size());
    EXPECT_TRUE(host.Running());
}

}  // namespace
