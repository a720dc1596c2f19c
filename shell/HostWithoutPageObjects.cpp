// Linked only into a build that lacks the page-object library: the host then starts without page
// objects (each creator reports E_NOTIMPL), which ends the start-up as a failed window creation.

#include "pageobjects/objects/PageObjectFactory.h"

#include <atomic>

namespace {
std::atomic<IKvShellHostAccess*> g_host{nullptr};
}

HRESULT CreateSessionManager(IDispatch** object) noexcept
{
    if (object != nullptr) *object = nullptr;
    return E_NOTIMPL;
}

HRESULT CreatePlatformDispatch(IDispatch** object) noexcept
{
    if (object != nullptr) *object = nullptr;
    return E_NOTIMPL;
}

HRESULT CreateFakeUninstaller(const wchar_t*, const wchar_t*, IDispatch** object) noexcept
{
    if (object != nullptr) *object = nullptr;
    return E_NOTIMPL;
}

void SetShellHostAccess(IKvShellHostAccess* host) noexcept
{
    g_host.store(host);
}

IKvShellHostAccess* GetShellHostAccess() noexcept
{
    return g_host.load();
}
