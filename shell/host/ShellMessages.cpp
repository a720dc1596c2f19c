#include "shell/host/ShellMessages.h"

namespace {

struct RegisteredPointer {
    bool pending = false;
    WPARAM pointer = 0;
};

thread_local RegisteredPointer t_navigate;
thread_local RegisteredPointer t_currentUrl;

RegisteredPointer* RegistrationOf(UINT message) noexcept
{
    switch (message) {
    case WM_SHELL_NAVIGATE: return &t_navigate;
    case WM_SHELL_GET_CURRENT_URL: return &t_currentUrl;
    default: return nullptr;
    }
}

LRESULT SendWithRegisteredPointer(HWND window, UINT message, WPARAM pointer) noexcept
{
    RegisteredPointer& registration = *RegistrationOf(message);
    // A send from inside the handling of another (a page's script navigating while it is shown)
    // puts the outer registration back when it returns.
    const RegisteredPointer outer = registration;
    registration = RegisteredPointer{true, pointer};
    const LRESULT result = ::SendMessageW(window, message, pointer, 0);
    registration = outer;
    return result;
}

}  // namespace

LRESULT SendNavigateMessage(HWND window, CNAVMSGDATA* record) noexcept
{
    return SendWithRegisteredPointer(window, WM_SHELL_NAVIGATE, reinterpret_cast<WPARAM>(record));
}

LRESULT SendGetCurrentUrlMessage(HWND window, BSTR* url) noexcept
{
    return SendWithRegisteredPointer(window, WM_SHELL_GET_CURRENT_URL, reinterpret_cast<WPARAM>(url));
}

bool TakeRegisteredPointer(UINT message, WPARAM pointer) noexcept
{
    RegisteredPointer* const registration = RegistrationOf(message);
    if (registration == nullptr || !registration->pending || registration->pointer != pointer) return false;
    registration->pending = false;
    return true;
}
