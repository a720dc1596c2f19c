#include "standins/KvBrwsr2/PageScript.h"

#include "core/base/ScopedComValues.h"
#include "standins/KvBrwsr2/StandInLog.h"

#include <atomic>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace KvBrwsr2 {
namespace {

// {F414C260-6AC0-11CF-B6D1-00AA00BBBB58}
constexpr CLSID kClsidJScript = {0xf414c260, 0x6ac0, 0x11cf, {0xb6, 0xd1, 0x00, 0xaa, 0x00, 0xbb, 0xbb, 0x58}};
constexpr const wchar_t* kDocumentName = L"document";

}  // namespace

std::wstring VariantText(const VARIANT& value)
{
    if (V_VT(&value) == VT_BOOL) return V_BOOL(&value) != VARIANT_FALSE ? L"true" : L"false";
    VARIANT text;
    VariantInit(&text);
    std::wstring out;
    if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(&value), 0, VT_BSTR)) && V_BSTR(&text) != nullptr) {
        out.assign(V_BSTR(&text), SysStringLen(V_BSTR(&text)));
    }
    VariantClear(&text);
    return out;
}

namespace {

// The page's own "document": write and writeln add to the shown text and the record, log only
// to the record.
class PageDocument final : public IDispatch {
public:
    explicit PageDocument(PageOutputSink output) : m_output(std::move(output)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IDispatch) return E_NOINTERFACE;
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --m_references;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
        static const wchar_t* const kMembers[] = {L"write", L"writeln", L"log"};
        HRESULT result = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            for (DISPID member = 0; member < 3; ++member) {
                if (names[i] != nullptr && lstrcmpW(names[i], kMembers[member]) == 0) ids[i] = member + 1;
            }
            if (ids[i] == DISPID_UNKNOWN) result = DISP_E_UNKNOWNNAME;
        }
        return result;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* parameters, VARIANT* result,
                                     EXCEPINFO*, UINT*) override
    {
        if (id < 1 || id > 3) return DISP_E_MEMBERNOTFOUND;
        if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
        try {
            std::wstring text;
            // Arguments arrive last first.
            for (UINT i = parameters != nullptr ? parameters->cArgs : 0; i > 0; --i) {
                text += VariantText(parameters->rgvarg[i - 1]);
            }
            if (id == 2) text += L"\n";
            if (id == 3) {
                RecordLine(L"page_log text=" + text);
            } else {
                RecordLine(L"page_write text=" + text);
                m_output(text);
            }
            if (result != nullptr) VariantInit(result);
            return S_OK;
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

private:
    std::atomic<ULONG> m_references{1};
    PageOutputSink m_output;
};

}  // namespace

class ScriptSite final : public IActiveScriptSite {
public:
    ScriptSite(unsigned long objectId, PageObjects objects, IDispatch* document)
        : m_objectId(objectId), m_objects(std::move(objects)), m_document(document)
    {
    }

    void AddObject(const std::wstring& name, IDispatch* object) { m_objects[name] = object; }
    void SetBlock(unsigned long block) { m_block = block; }
    void Forget() noexcept
    {
        m_objects.clear();
        m_document.Reset();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown && iid != IID_IActiveScriptSite) return E_NOINTERFACE;
        *object = static_cast<IActiveScriptSite*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --m_references;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetLCID(LCID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item, ITypeInfo** typeInfo) override
    {
        if (item != nullptr) *item = nullptr;
        if (typeInfo != nullptr) *typeInfo = nullptr;
        if (name == nullptr) return E_INVALIDARG;
        if ((mask & SCRIPTINFO_ITYPEINFO) != 0) return TYPE_E_ELEMENTNOTFOUND;
        if ((mask & SCRIPTINFO_IUNKNOWN) == 0 || item == nullptr) return E_INVALIDARG;
        IDispatch* found = nullptr;
        if (lstrcmpW(name, kDocumentName) == 0) {
            found = m_document.Get();
        } else if (const auto entry = m_objects.find(name); entry != m_objects.end()) {
            found = entry->second.Get();
        }
        if (found == nullptr) return TYPE_E_ELEMENTNOTFOUND;
        found->AddRef();
        *item = found;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDocVersionString(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnStateChange(SCRIPTSTATE) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnScriptError(IActiveScriptError* error) override
    {
        if (error == nullptr) return E_POINTER;
        try {
            EXCEPINFO exception = {};
            const HRESULT infoResult = error->GetExceptionInfo(&exception);
            if (SUCCEEDED(infoResult) && exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
            DWORD context = 0;
            ULONG line = 0;
            LONG column = 0;
            const HRESULT positionResult = error->GetSourcePosition(&context, &line, &column);
            const unsigned long code = static_cast<unsigned long>(exception.scode != 0 ? exception.scode : exception.wCode);
            std::wstring description = exception.bstrDescription != nullptr ? exception.bstrDescription : L"";
            SysFreeString(exception.bstrDescription);
            SysFreeString(exception.bstrSource);
            SysFreeString(exception.bstrHelpFile);
            // Lines and columns are given 1-based and counted from the start of the page.
            RecordLine(L"obj=" + std::to_wstring(m_objectId) + L" script_error block=" + std::to_wstring(m_block) +
                       L" line=" + (SUCCEEDED(positionResult) ? std::to_wstring(line + 1) : L"0") +
                       L" column=" + (SUCCEEDED(positionResult) ? std::to_wstring(column + 1) : L"0") +
                       L" code=" + Hex32(code) + L" text=" + description);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEnterScript() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnLeaveScript() override { return S_OK; }

private:
    std::atomic<ULONG> m_references{1};
    const unsigned long m_objectId;
    PageObjects m_objects;
    ComPtr<IDispatch> m_document;
    unsigned long m_block = 0;
};

PageScript::PageScript(unsigned long objectId, PageOutputSink output) : m_objectId(objectId), m_output(std::move(output)) {}

PageScript::~PageScript() { Close(); }

HRESULT PageScript::Start(const PageObjects& objects)
{
    Close();
    // Both are made with their first reference.
    ComPtr<IDispatch> document = Fundor::AdoptComPtr<IDispatch>(new PageDocument(m_output));
    ComPtr<ScriptSite> site = Fundor::AdoptComPtr(new ScriptSite(m_objectId, objects, document.Get()));

    ComPtr<IActiveScript> engine;
    HRESULT result = CoCreateInstance(kClsidJScript, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript, &engine);
    if (FAILED(result)) return result;
    ComPtr<IActiveScriptParse> parse;
    result = engine->QueryInterface(__uuidof(IActiveScriptParse), &parse);
    if (SUCCEEDED(result)) result = engine->SetScriptSite(site.Get());
    if (SUCCEEDED(result)) result = parse->InitNew();
    if (SUCCEEDED(result)) result = engine->AddNamedItem(kDocumentName, SCRIPTITEM_ISVISIBLE | SCRIPTITEM_GLOBALMEMBERS);
    for (auto entry = objects.begin(); SUCCEEDED(result) && entry != objects.end(); ++entry) {
        result = engine->AddNamedItem(entry->first.c_str(), SCRIPTITEM_ISVISIBLE);
    }
    if (SUCCEEDED(result)) result = engine->SetScriptState(SCRIPTSTATE_CONNECTED);
    if (FAILED(result)) {
        parse.Reset();
        engine->Close();
        site->Forget();
        return result;
    }
    m_site = std::move(site);
    m_engine = std::move(engine);
    m_parse = std::move(parse);
    return S_OK;
}

HRESULT PageScript::AddObject(const std::wstring& name, IDispatch* object)
{
    if (!m_engine) return S_FALSE;
    m_site->AddObject(name, object);
    return m_engine->AddNamedItem(name.c_str(), SCRIPTITEM_ISVISIBLE);
}

void PageScript::Run(const std::vector<ScriptBlock>& blocks)
{
    if (!m_parse) return;
    for (unsigned long index = 0; index < blocks.size(); ++index) {
        m_site->SetBlock(index);
        EXCEPINFO exception = {};
        const HRESULT result = m_parse->ParseScriptText(blocks[index].code.c_str(), nullptr, nullptr, nullptr, index,
                                                        blocks[index].firstLine, 0, nullptr, &exception);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrHelpFile);
        RecordLine(L"obj=" + std::to_wstring(m_objectId) + L" script block=" + std::to_wstring(index) + L" result=" +
                   Hex32(static_cast<unsigned long>(result)));
    }
}

HRESULT PageScript::ReadGlobal(const std::wstring& name, VARIANT* value)
{
    if (value == nullptr) return E_POINTER;
    VariantInit(value);
    if (!m_engine) return E_UNEXPECTED;
    ComPtr<IDispatch> globals;
    HRESULT result = m_engine->GetScriptDispatch(nullptr, &globals);
    if (FAILED(result)) return result;
    if (!globals) return E_FAIL;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name.c_str())};
    DISPID id = DISPID_UNKNOWN;
    result = globals->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(result)) return result;
    DISPPARAMS none = {};
    return globals->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, value, nullptr, nullptr);
}

void PageScript::Close() noexcept
{
    // Close before the parser and the engine go; the site last, so that page objects are given
    // back even when the engine kept a reference to the site.
    if (m_engine) m_engine->Close();
    m_parse.Reset();
    m_engine.Reset();
    if (m_site) m_site->Forget();
    m_site.Reset();
}

}  // namespace KvBrwsr2
