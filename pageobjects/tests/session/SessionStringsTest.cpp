#include "pageobjects/tests/session/SessionTestSupport.h"

#include "core/testsupport/RegistryIsolation.h"
#include "pageobjects/objects/ScriptObjectAccess.h"
#include "pageobjects/tests/objects/PageObjectTestSupport.h"

#include <dispex.h>

#include <map>

namespace {

using namespace SessionTesting;

std::wstring BinFile(const std::wstring& relative)
{
    return TrustTesting::ProgramFolder() + L"\\" + relative;
}

void SetAppInfo(const std::wstring& application, const wchar_t* name, const std::wstring& value)
{
    const std::wstring path = L"SOFTWARE\\Tervane\\QRN\\Settings\\ApplicationInfo\\" + application;
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                             KEY_ALL_ACCESS | KEY_WOW64_64KEY, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
    RegCloseKey(key);
}

// A page's script object: new names are made only through IDispatchEx::GetDispID with
// fdexNameEnsure, as the platform's JScript objects do; puts are recorded.
class ScriptObject final : public IDispatchEx {
public:
    explicit ScriptObject(bool offersEx) : m_offersEx(offersEx) {}
    std::map<std::wstring, std::vector<std::wstring>> puts;  // name -> strings (arrays) or one text

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || (m_offersEx && iid == kIidDispatchEx)) {
            *out = static_cast<IDispatchEx*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { *count = 0; return S_OK; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override
    {
        for (std::size_t i = 0; i < m_names.size(); ++i) {
            if (m_names[i] == names[0]) {
                ids[0] = static_cast<DISPID>(i + 1);
                return S_OK;
            }
        }
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* info, UINT*) override
    {
        return InvokeEx(id, locale, flags, params, result, info, nullptr);
    }
    HRESULT STDMETHODCALLTYPE GetDispID(BSTR name, DWORD flags, DISPID* id) override
    {
        if (GetIDsOfNames(IID_NULL, &name, 1, 0, id) == S_OK) return S_OK;
        if ((flags & fdexNameEnsure) == 0) return DISP_E_UNKNOWNNAME;
        m_names.emplace_back(name);
        *id = static_cast<DISPID>(m_names.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InvokeEx(DISPID id, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                       IServiceProvider*) override
    {
        if (flags != DISPATCH_PROPERTYPUT || params->cArgs != 1 || id < 1 || id > static_cast<DISPID>(m_names.size()))
            return DISP_E_MEMBERNOTFOUND;
        const VARIANT& value = params->rgvarg[0];
        std::vector<std::wstring>& record = puts[m_names[id - 1]];
        if (value.vt == VT_BOOL) record = {value.boolVal == VARIANT_TRUE ? L"true" : L"false"};
        else if (value.vt == VT_BSTR) record = {value.bstrVal};
        else record = StringsOf(value);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DeleteMemberByName(BSTR, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeleteMemberByDispID(DISPID) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMemberProperties(DISPID, DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMemberName(DISPID, BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNextDispID(DWORD, DISPID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNameSpaceParent(IUnknown**) override { return E_NOTIMPL; }

private:
    bool m_offersEx;
    std::vector<std::wstring> m_names;
};

class SessionStrings : public Fundor::testing::RegistryIsolatedTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
        SetAppInfo(L"QRN", L"ResDll", BinFile(L"resources\\locale\\qrnres.dll"));
        SetAppInfo(L"QRN", L"UIDll", BinFile(L"resources\\locale\\qrnui.dll"));
    }
    void TearDown() override { CoUninitialize(); }
    std::wstring Load(long id, const wchar_t* application)
    {
        Variant number(id), app(application), result;
        EXPECT_EQ(S_OK, session.Call(L"LoadString", {&number.v, &app.v}, &result.v));
        return result.v.vt == VT_BSTR ? std::wstring(result.v.bstrVal) : L"<vt " + std::to_wstring(result.v.vt) + L">";
    }

    Session session;
};

TEST_F(SessionStrings, LoadsStringsOfTheApplicationsResourceDll)
{
    EXPECT_EQ(L"Tervane Ordwell", Load(0, L"qrn"));  // the product name with the company put in
    EXPECT_EQ(L"Ordwell", Load(30001, L"QRN"));
    EXPECT_EQ(L"", Load(12345, L"qrn"));  // no such string
    std::vector<Variant> ids;
    ids.emplace_back(30001L);
    ids.emplace_back(35030L);
    ids.emplace_back(0L);
    Variant array = ArrayOf(std::move(ids)), app(L"qrn"), result;
    EXPECT_EQ(S_OK, session.Call(L"loadstrings", {&array.v, &app.v}, &result.v));
    EXPECT_EQ((std::vector<std::wstring>{L"Ordwell", L"Tervane", L"Tervane Ordwell"}), StringsOf(result.v));

    // Null outs are refused; an old out value is released and replaced.
    Variant number(30001L), old(L"old");
    EXPECT_EQ(E_POINTER, session.typed->LoadStringW(number.v, app.v, nullptr));
    EXPECT_EQ(E_POINTER, session.typed->LoadStrings(array.v, app.v, nullptr));
    EXPECT_EQ(S_OK, session.typed->LoadStringW(number.v, app.v, &old.v));
    ASSERT_EQ(VT_BSTR, old.v.vt);
    EXPECT_STREQ(L"Ordwell", old.v.bstrVal);
}

TEST_F(SessionStrings, AnApplicationWithoutInformationGetsNoStringsOfTheOneBefore)
{
    EXPECT_EQ(L"Ordwell", Load(30001, L"qrn"));
    EXPECT_EQ(L"", Load(30001, L"zeb"));  // no ResDll for "zeb"
    // Recorded later, it is read then; the cache no longer claims "qrn" either.
    SetAppInfo(L"ZEB", L"ResDll", BinFile(L"resources\\locale\\qrnres.dll"));
    EXPECT_EQ(L"Tervane", Load(35030, L"zeb"));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN\\Settings\\ApplicationInfo\\QRN",
                                           0, KEY_ALL_ACCESS | KEY_WOW64_64KEY, &key));
    RegDeleteValueW(key, L"ResDll");
    RegCloseKey(key);
    EXPECT_EQ(L"", Load(30001, L"qrn"));
}

TEST_F(SessionStrings, TheManifestIsReadWithoutRunningTheUiDll)
{
    SetEnvironmentVariableW(L"ORDWELL_MANIFEST_PROBE_RAN", nullptr);
    SetAppInfo(L"PRB", L"UIDll", BinFile(L"sessionmgr\\ManifestProbe.dll"));
    BSTR manifest = nullptr;
    BSTR probe = SysAllocString(L"prb");
    EXPECT_EQ(S_OK, session.typed->GetProductManifest(probe, &manifest));
    ASSERT_NE(nullptr, manifest);
    EXPECT_STREQ(L"{\"name\":\"Probe\",\"version\":\"2.5\"}", manifest);
    SysFreeString(manifest);
    EXPECT_EQ(0u, GetEnvironmentVariableW(L"ORDWELL_MANIFEST_PROBE_RAN", nullptr, 0));
    SysFreeString(probe);

    Variant app(L"qrn"), result;
    EXPECT_EQ(S_OK, session.Call(L"GetProductManifest", {&app.v}, &result.v));
    ASSERT_EQ(VT_BSTR, result.v.vt);
    EXPECT_STREQ(L"{\"name\":\"Ordwell\",\"version\":\"1.0\"}", result.v.bstrVal);
    manifest = reinterpret_cast<BSTR>(1);
    EXPECT_EQ(E_INVALIDARG, session.typed->GetProductManifest(nullptr, &manifest));
    EXPECT_EQ(nullptr, manifest);
    EXPECT_EQ(E_INVALIDARG, session.typed->GetProductManifest(app.v.bstrVal, nullptr));
}

TEST_F(SessionStrings, TheAppListIsPutOnThePageObjectAndAFailedPutIsReported)
{
    SetAppInfo(L"ZEB", L"UIDll", BinFile(L"resources\\locale\\qrnui.dll"));
    SetAppInfo(L"XYZ", L"ResDll", BinFile(L"resources\\locale\\qrnres.dll"));  // no UIDll: left out
    ScriptObject page(true);
    Variant object(static_cast<IDispatch*>(&page));
    EXPECT_EQ(0, session.Number(L"GetAppList", {&object.v}));
    EXPECT_EQ((std::vector<std::wstring>{L"QRN", L"ZEB"}), page.puts[L"arrayAppId"]);
    EXPECT_EQ((std::vector<std::wstring>{BinFile(L"resources\\locale\\qrnui.dll"),
                                         BinFile(L"resources\\locale\\qrnui.dll")}),
              page.puts[L"arrayJSResDllPath"]);
    EXPECT_EQ(std::vector<std::wstring>{L"true"}, page.puts[L"successful"]);
    EXPECT_EQ(std::vector<std::wstring>{L""}, page.puts[L"errorMessage"]);

    // An object that cannot take new names: the failure is the result, not success.
    ScriptObject closed(false);
    Variant closedObject(static_cast<IDispatch*>(&closed));
    EXPECT_EQ(static_cast<long>(DISP_E_UNKNOWNNAME), session.Number(L"GetAppList", {&closedObject.v}));
    EXPECT_TRUE(closed.puts.empty());
    Variant none;
    EXPECT_EQ(static_cast<long>(E_FAIL), session.Number(L"GetAppList", {&none.v}));
    EXPECT_EQ(E_INVALIDARG, session.typed->GetAppList(object.v, nullptr));
    EXPECT_EQ(E_INVALIDARG, session.typed->GetLocaleInfoW(object.v, nullptr));
    EXPECT_EQ(E_POINTER, session.typed->GetOSVersionCode(nullptr));
}

}  // namespace
