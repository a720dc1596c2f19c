#pragma once
// The maker's UI-configuration component as the shell drives it. Shared by CAgentUICfg and the
// library that stands in for the component.
//
// The loader opens a configuration file and hands out its document; the document selects one
// element by an XPath expression and returns that element's attributes as the platform XML DOM's
// attribute map.

#include <windows.h>
#include <msxml2.h>
#include <unknwn.h>

// {2CF7C0ED-0BC8-4CA5-AB2E-798E15D6EDDB}
inline constexpr CLSID CLSID_KvUiCfg = {
    0x2cf7c0ed, 0x0bc8, 0x4ca5, {0xab, 0x2e, 0x79, 0x8e, 0x15, 0xd6, 0xed, 0xdb}};
// {9EFCE8D1-F3E0-460E-B301-0C08C95C1843}
inline constexpr IID IID_IKvUiCfgLoader = {
    0x9efce8d1, 0xf3e0, 0x460e, {0xb3, 0x01, 0x0c, 0x08, 0xc9, 0x5c, 0x18, 0x43}};

// The loaded document. Slot 3 is an operation the shell never calls.
struct IKvUiCfgDocument : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved() = 0;
    // S_OK with *attributes set (the caller releases it) when the expression selects an element;
    // S_FALSE with null when it selects none; a failure code for an expression that is not valid
    // XPath. *attributes is null on every result but S_OK.
    virtual HRESULT STDMETHODCALLTYPE Select(const wchar_t* expression, IXMLDOMNamedNodeMap** attributes) = 0;
};

struct IKvUiCfgLoader : IUnknown {
    // Loads the file. A negative result means that it was not loaded (*document null); otherwise
    // *document holds a new reference.
    virtual HRESULT STDMETHODCALLTYPE Open(const wchar_t* path, IKvUiCfgDocument** document) = 0;
};
