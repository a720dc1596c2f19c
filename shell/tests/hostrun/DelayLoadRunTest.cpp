// Ordwell.exe run as a whole while system DLLs that it binds at their first call cannot be loaded
// into it: WinINet, which no start needs before its first navigation, and OLE automation, which a
// second start never needs before its hand-over. The host starts and shows its page without the
// first, and a second start hands over without either.

#include "shell/tests/hostrun/HostRunSupport.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <initializer_list>
#include <memory>
#include <string>

namespace {

using namespace HostRun;

// Wine's per-program DLL overrides: an empty value keeps the DLL from loading in that program.
// The program is a copy of Ordwell.exe under a name of its own, so no other run is touched.
class DisabledDlls {
public:
    DisabledDlls(const std::wstring& program, std::initializer_list<const wchar_t*> dlls)
        : m_key(L"Software\\Wine\\AppDefaults\\" + program)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, (m_key + L"\\DllOverrides").c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr) == ERROR_SUCCESS) {
            for (const wchar_t* dll : dlls) RegSetValueExW(key, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>(L""), 2);
            RegCloseKey(key);
        }
    }
    ~DisabledDlls()
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str());
        RegDeleteKeyW(HKEY_CURRENT_USER, m_key.c_str());
    }
    DisabledDlls(const DisabledDlls&) = delete;
    DisabledDlls& operator=(const DisabledDlls&) = delete;

private:
    std::wstring m_key;
};

class ProgramCopy {
public:
    explicit ProgramCopy(const std::wstring& name) : m_path(BinFolder() + L"\\" + name)
    {
        m_copied = CopyFileW(OrdwellPath().c_str(), m_path.c_str(), FALSE) != FALSE;
    }
    ~ProgramCopy() { DeleteFileW(m_path.c_str()); }
    ProgramCopy(const ProgramCopy&) = delete;
    ProgramCopy& operator=(const ProgramCopy&) = delete;
    [[nodiscard]] bool Copied() const { return m_copied; }
    [[nodiscard]] const std::wstring& Path() const { return m_path; }

private:
    std::wstring m_path;
    bool m_copied = false;
};

TEST(DelayLoadRun, HostStartsWithoutWinInetAndASecondStartHandsOverWithoutOleAutomation)
{
    HostRunEnvironment environment;
    ASSERT_TRUE(environment.Ready());
    const std::wstring name = L"OrdwellDelayRun" + std::to_wstring(GetCurrentProcessId()) + L".exe";
    const ProgramCopy program(name);
    ASSERT_TRUE(program.Copied());
    const std::wstring& log = environment.BrowserLog();
    const std::wstring id = UniqueHostId(L"delayload");

    std::unique_ptr<DisabledDlls> withoutWinInet = std::make_unique<DisabledDlls>(name, std::initializer_list{L"wininet"});
    Process host(program.Path(), HostArguments(id, L"plain.html"));
    ASSERT_TRUE(host.valid());
    ASSERT_TRUE(WaitUntil([&] { return !LinesOf(log, host.id(), {L" page resource=plain.html"}).empty(); }, 30000))
        << "the host did not show its page";
    withoutWinInet.reset();
    EXPECT_EQ(0u, LinesOf(log, host.id(), {L" page_error "}).size());

    {
        const DisabledDlls withoutEither(name, {L"wininet", L"oleaut32"});
        const std::wstring url = L"sarn://hostpages.dll::plain.html?from=second";
        Process second(program.Path(), L"/id:" + id + L" /body:" + url);
        ASSERT_TRUE(second.valid());
        EXPECT_EQ(std::optional<DWORD>(0), second.Wait(30000));
        EXPECT_TRUE(WaitUntil([&] { return !LinesOf(log, host.id(), {L" navigate url=" + url}).empty(); }, 30000))
            << "the running host did not take the hand-over";
    }
    EXPECT_TRUE(host.Running());

    HWND window = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (window = FindProcessWindow(host.id(), id)) != nullptr; }, 10000));
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, 0x8002, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    EXPECT_EQ(std::optional<DWORD>(0), host.Wait(30000));
}

}  // namespace
