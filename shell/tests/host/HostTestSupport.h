#pragma once
// Shared by the host's tests: a recording browser object, scripted UI settings and a module with a
// parsed command line.

#include "core/testsupport/RegistryIsolation.h"
#include "shell/host/CKvShellModule.h"
#include "shell/host/KvBrowser2.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <string>
#include <vector>

namespace HostTesting {

class FakeBrowser final : public IKvBrowser2 {
public:
    // IKvBrowserUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IKvBrowserWndProcListner) || !offerListener) return E_NOINTERFACE;
        *object = static_cast<IKvBrowserWndProcListner*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    // Operations
    HRESULT STDMETHODCALLTYPE Reserved0() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved1() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Initialize() override { return Record(L"init"); }
    HRESULT STDMETHODCALLTYPE Close() override { return Record(L"close"); }
    HRESULT STDMETHODCALLTYPE Create(HWND parent) override
    {
        createdIn = parent;
        return Record(L"create");
    }
    HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentUrl(BSTR* url) override
    {
        Record(L"url");
        if (url != nullptr) *url = SysAllocString(currentUrl.c_str());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Shutdown() override { return Record(L"shutdown"); }
    HRESULT STDMETHODCALLTYPE Navigate(const wchar_t* url) override
    {
        Record(std::wstring(L"navigate ") + url);
        if (duringNavigate) duringNavigate(url);  // may throw, as a faulty control would
        return navigateResult;
    }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*, int, int* handled) override
    {
        if (handled != nullptr) *handled = consumeKeys ? 1 : 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE AddExternalObject(const wchar_t* name, VARIANT*) override
    {
        return Record(std::wstring(L"add ") + name);
    }
    HRESULT STDMETHODCALLTYPE Reserved11() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPageProperty(const wchar_t* name, VARIANT* value) override
    {
        Record(std::wstring(L"property ") + name);
        if (FAILED(propertyResult)) return propertyResult;
        return VariantCopy(value, &closeButton);
    }
    HRESULT STDMETHODCALLTYPE Reserved13() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE FitToParent() override
    {
        ++fits;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reserved15() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved16() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved17() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved18() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved19() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved20() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved21() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved22() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved23() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved24() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetWebBrowser(IWebBrowser2** browser) override
    {
        ++webBrowserRequests;
        if (browser != nullptr) *browser = nullptr;
        return webBrowserResult;
    }
    // Listener
    HRESULT STDMETHODCALLTYPE AddSubscriber(IKvBrowserSubscriber* subscriber) override
    {
        this->subscriber = subscriber;
        return Record(L"subscribe");
    }
    HRESULT STDMETHODCALLTYPE RemoveSubscriber(IKvBrowserSubscriber* subscriber) override
    {
        if (this->subscriber == subscriber) this->subscriber = nullptr;
        return Record(L"unsubscribe");
    }

    HRESULT Record(const std::wstring& call)
    {
        calls.push_back(call);
        return S_OK;
    }
    [[nodiscard]] bool Called(const std::wstring& call) const { return Count(call) > 0; }
    [[nodiscard]] int Count(const std::wstring& call) const
    {
        int count = 0;
        for (const std::wstring& made : calls)
            if (made == call) ++count;
        return count;
    }

    std::vector<std::wstring> calls;
    ULONG references = 1;
    bool offerListener = true;
    bool consumeKeys = false;
    HWND createdIn = nullptr;
    IKvBrowserSubscriber* subscriber = nullptr;
    HRESULT navigateResult = S_OK;
    HRESULT propertyResult = S_OK;
    HRESULT webBrowserResult = S_OK;
    int webBrowserRequests = 0;
    int fits = 0;
    VARIANT closeButton{};  // VT_EMPTY: the page reports nothing
    std::wstring currentUrl = L"sarn://page.dll::now.html";
    // Runs inside Navigate, after the call is recorded.
    std::function<void(const wchar_t* url)> duringNavigate;
};

class ScriptedSettings final : public IHostUiSettings {
public:
    bool ReadPageWindowSize(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                            HostPageWindowSize*) override
    {
        return false;
    }
    void InitializeLocale() override { ++localeInitializations; }
    DWORD LoadResString(UINT id, wchar_t* buffer, int capacity) override
    {
        if (company.empty()) return ERROR_RESOURCE_NAME_NOT_FOUND;
        lstrcpynW(buffer, company.c_str(), capacity);
        return 0;
    }
    DWORD LoadPkgString(DWORD, UINT, wchar_t* buffer, int capacity, const wchar_t* companyName) override
    {
        if (titleFormat.empty()) return ERROR_RESOURCE_NAME_NOT_FOUND;  // the buffer is left alone
        std::wstring text = titleFormat;
        const std::size_t token = text.find(L"%COMPANY_NAME_NEUTRAL%");
        if (token != std::wstring::npos) text.replace(token, 22, companyName);
        lstrcpynW(buffer, text.c_str(), capacity);
        return 0;
    }
    bool IsVistrelEnabled() override { return false; }
    std::wstring CurrentSessionWindowId() override { return windowId; }
    LCID UiLocale() override { return GetThreadLocale(); }
    HICON LoadAppIcon() override { return nullptr; }

    int localeInitializations = 0;
    std::wstring company;
    std::wstring titleFormat;
    std::wstring windowId = L"Vistrel.Window.for.Session.1";
};

// A module whose command line was parsed; settings are scripted.
struct ParsedModule {
    explicit ParsedModule(const std::wstring& arguments)
    {
        auto owned = std::make_unique<ScriptedSettings>();
        settings = owned.get();
        module = std::make_unique<CKvShellModule>(std::move(owned));
        HRESULT result = E_FAIL;
        const std::wstring line = L"Ordwell.exe " + arguments;
        parsed = module->ParseCommandLine(line.c_str(), &result);
        parseResult = result;
    }
    std::unique_ptr<CKvShellModule> module;
    ScriptedSettings* settings = nullptr;
    bool parsed = false;
    HRESULT parseResult = E_FAIL;
};

// Pumps this thread's messages for about the given time.
inline void PumpFor(DWORD milliseconds)
{
    const ULONGLONG end = GetTickCount64() + milliseconds;
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    } while (GetTickCount64() < end);
}

// Runs work on another thread while this thread keeps serving its windows (a send from there to a
// window of this thread needs this thread to pump).
template <typename Work>
void RunOnOtherThreadPumping(Work work)
{
    std::atomic<bool> done{false};
    std::thread other([&] {
        work();
        done = true;
    });
    while (!done) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    other.join();
}

}  // namespace HostTesting
