#pragma once
// Runs a page's script blocks in the platform's JScript engine. Every page object handed to the
// browser object is a named item, so scripts call it by name through IDispatch. The engine also
// sees "document" (write, writeln, log), whose members are globals too: write(), log().
//
// Apartment-threaded: create, run, read and close on the one thread that initialised COM.

#include "standins/KvBrwsr2/HtmlPage.h"

#include <activscp.h>
#include <wrl/client.h>

#include <functional>
#include <map>
#include <string>

namespace KvBrwsr2 {

using PageObjects = std::map<std::wstring, Microsoft::WRL::ComPtr<IDispatch>>;
// Receives what the page writes or logs.
using PageOutputSink = std::function<void(const std::wstring& text)>;

class ScriptSite;

// A value as a page shows it ("true"/"false" for booleans); empty when it has no text form.
[[nodiscard]] std::wstring VariantText(const VARIANT& value);

class PageScript {
public:
    PageScript(unsigned long objectId, PageOutputSink output);
    ~PageScript();
    PageScript(const PageScript&) = delete;
    PageScript& operator=(const PageScript&) = delete;

    // Starts an engine that knows the given objects. Returns its HRESULT; logged by the caller.
    [[nodiscard]] HRESULT Start(const PageObjects& objects);
    // Makes one more object known to the running page.
    [[nodiscard]] HRESULT AddObject(const std::wstring& name, IDispatch* object);
    // Runs the blocks in order; each result and error is recorded. A failed block does not stop
    // the later ones (as in a browser).
    void Run(const std::vector<ScriptBlock>& blocks);
    // Reads a global variable of the page; value is cleared first.
    [[nodiscard]] HRESULT ReadGlobal(const std::wstring& name, VARIANT* value);
    void Close() noexcept;

private:
    const unsigned long m_objectId;
    PageOutputSink m_output;
    Microsoft::WRL::ComPtr<ScriptSite> m_site;
    Microsoft::WRL::ComPtr<IActiveScript> m_engine;
    Microsoft::WRL::ComPtr<IActiveScriptParse> m_parse;
};

}  // namespace KvBrwsr2
