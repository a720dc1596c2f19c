// The module's further operations: script calls, the companion UI's visibility, the session and
// object creation in-process or through the surrogate.

#include "access/CheckedCreation.h"
#include "shell/config/VistrelHelper.h"
#include "shell/tests/host/HostTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A page script with one method; records what each call was given.
class RecordingScript final : public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch)) return E_NOINTERFACE;
        *object = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override
    {
        calls.push_back(L"names " + std::wstring(names[0]) + L" " + std::to_wstring(count) + L" " +
                        std::to_wstring(lcid) + (IsEqualIID(iid, IID_NULL) ? L" null" : L" iid"));
        ids[0] = 7;
        return namesResult;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS* parameters, VARIANT*,
                                     EXCEPINFO*, UINT*) override
    {
        calls.push_back(L"invoke " + std::to_wstring(id) + L" " + std::to_wstring(lcid) + L" " +
                        std::to_wstring(flags) + L" " + std::to_wstring(parameters->cArgs));
        return invokeResult;
    }

    ULONG references = 1;
    HRESULT namesResult = S_OK;
    HRESULT invokeResult = S_OK;
    std::vector<std::wstring> calls;
};

TEST(ModuleOperations, CallScriptMethodLooksUpTheNameAndPassesResultsOn)
{
    RecordingScript script;
    EXPECT_EQ(E_INVALIDARG, CKvShellModule::CallScriptMethod(nullptr, L"onClose"));
    EXPECT_EQ(E_INVALIDARG, CKvShellModule::CallScriptMethod(&script, nullptr));
    EXPECT_TRUE(script.calls.empty());

    script.invokeResult = S_FALSE;
    EXPECT_EQ(S_FALSE, CKvShellModule::CallScriptMethod(&script, L"onClose"));
    EXPECT_EQ((std::vector<std::wstring>{L"names onClose 1 1024 null", L"invoke 7 2048 1 0"}), script.calls);

    script.calls.clear();
    script.invokeResult = DISP_E_EXCEPTION;
    EXPECT_EQ(DISP_E_EXCEPTION, CKvShellModule::CallScriptMethod(&script, L"onClose"));
    script.calls.clear();
    script.namesResult = DISP_E_UNKNOWNNAME;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, CKvShellModule::CallScriptMethod(&script, L"missing"));
    EXPECT_EQ(1u, script.calls.size());  // nothing invoked
    EXPECT_EQ(1u, script.references);
}

TEST(ModuleOperations, CompanionUiCountsAsVisibleOnlyWhenShownAndNotMinimised)
{
    const wchar_t className[] = L"AB80AD1E41A445efAB585BDC60B29776";
    // Without a shown window the answer is the running check's.
    const int running = VistrelHelper::IsVistrelRunning();
    EXPECT_EQ(running, CKvShellModule::IsVistrelUiVisible());

    WNDCLASSEXW description = {sizeof(description)};
    description.lpfnWndProc = DefWindowProcW;
    description.hInstance = GetModuleHandleW(nullptr);
    description.lpszClassName = className;
    ASSERT_NE(0, RegisterClassExW(&description));
    HWND window = CreateWindowExW(0, className, L"", WS_OVERLAPPEDWINDOW, 10, 10, 200, 150, nullptr, nullptr,
                                  description.hInstance, nullptr);
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(running, CKvShellModule::IsVistrelUiVisible());  // hidden
    ShowWindow(window, SW_SHOWNOACTIVATE);
    EXPECT_EQ(1, CKvShellModule::IsVistrelUiVisible());
    ShowWindow(window, SW_SHOWMINNOACTIVE);
    ASSERT_TRUE(IsIconic(window));
    EXPECT_EQ(running, CKvShellModule::IsVistrelUiVisible());
    DestroyWindow(window);
    UnregisterClassW(className, description.hInstance);
}

TEST(ModuleOperations, CurrentSessionIsTheProcessSession)
{
    DWORD session = 0xFFFFFFFF;
    ASSERT_TRUE(ProcessIdToSessionId(GetCurrentProcessId(), &session));
    EXPECT_EQ(session, CKvShellModule::GetCurrentSessionID());
}

// {3C1E7A52-90D4-4F0B-9A61-2B7E5D8C4F13}: a class of this test.
constexpr CLSID kTestClass = {0x3C1E7A52, 0x90D4, 0x4F0B, {0x9A, 0x61, 0x2B, 0x7E, 0x5D, 0x8C, 0x4F, 0x13}};

// One object serving every role: class factory and class object, surrogate helper, loader,
// surrogate, and the object made. It records the calls that matter.
class EverythingObject final : public IClassFactory, public IKvClassObject, public IKvSurrogateHelper,
                               public IKvSurrogate, public IDispatch {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory))
            *object = static_cast<IClassFactory*>(this);
        else if (IsEqualIID(iid, IID_IKvClassObject2) || IsEqualIID(iid, IID_IKvClassObject))
            *object = static_cast<IKvClassObject*>(this);
        else if (IsEqualIID(iid, IID_IKvSurrogateHelper))
            *object = static_cast<IKvSurrogateHelper*>(this);
        else if (IsEqualIID(iid, IID_IKvSurrogate) && offerSurrogate)
            *object = static_cast<IKvSurrogate*>(this);
        else if (IsEqualIID(iid, IID_IDispatch))
            *object = static_cast<IDispatch*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    // IClassFactory
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID iid, void** object) override
    {
        calls.push_back("factory");
        return QueryInterface(iid, object);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
    // IKvClassObject
    HRESULT STDMETHODCALLTYPE CreateInstance(REFIID iid, void** object) override
    {
        calls.push_back("class object");
        return QueryInterface(iid, object);
    }
    // IKvSurrogateHelper
    HRESULT STDMETHODCALLTYPE LoadSurrogate(DWORD processId, IUnknown** loader) override
    {
        calls.push_back("load " + std::to_string(processId));
        return QueryInterface(IID_IUnknown, reinterpret_cast<void**>(loader));
    }
    // IKvSurrogate
    HRESULT STDMETHODCALLTYPE CreateObject(const CLSID* clsid, const IID* iid, IUnknown** object) override
    {
        calls.push_back(std::string("create ") + (IsEqualCLSID(*clsid, kTestClass) ? "test class" : "other") +
                        (IsEqualIID(*iid, IID_IDispatch) ? " dispatch" : " other"));
        return QueryInterface(IID_IUnknown, reinterpret_cast<void**>(object));
    }
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    ULONG references = 1;
    bool offerSurrogate = true;
    std::vector<std::string> calls;
};

class Registration {
public:
    Registration(REFCLSID clsid, IUnknown* object, DWORD context)
    {
        EXPECT_EQ(S_OK, CoRegisterClassObject(clsid, object, context, REGCLS_MULTIPLEUSE, &m_cookie));
    }
    ~Registration() { CoRevokeClassObject(m_cookie); }

private:
    DWORD m_cookie = 0;
};

TEST(ModuleOperations, SurrogateObjectsComeFromThisProcessOrTheSurrogateReachedOnce)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    EverythingObject object;  // outlives the module, which releases its surrogate last
    {
        CKvShellModule module(std::make_unique<HostTesting::ScriptedSettings>());
        IDispatch* made = nullptr;
        EXPECT_EQ(E_POINTER, module.GetSurrogateObject(kTestClass, IID_IDispatch, nullptr));
        EXPECT_EQ(REGDB_E_CLASSNOTREG, module.GetSurrogateObject(kTestClass, IID_IDispatch,
                                                                  reinterpret_cast<void**>(&made)));
        EXPECT_EQ(nullptr, made);
        {
            Registration inProcess(kTestClass, static_cast<IClassFactory*>(&object), CLSCTX_INPROC_SERVER);
            ASSERT_EQ(S_OK, module.GetSurrogateObject(kTestClass, IID_IDispatch, reinterpret_cast<void**>(&made)));
            EXPECT_EQ(static_cast<IDispatch*>(&object), made);
            made->Release();
            EXPECT_EQ(std::vector<std::string>{"factory"}, object.calls);
        }

        // Surrogate mode (the helper registered here, so that no other server can answer): a loader
        // without a surrogate fails the last step and nothing is kept; then the surrogate is reached once.
        module.SetSurrogateMode(true);
        {
            Registration helper(CLSID_KvSurrogateHelper, static_cast<IClassFactory*>(&object), CLSCTX_LOCAL_SERVER);
            object.offerSurrogate = false;
            EXPECT_EQ(E_NOINTERFACE,
                      module.GetSurrogateObject(kTestClass, IID_IDispatch, reinterpret_cast<void**>(&made)));
            object.offerSurrogate = true;
            object.calls.clear();
            for (int round = 0; round < 2; ++round) {
                ASSERT_EQ(S_OK, module.GetSurrogateObject(kTestClass, IID_IDispatch, reinterpret_cast<void**>(&made)));
                EXPECT_EQ(static_cast<IDispatch*>(&object), made);
                made->Release();
            }
        }
        const std::string load = "load " + std::to_string(GetCurrentProcessId());
        EXPECT_EQ((std::vector<std::string>{"class object", load, "create test class dispatch",
                                            "create test class dispatch"}),
                  object.calls);
        EXPECT_GT(object.references, 1u);  // the module keeps its surrogate
    }
    EXPECT_EQ(1u, object.references);
    CoUninitialize();
}

}  // namespace
