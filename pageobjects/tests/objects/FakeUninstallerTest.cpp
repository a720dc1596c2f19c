#include "pageobjects/objects/IKvUninstaller.h"
#include "pageobjects/objects/ISessionMgr2.h"
#include "pageobjects/objects/KvSurrogateInterfaces.h"
#include "pageobjects/objects/PageObjectFactory.h"
#include "pageobjects/objects/PageObjectTypeLibraries.h"
#include "pageobjects/tests/objects/PageObjectTestSupport.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <functional>
#include <vector>

using Microsoft::WRL::ComPtr;
using namespace PageObjectTesting;

namespace {

const std::wstring kSelf = std::to_wstring(GetCurrentProcessId());

// A call by name through IDispatch, as a page makes it; the result's text or "<vt N>".
std::wstring CallByName(IDispatch* object, const wchar_t* name, HRESULT* status = nullptr)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 0;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    VARIANT result;
    VariantInit(&result);
    if (SUCCEEDED(hr)) {
        DISPPARAMS none = {};
        hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, &none,
                            &result, nullptr, nullptr);
    }
    if (status != nullptr) *status = hr;
    const std::wstring text = Text(result);
    VariantClear(&result);
    return text;
}

class FakeUninstaller : public ::testing::Test {
protected:
    ComPtr<IDispatch> Create(const wchar_t* simulate, const wchar_t* survey)
    {
        ComPtr<IDispatch> object;
        EXPECT_EQ(S_OK, CreateFakeUninstaller(simulate, survey, &object));
        return object;
    }

    ComApartment m_com;
    StandInLog m_log;
};

// The three objects the host hands every page: each answers every interface it offers with one
// identity, refuses others by the IUnknown rules, and starts with the creator's one reference.
TEST_F(FakeUninstaller, PageObjectsServeTheirInterfaceTablesAndCountReferences)
{
    RegisteredClass helper(CLSID_KvSurrogateHelper, CLSCTX_LOCAL_SERVER);
    struct Row {
        const char* name;
        std::function<HRESULT(IDispatch**)> create;
        std::vector<const IID*> offered;
    };
    const Row rows[] = {
        {"session manager", CreateSessionManager, {&IID_IUnknown, &IID_IDispatch, &IID_ISessionMgr2}},
        {"platform dispatch", CreatePlatformDispatch, {&IID_IUnknown, &IID_IDispatch}},
        {"uninstaller shim", [](IDispatch** object) { return CreateFakeUninstaller(L"", L"", object); },
         {&IID_IUnknown, &IID_IDispatch, &IID_IKvUninstaller, &IID_IKvUninstaller2, &IID_IKvUninstaller3,
          &IID_IKvUninstaller4, &IID_IKvUninstaller5}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        IDispatch* object = nullptr;
        ASSERT_EQ(S_OK, row.create(&object));
        ASSERT_NE(nullptr, object);
        EXPECT_EQ(2u, object->AddRef());
        EXPECT_EQ(1u, object->Release());
        for (const IID* iid : row.offered) {
            void* face = nullptr;
            EXPECT_EQ(S_OK, object->QueryInterface(*iid, &face));
            EXPECT_EQ(static_cast<void*>(object), face);
            EXPECT_EQ(1u, object->Release());  // the query's reference
        }
        void* other = reinterpret_cast<void*>(1);
        EXPECT_EQ(E_NOINTERFACE, object->QueryInterface(IID_IClassFactory, &other));
        EXPECT_EQ(nullptr, other);
        EXPECT_EQ(E_POINTER, object->QueryInterface(IID_IDispatch, nullptr));
        EXPECT_EQ(0u, object->Release());
    }
}

TEST_F(FakeUninstaller, AnswersSimulationSlotsAndForwardsTheRestToTheRealUninstaller)
{
    RegisteredClass helper(CLSID_KvSurrogateHelper, CLSCTX_LOCAL_SERVER);
    ComPtr<IDispatch> object = Create(L"Uninstall_SURVEY", L"survey=1");
    ASSERT_TRUE(object);
    // One table answers all five interfaces.
    for (const IID* iid : {&IID_IKvUninstaller, &IID_IKvUninstaller2, &IID_IKvUninstaller3, &IID_IKvUninstaller4,
                           &IID_IKvUninstaller5}) {
        ComPtr<IUnknown> face;
        EXPECT_EQ(S_OK, object->QueryInterface(*iid, reinterpret_cast<void**>(face.GetAddressOf())));
        EXPECT_EQ(static_cast<IUnknown*>(object.Get()), face.Get());
    }
    UINT count = 0;
    EXPECT_EQ(S_OK, object->GetTypeInfoCount(&count));
    EXPECT_EQ(1u, count);

    EXPECT_EQ(L"survey=1", CallByName(object.Get(), L"getsurveydata"));
    EXPECT_EQ(L"<vt 0>", CallByName(object.Get(), L"GetLaunchData"));
    EXPECT_EQ(L"Uninstall_SURVEY", CallByName(object.Get(), L"GetSimulateString"));
    EXPECT_EQ(L"Method09 " + kSelf, CallByName(object.Get(), L"Method09"));
    EXPECT_EQ(L"<vt 0>", CallByName(object.Get(), L"Method17"));
    EXPECT_EQ(L"<vt 0>", CallByName(object.Get(), L"Method07"));
    HRESULT status = S_OK;
    CallByName(object.Get(), L"Method42", &status);
    EXPECT_EQ(DISP_E_EXCEPTION, status);  // the dispatch form of a failed call

    // Through the table, as a C++ caller uses it.
    ComPtr<IKvUninstaller5> table;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IKvUninstaller5, reinterpret_cast<void**>(table.GetAddressOf())));
    VARIANT empty;
    VariantInit(&empty);
    for (int slot : {26, 27, 28, 31, 34, 35, 36, 39, 41}) {
        HRESULT hr = E_FAIL;
        switch (slot) {
        case 26: hr = table->Method26(empty, empty); break;
        case 27: hr = table->Method27(empty, empty); break;
        case 28: hr = table->Method28(empty, empty); break;
        case 31: hr = table->Method31(empty, empty); break;
        case 34: hr = table->Method34(empty, empty); break;
        case 35: hr = table->Method35(empty, empty); break;
        case 36: hr = table->Method36(empty, empty); break;
        case 39: hr = table->Method39(empty, empty); break;
        case 41: hr = table->Method41(empty, empty); break;
        }
        EXPECT_EQ(S_OK, hr) << slot;
    }
    EXPECT_EQ(E_NOTIMPL, table->Method42());
    EXPECT_EQ(S_OK, table->Method08(empty, empty));
    EXPECT_EQ(S_OK, table->Method38(empty, empty));
    // The three simulation slots check and clear their out value.
    EXPECT_EQ(E_POINTER, table->GetSimulateString(empty, empty, nullptr));
    EXPECT_EQ(E_POINTER, table->GetSurveyData(nullptr));
    EXPECT_EQ(E_POINTER, table->GetLaunchData(nullptr));
    VARIANT old;
    old.vt = VT_BSTR;
    old.bstrVal = SysAllocString(L"old");
    EXPECT_EQ(S_OK, table->GetLaunchData(&old));
    EXPECT_EQ(VT_EMPTY, old.vt);

    std::vector<std::string> forwarded;
    for (const std::string& line : m_log.Lines()) {
        if (line.rfind("self uninstaller ", 0) == 0) forwarded.push_back(line.substr(17));
    }
    const std::vector<std::string> expected = {"Method09", "Method17", "Method26", "Method27", "Method28", "Method31",
                                               "Method34", "Method35", "Method36", "Method39", "Method41"};
    EXPECT_EQ(expected, forwarded);
    EXPECT_EQ(1, m_log.Count("self surrogate CreateObject " + GuidText(CLSID_KvUninstaller) + " " +
                             GuidText(IID_IDispatch)));
}

TEST_F(FakeUninstaller, SurveyDataOnlyForItsOwnModeAndOnlyWhenGiven)
{
    RegisteredClass helper(CLSID_KvSurrogateHelper, CLSCTX_LOCAL_SERVER);
    ComPtr<IDispatch> launch = Create(L"UNINSTALL_launch", L"ngm");
    ASSERT_TRUE(launch);
    EXPECT_EQ(L"ngm", CallByName(launch.Get(), L"GetLaunchData"));
    EXPECT_EQ(L"<vt 0>", CallByName(launch.Get(), L"GetSurveyData"));
    for (const wchar_t* mode : {L"uninstall_survey", L"uninstall_launch"}) {
        ComPtr<IDispatch> noData = Create(mode, L"");
        ASSERT_TRUE(noData);
        EXPECT_EQ(L"<vt 0>", CallByName(noData.Get(), L"GetLaunchData"));
        EXPECT_EQ(L"<vt 0>", CallByName(noData.Get(), L"GetSurveyData"));
    }
    ComPtr<IDispatch> none = Create(nullptr, nullptr);
    ASSERT_TRUE(none);
    EXPECT_EQ(L"", CallByName(none.Get(), L"GetSimulateString"));
    EXPECT_EQ(L"<vt 0>", CallByName(none.Get(), L"GetSurveyData"));
}

TEST_F(FakeUninstaller, CreationWithoutTheSurrogateFailsWithNoObject)
{
    // Tests that register the stand-in program as the helper's server hold this turn too.
    TrustTesting::HalvornKeyTurn noServerRegistered;
    ASSERT_TRUE(noServerRegistered.owned());
    IDispatch* object = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CreateFakeUninstaller(L"uninstall_survey", L"x", &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_POINTER, CreateFakeUninstaller(L"uninstall_survey", L"x", nullptr));
    EXPECT_TRUE(m_log.Lines().empty());
}

// An exception that the uninstaller lets out, in the shim's own process, ends in the shim: the
// call fails with the code of its kind, through the table and through IDispatch alike.
TEST_F(FakeUninstaller, AnExceptionOfTheUninstallerEndsInTheShimAsAFailure)
{
    RegisteredClass helper(CLSID_KvSurrogateHelper, CLSCTX_LOCAL_SERVER);
    ComPtr<IDispatch> object = Create(L"uninstall_survey", L"x");
    ASSERT_TRUE(object);
    ComPtr<IKvUninstaller5> table;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IKvUninstaller5, reinterpret_cast<void**>(table.GetAddressOf())));
    const struct {
        const wchar_t* kind;
        HRESULT expected;
    } cases[] = {{L"throw:bad_alloc", E_OUTOFMEMORY}, {L"throw:exception", E_FAIL}, {L"throw:other", E_UNEXPECTED}};
    for (const auto& item : cases) {
        VARIANT kind;
        kind.vt = VT_BSTR;
        kind.bstrVal = SysAllocString(item.kind);
        VARIANT none;
        VariantInit(&none);
        HRESULT hr = S_OK;
        EXPECT_NO_THROW(hr = table->Method26(kind, none)) << std::string(item.kind, item.kind + wcslen(item.kind));
        EXPECT_EQ(item.expected, hr);
        VARIANT value;
        VariantInit(&value);
        EXPECT_NO_THROW(hr = table->Method09(kind, &value));
        EXPECT_EQ(item.expected, hr);
        EXPECT_EQ(VT_EMPTY, value.vt);

        // As a page calls it: the failure comes back as the call's exception.
        LPOLESTR name = const_cast<LPOLESTR>(L"Method41");
        DISPID id = 0;
        ASSERT_EQ(S_OK, object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
        DISPPARAMS params = {&kind, nullptr, 1, 0};
        EXCEPINFO exception = {};
        EXPECT_NO_THROW(hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                            &exception, nullptr));
        EXPECT_EQ(DISP_E_EXCEPTION, hr);
        EXPECT_EQ(item.expected, exception.scode);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        VariantClear(&kind);
    }
    // The shim still forwards afterwards.
    VARIANT plain;
    VariantInit(&plain);
    EXPECT_EQ(S_OK, table->Method27(plain, plain));
    EXPECT_EQ(3, m_log.Count("self uninstaller Method26"));
    EXPECT_EQ(1, m_log.Count("self uninstaller Method27"));
}

// The shim in this process, the real uninstaller in the surrogate program: across processes the
// uninstaller's IDispatch is a proxy with IDispatch's slots only, so every forwarded call must go
// through the IKvUninstaller5 the shim asked for. Its interfaces cross only once their type
// library is registered.
class FakeUninstallerAcrossProcesses : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The registration is the prefix's: other tests that register or remove it take turns.
        ASSERT_TRUE(m_turn.owned());
        ASSERT_EQ(0u, RunStandIn(L"-RegServer"));
    }
    void TearDown() override
    {
        UnregisterLibrary();
        EXPECT_EQ(0u, RunStandIn(L"-UnregServer"));
    }
    // The uninstaller's type library from this program's embedded copy, registered as the suite's
    // components register theirs.
    static void RegisterLibrary()
    {
        std::wstring path = ThisProgramPath() + L"\\" + std::to_wstring(kUninstallerTypeLibraryResource);
        ComPtr<ITypeLib> library;
        ASSERT_EQ(S_OK, LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.GetAddressOf()));
        ASSERT_EQ(S_OK, RegisterTypeLib(library.Get(), path.data(), nullptr));
    }
    static void UnregisterLibrary()
    {
        (void)UnRegisterTypeLib(LIBID_KvUnInstShimLib, 1, 0, LOCALE_NEUTRAL, SYS_WIN64);
    }
    // The uninstaller's records of this test's calls: what follows "other arguments ".
    std::vector<std::string> ArgumentsRecorded() const
    {
        std::vector<std::string> recorded;
        for (const std::string& line : m_log.Lines()) {
            if (line.rfind("other arguments ", 0) == 0) recorded.push_back(line.substr(16));
        }
        return recorded;
    }

    TrustTesting::HalvornKeyTurn m_turn;
    ComApartment m_com;
    StandInLog m_log;
};

// Without the library the interface cannot cross: the shim is made all the same and serves its
// own slots, so the host goes on, and each forwarded call fails with the failed query's result.
// (Run before the case that registers it, so that nothing of the registration is remembered in
// this process.)
TEST_F(FakeUninstallerAcrossProcesses, WithoutTheUninstallersTypeLibraryForwardedCallsFail)
{
    UnregisterLibrary();
    ComPtr<IDispatch> object;
    ASSERT_EQ(S_OK, CreateFakeUninstaller(L"uninstall_survey", L"survey=1", &object));
    ASSERT_EQ(1, m_log.Count("other create " + GuidText(CLSID_KvUninstaller))) << "the uninstaller is elsewhere";
    EXPECT_EQ(L"survey=1", CallByName(object.Get(), L"GetSurveyData"));
    EXPECT_EQ(L"uninstall_survey", CallByName(object.Get(), L"GetSimulateString"));
    EXPECT_EQ(L"<vt 0>", CallByName(object.Get(), L"Method07"));
    for (const wchar_t* name : {L"Method09", L"Method26", L"Method41"}) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = 0;
        ASSERT_EQ(S_OK, object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
        DISPPARAMS none = {};
        EXCEPINFO exception = {};
        VARIANT result;
        VariantInit(&result);
        EXPECT_EQ(DISP_E_EXCEPTION, object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result,
                                                   &exception, nullptr));
        EXPECT_EQ(E_NOINTERFACE, exception.scode);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        VariantClear(&result);
    }
    ComPtr<IKvUninstaller5> table;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IKvUninstaller5, reinterpret_cast<void**>(table.GetAddressOf())));
    VARIANT empty;
    VariantInit(&empty);
    EXPECT_EQ(E_NOINTERFACE, table->Method36(empty, empty));
    // Nothing reached the uninstaller.
    EXPECT_TRUE(ArgumentsRecorded().empty());
}

TEST_F(FakeUninstallerAcrossProcesses, EveryForwardedSlotReachesTheUninstallerWithItsArguments)
{
    RegisterLibrary();
    ComPtr<IDispatch> object;
    ASSERT_EQ(S_OK, CreateFakeUninstaller(L"uninstall_survey", L"survey=1", &object));
    ASSERT_EQ(1, m_log.Count("other create " + GuidText(CLSID_KvUninstaller))) << "the uninstaller is elsewhere";

    // By name, as a page calls them: a text and the slot's number, which the uninstaller records.
    const std::vector<std::pair<const wchar_t*, int>> forwarded = {
        {L"Method09", 9},  {L"Method17", 17}, {L"Method26", 26}, {L"Method27", 27},
        {L"Method28", 28}, {L"Method31", 31}, {L"Method34", 34}, {L"Method35", 35},
        {L"Method36", 36}, {L"Method39", 39}, {L"Method41", 41}};
    std::vector<std::string> expected;
    std::wstring server;
    for (const auto& [name, slot] : forwarded) {
        const std::wstring text = std::wstring(L"to ") + name + L" \u00e9\u4e2d\t";
        VARIANT arguments[2];
        arguments[0].vt = VT_I4;  // last first
        arguments[0].lVal = slot;
        arguments[1].vt = VT_BSTR;
        arguments[1].bstrVal = SysAllocString(text.c_str());
        const bool oneArgument = slot == 9;
        DISPPARAMS params = {oneArgument ? &arguments[1] : arguments, nullptr, oneArgument ? 1u : 2u, 0};
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = 0;
        ASSERT_EQ(S_OK, object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
        VARIANT result;
        VariantInit(&result);
        EXPECT_EQ(S_OK, object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                       &params, &result, nullptr, nullptr))
            << slot;
        if (oneArgument) {
            // "Method09 <process of the uninstaller>"
            server = Text(result);
            EXPECT_EQ(0u, server.rfind(L"Method09 ", 0));
            EXPECT_NE(L"Method09 " + kSelf, server);
        }
        VariantClear(&result);
        SysFreeString(arguments[1].bstrVal);
        const std::string name8(name, name + wcslen(name));
        // The text as recorded: UTF-8, the tab written out.
        expected.push_back(name8 + " bstr(" + std::to_string(text.size()) + "):to " + name8 +
                           " \xC3\xA9\xE4\xB8\xAD\\u0009" + (oneArgument ? " empty" : " i4:" + std::to_string(slot)));
    }
    // Through the table, as a C++ caller uses it: the last forwarded slot with a number and nothing.
    ComPtr<IKvUninstaller5> table;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_IKvUninstaller5, reinterpret_cast<void**>(table.GetAddressOf())));
    VARIANT number;
    number.vt = VT_I4;
    number.lVal = -41;
    VARIANT none;
    VariantInit(&none);
    EXPECT_EQ(S_OK, table->Method41(number, none));
    expected.push_back("Method41 i4:-41 empty");
    // The shim's own slots go nowhere.
    EXPECT_EQ(S_OK, table->Method07(number, none));
    EXPECT_EQ(S_OK, table->Method38(number, none));
    EXPECT_EQ(E_NOTIMPL, table->Method42());
    VARIANT survey;
    VariantInit(&survey);
    EXPECT_EQ(S_OK, table->GetSurveyData(&survey));
    EXPECT_EQ(L"survey=1", Text(survey));
    VariantClear(&survey);

    EXPECT_EQ(expected, ArgumentsRecorded());
}

}  // namespace
