#pragma once
// A navigation request: the URL to show and an event the window sets once it has acted on it.
// Travels with the main window's message 0x8003 (wParam) within the UI thread.

#include "core/base/ScopedComValues.h"
#include "core/base/ScopedResource.h"
#include "shell/host/CKvRefCount.h"

#include <oleauto.h>
#include <windows.h>

class CNAVMSGDATA : public CKvRefCount {
public:
    // Count 0, no event, a copy of url (null stays null).
    explicit CNAVMSGDATA(const wchar_t* url) noexcept;
    ~CNAVMSGDATA() override;

    // An unnamed auto-reset event, not signalled. False when it cannot be made.
    [[nodiscard]] bool CreateDoneEvent() noexcept;
    // Sets the done event when there is one.
    void SignalDone() noexcept;
    [[nodiscard]] const wchar_t* Url() const noexcept { return m_url.get(); }
    [[nodiscard]] HANDLE DoneEvent() const noexcept { return m_doneEvent.get(); }

private:
    Fundor::ScopedHandle m_doneEvent;
    Fundor::ScopedBstr m_url;
};

// A record of url with count 1 and its done event; null for a null url or when out of memory or
// events. The caller releases it.
[[nodiscard]] CNAVMSGDATA* CreateNavMsgData(const wchar_t* url) noexcept;
