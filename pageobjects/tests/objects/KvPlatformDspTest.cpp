#include "access/ModuleTrust.h"
#include "pageobjects/objects/KvPlatformDsp.h"
#include "pageobjects/objects/PageObjectFactory.h"
#include "pageobjects/tests/objects/PageObjectTestSupport.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <iostream>

using Microsoft::WRL::ComPtr;
using namespace PageObjectTesting;

namespace {

const std::wstring kSelf = std::to_wstring(GetCurrentProcessId());

class PlatformDispatch : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, CreatePlatformDispatch(&m_object)); }
    void TearDown() override
    {
        if (m_object) m_object->Release();
    }
    // GetProperty through IDispatch, as a page calls it (arguments last first).
    HRESULT Call(VARIANT id, VARIANT flag, VARIANT* result, WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                 UINT* badArgument = nullptr)
    {
        VARIANT arguments[2] = {flag, id};
        DISPPARAMS params = {arguments, nullptr, 2, 0};
        return m_object->Invoke(0, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, nullptr, badArgument);
    }
    std::wstring Get(long id, long flag)
    {
        VARIANT result;
        VariantInit(&result);
        VARIANT first;
        first.vt = VT_I4;
        first.lVal = id;
        VARIANT second;
        second.vt = VT_I4;
        second.lVal = flag;
        EXPECT_EQ(S_OK, Call(first, second, &result));
        const std::wstring text = result.vt == VT_EMPTY ? L"<empty>" : result.vt == VT_DISPATCH ? ProviderName(result) : Text(result);
        VariantClear(&result);
        return text;
    }

    ComApartment m_com;
    StandInLog m_log;
    IDispatch* m_object = nullptr;
};

TEST_F(PlatformDispatch, AnswersGetPropertyByNameAndChecksItsArguments)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"getPROPERTY"), const_cast<LPOLESTR>(L"param1")};
    DISPID ids[2] = {-5, -5};
    EXPECT_EQ(S_OK, m_object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, ids));
    EXPECT_EQ(0, ids[0]);
    EXPECT_EQ(DISP_E_UNKNOWNNAME, m_object->GetIDsOfNames(IID_NULL, names, 2, LOCALE_USER_DEFAULT, ids));
    EXPECT_EQ(DISPID_UNKNOWN, ids[1]);
    LPOLESTR other = const_cast<LPOLESTR>(L"GetProperties");
    EXPECT_EQ(DISP_E_UNKNOWNNAME, m_object->GetIDsOfNames(IID_NULL, &other, 1, LOCALE_USER_DEFAULT, ids));

    ComPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, m_object->QueryInterface(IID_PPV_ARGS(&unknown)));
    ComPtr<IClassFactory> notOffered;
    EXPECT_EQ(E_NOINTERFACE, m_object->QueryInterface(IID_PPV_ARGS(&notOffered)));

    VARIANT twelve;
    twelve.vt = VT_BSTR;
    twelve.bstrVal = SysAllocString(L"12");
    VARIANT zero;
    zero.vt = VT_R8;
    zero.dblVal = 0.0;
    VARIANT word;
    word.vt = VT_BSTR;
    word.bstrVal = SysAllocString(L"twelve");
    VARIANT result;
    VariantInit(&result);
    // A page that ignores the result: the object still needs somewhere to put it.
    EXPECT_EQ(E_POINTER, Call(twelve, zero, nullptr));
    EXPECT_EQ(0, m_log.Count("self create " + GuidText(kKvSMProvider.clsid)));
    UINT badArgument = 99;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Call(word, zero, &result, DISPATCH_METHOD, &badArgument));
    EXPECT_EQ(1u, badArgument);  // the first argument, last in rgvarg
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Call(twelve, zero, &result, DISPATCH_PROPERTYPUT));
    DISPPARAMS one = {&twelve, nullptr, 1, 0};
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, m_object->Invoke(0, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, nullptr));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, m_object->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, nullptr));
    // Text and fractions convert; nothing serves id 12 and no provider class is registered here.
    EXPECT_EQ(S_OK, Call(twelve, zero, &result));
    EXPECT_EQ(VT_EMPTY, result.vt);
    VariantClear(&twelve);
    VariantClear(&word);

    CKvPlatformDsp* direct = nullptr;
    EXPECT_EQ(E_INVALIDARG, CKvPlatformDsp::CreateInstance(nullptr));
    ASSERT_EQ(S_OK, CKvPlatformDsp::CreateInstance(&direct));
    EXPECT_EQ(E_POINTER, direct->GetProperty(0, 0, nullptr));
    direct->Release();
}

TEST_F(PlatformDispatch, MakesDirectProvidersOnceFromTrustedModulesOnly)
{
    TrustedFiles trusted({ThisProgramPath()});
    RegisteredClass session(kKvSMProvider.clsid, CLSCTX_INPROC_SERVER);
    RegisteredClass database(kKvDspDatabaseMgr.clsid, CLSCTX_INPROC_SERVER);
    RegisteredClass analytics(kAnalyticsShim.clsid, CLSCTX_INPROC_SERVER);
    RegisteredClass helperInQrn(kKvQrnHelperInQrn.clsid, CLSCTX_INPROC_SERVER);

    EXPECT_EQ(L"IKvDspDatabaseMgr " + kSelf, Get(0, 0));
    EXPECT_EQ(L"IKvDspDatabaseMgr " + kSelf, Get(0, 0));
    EXPECT_EQ(1, m_log.Count("self create " + GuidText(kKvDspDatabaseMgr.clsid)));
    EXPECT_EQ(1, m_log.Count("self create " + GuidText(kKvSMProvider.clsid)));
    EXPECT_EQ(L"IAnalyticsShim " + kSelf, Get(11, 0));
    // The session provider's properties: ids 5 and 6 cross.
    EXPECT_EQ(L"property 4 " + kSelf, Get(4, 0));
    EXPECT_EQ(L"property 6 " + kSelf, Get(5, 0));
    EXPECT_EQ(L"property 5 " + kSelf, Get(6, 0));
    EXPECT_EQ(L"property 7 " + kSelf, Get(7, 0));
    // The helper's first class is missing here: its second class serves.
    EXPECT_EQ(L"IKvQrnHelper(InQrn) " + kSelf, Get(8, 0));
    // Not registered, or no such id: nothing.
    EXPECT_EQ(L"<empty>", Get(1, 0));
    EXPECT_EQ(L"<empty>", Get(10, 0));
    EXPECT_EQ(L"<empty>", Get(-1, 0));
    // A failed creation is tried again on the next request.
    RegisteredClass systemInfo(kKvDspSystemInfo.clsid, CLSCTX_INPROC_SERVER);
    EXPECT_EQ(L"IKvDspSystemInfo " + kSelf, Get(1, 0));
    EXPECT_EQ(1, m_log.Count("self create " + GuidText(kKvSMProvider.clsid)));
}

// Text converts to a number only when the whole text is the number: "0" followed by a zero
// character and more is no 0.
TEST_F(PlatformDispatch, TextWithAZeroInsideIsNoNumber)
{
    TrustedFiles trusted({ThisProgramPath()});
    RegisteredClass session(kKvSMProvider.clsid, CLSCTX_INPROC_SERVER);
    RegisteredClass database(kKvDspDatabaseMgr.clsid, CLSCTX_INPROC_SERVER);
    VARIANT whole;
    whole.vt = VT_BSTR;
    whole.bstrVal = SysAllocString(L"0");
    VARIANT cut;
    cut.vt = VT_BSTR;
    cut.bstrVal = SysAllocStringLen(L"0\0x", 3);
    const struct {
        const VARIANT* id;
        const VARIANT* flag;
        HRESULT expected;
        UINT badArgument;  // the argument's place in rgvarg (last first)
    } cases[] = {{&cut, &whole, DISP_E_TYPEMISMATCH, 1}, {&whole, &cut, DISP_E_TYPEMISMATCH, 0}};
    for (const auto& item : cases) {
        VARIANT result;
        VariantInit(&result);
        UINT badArgument = 99;
        EXPECT_EQ(item.expected, Call(*item.id, *item.flag, &result, DISPATCH_METHOD, &badArgument));
        EXPECT_EQ(item.badArgument, badArgument);
        EXPECT_EQ(VT_EMPTY, result.vt);
        VariantClear(&result);
    }
    EXPECT_EQ(0, m_log.Count("self create " + GuidText(kKvDspDatabaseMgr.clsid)));
    // The whole text is the number.
    VARIANT result;
    VariantInit(&result);
    EXPECT_EQ(S_OK, Call(whole, whole, &result));
    EXPECT_EQ(L"IKvDspDatabaseMgr " + kSelf, ProviderName(result));
    VariantClear(&result);
    VariantClear(&whole);
    VariantClear(&cut);
}

TEST_F(PlatformDispatch, RefusesProvidersFromAnUntrustedModule)
{
    TrustedFiles trusted({});
    RegisteredClass session(kKvSMProvider.clsid, CLSCTX_INPROC_SERVER);
    RegisteredClass database(kKvDspDatabaseMgr.clsid, CLSCTX_INPROC_SERVER);
    RegisteredClass helper(CLSID_KvSurrogateHelper, CLSCTX_LOCAL_SERVER);
    EXPECT_EQ(L"<empty>", Get(0, 0));
    EXPECT_EQ(L"<empty>", Get(4, 1));
    EXPECT_TRUE(m_log.Lines().empty());
}

TEST_F(PlatformDispatch, MakesAdminProvidersInTheSurrogateOnce)
{
    TrustedFiles trusted({ThisProgramPath()});
    // Unit form: the helper's class object lives in this process, as a local server registers it.
    RegisteredClass helper(CLSID_KvSurrogateHelper, CLSCTX_LOCAL_SERVER);

    EXPECT_EQ(L"IKvDspSystemInfo " + kSelf, Get(1, 1));
    EXPECT_EQ(L"IKvDspSystemInfo " + kSelf, Get(1, 1));
    EXPECT_EQ(L"IManageOem " + kSelf, Get(9, 1));
    EXPECT_EQ(L"property 6 " + kSelf, Get(5, 1));
    // The helper is never made in the surrogate.
    EXPECT_EQ(L"<empty>", Get(8, 1));
    const std::vector<std::string> expected = {
        "self create " + GuidText(CLSID_KvSurrogateHelper),
        "self helper LoadSurrogate " + std::to_string(GetCurrentProcessId()),
        // Once the loader is had, the connection gives the helper back.
        "self helper released",
        "self surrogate CreateObject " + GuidText(kKvSMProvider.clsid) + " " + GuidText(IID_IKvSMProvider),
        "self create " + GuidText(kKvSMProvider.clsid),
        "self surrogate CreateObject " + GuidText(kKvDspSystemInfo.clsid) + " " + GuidText(kKvDspSystemInfo.iid),
        "self create " + GuidText(kKvDspSystemInfo.clsid),
        "self surrogate CreateObject " + GuidText(kManageOem.clsid) + " " + GuidText(kManageOem.iid),
        "self create " + GuidText(kManageOem.clsid),
        "self provider GetProperty 6",
    };
    EXPECT_EQ(expected, m_log.Lines());
}

}  // namespace

namespace {

// The stand-in registered as the helper's local server (and its type library) for the test.
class LocalServerRegistration {
public:
    LocalServerRegistration() { EXPECT_EQ(0u, RunStandIn(L"-RegServer")); }
    ~LocalServerRegistration() { EXPECT_EQ(0u, RunStandIn(L"-UnregServer")); }
};

TEST_F(PlatformDispatch, MakesAdminProvidersInTheSurrogateProgram)
{
    TrustedFiles trusted({ThisProgramPath()});
    LocalServerRegistration server;
    // Checked creation validates the module that holds the class object's code: across
    // processes that is the platform's proxy code, which the validation service must vouch for.
    std::wstring proxyModule;
    {
        ComPtr<IUnknown> classObject;
        ASSERT_EQ(S_OK, CoGetClassObject(CLSID_KvSurrogateHelper, CLSCTX_LOCAL_SERVER, nullptr,
                                         {0xFD542581, 0x722E, 0x45BE, {0xBE, 0xD4, 0x62, 0xA1, 0xBE, 0x46, 0xAF, 0x03}},
                                         reinterpret_cast<void**>(classObject.GetAddressOf())));
        wchar_t path[MAX_PATH] = {};
        ASSERT_EQ(0u, FindModuleOfAddress((*reinterpret_cast<void* const* const*>(classObject.Get()))[0], path));
        proxyModule = path;
        std::wcout << L"class object proxy code: " << proxyModule << std::endl;
    }
    EXPECT_EQ(L"<empty>", Get(1, 1)) << "the proxy module is not vouched for yet";
    trusted.Trust({ThisProgramPath(), proxyModule});

    const std::wstring systemInfo = Get(1, 1);
    ASSERT_EQ(0u, systemInfo.rfind(L"IKvDspSystemInfo ", 0)) << systemInfo;
    const std::wstring server_process = systemInfo.substr(17);
    EXPECT_NE(kSelf, server_process);
    EXPECT_EQ(systemInfo, Get(1, 1));
    EXPECT_EQ(L"property 6 " + server_process, Get(5, 1));
    EXPECT_EQ(L"IAnalyticsShim " + server_process, Get(11, 1));
    EXPECT_EQ(L"<empty>", Get(8, 1));
    EXPECT_EQ(1, m_log.Count("other helper LoadSurrogate " + std::to_string(GetCurrentProcessId())));
    EXPECT_EQ(1, m_log.Count("other create " + GuidText(kKvDspSystemInfo.clsid)));
    EXPECT_EQ(1, m_log.Count("other provider GetProperty 6"));
    m_object->Release();
    m_object = nullptr;
}

}  // namespace
