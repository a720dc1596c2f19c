// The host's start run in this process, in the environment of the whole-program runs, so that the
// navigation record of its first page can be counted: a hook on this thread's sent messages takes
// a reference of its own on the record the main window is sent, as a window that keeps it would.

#include "shell/host/CKvShellModule.h"
#include "shell/host/CNAVMSGDATA.h"
#include "shell/host/ShellMessages.h"
#include "shell/tests/hostrun/HostRunSupport.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

using namespace HostRun;

// The first record sent with WM_SHELL_NAVIGATE on this thread while the hook is set.
CNAVMSGDATA* g_kept = nullptr;

LRESULT CALLBACK KeepFirstNavigationRecord(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && sent->message == WM_SHELL_NAVIGATE && sent->wParam != 0 && g_kept == nullptr) {
        g_kept = reinterpret_cast<CNAVMSGDATA*>(sent->wParam);
        g_kept->AddRef();
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST(HostStartInThisProcess, FirstPagesRecordEndsWithTheLastReferenceOfWhoKeptIt)
{
    HostRunEnvironment environment;
    ASSERT_TRUE(environment.Ready());
    ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    {
        CKvShellModule module;
        HRESULT parseResult = E_FAIL;
        const std::wstring line = L"Ordwell.exe " + HostArguments(UniqueHostId(L"first"), L"plain.html");
        ASSERT_TRUE(module.ParseCommandLine(line.c_str(), &parseResult));
        HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, KeepFirstNavigationRecord, nullptr, GetCurrentThreadId());
        ASSERT_NE(nullptr, hook);
        const HRESULT started = module.PreMessageLoop(SW_SHOWNORMAL);
        UnhookWindowsHookEx(hook);
        EXPECT_EQ(S_OK, started);
        if (g_kept != nullptr) {
            EXPECT_STREQ(L"sarn://hostpages.dll::plain.html", g_kept->Url());
            EXPECT_EQ(0u, g_kept->Release()) << "the start kept a reference of its own";
            g_kept = nullptr;
        } else {
            ADD_FAILURE() << "the first page was not sent to the main window";
        }
        module.SetExitEvent();
        module.RunMessageLoop();
    }
    CoUninitialize();
}

}  // namespace
