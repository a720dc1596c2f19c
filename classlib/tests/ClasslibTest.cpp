#include "classlib/KvComObject.h"
#include "classlib/KvExeModule.h"
#include "classlib/KvWindowImpl.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// {6F1D4E7A-3B0C-4D8E-9A51-0C2B7E9F1A01}
constexpr IID IID_ITestFirst = {0x6f1d4e7a, 0x3b0c, 0x4d8e, {0x9a, 0x51, 0x0c, 0x2b, 0x7e, 0x9f, 0x1a, 0x01}};
// {6F1D4E7A-3B0C-4D8E-9A51-0C2B7E9F1A02}
constexpr IID IID_ITestSecond = {0x6f1d4e7a, 0x3b0c, 0x4d8e, {0x9a, 0x51, 0x0c, 0x2b, 0x7e, 0x9f, 0x1a, 0x02}};

struct ITestFirst : IUnknown {
    virtual int STDMETHODCALLTYPE First() = 0;
};
struct ITestSecond : IUnknown {
    virtual int STDMETHODCALLTYPE Second() = 0;
};

int g_liveObjects = 0;

class CTestObject : public CKvComObjectRoot, public ITestFirst, public ITestSecond {
public:
    explicit CTestObject(int value) : m_value(value) { ++g_liveObjects; }
    ~CTestObject() override { --g_liveObjects; }
    static const KvInterfaceEntry* GetInterfaceTable()
    {
        static const KvInterfaceEntry table[] = {KV_INTERFACE_ENTRY(CTestObject, ITestFirst, IID_ITestFirst),
                                                 KV_INTERFACE_ENTRY(CTestObject, ITestSecond, IID_ITestSecond),
                                                 {nullptr, 0}};
        return table;
    }
    int STDMETHODCALLTYPE First() override { return m_value; }
    int STDMETHODCALLTYPE Second() override { return m_value * 2; }

private:
    int m_value;
};

TEST(ClasslibComObject, InterfaceTableServesEachInterfaceOneIdentityAndDeletesAtLastRelease)
{
    ITestSecond* second = nullptr;
    ASSERT_EQ(S_OK, CKvComObject<CTestObject>::CreateInstance(IID_ITestSecond, reinterpret_cast<void**>(&second), 21));
    EXPECT_EQ(1, g_liveObjects);
    EXPECT_EQ(42, second->Second());

    ITestFirst* first = nullptr;
    ASSERT_EQ(S_OK, second->QueryInterface(IID_ITestFirst, reinterpret_cast<void**>(&first)));
    EXPECT_EQ(21, first->First());
    IUnknown* identityA = nullptr;
    IUnknown* identityB = nullptr;
    ASSERT_EQ(S_OK, first->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identityA)));
    ASSERT_EQ(S_OK, second->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identityB)));
    EXPECT_EQ(identityA, identityB);
    EXPECT_EQ(static_cast<void*>(identityA), static_cast<void*>(first));

    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, first->QueryInterface(IID_IDispatch, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(E_POINTER, first->QueryInterface(IID_ITestFirst, nullptr));

    // Three queries and the creation: four references.
    identityA->Release();
    identityB->Release();
    first->Release();
    EXPECT_EQ(1, g_liveObjects);
    EXPECT_EQ(0u, second->Release());
    EXPECT_EQ(0, g_liveObjects);

    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, CKvComObject<CTestObject>::CreateInstance(IID_IDispatch, &out, 1));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(0, g_liveObjects);
}

int g_liveThrowing = 0;

// Throws from its construction step as told, after the creation's reference was taken.
class CThrowingObject : public CKvComObjectRoot, public ITestFirst {
public:
    explicit CThrowingObject(int kind) : m_kind(kind) { ++g_liveThrowing; }
    ~CThrowingObject() override { --g_liveThrowing; }
    static const KvInterfaceEntry* GetInterfaceTable()
    {
        static const KvInterfaceEntry table[] = {KV_INTERFACE_ENTRY(CThrowingObject, ITestFirst, IID_ITestFirst),
                                                 {nullptr, 0}};
        return table;
    }
    HRESULT FinalConstruct() override
    {
        if (m_kind == 1) throw std::bad_alloc();
        if (m_kind == 2) throw std::runtime_error("construction");
        if (m_kind == 3) throw 3;
        return S_OK;
    }
    int STDMETHODCALLTYPE First() override { return m_kind; }

private:
    int m_kind;
};

TEST(ClasslibComObject, AThrowingConstructionLeavesNoObjectAndGivesAFixedResult)
{
    const struct {
        int kind;
        HRESULT expected;
    } cases[] = {{0, S_OK}, {1, E_OUTOFMEMORY}, {2, E_FAIL}, {3, E_FAIL}};
    for (const auto& c : cases) {
        ITestFirst* object = reinterpret_cast<ITestFirst*>(1);
        EXPECT_EQ(c.expected, CKvComObject<CThrowingObject>::CreateInstance(IID_ITestFirst,
                                                                            reinterpret_cast<void**>(&object), c.kind))
            << c.kind;
        if (SUCCEEDED(c.expected)) {
            ASSERT_NE(nullptr, object);
            EXPECT_EQ(0u, object->Release());
        } else {
            EXPECT_EQ(nullptr, object) << c.kind;
        }
        EXPECT_EQ(0, g_liveThrowing) << c.kind;
    }
}

TEST(ClasslibExeModule, RegistrationSwitchIsAWholeWordBehindDashOrSlashAnywhereInTheLine)
{
    EXPECT_EQ(KvRegistrationSwitch::None, FindRegistrationSwitch(nullptr));
    EXPECT_EQ(KvRegistrationSwitch::None, FindRegistrationSwitch(L"Ordwell.exe /id:x"));
    EXPECT_EQ(KvRegistrationSwitch::Register, FindRegistrationSwitch(L"Ordwell.exe /id:x /regserver"));
    EXPECT_EQ(KvRegistrationSwitch::Unregister, FindRegistrationSwitch(L"a -UNREGSERVER\t/RegServer"));
    EXPECT_EQ(KvRegistrationSwitch::RegisterPerUser, FindRegistrationSwitch(L"a /RegServerPerUser"));
    EXPECT_EQ(KvRegistrationSwitch::UnregisterPerUser, FindRegistrationSwitch(L"a /UnregServerPerUser"));
    // Not whole words.
    EXPECT_EQ(KvRegistrationSwitch::None, FindRegistrationSwitch(L"a /RegServerX /xRegServer RegServer"));
    // The scan covers the whole line, values included.
    EXPECT_EQ(KvRegistrationSwitch::Register, FindRegistrationSwitch(L"a /body:sarn://x/RegServer"));
}

class ScriptModule : public CKvExeModule {
public:
    HRESULT AddCommonRGSReplacements(IKvRegistrar* registrar) override
    {
        return registrar->AddReplacement(L"APPID", L"{11111111-2222-3333-4444-555555555555}");
    }
    std::vector<UINT> scripts{201};

protected:
    std::vector<UINT> GetObjectScriptIds() const override { return scripts; }
};

std::wstring ReadServer(HKEY root, const wchar_t* subkey, const wchar_t* value)
{
    wchar_t text[MAX_PATH * 2] = {};
    DWORD size = sizeof(text);
    if (RegGetValueW(root, subkey, value, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) return L"<none>";
    return text;
}

class ClasslibRegistration : public Fundor::testing::RegistryIsolatedTest {
protected:
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(ClasslibRegistration, ScriptsRunThroughThePlatformRegistrarWithReplacementsAndPerUserRoot)
{
    ScriptModule module;
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const wchar_t* objectKey = L"OrdwellClasslibTest\\Object";

    HRESULT result = E_FAIL;
    EXPECT_FALSE(module.ParseCommandLine(L"x.exe /RegServer", &result));
    ASSERT_EQ(S_OK, result);
    EXPECT_EQ(std::wstring(self), ReadServer(HKEY_CLASSES_ROOT, objectKey, L"Server"));
    EXPECT_EQ(L"{11111111-2222-3333-4444-555555555555}", ReadServer(HKEY_CLASSES_ROOT, objectKey, L"AppID"));
    EXPECT_EQ(L"Classlib test object", ReadServer(HKEY_CLASSES_ROOT, objectKey, nullptr));

    EXPECT_FALSE(module.ParseCommandLine(L"x.exe -unregserver", &result));
    EXPECT_EQ(S_OK, result);
    EXPECT_EQ(L"<none>", ReadServer(HKEY_CLASSES_ROOT, objectKey, L"Server"));

    // A missing script is a failure of the switch, not a silent success.
    module.scripts = {999};
    EXPECT_FALSE(module.ParseCommandLine(L"x.exe /RegServer", &result));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND), result);
    module.scripts = {201};

    // No switch: the module runs.
    result = E_FAIL;
    EXPECT_TRUE(module.ParseCommandLine(L"x.exe /id:x", &result));
    EXPECT_EQ(S_OK, result);

    // Per user: below HKEY_CURRENT_USER\Software\Classes. (Last: it ends the classes-root redirect.)
    EXPECT_FALSE(module.ParseCommandLine(L"x.exe /RegServerPerUser", &result));
    EXPECT_EQ(S_OK, result);
    EXPECT_EQ(std::wstring(self),
              ReadServer(HKEY_CURRENT_USER, L"Software\\Classes\\OrdwellClasslibTest\\Object", L"Server"));
    EXPECT_FALSE(module.ParseCommandLine(L"x.exe /UnregServerPerUser", &result));
    EXPECT_EQ(S_OK, result);
    EXPECT_EQ(L"<none>", ReadServer(HKEY_CURRENT_USER, L"Software\\Classes\\OrdwellClasslibTest\\Object", L"Server"));
}

// A replacement step that throws ends as the switch's failure, not in the caller.
class ThrowingReplacementModule : public ScriptModule {
public:
    HRESULT AddCommonRGSReplacements(IKvRegistrar*) override { throw std::bad_alloc(); }
};

TEST_F(ClasslibRegistration, AThrowingReplacementStepFailsTheSwitchWithoutRegistering)
{
    ThrowingReplacementModule module;
    HRESULT result = S_OK;
    EXPECT_FALSE(module.ParseCommandLine(L"x.exe /RegServer", &result));
    EXPECT_EQ(E_OUTOFMEMORY, result);
    EXPECT_EQ(L"<none>", ReadServer(HKEY_CLASSES_ROOT, L"OrdwellClasslibTest\\Object", L"Server"));
}

class SequenceModule : public CKvExeModule {
public:
    explicit SequenceModule(HRESULT pre) : m_pre(pre) { m_pause = 0; }
    HRESULT PreMessageLoop(int show) override
    {
        calls += L"pre;";
        return m_pre;
    }
    void RunMessageLoop() override { calls += L"loop;"; }
    HRESULT PostMessageLoop() override
    {
        calls += L"post;";
        return CKvExeModule::PostMessageLoop();
    }
    std::wstring calls;

private:
    HRESULT m_pre;
};

TEST(ClasslibExeModule, RunSequenceByPreLoopResultAndForeignApartmentRefused)
{
    SequenceModule runs(S_OK);
    EXPECT_EQ(S_OK, runs.Run(1));
    EXPECT_EQ(L"pre;loop;post;", runs.calls);
    SequenceModule quiet(S_FALSE);
    EXPECT_EQ(S_OK, quiet.Run(1));
    EXPECT_EQ(L"pre;post;", quiet.calls);
    SequenceModule fails(E_ACCESSDENIED);
    EXPECT_EQ(E_ACCESSDENIED, fails.Run(1));
    EXPECT_EQ(L"pre;", fails.calls);

    // A thread already in the multithreaded apartment, without the managed runtime: refused.
    HRESULT result = S_OK;
    std::wstring calls;
    std::thread([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        SequenceModule module(S_OK);
        result = module.RunModule(1);
        calls = module.calls;
        CoUninitialize();
    }).join();
    EXPECT_EQ(RPC_E_CHANGED_MODE, result);
    EXPECT_EQ(L"", calls);
}

class RecordingWindow : public CKvWindowImpl<RecordingWindow, CKvWinTraits<WS_POPUP, 0>> {
public:
    KV_BEGIN_MSG_MAP(RecordingWindow)
        KV_MESSAGE_HANDLER(WM_APP + 1, OnFirst)
        KV_MESSAGE_HANDLER(WM_APP + 1, OnSecond)
        KV_MESSAGE_HANDLER(WM_APP + 2, OnFirst)
    KV_END_MSG_MAP()

    LRESULT OnFirst(UINT message, WPARAM wParam, LPARAM lParam, BOOL& handled)
    {
        log += L"first;";
        handled = wParam != 0 ? TRUE : FALSE;  // wParam 0 passes the message on
        return 11;
    }
    LRESULT OnSecond(UINT, WPARAM, LPARAM, BOOL&)
    {
        log += L"second;";
        return 22;
    }
    void OnFinalMessage(HWND) override { log += L"final;"; }
    std::wstring log;
};

TEST(ClasslibWindow, MessageMapOrderClassNameLimitFinalMessageAndUnhookOfALiveWindow)
{
    const std::wstring className = Fundor::testing::UniqueName(L"ClasslibWnd");
    RecordingWindow window;
    window.GetWndClassInfo().className = className;
    const RECT rect{0, 0, 100, 80};
    const HWND handle = window.Create(nullptr, rect, L"t");
    ASSERT_NE(nullptr, handle);
    wchar_t registered[300] = {};
    GetClassNameW(handle, registered, 300);
    EXPECT_EQ(className, registered);
    EXPECT_EQ(static_cast<LONG_PTR>(WS_POPUP), GetWindowLongPtrW(handle, GWL_STYLE) & WS_POPUP);

    EXPECT_EQ(11, SendMessageW(handle, WM_APP + 1, 1, 0));
    EXPECT_EQ(L"first;", window.log);
    window.log.clear();
    EXPECT_EQ(22, SendMessageW(handle, WM_APP + 1, 0, 0));
    EXPECT_EQ(L"first;second;", window.log);
    window.log.clear();
    // Not handled by anyone: the default procedure answers 0.
    EXPECT_EQ(0, SendMessageW(handle, WM_APP + 2, 0, 0));

    window.log.clear();
    EXPECT_TRUE(window.DestroyWindow());
    EXPECT_EQ(L"final;", window.log);
    EXPECT_EQ(nullptr, window.Handle());

    // A window object that goes away while its window lives leaves a window that reaches no object.
    HWND orphan = nullptr;
    {
        RecordingWindow shortLived;
        shortLived.GetWndClassInfo().className = className;
        orphan = shortLived.Create(nullptr, rect, L"t");
        ASSERT_NE(nullptr, orphan);
    }
    EXPECT_TRUE(IsWindow(orphan));
    EXPECT_EQ(0, SendMessageW(orphan, WM_APP + 1, 1, 0));
    DestroyWindow(orphan);

    RecordingWindow tooLong;
    tooLong.GetWndClassInfo().className = std::wstring(256, L'a');
    EXPECT_EQ(nullptr, tooLong.Create(nullptr, rect, L"t"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE), GetLastError());
    WNDCLASSEXW none{sizeof(none)};
    EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), tooLong.GetWndClassInfo().className.c_str(), &none));
}

// Another process can rewrite a window's user data: messages still reach the window's own object,
// never an object whose address was written there, and the default procedure only when unhandled.
TEST(ClasslibWindow, MessagesReachTheWindowsOwnObjectWhateverItsUserDataHolds)
{
    const std::wstring className = Fundor::testing::UniqueName(L"ClasslibWndData");
    const RECT rect{0, 0, 100, 80};
    RecordingWindow window;
    RecordingWindow other;
    window.GetWndClassInfo().className = className;
    other.GetWndClassInfo().className = className;
    const HWND handle = window.Create(nullptr, rect, L"t");
    ASSERT_NE(nullptr, handle);
    ASSERT_NE(nullptr, other.Create(nullptr, rect, L"t"));
    for (const LONG_PTR data : {LONG_PTR{0}, reinterpret_cast<LONG_PTR>(&other)}) {
        SetWindowLongPtrW(handle, GWLP_USERDATA, data);
        window.log.clear();
        other.log.clear();
        EXPECT_EQ(11, SendMessageW(handle, WM_APP + 1, 1, 0)) << data;
        EXPECT_EQ(L"first;", window.log) << data;
        EXPECT_EQ(L"", other.log) << data;
    }
    EXPECT_TRUE(window.DestroyWindow());
    EXPECT_EQ(L"first;final;", window.log);
    EXPECT_EQ(L"", other.log);
}

}  // namespace
