// Stand-in of the browser-control library "KvBrwsr2.dll", for tests and the demo only. There is
// no HTML engine here: a browser object is a small page runner. It reads a page from an HTML
// resource (type 23) of a DLL, runs the page's <script> blocks in the platform's JScript engine
// with the page objects as named items, and paints the page's title and text in its child window.
//
// Exports: KvBrwInit(flags, handler, context) 0 (keeps the handler until KvBrwDeInit);
// KvBrwDeInit(); KvGetBrwObject2(out) and KvGetBrwObject2Ex(out, flags): TRUE with a new object
// holding one reference for the caller, FALSE for a null out pointer.
//
// The browser object (shell/host/KvBrowser2.h):
// - Navigate (8): a URL beginning "sarn://" (any case) goes through the handler given to
//   KvBrwInit, with code 1 and a copy of the URL in a 2,084-character buffer. The result, or the
//   URL itself when there is no handler, must read "sarn://<dll path>::<resource>" (query and
//   fragment dropped): the DLL is loaded as a data file and its HTML resource found by name.
//   Any other URL, or a resource that cannot be read, shows an empty page and returns the error
//   as an HRESULT. Scripts run before Navigate returns; the current URL (6) is the URL as asked.
//   A navigation asked while the page's scripts run (a script's call that comes back to the
//   control) is kept, the latest one only, and made when they have finished, before the outer
//   Navigate returns: the running page is never torn down under its own script.
// - Page property (12) reads a global variable of the page's script; DISP_E_UNKNOWNNAME for a
//   name the page never declared, E_UNEXPECTED before a page ran.
// - Close (3) destroys the window, releases the page and its objects and gives up the reference
//   that KvGetBrwObject2 handed out: nothing may be called on the object after it. Shut down (7)
//   releases the page and its objects only.
// - Web browser (25): a borrowed IWebBrowser2 of the object; only ExecWB(OLECMDID_OPTICAL_ZOOM)
//   with a VT_I4 works.
// - Translate accelerator (9) never consumes a message.
// - The child window forwards every message to the subscribers added through the listener side,
//   then handles it itself; the subscribers' results are not used.
// Pages see the page objects by name and "document" with write(text...), writeln(text...) (add
// to the shown text and are recorded) and log(text...) (only recorded); these three are also
// global functions. Arguments are joined without separator.
//
// Environment, read when an object is made:
//   ORDWELL_KVBRWSR2_ZOOM_PENDING       decimal count: that many zoom requests answer "not ready"
//                                       before one is applied (default 0).
//   ORDWELL_KVBRWSR2_ZOOM_PENDING_CODE  the "not ready" HRESULT in hex (default 0x80040100,
//                                       OLECMDERR_E_NOTSUPPORTED, which the host treats as pending).
// and, at every record:
//   ORDWELL_KVBRWSR2_LOG  a file to which one UTF-8 line per event is appended (CRLF ends a line;
//                         line breaks inside texts become spaces). Lines, <id> counting objects
//                         of the process from 1, hex values as 0x%08X, free text always last:
//     pid=<pid> init flags=<decimal> handler=<yes|no> context=<yes|no>
//     pid=<pid> deinit
//     pid=<pid> obj=<id> created flags=<decimal>      (flags only from KvGetBrwObject2Ex, else 0)
//     pid=<pid> obj=<id> initialize
//     pid=<pid> obj=<id> create result=<hex> parent=<hex> window=<hex>
//     pid=<pid> obj=<id> add_object result=<hex> name=<name>
//     pid=<pid> obj=<id> navigate url=<URL as asked>
//     pid=<pid> obj=<id> handler code=1 result=<decimal> url=<URL after the handler>
//     pid=<pid> obj=<id> page resource=<name> scripts=<count> title=<title>
//     pid=<pid> obj=<id> page_text text=<the page's text, without what scripts write>
//     pid=<pid> obj=<id> page_error error=<decimal Win32 code or HRESULT> url=<URL read>
//     pid=<pid> obj=<id> script_engine result=<hex>        (only when the engine fails to start)
//     pid=<pid> obj=<id> script block=<0-based> result=<hex>
//     pid=<pid> obj=<id> script_error block=<n> line=<1-based page line> column=<1-based> code=<hex> text=<message>
//     pid=<pid> page_write text=<text>                 (document.write/writeln; writeln's line break shows as a space)
//     pid=<pid> page_log text=<text>
//     pid=<pid> obj=<id> navigate_result result=<hex>
//     pid=<pid> obj=<id> property result=<hex> name=<name> type=<VARTYPE decimal> value=<text>
//     pid=<pid> obj=<id> current_url result=<hex> url=<URL>
//     pid=<pid> obj=<id> web_browser result=<hex>
//     pid=<pid> obj=<id> zoom value=<decimal> option=<decimal> result=<hex>
//     pid=<pid> obj=<id> exec_wb command=<decimal> result=<hex>
//     pid=<pid> obj=<id> fit result=<hex> width=<w> height=<h>
//     pid=<pid> obj=<id> accelerator message=<hex> wparam=<hex> handled=0   (keyboard messages only)
//     pid=<pid> obj=<id> subscriber_add result=<hex>  /  subscriber_remove result=<hex>
//     pid=<pid> obj=<id> shutdown  /  close  /  reserved slot=<n>

#include "standins/KvBrwsr2/HtmlPage.h"
#include "standins/KvBrwsr2/PageScript.h"
#include "standins/KvBrwsr2/StandInLog.h"
#include "standins/KvBrwsr2/ZoomBrowser.h"

#include "shell/host/KvBrowser2.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

namespace {

using namespace KvBrwsr2;

constexpr wchar_t kWindowClass[] = L"OrdwellKvBrwsr2Page";

HMODULE g_module = nullptr;
std::mutex g_initMutex;
KvBrwNfHandler g_handler = nullptr;
std::atomic<unsigned long> g_lastObjectId{0};

KvBrwNfHandler CurrentHandler()
{
    std::lock_guard<std::mutex> lock(g_initMutex);
    return g_handler;
}

unsigned long EnvironmentNumber(const wchar_t* name, int base, unsigned long fallback)
{
    wchar_t text[32] = {};
    const DWORD length = GetEnvironmentVariableW(name, text, 32);
    if (length == 0 || length >= 32) return fallback;
    wchar_t* end = nullptr;
    const unsigned long value = std::wcstoul(text, &end, base);
    return end != text ? value : fallback;
}

bool StartsWithSarn(const std::wstring& url)
{
    return url.size() >= 7 && CompareStringOrdinal(url.c_str(), 7, L"sarn://", 7, TRUE) == CSTR_EQUAL;
}

LRESULT CALLBACK PageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

class BrowserObject final : public IKvBrowser2 {
public:
    explicit BrowserObject(DWORD flags)
        : m_id(++g_lastObjectId),
          m_zoom(*this, m_id, EnvironmentNumber(L"ORDWELL_KVBRWSR2_ZOOM_PENDING", 10, 0),
                 static_cast<HRESULT>(EnvironmentNumber(L"ORDWELL_KVBRWSR2_ZOOM_PENDING_CODE", 16,
                                                        static_cast<unsigned long>(OLECMDERR_E_NOTSUPPORTED)))),
          m_script(m_id, [this](const std::wstring& text) { AppendPageOutput(text); })
    {
        Record(L"created flags=" + std::to_wstring(flags));
    }

    // Reference counting side.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown) {
            *object = static_cast<IKvBrowserUnknown*>(this);
        } else if (iid == IID_IKvBrowserWndProcListner) {
            *object = static_cast<IKvBrowserWndProcListner*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --m_references;
        if (left == 0) delete this;
        return left;
    }

    // Operations side.
    HRESULT STDMETHODCALLTYPE Reserved0() override { return Reserved(0); }
    HRESULT STDMETHODCALLTYPE Reserved1() override { return Reserved(1); }
    HRESULT STDMETHODCALLTYPE Initialize() override
    {
        Record(L"initialize");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override
    {
        if (m_closed.exchange(true)) return E_UNEXPECTED;
        Record(L"close");
        if (m_window != nullptr) DestroyWindow(m_window);
        ReleasePage();
        {
            std::lock_guard<std::mutex> lock(m_subscriberMutex);
            m_subscribers.clear();
        }
        Release();  // the caller's reference; the object may be gone now
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Create(HWND parent) override { return Guarded([&] { return CreatePageWindow(parent); }); }
    HRESULT STDMETHODCALLTYPE Reserved5() override { return Reserved(5); }
    HRESULT STDMETHODCALLTYPE GetCurrentUrl(BSTR* url) override
    {
        if (url == nullptr) return E_POINTER;
        *url = nullptr;
        return Guarded([&] {
            HRESULT result = E_FAIL;
            if (!m_currentUrl.empty()) {
                *url = SysAllocStringLen(m_currentUrl.data(), static_cast<UINT>(m_currentUrl.size()));
                result = *url != nullptr ? S_OK : E_OUTOFMEMORY;
            }
            Record(L"current_url result=" + Hex32(static_cast<unsigned long>(result)) + L" url=" + m_currentUrl);
            return result;
        });
    }
    HRESULT STDMETHODCALLTYPE Shutdown() override
    {
        Record(L"shutdown");
        ReleasePage();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Navigate(const wchar_t* url) override
    {
        return Guarded([&] {
            std::wstring next = url != nullptr ? std::wstring(url) : std::wstring();
            if (m_scriptsRunning) {
                Record(L"navigate_queued url=" + next);
                m_queuedUrl = std::move(next);
                return S_OK;
            }
            const HRESULT result = NavigateTo(next);
            Record(L"navigate_result result=" + Hex32(static_cast<unsigned long>(result)));
            while (m_queuedUrl) {
                next = std::move(*m_queuedUrl);
                m_queuedUrl.reset();
                const HRESULT queued = NavigateTo(next);
                Record(L"navigate_result result=" + Hex32(static_cast<unsigned long>(queued)));
            }
            return result;
        });
    }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG* message, int flags, int* handled) override
    {
        if (handled == nullptr) return E_POINTER;
        *handled = 0;
        if (message != nullptr && message->message >= WM_KEYFIRST && message->message <= WM_KEYLAST) {
            Record(L"accelerator message=" + Hex32(message->message) + L" wparam=" +
                   Hex32(static_cast<unsigned long>(message->wParam)) + L" handled=0");
        }
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE AddExternalObject(const wchar_t* name, VARIANT* object) override
    {
        return Guarded([&] {
            const std::wstring objectName = name != nullptr ? name : L"";
            HRESULT result = S_OK;
            if (objectName.empty() || object == nullptr || V_VT(object) != VT_DISPATCH || V_DISPATCH(object) == nullptr) {
                result = E_INVALIDARG;
            } else {
                m_objects[objectName] = V_DISPATCH(object);
                const HRESULT added = m_script.AddObject(objectName, V_DISPATCH(object));
                if (FAILED(added)) result = added;
            }
            Record(L"add_object result=" + Hex32(static_cast<unsigned long>(result)) + L" name=" + objectName);
            return result;
        });
    }
    HRESULT STDMETHODCALLTYPE Reserved11() override { return Reserved(11); }
    HRESULT STDMETHODCALLTYPE GetPageProperty(const wchar_t* name, VARIANT* value) override
    {
        if (value == nullptr) return E_POINTER;
        VariantInit(value);
        return Guarded([&] {
            const std::wstring propertyName = name != nullptr ? name : L"";
            const HRESULT result = propertyName.empty() ? E_INVALIDARG : m_script.ReadGlobal(propertyName, value);
            Record(L"property result=" + Hex32(static_cast<unsigned long>(result)) + L" name=" + propertyName +
                   L" type=" + std::to_wstring(V_VT(value)) + L" value=" + VariantText(*value));
            return result;
        });
    }
    HRESULT STDMETHODCALLTYPE Reserved13() override { return Reserved(13); }
    HRESULT STDMETHODCALLTYPE FitToParent() override
    {
        RECT client = {};
        HRESULT result = HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE);
        if (m_window != nullptr && GetClientRect(GetParent(m_window), &client) != FALSE) {
            result = MoveWindow(m_window, 0, 0, client.right, client.bottom, TRUE) != FALSE
                         ? S_OK
                         : HRESULT_FROM_WIN32(GetLastError());
        }
        Record(L"fit result=" + Hex32(static_cast<unsigned long>(result)) + L" width=" + std::to_wstring(client.right) +
               L" height=" + std::to_wstring(client.bottom));
        return result;
    }
    HRESULT STDMETHODCALLTYPE Reserved15() override { return Reserved(15); }
    HRESULT STDMETHODCALLTYPE Reserved16() override { return Reserved(16); }
    HRESULT STDMETHODCALLTYPE Reserved17() override { return Reserved(17); }
    HRESULT STDMETHODCALLTYPE Reserved18() override { return Reserved(18); }
    HRESULT STDMETHODCALLTYPE Reserved19() override { return Reserved(19); }
    HRESULT STDMETHODCALLTYPE Reserved20() override { return Reserved(20); }
    HRESULT STDMETHODCALLTYPE Reserved21() override { return Reserved(21); }
    HRESULT STDMETHODCALLTYPE Reserved22() override { return Reserved(22); }
    HRESULT STDMETHODCALLTYPE Reserved23() override { return Reserved(23); }
    HRESULT STDMETHODCALLTYPE Reserved24() override { return Reserved(24); }
    HRESULT STDMETHODCALLTYPE GetWebBrowser(IWebBrowser2** browser) override
    {
        if (browser == nullptr) return E_POINTER;
        *browser = &m_zoom;
        Record(L"web_browser result=" + Hex32(S_OK));
        return S_OK;
    }

    // Listener side.
    HRESULT STDMETHODCALLTYPE AddSubscriber(IKvBrowserSubscriber* subscriber) override
    {
        HRESULT result = E_POINTER;
        if (subscriber != nullptr) {
            std::lock_guard<std::mutex> lock(m_subscriberMutex);
            const bool known = std::find(m_subscribers.begin(), m_subscribers.end(), subscriber) != m_subscribers.end();
            if (!known) m_subscribers.push_back(subscriber);
            result = known ? S_FALSE : S_OK;
        }
        Record(L"subscriber_add result=" + Hex32(static_cast<unsigned long>(result)));
        return result;
    }
    HRESULT STDMETHODCALLTYPE RemoveSubscriber(IKvBrowserSubscriber* subscriber) override
    {
        HRESULT result = E_POINTER;
        if (subscriber != nullptr) {
            std::lock_guard<std::mutex> lock(m_subscriberMutex);
            const auto found = std::find(m_subscribers.begin(), m_subscribers.end(), subscriber);
            result = found != m_subscribers.end() ? S_OK : HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
            if (found != m_subscribers.end()) m_subscribers.erase(found);
        }
        Record(L"subscriber_remove result=" + Hex32(static_cast<unsigned long>(result)));
        return result;
    }

    // The child window's messages.
    LRESULT OnWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        std::vector<IKvBrowserSubscriber*> subscribers;
        {
            std::lock_guard<std::mutex> lock(m_subscriberMutex);
            subscribers = m_subscribers;
        }
        for (IKvBrowserSubscriber* subscriber : subscribers) {
            // One may have removed another (or itself) meanwhile.
            bool current = false;
            {
                std::lock_guard<std::mutex> lock(m_subscriberMutex);
                current = std::find(m_subscribers.begin(), m_subscribers.end(), subscriber) != m_subscribers.end();
            }
            if (current) (void)subscriber->OnBrowserMessage(window, message, wParam, lParam);
        }
        switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT:
            Paint(window);
            return 0;
        case WM_NCDESTROY:
            if (m_window == window) m_window = nullptr;
            break;
        default:
            break;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

private:
    ~BrowserObject()
    {
        if (m_window != nullptr) DestroyWindow(m_window);
    }

    void Record(const std::wstring& event) const { RecordLine(L"obj=" + std::to_wstring(m_id) + L" " + event); }

    HRESULT Reserved(int slot)
    {
        Record(L"reserved slot=" + std::to_wstring(slot));
        return E_NOTIMPL;
    }

    template <typename Work>
    HRESULT Guarded(Work&& work) noexcept
    {
        try {
            return work();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_UNEXPECTED;
        }
    }

    HRESULT CreatePageWindow(HWND parent)
    {
        HRESULT result = S_OK;
        if (parent == nullptr || IsWindow(parent) == FALSE) {
            result = E_INVALIDARG;
        } else {
            if (m_window != nullptr) DestroyWindow(m_window);
            RECT client = {};
            (void)GetClientRect(parent, &client);
            m_window = CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                                       client.right, client.bottom, parent, nullptr, g_module, this);
            if (m_window == nullptr) result = HRESULT_FROM_WIN32(GetLastError());
        }
        Record(L"create result=" + Hex32(static_cast<unsigned long>(result)) + L" parent=" + HexPointer(parent) +
               L" window=" + HexPointer(m_window));
        return result;
    }

    HRESULT NavigateTo(const std::wstring& asked)
    {
        Record(L"navigate url=" + asked);
        if (m_closed) return E_UNEXPECTED;
        if (asked.empty() || asked.size() >= static_cast<std::size_t>(Fundor::kUrlBufferCharacters)) return E_INVALIDARG;

        std::wstring url = asked;
        if (StartsWithSarn(asked)) {
            if (const KvBrwNfHandler handler = CurrentHandler(); handler != nullptr) {
                std::vector<wchar_t> buffer(Fundor::kUrlBufferCharacters, L'\0');
                std::copy(asked.begin(), asked.end(), buffer.begin());
                const DWORD handled = handler(1, buffer.data());
                buffer.back() = L'\0';  // a handler that filled the buffer must not run us past it
                url = buffer.data();
                Record(L"handler code=1 result=" + std::to_wstring(handled) + L" url=" + url);
            }
        }

        m_script.Close();
        m_currentUrl = asked;
        m_page = HtmlPage{};
        m_pageOutput.clear();
        if (m_window != nullptr) InvalidateRect(m_window, nullptr, TRUE);

        std::wstring dllPath;
        std::wstring resourceName;
        DWORD error = SplitResourceUrl(url, dllPath, resourceName) ? LoadHtmlResource(dllPath, resourceName, m_page)
                                                                   : ERROR_NOT_SUPPORTED;
        if (error != ERROR_SUCCESS) {
            Record(L"page_error error=" + std::to_wstring(error) + L" url=" + url);
            return HRESULT_FROM_WIN32(error);
        }
        Record(L"page resource=" + resourceName + L" scripts=" + std::to_wstring(m_page.scripts.size()) +
               L" title=" + m_page.title);
        Record(L"page_text text=" + m_page.text);
        if (!m_page.scripts.empty()) {
            const HRESULT started = m_script.Start(m_objects);
            if (FAILED(started)) {
                Record(L"script_engine result=" + Hex32(static_cast<unsigned long>(started)));
                return started;
            }
            struct Running {
                bool& flag;
                explicit Running(bool& f) : flag(f) { flag = true; }
                ~Running() { flag = false; }
            } running{m_scriptsRunning};
            m_script.Run(m_page.scripts);
        }
        if (m_window != nullptr) InvalidateRect(m_window, nullptr, TRUE);
        return S_OK;
    }

    // The page and every object handed to it are given back.
    void ReleasePage() noexcept
    {
        m_script.Close();
        m_objects.clear();
    }

    void AppendPageOutput(const std::wstring& text)
    {
        m_pageOutput += text;
        if (m_window != nullptr) InvalidateRect(m_window, nullptr, TRUE);
    }

    void Paint(HWND window)
    {
        PAINTSTRUCT paint = {};
        HDC dc = BeginPaint(window, &paint);
        if (dc == nullptr) return;
        RECT client = {};
        GetClientRect(window, &client);
        FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(0x20, 0x20, 0x20));

        HFONT titleFont = CreateFontW(-26, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                      CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Tahoma");
        HFONT textFont = CreateFontW(-15, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                     CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH, L"Tahoma");
        HGDIOBJ previous = SelectObject(dc, titleFont != nullptr ? titleFont : GetStockObject(DEFAULT_GUI_FONT));
        RECT area = {client.left + 24, client.top + 20, client.right - 24, client.bottom - 16};
        const std::wstring title = m_page.title.empty() ? m_currentUrl : m_page.title;
        RECT measured = area;
        DrawTextW(dc, title.c_str(), static_cast<int>(title.size()), &measured, DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
        DrawTextW(dc, title.c_str(), static_cast<int>(title.size()), &area, DT_WORDBREAK | DT_NOPREFIX);
        area.top = measured.bottom + 14;

        SelectObject(dc, textFont != nullptr ? textFont : GetStockObject(DEFAULT_GUI_FONT));
        std::wstring body = m_page.text;
        if (!m_pageOutput.empty()) body += (body.empty() ? L"" : L"\n") + m_pageOutput;
        DrawTextW(dc, body.c_str(), static_cast<int>(body.size()), &area, DT_WORDBREAK | DT_NOPREFIX | DT_EXPANDTABS);

        SelectObject(dc, previous);
        if (titleFont != nullptr) DeleteObject(titleFont);
        if (textFont != nullptr) DeleteObject(textFont);
        EndPaint(window, &paint);
    }

    std::atomic<ULONG> m_references{1};
    std::atomic<bool> m_closed{false};
    const unsigned long m_id;
    ZoomBrowser m_zoom;
    PageScript m_script;
    PageObjects m_objects;
    HWND m_window = nullptr;
    std::wstring m_currentUrl;
    HtmlPage m_page;
    std::wstring m_pageOutput;
    bool m_scriptsRunning = false;
    std::optional<std::wstring> m_queuedUrl;
    std::mutex m_subscriberMutex;
    std::vector<IKvBrowserSubscriber*> m_subscribers;
};

LRESULT CALLBACK PageWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        if (message == WM_NCCREATE) {
            const auto* creation = reinterpret_cast<const CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
        }
        auto* object = reinterpret_cast<BrowserObject*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (message == WM_NCDESTROY) SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        if (object != nullptr) return object->OnWindowMessage(window, message, wParam, lParam);
    } catch (...) {
        RecordLine(L"window_error message=" + Hex32(message));
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterPageWindowClass()
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = PageWindowProc;
    windowClass.hInstance = g_module;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClass;
    return RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

BOOL MakeObject(IKvBrowser2** browser, DWORD flags) noexcept
{
    if (browser == nullptr) return FALSE;
    *browser = nullptr;
    try {
        if (!RegisterPageWindowClass()) {
            RecordLine(L"window_class error=" + std::to_wstring(GetLastError()));
        }
        *browser = new BrowserObject(flags);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, void*)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

DWORD WINAPI KvBrwInit(DWORD flags, KvBrwNfHandler handler, void* context)
{
    {
        std::lock_guard<std::mutex> lock(g_initMutex);
        g_handler = handler;
    }
    RecordLine(L"init flags=" + std::to_wstring(flags) + L" handler=" + (handler != nullptr ? L"yes" : L"no") +
               L" context=" + (context != nullptr ? L"yes" : L"no"));
    return 0;
}

void WINAPI KvBrwDeInit()
{
    {
        std::lock_guard<std::mutex> lock(g_initMutex);
        g_handler = nullptr;
    }
    // Fails harmlessly while a page window still exists.
    (void)UnregisterClassW(kWindowClass, g_module);
    RecordLine(L"deinit");
}

BOOL WINAPI KvGetBrwObject2(IKvBrowser2** browser) { return MakeObject(browser, 0); }

BOOL WINAPI KvGetBrwObject2Ex(IKvBrowser2** browser, DWORD flags) { return MakeObject(browser, flags); }

}  // extern "C"
