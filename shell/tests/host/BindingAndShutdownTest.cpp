// The browser binding without a browser library, and the end of the loop with a live window.

#include "shell/host/KvBrwsr2Lib.h"
#include "shell/tests/host/HostTestSupport.h"

#include <gtest/gtest.h>

namespace {

class HostBrowserBinding : public Fundor::testing::RegistryIsolatedTest {};

TEST_F(HostBrowserBinding, NothingToLoadIsADefiniteFailureAndAnUnboundLibraryMakesNoObject)
{
    Fundor::testing::ScratchFolder commonFiles;
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN", 0, nullptr, 0,
                                             KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr));
    RegSetValueExW(key, L"CommonFiles Dir", 0, REG_SZ, reinterpret_cast<const BYTE*>(commonFiles.Path().c_str()),
                   static_cast<DWORD>((commonFiles.Path().size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);

    KvBrwsr2Lib library;
    SetLastError(ERROR_SUCCESS);
    const DWORD loaded = library.Load();
    EXPECT_NE(0u, loaded);
    EXPECT_EQ(nullptr, library.Module());
    EXPECT_NE(0u, library.Init(6, nullptr, nullptr));
    EXPECT_EQ(nullptr, library.Module());

    IKvBrowser2* browser = reinterpret_cast<IKvBrowser2*>(1);
    EXPECT_EQ(static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED), library.GetBrwObject2(&browser));
    EXPECT_EQ(nullptr, browser);

    // No URL library registered: a null handler, nothing held.
    KvBrwNfHandler handler = reinterpret_cast<KvBrwNfHandler>(1);
    GetBrwNfyHandler(&handler);
    EXPECT_EQ(nullptr, handler);
    ReleaseBrwNfyHandler();

    // The module's binding fails cleanly and can be released any number of times.
    HostTesting::ParsedModule parsed(L"/id:binding");
    EXPECT_EQ(0, parsed.module->InitKvBrowser());
    parsed.module->DeInitKvBrowser();
    parsed.module->DeInitKvBrowser();
    EXPECT_EQ(nullptr, parsed.module->GetBrowserLib());
}

TEST(HostShutdown, TheEndOfTheLoopDestroysAWindowThatIsStillAlive)
{
    HostTesting::ParsedModule parsed(L"/id:shutdown");
    const std::wstring className = Fundor::testing::UniqueName(L"hostlive");
    WNDCLASSEXW description{sizeof(description)};
    description.lpfnWndProc = &DefWindowProcW;
    description.hInstance = GetModuleHandleW(nullptr);
    description.lpszClassName = className.c_str();
    RegisterClassExW(&description);
    const HWND window = CreateWindowExW(0, className.c_str(), L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                        GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(nullptr, window);
    parsed.module->SetMainWindowHandle(window);
    // No events: the wait is skipped, as when the exit event was set from outside.
    parsed.module->RunMessageLoop();
    EXPECT_FALSE(IsWindow(window));
}

}  // namespace
