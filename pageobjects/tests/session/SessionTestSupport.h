#pragma once
// Shared by the session manager's tests: the object made through the host's creator, calls by
// name through its IDispatch, a page script run by the platform's JScript engine, and a host
// whose main window is the test's own.

#include "core/testsupport/Narrow.h"
#include "pageobjects/objects/PageObjectFactory.h"
#include "pageobjects/objects/SessionMgr.h"

#include <activscp.h>
#include <gtest/gtest.h>
#include <oaidl.h>
#include <windows.h>
#include <wrl/client.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace SessionTesting {

using Microsoft::WRL::ComPtr;

// An owned VARIANT.
struct Variant {
    VARIANT v;
    Variant() { VariantInit(&v); }
    explicit Variant(const wchar_t* text)
    {
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(text);
    }
    explicit Variant(long number)
    {
        VariantInit(&v);
        v.vt = VT_I4;
        v.lVal = number;
    }
    explicit Variant(IDispatch* object)
    {
        VariantInit(&v);
        v.vt = VT_DISPATCH;
        v.pdispVal = object;
        if (object != nullptr) object->AddRef();
    }
    static Variant Bool(bool flag)
    {
        Variant value;
        value.v.vt = VT_BOOL;
        value.v.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
        return value;
    }
    Variant(Variant&& other) noexcept : v(other.v) { VariantInit(&other.v); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    ~Variant() { VariantClear(&v); }
};

// A one-dimensional SAFEARRAY of VARIANT holding the values, in a VARIANT.
inline Variant ArrayOf(std::vector<Variant>&& elements)
{
    Variant array;
    array.v.vt = VT_ARRAY | VT_VARIANT;
    array.v.parray = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(elements.size()));
    for (LONG i = 0; i < static_cast<LONG>(elements.size()); ++i) SafeArrayPutElement(array.v.parray, &i, &elements[i].v);
    return array;
}

// The strings of an array result ("<vt N>" for an element that is no string).
inline std::vector<std::wstring> StringsOf(const VARIANT& value)
{
    std::vector<std::wstring> strings;
    if (value.vt != (VT_ARRAY | VT_VARIANT)) return {L"<not an array: vt " + std::to_wstring(value.vt) + L">"};
    LONG lower = 0;
    LONG upper = -1;
    SafeArrayGetLBound(value.parray, 1, &lower);
    SafeArrayGetUBound(value.parray, 1, &upper);
    EXPECT_EQ(0, lower);
    for (LONG i = lower; i <= upper; ++i) {
        VARIANT element;
        VariantInit(&element);
        SafeArrayGetElement(value.parray, &i, &element);
        strings.push_back(element.vt == VT_BSTR ? std::wstring(element.bstrVal) : L"<vt " + std::to_wstring(element.vt) + L">");
        VariantClear(&element);
    }
    return strings;
}

// The session manager as the host creates it.
class Session {
public:
    Session()
    {
        EXPECT_EQ(S_OK, CreateSessionManager(dispatch.GetAddressOf()));
        EXPECT_EQ(S_OK, dispatch->QueryInterface(IID_ISessionMgr2, reinterpret_cast<void**>(typed.GetAddressOf())));
        object = static_cast<CSessionMgr2*>(typed.Get());
    }
    // A call by name through IDispatch::Invoke (arguments in page order); the HRESULT of Invoke.
    HRESULT Call(const wchar_t* name, std::initializer_list<const VARIANT*> arguments, VARIANT* result)
    {
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        const HRESULT found = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(found)) return found;
        std::vector<VARIANT> reversed(arguments.size());
        std::size_t slot = arguments.size();
        for (const VARIANT* argument : arguments) reversed[--slot] = *argument;
        DISPPARAMS parameters = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                &parameters, result, nullptr, nullptr);
    }
    // The call's value as a number (VT_I4 expected).
    long Number(const wchar_t* name, std::initializer_list<const VARIANT*> arguments = {})
    {
        Variant result;
        EXPECT_EQ(S_OK, Call(name, arguments, &result.v)) << "calling " << std::string(name, name + wcslen(name));
        EXPECT_EQ(VT_I4, result.v.vt) << "calling " << std::string(name, name + wcslen(name));
        return result.v.vt == VT_I4 ? result.v.lVal : -1;
    }

    ComPtr<IDispatch> dispatch;
    ComPtr<ISessionMgr2> typed;
    CSessionMgr2* object = nullptr;
};

// A page script run by the platform's JScript engine with the session manager as
// "KvDispSessionMgr2"; its globals are read back after the run.
class ScriptPage final : public IActiveScriptSite {
public:
    explicit ScriptPage(IDispatch* sessionManager) : m_session(sessionManager)
    {
        const CLSID jscript = {0xf414c260, 0x6ac0, 0x11cf, {0xb6, 0xd1, 0x00, 0xaa, 0x00, 0xbb, 0xbb, 0x58}};
        EXPECT_EQ(S_OK, CoCreateInstance(jscript, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript,
                                         reinterpret_cast<void**>(m_engine.GetAddressOf())));
        if (!m_engine) return;
        EXPECT_EQ(S_OK, m_engine->QueryInterface(__uuidof(IActiveScriptParse), reinterpret_cast<void**>(m_parse.GetAddressOf())));
        EXPECT_EQ(S_OK, m_engine->SetScriptSite(this));
        EXPECT_EQ(S_OK, m_parse->InitNew());
        EXPECT_EQ(S_OK, m_engine->AddNamedItem(L"KvDispSessionMgr2", SCRIPTITEM_ISVISIBLE));
        EXPECT_EQ(S_OK, m_engine->SetScriptState(SCRIPTSTATE_CONNECTED));
    }
    ~ScriptPage()
    {
        m_globals.Reset();
        if (m_engine) m_engine->Close();
        m_parse.Reset();
        m_engine.Reset();
    }
    ScriptPage(const ScriptPage&) = delete;
    ScriptPage& operator=(const ScriptPage&) = delete;

    // S_OK, or the engine's error (the message then in Error()).
    HRESULT Run(const wchar_t* script)
    {
        if (!m_parse) return E_FAIL;
        return m_parse->ParseScriptText(script, nullptr, nullptr, nullptr, 0, 0, SCRIPTTEXT_ISVISIBLE, nullptr, nullptr);
    }
    // A page global (VT_EMPTY when undeclared).
    Variant Global(const wchar_t* name)
    {
        Variant value;
        if (!m_globals && FAILED(m_engine->GetScriptDispatch(nullptr, m_globals.GetAddressOf()))) return value;
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        if (FAILED(m_globals->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return value;
        DISPPARAMS none = {};
        m_globals->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value.v, nullptr, nullptr);
        return value;
    }
    std::wstring Text(const wchar_t* name)
    {
        Variant value = Global(name);
        if (value.v.vt == VT_BSTR) return value.v.bstrVal != nullptr ? value.v.bstrVal : L"";
        Variant text;
        if (SUCCEEDED(VariantChangeType(&text.v, &value.v, 0, VT_BSTR))) return text.v.bstrVal;
        return L"<vt " + std::to_wstring(value.v.vt) + L">";
    }
    const std::wstring& Error() const { return m_error; }

    // IUnknown: the page lives on the test's stack.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IActiveScriptSite) {
            *out = static_cast<IActiveScriptSite*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    // IActiveScriptSite
    HRESULT STDMETHODCALLTYPE GetLCID(LCID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** info) override
    {
        if (info != nullptr) *info = nullptr;
        if (item != nullptr) *item = nullptr;
        if (wcscmp(name, L"KvDispSessionMgr2") != 0) return TYPE_E_ELEMENTNOTFOUND;
        if ((mask & SCRIPTINFO_IUNKNOWN) != 0 && item != nullptr) {
            *item = m_session;
            m_session->AddRef();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStateChange(SCRIPTSTATE) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnScriptError(IActiveScriptError* error) override
    {
        EXCEPINFO info = {};
        DWORD context = 0;
        ULONG line = 0;
        LONG column = 0;
        error->GetExceptionInfo(&info);
        error->GetSourcePosition(&context, &line, &column);
        m_error = L"line " + std::to_wstring(line) + L": 0x";
        wchar_t code[16] = {};
        _snwprintf(code, 15, L"%08lX", static_cast<unsigned long>(info.scode));
        m_error += code;
        if (info.bstrDescription != nullptr) m_error += std::wstring(L" ") + info.bstrDescription;
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEnterScript() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnLeaveScript() override { return S_OK; }

private:
    IDispatch* m_session;
    ComPtr<IActiveScript> m_engine;
    ComPtr<IActiveScriptParse> m_parse;
    ComPtr<IDispatch> m_globals;
    std::wstring m_error;
};

// The host side the page objects reach: a given main window and administrator answer.
class FakeHost final : public IKvShellHostAccess {
public:
    explicit FakeHost(HWND window = nullptr, BOOL notAdministrator = FALSE)
        : m_window(window), m_notAdministrator(notAdministrator)
    {
        SetShellHostAccess(this);
    }
    ~FakeHost() { SetShellHostAccess(nullptr); }
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;
    HWND STDMETHODCALLTYPE GetMainWindowHandle() override { return m_window; }
    BOOL STDMETHODCALLTYPE IsNotAdministrator() override { return m_notAdministrator; }

private:
    HWND m_window;
    BOOL m_notAdministrator;
};

using Fundor::testing::Narrow;

}  // namespace SessionTesting
