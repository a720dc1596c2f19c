// Ordwell.exe run whole under a changed display: 144 DPI at start-up, and a display mode change
// while it runs. Both are seen by every window of the Wine session, so this program runs alone.

#include "shell/tests/hostrun/HostRunSupport.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

using namespace HostRun;

SIZE WindowSize(HWND window)
{
    RECT rectangle{};
    GetWindowRect(window, &rectangle);
    return SIZE{rectangle.right - rectangle.left, rectangle.bottom - rectangle.top};
}

bool SetDisplay(DWORD width, DWORD height)
{
    DEVMODEW mode{};
    mode.dmSize = sizeof(mode);
    mode.dmPelsWidth = width;
    mode.dmPelsHeight = height;
    mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    return ChangeDisplaySettingsExW(nullptr, &mode, nullptr, 0, nullptr) == DISP_CHANGE_SUCCESSFUL;
}

// Puts the session's display back to 1024 x 768 whatever the test saw.
struct DisplayRestore {
    ~DisplayRestore() { SetDisplay(1024, 768); }
};

struct Host {
    std::wstring id = UniqueHostId(L"display");
    Process process;
    HWND window = nullptr;
};

Host StartShown(const HostRunEnvironment& environment)
{
    Host host;
    host.process = Process(OrdwellPath(), HostArguments(host.id, L"plain.html"));
    const DWORD pid = host.process.id();
    EXPECT_TRUE(WaitUntil(
        [&] {
            host.window = FindProcessWindow(pid, host.id);
            return host.window != nullptr && IsWindowVisible(host.window) &&
                   !LinesOf(environment.BrowserLog(), pid, {L" page resource=plain.html"}).empty();
        },
        30000));
    return host;
}

void Destroy(const Host& host)
{
    DWORD_PTR result = 0;
    EXPECT_NE(0, SendMessageTimeoutW(host.window, 0x8002, 0, 0, SMTO_ABORTIFHUNG, 5000, &result));
    EXPECT_EQ(std::optional<DWORD>(0), host.process.Wait(15000));
}

TEST(HostDisplay, DpiScalesTheWindowAndADisplayChangeResizesTheRunningOne)
{
    HostRunEnvironment environment;
    ASSERT_TRUE(environment.Ready());
    {
        // 144 DPI: 700 x 620 scaled by 1.5 does not fit the 1024 x 767 work area, so the height
        // limits: zoom 124 (767 / 620), window 866 x 767, centred in the monitor's work area.
        SavedValue dpi(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", 0);
        ASSERT_TRUE(dpi.SetDword(144));
        Host host = StartShown(environment);
        ASSERT_NE(nullptr, host.window);
        const SIZE size = WindowSize(host.window);
        EXPECT_EQ(866, size.cx);
        EXPECT_EQ(767, size.cy);
        RECT rectangle{};
        GetWindowRect(host.window, &rectangle);
        EXPECT_EQ(79, rectangle.left);
        EXPECT_EQ(1, rectangle.top);
        EXPECT_FALSE(LinesOf(environment.BrowserLog(), host.process.id(), {L" zoom value=124 "}).empty());
        Destroy(host);
    }
    DisplayRestore restore;
    Host host = StartShown(environment);
    ASSERT_NE(nullptr, host.window);
    EXPECT_EQ(700, WindowSize(host.window).cx);
    EXPECT_EQ(620, WindowSize(host.window).cy);
    // 800 x 600: the 599-pixel work area limits the height: zoom 97, window 676 x 599.
    ASSERT_TRUE(SetDisplay(800, 600));
    EXPECT_TRUE(WaitUntil([&] { return WindowSize(host.window).cy == 599; }, 10000));
    EXPECT_EQ(676, WindowSize(host.window).cx);
    EXPECT_TRUE(WaitUntil(
        [&] { return !LinesOf(environment.BrowserLog(), host.process.id(), {L" zoom value=97 "}).empty(); }, 5000));
    // Back to 1024 x 768: the requested size again.
    ASSERT_TRUE(SetDisplay(1024, 768));
    EXPECT_TRUE(WaitUntil([&] { return WindowSize(host.window).cy == 620; }, 10000));
    EXPECT_EQ(700, WindowSize(host.window).cx);
    Destroy(host);
}

}  // namespace
