#include "IKvUninstaller.h"
#include "KvSurrogateInterfaces.h"
#include "PageObjectFactory.h"
#include "PageObjectTestSupport.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;
using namespace PageObjectTesting;

namespace {

const std::wstring kSelf = std::to_wstring(GetCurrentProcessId());

class FakeUninstaller : public ::testing::Test {
protected:
    ComPtr<IDispatch> Create(const wchar_t* simulate, const wchar_t* survey)
    {
        ComPtr<IDispatch> object;
        EXPECT_EQ(S_OK, CreateFakeUninstaller(simulate, survey, &object));
        return object;
    }
    // A call by name through IDispatch, as a page makes it; the result's text or "<vt N>".
    static std::wstring CallByName(IDispatch* object, const wchar_t* name, HRESULT* status = nullptr)
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

    ComApartment m_com;
    StandInLog m_log;
};

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
    IDispatch* object = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CreateFakeUninstaller(L"uninstall_survey", L"x", &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_POINTER, CreateFakeUninstaller(L"uninstall_survey", L"x", nullptr));
    EXPECT_TRUE(m_log.Lines().empty());
}

}  // namespace
