#include "standins/surrogate/SurrogateStandIn.h"

#include "pageobjects/objects/IKvUninstaller.h"
#include "pageobjects/objects/KvSurrogateInterfaces.h"

#include <oaidl.h>

#include "core/base/ScopedResource.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <iterator>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// The checked-creation class-object interfaces; slot 3 creates from an interface id.
constexpr IID IID_IKvClassObject2 = {0xFD542581, 0x722E, 0x45BE, {0xBE, 0xD4, 0x62, 0xA1, 0xBE, 0x46, 0xAF, 0x03}};
constexpr IID IID_IKvClassObject = {0x6058502E, 0x6069, 0x43F4, {0xB7, 0x33, 0x12, 0x86, 0x49, 0xA2, 0x0B, 0xD5}};
struct IKvClassObject : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(REFIID iid, void** object) = 0;
};

std::atomic<LONG> g_objects{0};
std::atomic<LONG> g_locks{0};
std::atomic<LONG> g_made{0};
std::atomic<void (*)()> g_lastObjectGone{nullptr};

void Record(const std::wstring& text)
{
    RecordStandInCall(text.c_str());
}

// The lowest digits hexadecimal digits of value, upper-case, with leading zeros.
std::wstring HexDigits(unsigned long value, int digits)
{
    std::wstring text(static_cast<std::size_t>(digits), L'0');
    for (int at = digits - 1; at >= 0 && value != 0; --at, value >>= 4) text[at] = L"0123456789ABCDEF"[value & 0xF];
    return text;
}

std::wstring GuidText(REFGUID guid)
{
    wchar_t text[64] = {};
    StringFromGUID2(guid, text, 64);
    return text;
}

// A value as the uninstaller records it: "empty", "null", "bstr(<length>):<text>", "i4:<n>",
// "r8:<x>", "bool:<n>", "dispatch", "error:<hex>" or "vt<n>". A string keeps its first 32
// characters, zero and other control characters written as \uXXXX, so a line stays short.
std::wstring ArgumentText(const VARIANT& given)
{
    const VARIANT& value = given.vt == (VT_BYREF | VT_VARIANT) && given.pvarVal != nullptr ? *given.pvarVal : given;
    switch (value.vt) {
    case VT_EMPTY: return L"empty";
    case VT_NULL: return L"null";
    case VT_I4: return L"i4:" + std::to_wstring(value.lVal);
    case VT_R8: return L"r8:" + std::to_wstring(value.dblVal);
    case VT_BOOL: return L"bool:" + std::to_wstring(value.boolVal);
    case VT_DISPATCH: return L"dispatch";
    case VT_ERROR: return L"error:" + HexDigits(static_cast<unsigned long>(value.scode), 8);
    case VT_BSTR: {
        const UINT length = SysStringLen(value.bstrVal);
        std::wstring text = L"bstr(" + std::to_wstring(length) + L"):";
        for (UINT index = 0; index < length && index < 32; ++index) {
            const wchar_t c = value.bstrVal[index];
            if (c < 0x20 || c == 0x7F) {
                text += L"\\u" + HexDigits(c, 4);
            } else {
                text += c;
            }
        }
        return text;
    }
    default: return L"vt" + std::to_wstring(value.vt);
    }
}

void NotifyIfIdle()
{
    if (g_objects.load() != 0 || g_locks.load() != 0) return;
    if (auto callback = g_lastObjectGone.load()) callback();
}

class Counted;

// Every live object, so that the objects of a client whose process ended can be found, and the
// client processes being watched (opened when LoadSurrogate names them, while they surely live,
// so that a reused process id cannot stand in for them later).
std::mutex g_registryMutex;
std::vector<Counted*> g_live;
std::map<DWORD, Fundor::ScopedHandle> g_clients;

// Reference counting shared by the stand-in objects; counts the live objects for the server and
// remembers which client process (0: not known) the object was made for.
class Counted {
public:
    Counted()
    {
        {
            std::lock_guard<std::mutex> guard(g_registryMutex);
            g_live.push_back(this);
        }
        ++g_objects;
        ++g_made;
    }
    virtual ~Counted()
    {
        {
            std::lock_guard<std::mutex> guard(g_registryMutex);
            std::erase(g_live, this);
        }
        if (--g_objects == 0) NotifyIfIdle();
    }
    ULONG AddRefCount() { return static_cast<ULONG>(InterlockedIncrement(&m_references)); }
    ULONG ReleaseCount()
    {
        const LONG remaining = InterlockedDecrement(&m_references);
        if (remaining == 0) delete this;
        return static_cast<ULONG>(remaining);
    }
    // A reference for someone who found the object in the registry, unless it is already on its
    // way out (its count reached zero and its destructor waits for the registry).
    bool TryAddRef()
    {
        LONG current = m_references;
        while (current > 0) {
            const LONG seen = InterlockedCompareExchange(&m_references, current + 1, current);
            if (seen == current) return true;
            current = seen;
        }
        return false;
    }
    virtual IUnknown* Identity() = 0;
    void SetClient(DWORD processId) { m_client.store(processId); }
    [[nodiscard]] DWORD Client() const { return m_client.load(); }

private:
    LONG m_references = 1;
    std::atomic<DWORD> m_client{0};
};

// Starts watching a client process. Our own process (the unit tests serve the objects in the
// process that uses them) and a process that cannot be opened are not watched: their objects
// follow the plain reference counts.
void WatchClient(DWORD processId)
{
    if (processId == 0 || processId == GetCurrentProcessId()) return;
    std::lock_guard<std::mutex> guard(g_registryMutex);
    if (g_clients.count(processId) != 0) return;
    Fundor::ScopedHandle process(OpenProcess(SYNCHRONIZE, FALSE, processId));
    if (process) g_clients.emplace(processId, std::move(process));
}

#define STANDIN_REFCOUNT                                                  \
    ULONG STDMETHODCALLTYPE AddRef() override { return AddRefCount(); }   \
    ULONG STDMETHODCALLTYPE Release() override { return ReleaseCount(); } \
    IUnknown* Identity() override { return this; }

// Hand-written dispatch with no type information.
#define STANDIN_NO_TYPEINFO                                                                   \
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override                          \
    {                                                                                         \
        if (count == nullptr) return E_POINTER;                                               \
        *count = 0;                                                                           \
        return S_OK;                                                                          \
    }                                                                                         \
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override              \
    {                                                                                         \
        if (info != nullptr) *info = nullptr;                                                 \
        return DISP_E_BADINDEX;                                                               \
    }

// A provider handed out as IDispatch: property "Name" (DISPID 1) tells which class it is and in
// which process it lives.
struct IStandInProvider : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) = 0;
};

class Provider final : public IStandInProvider, private Counted {
public:
    Provider(REFIID iid, const wchar_t* name) : m_iid(iid), m_name(name) {}
    STANDIN_REFCOUNT
    STANDIN_NO_TYPEINFO
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != m_iid) return E_NOINTERFACE;
        *object = static_cast<IStandInProvider*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (names == nullptr || ids == nullptr || count != 1) return DISP_E_UNKNOWNNAME;
        if (CompareStringOrdinal(names[0], -1, L"Name", -1, TRUE) != CSTR_EQUAL) return DISP_E_UNKNOWNNAME;
        ids[0] = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                                     EXCEPINFO*, UINT*) override
    {
        if (id != 1 || (flags & DISPATCH_PROPERTYGET) == 0) return DISP_E_MEMBERNOTFOUND;
        if (result == nullptr) return E_POINTER;
        VariantInit(result);
        result->vt = VT_BSTR;
        return get_Name(&result->bstrVal);
    }
    HRESULT STDMETHODCALLTYPE get_Name(BSTR* name) override
    {
        if (name == nullptr) return E_POINTER;
        const std::wstring text = m_name + L" " + std::to_wstring(GetCurrentProcessId());
        *name = SysAllocString(text.c_str());
        return *name != nullptr ? S_OK : E_OUTOFMEMORY;
    }

private:
    IID m_iid;
    std::wstring m_name;
};

class SessionProvider final : public IKvSMProvider, private Counted {
public:
    STANDIN_REFCOUNT
    STANDIN_NO_TYPEINFO
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IKvSMProvider) return E_NOINTERFACE;
        *object = static_cast<IKvSMProvider*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return DISP_E_MEMBERNOTFOUND;
    }
    // "property <n> <process id>"
    HRESULT STDMETHODCALLTYPE GetProperty(long number, VARIANT* value) override
    {
        Record(L"provider GetProperty " + std::to_wstring(number));
        if (value == nullptr) return E_POINTER;
        VariantClear(value);
        const std::wstring text = L"property " + std::to_wstring(number) + L" " + std::to_wstring(GetCurrentProcessId());
        value->bstrVal = SysAllocString(text.c_str());
        if (value->bstrVal == nullptr) return E_OUTOFMEMORY;
        value->vt = VT_BSTR;
        return S_OK;
    }
};

class Uninstaller final : public IKvUninstaller5, private Counted {
public:
    STANDIN_REFCOUNT
    STANDIN_NO_TYPEINFO
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch && iid != IID_IKvUninstaller && iid != IID_IKvUninstaller2 &&
            iid != IID_IKvUninstaller3 && iid != IID_IKvUninstaller4 && iid != IID_IKvUninstaller5) {
            return E_NOINTERFACE;
        }
        *object = static_cast<IKvUninstaller5*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return DISP_E_MEMBERNOTFOUND;
    }

    // Each call is recorded, the forwarded slots' calls with their arguments (see Called); a
    // VARIANT out gets "<method> <process id>".
    HRESULT STDMETHODCALLTYPE Method07(VARIANT first, VARIANT second) override
    {
        return Called(L"Method07", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method08(VARIANT first, VARIANT second) override
    {
        return Called(L"Method08", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method09(VARIANT argument, VARIANT* value) override
    {
        VARIANT none;
        VariantInit(&none);
        const HRESULT hr = Called(L"Method09", argument, none);
        return SUCCEEDED(hr) ? Answer(value, L"Method09") : hr;
    }
    HRESULT STDMETHODCALLTYPE GetSimulateString(VARIANT first, VARIANT second, VARIANT* simulate) override
    {
        const HRESULT hr = Called(L"GetSimulateString", first, second);
        return SUCCEEDED(hr) ? Answer(simulate, L"GetSimulateString") : hr;
    }
    HRESULT STDMETHODCALLTYPE Method11(VARIANT first, VARIANT second) override
    {
        return Called(L"Method11", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method12(VARIANT first, VARIANT second) override
    {
        return Called(L"Method12", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method13(VARIANT first, VARIANT second) override
    {
        return Called(L"Method13", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method14(VARIANT first, VARIANT second) override
    {
        return Called(L"Method14", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method15(VARIANT first, VARIANT second) override
    {
        return Called(L"Method15", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method16(VARIANT first, VARIANT second) override
    {
        return Called(L"Method16", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method17(VARIANT first, VARIANT second) override
    {
        return Called(L"Method17", first, second);
    }
    HRESULT STDMETHODCALLTYPE GetSurveyData(VARIANT* data) override
    {
        Record(L"uninstaller GetSurveyData");
        return Answer(data, L"GetSurveyData");
    }
    HRESULT STDMETHODCALLTYPE Method19(VARIANT first, VARIANT second) override
    {
        return Called(L"Method19", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method20(VARIANT first, VARIANT second) override
    {
        return Called(L"Method20", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method21(VARIANT first, VARIANT second) override
    {
        return Called(L"Method21", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method22(VARIANT first, VARIANT second) override
    {
        return Called(L"Method22", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method23(VARIANT first, VARIANT second) override
    {
        return Called(L"Method23", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method24(VARIANT first, VARIANT second) override
    {
        return Called(L"Method24", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method25(VARIANT first, VARIANT second) override
    {
        return Called(L"Method25", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method26(VARIANT first, VARIANT second) override
    {
        return Called(L"Method26", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method27(VARIANT first, VARIANT second) override
    {
        return Called(L"Method27", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method28(VARIANT first, VARIANT second) override
    {
        return Called(L"Method28", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method29(VARIANT first, VARIANT second) override
    {
        return Called(L"Method29", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method30(VARIANT first, VARIANT second) override
    {
        return Called(L"Method30", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method31(VARIANT first, VARIANT second) override
    {
        return Called(L"Method31", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method32(VARIANT first, VARIANT second) override
    {
        return Called(L"Method32", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method33(VARIANT first, VARIANT second) override
    {
        return Called(L"Method33", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method34(VARIANT first, VARIANT second) override
    {
        return Called(L"Method34", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method35(VARIANT first, VARIANT second) override
    {
        return Called(L"Method35", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method36(VARIANT first, VARIANT second) override
    {
        return Called(L"Method36", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method37(VARIANT first, VARIANT second) override
    {
        return Called(L"Method37", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method38(VARIANT first, VARIANT second) override
    {
        return Called(L"Method38", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method39(VARIANT first, VARIANT second) override
    {
        return Called(L"Method39", first, second);
    }
    HRESULT STDMETHODCALLTYPE GetLaunchData(VARIANT* data) override
    {
        Record(L"uninstaller GetLaunchData");
        return Answer(data, L"GetLaunchData");
    }
    HRESULT STDMETHODCALLTYPE Method41(VARIANT first, VARIANT second) override
    {
        return Called(L"Method41", first, second);
    }
    HRESULT STDMETHODCALLTYPE Method42() override
    {
        Record(L"uninstaller Method42");
        return S_OK;
    }

private:
    // Records "uninstaller <method>" and "arguments <method> <first> <second>". A first argument
    // "throw:bad_alloc", "throw:exception" or "throw:other" then throws that kind of exception,
    // only for tests that hold the uninstaller in their own process, to drive the caller's COM
    // boundary (across processes the exception would end the stand-in's own process).
    static HRESULT Called(const wchar_t* method, const VARIANT& first, const VARIANT& second)
    {
        Record(std::wstring(L"uninstaller ") + method);
        Record(std::wstring(L"arguments ") + method + L" " + ArgumentText(first) + L" " +
               ArgumentText(second));
        if (first.vt == VT_BSTR && first.bstrVal != nullptr) {
            const std::wstring text(first.bstrVal, SysStringLen(first.bstrVal));
            if (text == L"throw:bad_alloc") throw std::bad_alloc();
            if (text == L"throw:exception") throw std::runtime_error("stand-in uninstaller");
            if (text == L"throw:other") throw 42;
        }
        return S_OK;
    }
    static HRESULT Answer(VARIANT* value, const wchar_t* method)
    {
        if (value == nullptr) return E_POINTER;
        VariantClear(value);
        const std::wstring text = std::wstring(method) + L" " + std::to_wstring(GetCurrentProcessId());
        value->bstrVal = SysAllocString(text.c_str());
        if (value->bstrVal == nullptr) return E_OUTOFMEMORY;
        value->vt = VT_BSTR;
        return S_OK;
    }
};

HRESULT MakeObject(REFCLSID clsid, REFIID iid, DWORD client, void** object) noexcept;

// The loader handed to one client; what it creates belongs to that client too.
class Surrogate final : public IKvSurrogate, private Counted {
public:
    explicit Surrogate(DWORD client) { SetClient(client); }
    STANDIN_REFCOUNT
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IKvSurrogate) return E_NOINTERFACE;
        *object = static_cast<IKvSurrogate*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateObject(const CLSID* clsid, const IID* iid, IUnknown** object) override
    {
        if (clsid == nullptr || iid == nullptr || object == nullptr) return E_POINTER;
        Record(L"surrogate CreateObject " + GuidText(*clsid) + L" " + GuidText(*iid));
        return MakeObject(*clsid, *iid, Client(), reinterpret_cast<void**>(object));
    }
};

class Helper final : public IKvSurrogateHelper, private Counted {
public:
    // Its end is recorded: a client that keeps a reference it was never given back shows here.
    ~Helper() override { Record(L"helper released"); }
    STANDIN_REFCOUNT
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IKvSurrogateHelper) return E_NOINTERFACE;
        *object = static_cast<IKvSurrogateHelper*>(this);
        AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LoadSurrogate(DWORD processId, IUnknown** loader) override
    {
        Record(L"helper LoadSurrogate " + std::to_wstring(processId));
        if (loader == nullptr) return E_POINTER;
        *loader = nullptr;
        try {
            WatchClient(processId);
            SetClient(processId);
            *loader = new Surrogate(processId);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
};

class ClassObject final : public IKvClassObject, public IClassFactory {
public:
    explicit ClassObject(REFCLSID clsid) : m_clsid(clsid) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IKvClassObject || iid == IID_IKvClassObject2) {
            *object = static_cast<IKvClassObject*>(this);
        } else if (iid == IID_IClassFactory) {
            *object = static_cast<IClassFactory*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_references)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG remaining = InterlockedDecrement(&m_references);
        if (remaining == 0) delete this;
        return static_cast<ULONG>(remaining);
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(REFIID iid, void** object) override
    {
        return CreateStandInObject(m_clsid, iid, object);
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (object != nullptr) *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        return CreateStandInObject(m_clsid, iid, object);
    }
    // Locks keep the server up like objects do; an unlock without a lock is refused.
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        if (lock) {
            ++g_locks;
            return S_OK;
        }
        LONG current = g_locks.load();
        do {
            if (current == 0) return E_UNEXPECTED;
        } while (!g_locks.compare_exchange_weak(current, current - 1));
        if (current == 1) NotifyIfIdle();
        return S_OK;
    }

private:
    CLSID m_clsid;
    LONG m_references = 1;
};

struct NamedProvider {
    const KvProviderClass* type;
    const wchar_t* name;
};

constexpr NamedProvider kProviders[] = {
    {&kKvDspDatabaseMgr, L"IKvDspDatabaseMgr"}, {&kKvDspSystemInfo, L"IKvDspSystemInfo"},
    {&kKvDspRegistry, L"IKvDspRegistry"},       {&kKvDspFileSystem, L"IKvDspFileSystem"},
    {&kKvQrnHelper, L"IKvQrnHelper"},           {&kKvQrnHelperInQrn, L"IKvQrnHelper(InQrn)"},
    {&kManageOem, L"IManageOem"},               {&kAnalyticsShim, L"IAnalyticsShim"},
};

}  // namespace

namespace {

HRESULT MakeObject(REFCLSID clsid, REFIID iid, DWORD client, void** object) noexcept
{
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    IUnknown* created = nullptr;
    try {
        if (clsid == CLSID_KvSurrogateHelper) {
            created = static_cast<IKvSurrogateHelper*>(new Helper());
        } else if (clsid == kKvSMProvider.clsid) {
            created = static_cast<IKvSMProvider*>(new SessionProvider());
        } else if (clsid == CLSID_KvUninstaller) {
            created = static_cast<IKvUninstaller5*>(new Uninstaller());
        } else {
            for (const NamedProvider& provider : kProviders) {
                if (provider.type->clsid == clsid) {
                    created = static_cast<IStandInProvider*>(new Provider(provider.type->iid, provider.name));
                }
            }
        }
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    if (created == nullptr) return REGDB_E_CLASSNOTREG;
    if (client != 0) {
        std::lock_guard<std::mutex> guard(g_registryMutex);
        for (Counted* live : g_live) {
            if (live->Identity() == created) live->SetClient(client);
        }
    }
    RecordStandInCall((L"create " + GuidText(clsid)).c_str());
    const HRESULT hr = created->QueryInterface(iid, object);
    created->Release();
    return hr;
}

}  // namespace

HRESULT CreateStandInObject(REFCLSID clsid, REFIID iid, void** object) noexcept
{
    return MakeObject(clsid, iid, 0, object);
}

HRESULT CreateStandInClassObject(REFCLSID clsid, IUnknown** classObject) noexcept
{
    if (classObject == nullptr) return E_POINTER;
    *classObject = static_cast<IKvClassObject*>(new (std::nothrow) ClassObject(clsid));
    return *classObject != nullptr ? S_OK : E_OUTOFMEMORY;
}

LONG StandInObjectCount() noexcept
{
    return g_objects.load();
}

LONG StandInLockCount() noexcept
{
    return g_locks.load();
}

LONG StandInObjectsMade() noexcept
{
    return g_made.load();
}

LONG DisconnectEndedStandInClients() noexcept
{
    std::vector<DWORD> ended;
    std::vector<IUnknown*> owned;
    try {
        std::lock_guard<std::mutex> guard(g_registryMutex);
        for (auto client = g_clients.begin(); client != g_clients.end();) {
            if (WaitForSingleObject(client->second.get(), 0) == WAIT_OBJECT_0) {
                ended.push_back(client->first);
                client = g_clients.erase(client);
            } else {
                ++client;
            }
        }
        for (Counted* live : g_live) {
            if (std::find(ended.begin(), ended.end(), live->Client()) != ended.end() && live->TryAddRef()) {
                owned.push_back(live->Identity());
            }
        }
    } catch (...) {
        // Out of memory: what was gathered is handled now, the rest on a later call.
    }
    for (DWORD client : ended) Record(L"client " + std::to_wstring(client) + L" ended");
    for (IUnknown* object : owned) {
        // Drops every reference the platform's stubs hold for the object, as a rundown would.
        (void)CoDisconnectObject(object, 0);
        object->Release();
    }
    return static_cast<LONG>(ended.size());
}

void SetStandInLastObjectGone(void (*callback)()) noexcept
{
    g_lastObjectGone.store(callback);
}

void RecordStandInCall(const wchar_t* text) noexcept
{
    wchar_t path[MAX_PATH + 8] = {};
    const DWORD length = GetEnvironmentVariableW(L"ORDWELL_SURROGATE_LOG", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        const DWORD module = GetModuleFileNameW(nullptr, path, MAX_PATH);
        if (module == 0 || module >= MAX_PATH) return;
        wcscat_s(path, std::size(path), L".log");
    }
    const HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    const std::wstring line = std::to_wstring(GetCurrentProcessId()) + L" " + text + L"\n";
    // UTF-8 lines: the tests read them back as they stand.
    char buffer[1024] = {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), buffer,
                                          sizeof(buffer), nullptr, nullptr);
    DWORD written = 0;
    if (bytes > 0) WriteFile(file, buffer, static_cast<DWORD>(bytes), &written, nullptr);
    CloseHandle(file);
}
