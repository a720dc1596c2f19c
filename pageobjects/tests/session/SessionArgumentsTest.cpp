// What a hostile page hands the session manager: strings whose counted length runs past a zero
// character (read as C strings they would name another key, value, parameter, timer,
// application, URL or command), over-long URLs, and page objects that throw.

#include "pageobjects/tests/session/SessionTestSupport.h"

#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

namespace {

using namespace SessionTesting;

// A BSTR with exactly these characters, zeros included.
Variant Counted(const std::wstring& text)
{
    Variant value;
    value.v.vt = VT_BSTR;
    value.v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return value;
}

std::wstring WithZero(const wchar_t* before, const wchar_t* after)
{
    return std::wstring(before) + L'\0' + after;
}

class SessionArguments : public Fundor::testing::RegistryIsolatedTest {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override { CoUninitialize(); }

    // The stored text of a value, or "<none>".
    static std::wstring Stored(const wchar_t* subkey, const wchar_t* name)
    {
        wchar_t text[64] = {};
        DWORD size = sizeof(text);
        if (RegGetValueW(HKEY_CURRENT_USER, subkey, name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS) {
            return L"<none>";
        }
        return text;
    }
    // A result as the cases give it: a number, a string, or "<vt N>".
    static std::wstring Shown(const VARIANT& value)
    {
        if (value.vt == VT_I4) return std::to_wstring(value.lVal);
        if (value.vt == VT_BSTR) return value.bstrVal != nullptr ? value.bstrVal : L"";
        return L"<vt " + std::to_wstring(value.vt) + L">";
    }
    std::wstring Answer(const wchar_t* name, std::initializer_list<const VARIANT*> arguments)
    {
        Variant result;
        return SUCCEEDED(session.Call(name, arguments, &result.v)) ? Shown(result.v) : L"<failed>";
    }

    Session session;
};

TEST_F(SessionArguments, NamesPathsUrlsAndCommandsHoldingAZeroAreRefused)
{
    // What each cut string would reach: a value "a", a named value "ab", a timer "t".
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Ordwell", L"a", REG_SZ, L"kept", 10));
    Variant key(L"HKCU\\Software\\Ordwell"), plain(L"a"), text(L"overwritten"), no = Variant::Bool(false);
    Variant first(L"first"), ab(L"ab"), timer(L"t");
    ASSERT_EQ(0, session.Number(L"SetNamedParameter", {&ab.v, &first.v}));
    ASSERT_EQ(0, session.Number(L"StartTimer", {&timer.v}));

    Variant cutName = Counted(WithZero(L"a", L"b"));
    Variant cutKey = Counted(WithZero(L"HKCU\\Software\\Ordwell", L"\\Other"));
    Variant cutList = [] {
        std::vector<Variant> elements;
        elements.push_back(Counted(WithZero(L"one", L"two")));
        return ArrayOf(std::move(elements));
    }();
    Variant cutTimer = Counted(WithZero(L"t", L"x"));
    Variant cutApplication = Counted(WithZero(L"QRN", L"x"));
    Variant one(1L);
    Variant cutUrl = Counted(WithZero(L"C:\\none", L".txt"));
    Variant empty(L"");
    Variant cutQuery = Counted(WithZero(L"q", L"r"));
    Variant safeUrl(L"C:\\none-such-file.txt");
    Variant cutCommand = Counted(WithZero(L"none-such-program", L" x"));

    const struct {
        const char* what;
        const wchar_t* method;
        std::vector<const VARIANT*> arguments;
        std::wstring expected;
    } cases[] = {
        {"value name", L"KvRegSetValue", {&key.v, &cutName.v, &text.v, &no.v}, L"-2147024809"},
        {"key path", L"KvRegSetValue", {&cutKey.v, &plain.v, &text.v, &no.v}, L"-2147024809"},
        {"list string", L"KvRegSetValue", {&key.v, &plain.v, &cutList.v, &no.v}, L"87"},
        {"value name read", L"KvRegQueryValue", {&key.v, &cutName.v, &no.v}, L"<vt 0>"},
        {"key path read", L"KvRegQueryValue", {&cutKey.v, &plain.v, &no.v}, L"<vt 0>"},
        {"parameter name", L"SetNamedParameter", {&cutName.v, &text.v}, L"<failed>"},
        {"parameter name read", L"GetNamedParameter", {&cutName.v}, L"<failed>"},
        {"parameter name removed", L"RemoveNamedParameter", {&cutName.v}, L"<failed>"},
        {"timer name", L"StartTimer", {&cutTimer.v}, L"87"},
        {"timer name stopped", L"StopTimer", {&cutTimer.v}, L"87"},
        {"application id", L"LoadString", {&one.v, &cutApplication.v}, L"<vt 0>"},
        {"application id of a manifest", L"GetProductManifest", {&cutApplication.v}, L"<failed>"},
        {"URL as it is", L"OpenBrowserAsIs", {&cutUrl.v}, L"87"},
        {"URL", L"OpenBrowser", {&cutUrl.v, &empty.v}, L"87"},
        {"query", L"OpenBrowser", {&safeUrl.v, &cutQuery.v}, L"87"},
        {"command", L"OpenNewHost", {&cutCommand.v, &no.v}, L"87"},
    };
    for (const auto& item : cases) {
        Variant result;
        DISPID id = DISPID_UNKNOWN;
        LPOLESTR names[] = {const_cast<LPOLESTR>(item.method)};
        ASSERT_EQ(S_OK, session.dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id));
        std::vector<VARIANT> reversed;  // arguments arrive last first
        for (auto argument = item.arguments.rbegin(); argument != item.arguments.rend(); ++argument) {
            reversed.push_back(**argument);
        }
        DISPPARAMS parameters = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        const HRESULT hr = session.dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT,
                                                    DISPATCH_METHOD | DISPATCH_PROPERTYGET, &parameters, &result.v,
                                                    nullptr, nullptr);
        EXPECT_EQ(item.expected, SUCCEEDED(hr) ? Shown(result.v) : L"<failed>") << item.what;
    }

    // Nothing that a cut string names was read, written, replaced or stopped.
    EXPECT_EQ(L"kept", Stored(L"Software\\Ordwell", L"a"));
    EXPECT_EQ(L"<none>", Stored(L"Software\\Ordwell", L"list"));
    EXPECT_EQ(L"first", Answer(L"GetNamedParameter", {&ab.v}));
    EXPECT_NE(nullptr, session.object->FindTimer(L"t"));
    EXPECT_EQ(0, session.Number(L"StopTimer", {&timer.v}));
}

TEST_F(SessionArguments, UrlsLongerThanAUrlBufferAreRefusedBeforeTheShell)
{
    // 2,083 characters fit a URL buffer with its terminator; the page's query joins the URL
    // with one separator. None of these reaches the shell, whose buffers overflow not far above.
    const std::wstring fits(2083, L'x');
    const struct {
        std::wstring url;
        std::wstring query;  // empty: OpenBrowserAsIs
        bool asIs;
    } cases[] = {
        {fits + L"x", L"", true},
        {std::wstring(10001, L'x'), L"", true},
        {std::wstring(1000, L'x'), std::wstring(1083, L'q'), false},
        {std::wstring(10, L'x'), std::wstring(10001, L'q'), false},
        {fits + L"x", L"", false},
    };
    for (const auto& item : cases) {
        Variant url(item.url.c_str());
        Variant query(item.query.c_str());
        const long result = item.asIs ? session.Number(L"OpenBrowserAsIs", {&url.v})
                                      : session.Number(L"OpenBrowser", {&url.v, &query.v});
        EXPECT_EQ(87, result) << item.url.size() << "+" << item.query.size();
    }
}

// A page object whose every call throws (as a C++ object in the host's own process could): the
// exception stays inside and the method reports the failure of its kind through its result.
class ThrowingObject final : public IDispatch {
public:
    explicit ThrowingObject(int kind) : m_kind(kind) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { Throw(); }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { Throw(); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { Throw(); }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { Throw(); }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        Throw();
    }

private:
    [[noreturn]] void Throw() const
    {
        if (m_kind == 0) throw std::bad_alloc();
        if (m_kind == 1) throw std::runtime_error("page object");
        throw 7;
    }
    int m_kind;
};

TEST_F(SessionArguments, AnExceptionFromAPageObjectEndsInTheMethodWithItsFailure)
{
    Variant key(L"HKCU\\Software\\Ordwell"), name(L"list");
    const HRESULT failures[] = {E_OUTOFMEMORY, E_FAIL, E_UNEXPECTED};
    for (int kind = 0; kind < 3; ++kind) {
        ThrowingObject thrower(kind);
        VARIANT object;
        object.vt = VT_DISPATCH;
        object.pdispVal = &thrower;
        long result = 0;
        HRESULT hr = E_ABORT;
        EXPECT_NO_THROW(hr = session.typed->GetAppList(object, &result)) << kind;
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ(static_cast<long>(failures[kind]), result) << kind;
        result = 0;
        EXPECT_NO_THROW(hr = session.typed->GetLocaleInfoW(object, &result)) << kind;
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ(static_cast<long>(failures[kind]), result) << kind;
        // A script array whose length cannot be read.
        result = 0;
        EXPECT_NO_THROW(
            hr = session.typed->KvRegSetValue(key.v.bstrVal, name.v.bstrVal, object, VARIANT_FALSE, &result))
            << kind;
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ(87, result) << kind;
        EXPECT_EQ(L"<none>", Stored(L"Software\\Ordwell", L"list"));
    }
    // The object is as good as before.
    {
        ScriptPage script(session.dispatch.Get());
        ASSERT_EQ(S_OK, script.Run(L"var apps = {}; var answer = KvDispSessionMgr2.GetAppList(apps);"));
        EXPECT_EQ(L"0", script.Text(L"answer"));
    }
}

}  // namespace
