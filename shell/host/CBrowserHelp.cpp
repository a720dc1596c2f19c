#include "shell/host/CBrowserHelp.h"

#include "core/Logging/Logging.h"

#include <wrl/client.h>

#include <utility>

namespace {

constexpr wchar_t kSource[] = L"CBrowserHelp.cpp";

struct PageObjectName {
    DWORD type;
    const wchar_t* name;
};
constexpr PageObjectName kPageObjects[] = {
    {1, L"KvDispSessionMgr2"},
    {2, L"PlatformDspObj"},
    {3, L"FakeUninstShim"},  // present only in the "fake" mode
};

}  // namespace

CBrowserHelp::CBrowserHelp(IPageObjectSource& pageObjects, BrowserObjectFactory factory) noexcept
    : m_pageObjects(pageObjects), m_factory(std::move(factory))
{
}

CBrowserHelp::~CBrowserHelp()
{
    ReleaseBrowser();
}

void CBrowserHelp::ReleaseBrowser() noexcept
{
    if (m_browser == nullptr) return;
    IKvBrowser2* const browser = std::exchange(m_browser, nullptr);
    // Closing ends the object's use; no release goes through its first table.
    browser->Shutdown();
    browser->Close();
}

int CBrowserHelp::_CreateBrowser(HWND parent)
{
    if (parent == nullptr) return -1;
    if (m_browser != nullptr) {
        std::exchange(m_browser, nullptr)->Close();
    }
    IKvBrowser2* browser = nullptr;
    const DWORD result = m_factory ? m_factory(&browser) : ERROR_CALL_NOT_IMPLEMENTED;
    if (result != ERROR_SUCCESS || browser == nullptr) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CBrowserHelp::_CreateBrowser",
               L"Error Creating the browser control.");
        return -1;
    }
    m_browser = browser;
    (void)m_browser->Initialize();
    (void)m_browser->Create(parent);
    return 0;
}

int CBrowserHelp::Navigate(CNAVMSGDATA* record)
{
    if (record == nullptr || record->Url() == nullptr || record->Url()[0] == L'\0') {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CBrowserHelp::Navigate", L"Nothing to navigate to");
        return -1;
    }
    if (m_browser == nullptr) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CBrowserHelp::Navigate",
               L"Browser interface is null. Cannot navigate to anything");
        return -1;
    }
    ETWLOG(ETWLogging::kLevelNormal, kSource, L"CBrowserHelp::Navigate",
           L"Adding external objects to the browser. These will be accessed by pages");
    for (const PageObjectName& object : kPageObjects) _AddObjectToPage(object.type, object.name);
    const HRESULT hr = m_browser->Navigate(record->Url());
    ETWLOG(ETWLogging::kLevelNormal, kSource, L"CBrowserHelp::Navigate", L"Navigation to %s returned %x", record->Url(),
           hr);
    return 0;
}

void CBrowserHelp::_AddObjectToPage(DWORD type, const wchar_t* name)
{
    if (name == nullptr || m_browser == nullptr) return;
    Microsoft::WRL::ComPtr<IDispatch> object;
    const HRESULT hr = m_pageObjects.GetDispatch(type, object.GetAddressOf());
    if (FAILED(hr) || !object) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CBrowserHelp::_AddObjectToPage",
               L"Could not get pointer to dispatch interface for %s", name);
        return;
    }
    ETWLOG(ETWLogging::kLevelNormal, kSource, L"CBrowserHelp::_AddObjectToPage", L"Adding parameter %s", name);
    VARIANT value;
    ::VariantInit(&value);
    value.vt = VT_DISPATCH;
    value.pdispVal = object.Get();
    // The control takes its own reference when it keeps the object.
    (void)m_browser->AddExternalObject(name, &value);
}

int CBrowserHelp::TranslateAccelerator(MSG* message)
{
    if (m_browser == nullptr) return 0;
    int handled = 0;
    (void)m_browser->TranslateAccelerator(message, 1, &handled);
    return handled;
}
