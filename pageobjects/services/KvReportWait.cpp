#include "pageobjects/services/KvReportWait.h"

#include "core/base/ScopedComValues.h"
#include "core/base/ScopedResource.h"
#include "shell/host/CNAVMSGDATA.h"
#include "shell/host/ShellMessages.h"

#include <wrl/client.h>

void KvShowReportAndWait(HWND window, bool& waiting) noexcept
{
    ::ShowWindow(window, SW_HIDE);
    Microsoft::WRL::ComPtr<CNAVMSGDATA> navigation = Fundor::AdoptComPtr(CreateNavMsgData(kKvReportPage));
    if (navigation) (void)SendNavigateMessage(window, navigation.Get());
    navigation.Reset();
    Fundor::ScopedHandle event(::CreateEventW(nullptr, TRUE, FALSE, kKvReportSyncEvent));
    if (!event) return;
    struct WaitFlag {
        bool& flag;
        explicit WaitFlag(bool& f) : flag(f) { flag = true; }
        ~WaitFlag() { flag = false; }
    } waitFlag{waiting};
    // One deadline for the whole wait: steady input (a page's timer) must not keep it going.
    const ULONGLONG deadline = ::GetTickCount64() + kKvReportWaitMilliseconds;
    bool quit = false;
    WPARAM quitCode = 0;
    HANDLE handle = event.get();
    for (ULONGLONG now = ::GetTickCount64(); now < deadline && !quit; now = ::GetTickCount64()) {
        const DWORD waited = ::MsgWaitForMultipleObjectsEx(1, &handle, static_cast<DWORD>(deadline - now),
                                                           QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (waited != WAIT_OBJECT_0 + 1) break;
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quit = true;
                quitCode = message.wParam;
                break;
            }
            ::TranslateMessage(&message);
            ::DispatchMessageW(&message);
        }
        // The platform may answer "input" before looking at the event while input keeps coming.
        if (!quit && ::WaitForSingleObject(handle, 0) == WAIT_OBJECT_0) break;
    }
    // The thread's own loop must still see the quit request.
    if (quit) ::PostQuitMessage(static_cast<int>(quitCode));
}
