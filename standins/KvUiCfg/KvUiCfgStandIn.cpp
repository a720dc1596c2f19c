// Stand-in for the maker's UI-configuration component "KvUiCfg.dll".
//
// The loader opens a configuration file with the platform's XML DOM (DOMDocument60, else
// DOMDocument30 switched to XPath selection: in the older default selection language an
// expression that is not valid XPath can crash the parser); the document selects one element
// by XPath and hands out its attribute map. Each class-object request, open and select appends
// one line to the file named by the environment variable "KVUICFG_STANDIN_LOG" (no log when it
// is unset); the open line names this DLL's own path so that a test can tell which copy served.

#include "shell/config/KvUiCfgInterfaces.h"

#include <windows.h>
#include <msxml2.h>
#include <wrl/client.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <new>

using Microsoft::WRL::ComPtr;

namespace {

// {88D96A05-F192-11D4-A65F-0040963251E5}
constexpr CLSID kDomDocument60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};
// {F5078F32-C551-11D3-89B9-0000F81FE221}
constexpr CLSID kDomDocument30 = {0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};

// {2933BF95-7B36-11D2-B20E-00C04F983E60}
constexpr IID kIXMLDOMDocument2 = {0x2933bf95, 0x7b36, 0x11d2, {0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60}};

HMODULE g_module = nullptr;
std::atomic<long> g_objects{0};
SRWLOCK g_recordLock = SRWLOCK_INIT;

// Appends one line (UTF-8) to the log; keeps the caller's last error.
void Record(const wchar_t* format, ...)
{
    const DWORD savedError = ::GetLastError();
    wchar_t logPath[MAX_PATH];
    const DWORD pathLength = ::GetEnvironmentVariableW(L"KVUICFG_STANDIN_LOG", logPath, MAX_PATH);
    if (pathLength != 0 && pathLength < MAX_PATH) {
        wchar_t line[2048];
        va_list args;
        va_start(args, format);
        const int length = ::_vsnwprintf_s(line, 2048, _TRUNCATE, format, args);
        va_end(args);
        char text[6200];
        int bytes = ::WideCharToMultiByte(CP_UTF8, 0, line, length < 0 ? 2047 : length, text,
                                          static_cast<int>(sizeof text) - 1, nullptr, nullptr);
        if (bytes >= 0) {
            text[bytes++] = '\n';
            ::AcquireSRWLockExclusive(&g_recordLock);
            const HANDLE file = ::CreateFileW(logPath, FILE_APPEND_DATA,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                DWORD written = 0;
                (void)::WriteFile(file, text, static_cast<DWORD>(bytes), &written, nullptr);
                ::CloseHandle(file);
            }
            ::ReleaseSRWLockExclusive(&g_recordLock);
        }
    }
    ::SetLastError(savedError);
}

// Reference counting shared by the three classes; each live object keeps the DLL loaded.
template <typename Interface>
class Counted : public Interface {
public:
    Counted() { ++g_objects; }
    virtual ~Counted() { --g_objects; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) {
            return E_POINTER;
        }
        if (iid == IID_IUnknown || iid == InterfaceId()) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_references); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const long left = --m_references;
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

protected:
    virtual REFIID InterfaceId() const = 0;

private:
    std::atomic<long> m_references{1};
};

class Document final : public Counted<IKvUiCfgDocument> {
public:
    explicit Document(ComPtr<IXMLDOMDocument2> dom) : m_dom(std::move(dom)) {}

    HRESULT STDMETHODCALLTYPE Reserved() override { return E_NOTIMPL; }

    HRESULT STDMETHODCALLTYPE Select(const wchar_t* expression, IXMLDOMNamedNodeMap** attributes) override
    {
        if (attributes == nullptr) {
            return E_POINTER;
        }
        *attributes = nullptr;
        if (expression == nullptr) {
            return E_INVALIDARG;
        }
        BSTR query = ::SysAllocString(expression);
        if (query == nullptr) {
            return E_OUTOFMEMORY;
        }
        ComPtr<IXMLDOMNode> node;
        HRESULT result = m_dom->selectSingleNode(query, node.GetAddressOf());
        ::SysFreeString(query);
        if (result == S_OK && node) {
            result = node->get_attributes(attributes);
            if (result == S_OK && *attributes == nullptr) {
                result = S_FALSE;
            }
        } else if (SUCCEEDED(result)) {
            result = S_FALSE;
        }
        if (result != S_OK && *attributes != nullptr) {
            (*attributes)->Release();
            *attributes = nullptr;
        }
        Record(L"select %ls -> 0x%08lx", expression, static_cast<unsigned long>(result));
        return result;
    }

protected:
    REFIID InterfaceId() const override { return IID_IUnknown; }

private:
    ComPtr<IXMLDOMDocument2> m_dom;
};

HRESULT CreateDom(ComPtr<IXMLDOMDocument2>& dom)
{
    HRESULT result = ::CoCreateInstance(kDomDocument60, nullptr, CLSCTX_INPROC_SERVER, kIXMLDOMDocument2,
                                        reinterpret_cast<void**>(dom.GetAddressOf()));
    if (FAILED(result)) {
        result = ::CoCreateInstance(kDomDocument30, nullptr, CLSCTX_INPROC_SERVER, kIXMLDOMDocument2,
                                    reinterpret_cast<void**>(dom.ReleaseAndGetAddressOf()));
    }
    if (FAILED(result)) {
        return result;
    }
    VARIANT language;
    ::VariantInit(&language);
    language.vt = VT_BSTR;
    language.bstrVal = ::SysAllocString(L"XPath");
    BSTR name = ::SysAllocString(L"SelectionLanguage");
    result = (language.bstrVal != nullptr && name != nullptr) ? dom->setProperty(name, language) : E_OUTOFMEMORY;
    ::SysFreeString(name);
    ::VariantClear(&language);
    if (SUCCEEDED(result)) {
        result = dom->put_async(VARIANT_FALSE);
    }
    return result;
}

class Loader final : public Counted<IKvUiCfgLoader> {
public:
    HRESULT STDMETHODCALLTYPE Open(const wchar_t* path, IKvUiCfgDocument** document) override
    {
        if (document == nullptr) {
            return E_POINTER;
        }
        *document = nullptr;
        wchar_t self[MAX_PATH] = {};
        (void)::GetModuleFileNameW(g_module, self, MAX_PATH);
        HRESULT result = path == nullptr ? E_INVALIDARG : S_OK;
        ComPtr<IXMLDOMDocument2> dom;
        if (SUCCEEDED(result)) {
            result = CreateDom(dom);
        }
        if (SUCCEEDED(result)) {
            VARIANT source;
            ::VariantInit(&source);
            source.vt = VT_BSTR;
            source.bstrVal = ::SysAllocString(path);
            VARIANT_BOOL loaded = VARIANT_FALSE;
            result = source.bstrVal != nullptr ? dom->load(source, &loaded) : E_OUTOFMEMORY;
            ::VariantClear(&source);
            if (SUCCEEDED(result) && loaded != VARIANT_TRUE) {
                result = E_FAIL;  // missing file or not well-formed
            }
        }
        if (SUCCEEDED(result)) {
            auto* opened = new (std::nothrow) Document(dom);
            if (opened == nullptr) {
                result = E_OUTOFMEMORY;
            } else {
                *document = opened;
                result = S_OK;
            }
        }
        Record(L"open %ls by %ls -> 0x%08lx", path != nullptr ? path : L"(null)", self,
               static_cast<unsigned long>(result));
        return result;
    }

protected:
    REFIID InterfaceId() const override { return IID_IKvUiCfgLoader; }
};

class Factory final : public Counted<IClassFactory> {
public:
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override
    {
        if (object == nullptr) {
            return E_POINTER;
        }
        *object = nullptr;
        if (outer != nullptr) {
            return CLASS_E_NOAGGREGATION;
        }
        auto* loader = new (std::nothrow) Loader();
        if (loader == nullptr) {
            return E_OUTOFMEMORY;
        }
        const HRESULT result = loader->QueryInterface(iid, object);
        loader->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override
    {
        lock ? ++g_objects : --g_objects;
        return S_OK;
    }

protected:
    REFIID InterfaceId() const override { return IID_IClassFactory; }
};

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = instance;
        ::DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}

HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    Record(L"DllGetClassObject");
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (clsid != CLSID_KvUiCfg) {
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    auto* factory = new (std::nothrow) Factory();
    if (factory == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT result = factory->QueryInterface(iid, object);
    factory->Release();
    return result;
}

HRESULT WINAPI DllCanUnloadNow() { return g_objects.load() == 0 ? S_OK : S_FALSE; }

}  // extern "C"
