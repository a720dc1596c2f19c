// The browser-control stand-in as other tests use it: loaded by path, driven through its exports
// and the browser object, checked through its record file and the page objects it calls.

#include "shell/host/KvBrowser2.h"

#include "core/base/ScopedResource.h"
#include "core/testsupport/Narrow.h"
#include "core/testsupport/ProgramFolder.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;

using Fundor::testing::ProgramFolder;

using Fundor::testing::Narrow;

// The handler the tests give to KvBrwInit: "sarn://<name>" becomes the test pages' DLL + name.
struct HandlerCall {
    int code;
    std::wstring url;
};
std::vector<HandlerCall> g_handlerCalls;
std::wstring g_pagesDll;

DWORD WINAPI RewritingHandler(int code, wchar_t* url)
{
    g_handlerCalls.push_back({code, url});
    // The whole buffer is the caller's: touch its last character.
    url[Fundor::kUrlBufferCharacters - 1] = L'\0';
    const std::wstring rewritten = L"sarn://" + g_pagesDll + L"::" + std::wstring(url + 7);
    wcscpy_s(url, Fundor::kUrlBufferCharacters, rewritten.c_str());
    return 0;
}

// A page object: Report(text) is recorded, Add(a, b) answers the sum.
class TestHost final : public IDispatch {
public:
    std::vector<std::wstring> reports;
    std::atomic<ULONG> references{1};

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch) return E_NOINTERFACE;
        *object = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* id) override
    {
        *id = lstrcmpW(names[0], L"Report") == 0 ? 1 : lstrcmpW(names[0], L"Add") == 0 ? 2 : DISPID_UNKNOWN;
        return *id == DISPID_UNKNOWN ? DISP_E_UNKNOWNNAME : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* parameters, VARIANT* result,
                                     EXCEPINFO*, UINT*) override
    {
        if (id == 1 && parameters->cArgs == 1 && V_VT(&parameters->rgvarg[0]) == VT_BSTR) {
            reports.emplace_back(V_BSTR(&parameters->rgvarg[0]));
            return S_OK;
        }
        if (id == 2 && parameters->cArgs == 2 && result != nullptr) {
            V_VT(result) = VT_I4;
            V_I4(result) = V_I4(&parameters->rgvarg[0]) + V_I4(&parameters->rgvarg[1]);
            return S_OK;
        }
        return DISP_E_BADPARAMCOUNT;
    }
};

struct RecordingSubscriber final : IKvBrowserSubscriber {
    std::vector<std::tuple<HWND, UINT, WPARAM, LPARAM>> messages;
    LRESULT STDMETHODCALLTYPE OnBrowserMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_LBUTTONDOWN || message == WM_KEYDOWN) messages.emplace_back(window, message, wParam, lParam);
        return 0;
    }
};

class KvBrwsr2Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        m_logPath = m_scratch.File(L"kvbrwsr2.log");
        ASSERT_TRUE(SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_LOG", m_logPath.c_str()));
        g_pagesDll = ProgramFolder() + L"\\KvBrwsr2TestPages.dll";
        g_handlerCalls.clear();
        m_library.reset(LoadLibraryW((ProgramFolder() + L"\\kvbrwsr2\\KvBrwsr2.dll").c_str()));
        ASSERT_TRUE(m_library) << GetLastError();
        m_init = reinterpret_cast<PFN_KvBrwInit>(Export("KvBrwInit"));
        m_deinit = reinterpret_cast<PFN_KvBrwDeInit>(Export("KvBrwDeInit"));
        m_get = reinterpret_cast<PFN_KvGetBrwObject2>(Export("KvGetBrwObject2"));
        m_getEx = reinterpret_cast<PFN_KvGetBrwObject2Ex>(Export("KvGetBrwObject2Ex"));
        ASSERT_TRUE(m_init && m_deinit && m_get && m_getEx);
    }
    void TearDown() override
    {
        if (m_deinit) m_deinit();
        m_library.reset();
        SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_LOG", nullptr);
        SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_ZOOM_PENDING", nullptr);
        CoUninitialize();
    }

    void* Export(const char* name) { return reinterpret_cast<void*>(GetProcAddress(m_library.get(), name)); }

    IKvBrowser2* NewBrowser()
    {
        IKvBrowser2* browser = nullptr;
        EXPECT_TRUE(m_get(&browser));
        EXPECT_NE(browser, nullptr);
        return browser;
    }

    // The record's lines without their "pid=<this process> " prefix.
    std::vector<std::string> Records()
    {
        std::ifstream file(std::filesystem::path(m_logPath), std::ios::binary);
        std::vector<std::string> lines;
        const std::string prefix = "pid=" + std::to_string(GetCurrentProcessId()) + " ";
        for (std::string line; std::getline(file, line);) {
            EXPECT_EQ(line.back(), '\r');
            line.pop_back();
            EXPECT_EQ(line.rfind(prefix, 0), 0u) << line;
            lines.push_back(line.substr(prefix.size()));
        }
        return lines;
    }

    std::vector<std::string> RecordsStartingWith(const std::string& start)
    {
        std::vector<std::string> matching;
        for (const std::string& line : Records()) {
            if (line.rfind(start, 0) == 0) matching.push_back(line);
        }
        return matching;
    }

    Fundor::testing::ScratchFolder m_scratch;
    std::wstring m_logPath;
    Fundor::ScopedResource<Fundor::ModuleTraits> m_library;
    PFN_KvBrwInit m_init = nullptr;
    PFN_KvBrwDeInit m_deinit = nullptr;
    PFN_KvGetBrwObject2 m_get = nullptr;
    PFN_KvGetBrwObject2Ex m_getEx = nullptr;
};

VARIANT DispatchVariant(IDispatch* object)
{
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_DISPATCH;
    V_DISPATCH(&value) = object;
    return value;
}

TEST_F(KvBrwsr2Test, SarnPageGoesThroughTheHandlerAndItsScriptsCallThePageObjects)
{
    ASSERT_EQ(m_init(6, RewritingHandler, this), 0u);
    IKvBrowser2* browser = NewBrowser();
    ASSERT_NE(browser, nullptr);
    TestHost host;
    VARIANT object = DispatchVariant(&host);
    EXPECT_EQ(browser->Initialize(), S_OK);
    EXPECT_EQ(browser->AddExternalObject(L"TestHost", &object), S_OK);
    EXPECT_GT(host.references.load(), 1u) << "the control keeps its own reference";
    VARIANT wrongType;
    VariantInit(&wrongType);
    EXPECT_EQ(browser->AddExternalObject(L"Nothing", &wrongType), E_INVALIDARG);

    EXPECT_EQ(browser->Navigate(L"sarn://main.html"), S_OK);

    ASSERT_EQ(g_handlerCalls.size(), 1u);
    EXPECT_EQ(g_handlerCalls[0].code, 1);
    EXPECT_EQ(g_handlerCalls[0].url, L"sarn://main.html");
    EXPECT_THAT(host.reports, ElementsAre(L"sum=42", L"second"));

    VARIANT value;
    EXPECT_EQ(browser->GetPageProperty(L"closeBtnEnabled", &value), S_OK);
    EXPECT_EQ(V_VT(&value), VT_BOOL);
    EXPECT_EQ(V_BOOL(&value), VARIANT_FALSE);
    BSTR url = nullptr;
    EXPECT_EQ(browser->GetCurrentUrl(&url), S_OK);
    EXPECT_STREQ(url, L"sarn://main.html");
    SysFreeString(url);

    // A URL of another scheme is not handed to the handler and shows no page.
    EXPECT_EQ(browser->Navigate(L"https://example.invalid/"), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(g_handlerCalls.size(), 1u);
    EXPECT_EQ(browser->GetPageProperty(L"closeBtnEnabled", &value), E_UNEXPECTED);

    EXPECT_EQ(browser->Shutdown(), S_OK);
    EXPECT_EQ(host.references.load(), 1u) << "shutting down gives the page objects back";
    EXPECT_EQ(browser->Close(), S_OK);

    const std::string pages = Narrow(g_pagesDll);
    EXPECT_THAT(Records(),
                ElementsAre("init flags=6 handler=yes context=yes", "obj=1 created flags=0", "obj=1 initialize",
                            "obj=1 add_object result=0x00000000 name=TestHost",
                            "obj=1 add_object result=0x80070057 name=Nothing", "obj=1 navigate url=sarn://main.html",
                            "obj=1 handler code=1 result=0 url=sarn://" + pages + "::main.html",
                            "obj=1 page resource=main.html scripts=2 title=Test & Page",
                            "obj=1 page_text text=Heading First line <ok>",
                            "obj=1 script block=0 result=0x00000000", "page_write text=written 7", "page_log text=logged 42",
                            "obj=1 script block=1 result=0x00000000", "obj=1 navigate_result result=0x00000000",
                            "obj=1 property result=0x00000000 name=closeBtnEnabled type=11 value=false",
                            "obj=1 current_url result=0x00000000 url=sarn://main.html",
                            "obj=1 navigate url=https://example.invalid/",
                            "obj=1 page_error error=50 url=https://example.invalid/",
                            "obj=1 navigate_result result=0x80070032",
                            "obj=1 property result=0x8000FFFF name=closeBtnEnabled type=0 value=", "obj=1 shutdown",
                            "obj=1 close"));
}

TEST_F(KvBrwsr2Test, PagePropertiesAndScriptErrorsAreReportedPerPage)
{
    // No handler: the URL must already name the DLL.
    ASSERT_EQ(m_init(6, nullptr, nullptr), 0u);
    IKvBrowser2* browser = NewBrowser();
    ASSERT_NE(browser, nullptr);
    VARIANT value;

    EXPECT_EQ(browser->Navigate((L"SARN://" + g_pagesDll + L"::open.html?from=test").c_str()), S_OK);
    EXPECT_EQ(browser->GetPageProperty(L"closeBtnEnabled", &value), S_OK);
    EXPECT_EQ(V_VT(&value), VT_BOOL);
    EXPECT_EQ(V_BOOL(&value), VARIANT_TRUE);
    EXPECT_EQ(browser->GetPageProperty(L"declaredOnly", &value), S_OK);
    EXPECT_EQ(V_VT(&value), VT_EMPTY);

    EXPECT_EQ(browser->Navigate((L"sarn://" + g_pagesDll + L"::broken.html").c_str()), S_OK);
    EXPECT_EQ(browser->GetPageProperty(L"closeBtnEnabled", &value), DISP_E_UNKNOWNNAME) << "a new page forgets the old";
    EXPECT_EQ(browser->GetPageProperty(L"after", &value), S_OK) << "a failed block does not stop the next";
    EXPECT_EQ(V_VT(&value), VT_I4);
    EXPECT_EQ(V_I4(&value), 2);

    EXPECT_EQ(browser->Navigate((L"sarn://" + g_pagesDll + L"::absent.html").c_str()),
              HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(browser->Navigate(L"sarn://no-separator.html"), HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(browser->Close(), S_OK);

    EXPECT_THAT(RecordsStartingWith("init"), ElementsAre("init flags=6 handler=no context=no"));
    EXPECT_THAT(RecordsStartingWith("obj=1 handler"), ElementsAre());
    EXPECT_THAT(RecordsStartingWith("obj=1 page"),
                ElementsAre("obj=1 page resource=open.html scripts=1 title=Open", "obj=1 page_text text=Closing allowed",
                            "obj=1 page resource=broken.html scripts=2 title=Broken", "obj=1 page_text text=",
                            "obj=1 page_error error=1814 url=sarn://" + Narrow(g_pagesDll) + "::absent.html",
                            "obj=1 page_error error=50 url=sarn://no-separator.html"));
    EXPECT_THAT(RecordsStartingWith("obj=1 script"),
                ElementsAre("obj=1 script block=0 result=0x00000000",
                            "obj=1 script_error block=0 line=5 column=1 code=0x800A1391 text='missingThing' is undefined",
                            "obj=1 script block=0 result=0x80020101", "obj=1 script block=1 result=0x00000000"));
}

TEST_F(KvBrwsr2Test, ZoomAnswersNotReadyTheConfiguredNumberOfTimes)
{
    ASSERT_TRUE(SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_ZOOM_PENDING", L"2"));
    IKvBrowser2* browser = nullptr;
    ASSERT_TRUE(m_getEx(&browser, 3));
    IWebBrowser2* web = nullptr;
    ASSERT_EQ(browser->GetWebBrowser(&web), S_OK);
    ASSERT_NE(web, nullptr);
    VARIANT zoom;
    VariantInit(&zoom);
    V_VT(&zoom) = VT_I4;
    V_I4(&zoom) = 150;
    EXPECT_EQ(web->ExecWB(OLECMDID_OPTICAL_ZOOM, OLECMDEXECOPT_DONTPROMPTUSER, &zoom, nullptr), OLECMDERR_E_NOTSUPPORTED);
    EXPECT_EQ(web->ExecWB(OLECMDID_OPTICAL_ZOOM, OLECMDEXECOPT_DONTPROMPTUSER, &zoom, nullptr), OLECMDERR_E_NOTSUPPORTED);
    EXPECT_EQ(web->ExecWB(OLECMDID_OPTICAL_ZOOM, OLECMDEXECOPT_DONTPROMPTUSER, &zoom, nullptr), S_OK);
    V_I4(&zoom) = 125;
    EXPECT_EQ(web->ExecWB(OLECMDID_OPTICAL_ZOOM, OLECMDEXECOPT_DONTPROMPTUSER, &zoom, nullptr), S_OK);
    EXPECT_EQ(web->ExecWB(OLECMDID_PRINT, OLECMDEXECOPT_DONTPROMPTUSER, nullptr, nullptr), OLECMDERR_E_NOTSUPPORTED);
    EXPECT_EQ(browser->Close(), S_OK);

    // A second object counts afresh with what the environment says then.
    ASSERT_TRUE(SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_ZOOM_PENDING", L"1"));
    ASSERT_TRUE(SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_ZOOM_PENDING_CODE", L"8000000A"));
    browser = NewBrowser();
    ASSERT_EQ(browser->GetWebBrowser(&web), S_OK);
    EXPECT_EQ(web->ExecWB(OLECMDID_OPTICAL_ZOOM, OLECMDEXECOPT_DONTPROMPTUSER, &zoom, nullptr), E_PENDING);
    EXPECT_EQ(web->ExecWB(OLECMDID_OPTICAL_ZOOM, OLECMDEXECOPT_DONTPROMPTUSER, &zoom, nullptr), S_OK);
    EXPECT_EQ(browser->Close(), S_OK);
    SetEnvironmentVariableW(L"ORDWELL_KVBRWSR2_ZOOM_PENDING_CODE", nullptr);

    EXPECT_THAT(RecordsStartingWith("obj=1 created"), ElementsAre("obj=1 created flags=3"));
    EXPECT_THAT(RecordsStartingWith("obj=1 zoom"),
                ElementsAre("obj=1 zoom value=150 option=2 result=0x80040100",
                            "obj=1 zoom value=150 option=2 result=0x80040100",
                            "obj=1 zoom value=150 option=2 result=0x00000000",
                            "obj=1 zoom value=125 option=2 result=0x00000000"));
    EXPECT_THAT(RecordsStartingWith("obj=1 exec_wb"), ElementsAre("obj=1 exec_wb command=6 result=0x80040100"));
    EXPECT_THAT(RecordsStartingWith("obj=2 zoom"), ElementsAre("obj=2 zoom value=125 option=2 result=0x8000000A",
                                                               "obj=2 zoom value=125 option=2 result=0x00000000"));
}

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(KvBrwsr2Test, ChildWindowFollowsItsParentAndForwardsMessagesToSubscribers)
{
    const std::wstring className = Fundor::testing::UniqueName(L"KvBrwsr2Parent");
    WNDCLASSEXW windowClass = {sizeof(windowClass)};
    windowClass.lpfnWndProc = ParentProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className.c_str();
    ASSERT_NE(RegisterClassExW(&windowClass), 0);
    HWND parent = CreateWindowExW(0, className.c_str(), L"", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    ASSERT_NE(parent, nullptr);

    IKvBrowser2* browser = NewBrowser();
    ASSERT_NE(browser, nullptr);
    EXPECT_EQ(browser->FitToParent(), HRESULT_FROM_WIN32(ERROR_INVALID_WINDOW_HANDLE)) << "no window yet";
    EXPECT_EQ(browser->Create(nullptr), E_INVALIDARG);
    ASSERT_EQ(browser->Create(parent), S_OK);
    HWND child = FindWindowExW(parent, nullptr, L"OrdwellKvBrwsr2Page", nullptr);
    ASSERT_NE(child, nullptr);

    IKvBrowserWndProcListner* listener = nullptr;
    ASSERT_EQ(browser->QueryInterface(IID_IKvBrowserWndProcListner, reinterpret_cast<void**>(&listener)), S_OK);
    EXPECT_EQ(listener, static_cast<IKvBrowserWndProcListner*>(browser));
    RecordingSubscriber subscriber;
    EXPECT_EQ(listener->AddSubscriber(&subscriber), S_OK);
    SendMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 30));
    EXPECT_EQ(listener->RemoveSubscriber(&subscriber), S_OK);
    EXPECT_EQ(listener->RemoveSubscriber(&subscriber), HRESULT_FROM_WIN32(ERROR_NOT_FOUND));
    SendMessageW(child, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(6, 31));
    EXPECT_THAT(subscriber.messages,
                ElementsAre(std::make_tuple(child, static_cast<UINT>(WM_LBUTTONDOWN), static_cast<WPARAM>(MK_LBUTTON),
                                            static_cast<LPARAM>(MAKELPARAM(5, 30)))));
    browser->Release();  // the query's reference, given back through the object's first table

    ASSERT_TRUE(SetWindowPos(parent, nullptr, 0, 0, 500, 350, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE));
    EXPECT_EQ(browser->FitToParent(), S_OK);
    RECT area = {};
    GetClientRect(child, &area);
    EXPECT_EQ(area.right, 500);
    EXPECT_EQ(area.bottom, 350);

    MSG key = {child, WM_KEYDOWN, VK_TAB, 0};
    int handled = 7;
    browser->TranslateAccelerator(&key, 1, &handled);
    EXPECT_EQ(handled, 0);

    EXPECT_EQ(browser->Close(), S_OK);
    EXPECT_FALSE(IsWindow(child)) << "closing destroys the control's window";
    DestroyWindow(parent);
    UnregisterClassW(className.c_str(), windowClass.hInstance);
    EXPECT_THAT(RecordsStartingWith("obj=1 accelerator"), ElementsAre("obj=1 accelerator message=0x00000100 wparam=0x00000009 handled=0"));
    EXPECT_THAT(RecordsStartingWith("obj=1 fit"), ElementsAre("obj=1 fit result=0x80070578 width=0 height=0",
                                                              "obj=1 fit result=0x00000000 width=500 height=350"));
}

}  // namespace
