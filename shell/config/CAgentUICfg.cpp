#include "shell/config/CAgentUICfg.h"

#include "core/Logging/Logging.h"
#include "core/base/ScopedComValues.h"
#include "core/base/StringFormat.h"
#include "core/loading/RtMui.h"
#include "shell/config/AsciiText.h"
#include "shell/config/LanguageTables.h"

#include <cwchar>
#include <cwctype>

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kLogFile[] = L"..\\include\\CAgentUICfg";
constexpr wchar_t kFallbackDll[] = L"KvUiCfg.dll";

wchar_t* Duplicate(const wchar_t* text) { return ::_wcsdup(text); }

bool IsEmpty(const wchar_t* text) { return text == nullptr || *text == L'\0'; }

// Signed decimal text: leading white space and a sign, up to the first non-digit; no digits
// give 0. Values beyond 32 bits saturate rather than wrap.
long long ParseNumber(const wchar_t* text)
{
    while (*text == L' ' || (*text >= L'\t' && *text <= L'\r')) {
        ++text;
    }
    bool negative = false;
    if (*text == L'+' || *text == L'-') {
        negative = *text == L'-';
        ++text;
    }
    long long value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        if (value < 0x100000000LL) {
            value = value * 10 + (*text - L'0');
        }
    }
    return negative ? -value : value;
}

// An attribute as a number; 0 with *value set, else the read's code.
DWORD ReadNumberAttribute(IXMLDOMNamedNodeMap* attributes, const wchar_t* name, long long* value)
{
    wchar_t* text = nullptr;
    const HRESULT result = CAgentUICfg::GetAttributeValue(attributes, name, &text);
    if (result != S_OK) {
        return static_cast<DWORD>(result);
    }
    *value = ParseNumber(text);
    ::CoTaskMemFree(text);
    return 0;
}

// A size must be positive: 0 or less would make an invisible window, so it counts as missing.
DWORD ReadSizeAttribute(IXMLDOMNamedNodeMap* attributes, const wchar_t* name, DWORD* size)
{
    long long value = 0;
    const DWORD code = ReadNumberAttribute(attributes, name, &value);
    if (code != 0) {
        return code;
    }
    if (value <= 0 || value > 0x7FFFFFFF) {
        return ERROR_INVALID_DATA;
    }
    *size = static_cast<DWORD>(value);
    return 0;
}

KvFontRecord* NewFontRecord()
{
    auto* font = static_cast<KvFontRecord*>(std::calloc(1, sizeof(KvFontRecord)));
    if (font != nullptr) {
        font->size = sizeof(KvFontRecord);
    }
    return font;
}

void DeleteFontRecord(KvFontRecord*& font)
{
    if (font != nullptr) {
        CAgentUICfg::FreeFontRecord(font);
        std::free(font);
        font = nullptr;
    }
}

// The fixed-width formats of this class: text that does not fit is refused, never cut.
bool FormatFits(wchar_t* buffer, DWORD capacity, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    const int written = Fundor::FormatWV(buffer, capacity, format, args);
    va_end(args);
    if (written < 0) {
        if (capacity != 0) {
            buffer[0] = L'\0';
        }
        return false;
    }
    return true;
}

DWORD BuildPath(const wchar_t* base, const wchar_t* name, const wchar_t* defaultTag, const wchar_t* languageTag,
                wchar_t* buffer, DWORD capacity)
{
    if (base == nullptr || buffer == nullptr || capacity == 0 || defaultTag == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    bool fits = false;
    if (languageTag != nullptr && name != nullptr) {
        fits = FormatFits(buffer, capacity, L"%s[%s and not(%s)]/%s/%s | %s/%s/%s", base, defaultTag, languageTag,
                          defaultTag, name, base, languageTag, name);
    } else if (languageTag != nullptr) {
        fits = FormatFits(buffer, capacity, L"%s[%s and not(%s)]/%s | %s/%s", base, defaultTag, languageTag,
                          defaultTag, base, languageTag);
    } else if (name != nullptr) {
        fits = FormatFits(buffer, capacity, L"%s/%s/%s", base, defaultTag, name);
    } else {
        fits = FormatFits(buffer, capacity, L"%s/%s", base, defaultTag);
    }
    return fits ? 0 : ERROR_INSUFFICIENT_BUFFER;
}

}  // namespace

CAgentUICfg::CAgentUICfg(KvScreenSizeSource screenSize)
    : m_screenSize(screenSize != nullptr ? screenSize : &SystemScreenSize)
{
}

CAgentUICfg::~CAgentUICfg() { Close(); }

KvScreenSize CAgentUICfg::SystemScreenSize()
{
    return {::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
}

DWORD CAgentUICfg::Load(const wchar_t* path, const wchar_t* defaultTag, DWORD /*flags*/)
{
    Close();
    if (path == nullptr || IsEmpty(defaultTag)) {
        return ERROR_INVALID_PARAMETER;
    }
    m_path.reset(Duplicate(path));
    if (!m_path) {
        return ERROR_OUTOFMEMORY;
    }
    m_defaultTag.reset(Duplicate(defaultTag));
    if (!m_defaultTag) {
        Close();
        return ERROR_OUTOFMEMORY;
    }

    // The UI language; a LANGID without a row leaves no tag and the default tag answers.
    wchar_t tag[260] = {};
    if (LangIdToLocaleName(Fundor::RtMuiGetMappedLocale(), tag, sizeof tag)) {
        for (wchar_t& c : tag) {
            if (c >= L'A' && c <= L'Z') {
                c = static_cast<wchar_t>(c - L'A' + L'a');
            }
        }
        m_uiTag.reset(Duplicate(tag));
        if (m_uiTag) {
            m_alternateTag.reset(Duplicate(m_uiTag.get()));
        }
    }

    const HRESULT initialized = ::CoInitialize(nullptr);
    if (FAILED(initialized) && initialized != RPC_E_CHANGED_MODE) {
        Close();
        return ERROR_ACCESS_DENIED;
    }
    m_comInitialized = SUCCEEDED(initialized) ? 1 : 0;

    DWORD code = ERROR_ACCESS_DENIED;
    ComPtr<IKvUiCfgLoader> loader;
    if (SUCCEEDED(::CoCreateInstance(CLSID_KvUiCfg, nullptr, CLSCTX_ALL, IID_IKvUiCfgLoader,
                                     reinterpret_cast<void**>(loader.GetAddressOf())))) {
        if (SUCCEEDED(_OpenWithLoader(loader.Get()))) {
            code = 0;
        }
    } else {
        code = _OpenThroughFallbackDll();
    }
    loader.Reset();
    if (code != 0) {
        Close();
    }
    return code;
}

HRESULT CAgentUICfg::_OpenWithLoader(IKvUiCfgLoader* loader)
{
    if (loader == nullptr) {
        return E_POINTER;
    }
    ComPtr<IKvUiCfgDocument> document;
    const HRESULT result = loader->Open(m_path.get(), document.GetAddressOf());
    if (FAILED(result)) {
        return result;
    }
    // A loader that reports success without a document has opened nothing usable.
    if (!document) {
        return E_FAIL;
    }
    m_document = std::move(document);
    return S_OK;
}

DWORD CAgentUICfg::_OpenThroughFallbackDll()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return ERROR_ACCESS_DENIED;
    }
    wchar_t* lastSlash = std::wcsrchr(path, L'\\');
    if (lastSlash == nullptr) {
        return ERROR_ACCESS_DENIED;
    }
    lastSlash[1] = L'\0';
    if (::wcscat_s(path, MAX_PATH, kFallbackDll) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    m_fallbackModule.reset(Fundor::RtMuiLoadLibrary(path));
    if (!m_fallbackModule) {
        return ERROR_ACCESS_DENIED;
    }
    // Through void*: the export's real type is not FARPROC's.
    m_getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(
        reinterpret_cast<void*>(::GetProcAddress(m_fallbackModule.get(), "DllGetClassObject")));
    if (m_getClassObject == nullptr) {
        return ERROR_ACCESS_DENIED;
    }
    ComPtr<IClassFactory> factory;
    if (FAILED(m_getClassObject(CLSID_KvUiCfg, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()))) ||
        !factory) {
        return ERROR_ACCESS_DENIED;
    }
    ComPtr<IKvUiCfgLoader> loader;
    if (FAILED(factory->CreateInstance(nullptr, IID_IKvUiCfgLoader, reinterpret_cast<void**>(loader.GetAddressOf())))) {
        return ERROR_ACCESS_DENIED;
    }
    return SUCCEEDED(_OpenWithLoader(loader.Get())) ? 0 : ERROR_ACCESS_DENIED;
}

void CAgentUICfg::Close()
{
    m_path.reset();
    m_defaultTag.reset();
    m_alternateTag.reset();
    m_uiTag.reset();
    m_document.Reset();
    m_fallbackModule.reset();
    m_getClassObject = nullptr;
    if (m_comInitialized != 0) {
        ::CoUninitialize();
        m_comInitialized = 0;
    }
}

HRESULT CAgentUICfg::GetAttributeValue(IXMLDOMNamedNodeMap* attributes, const wchar_t* name, wchar_t** value)
{
    if (attributes == nullptr || name == nullptr || value == nullptr) {
        return E_INVALIDARG;
    }
    *value = nullptr;
    long length = 0;
    HRESULT result = attributes->get_length(&length);
    if (result != S_OK) {
        return result;
    }
    if (length == 0) {
        return S_FALSE;
    }
    result = attributes->reset();
    if (result != S_OK) {
        return result;
    }
    for (;;) {
        ComPtr<IXMLDOMNode> item;
        result = attributes->nextNode(item.GetAddressOf());
        if (result != S_OK) {
            return result;
        }
        if (!item) {
            return S_FALSE;
        }
        Fundor::ScopedBstr itemName;
        result = item->get_nodeName(itemName.put());
        if (result != S_OK) {
            return result;
        }
        if (!itemName || !EqualIgnoringAsciiCase(itemName.get(), name)) {
            continue;
        }
        Fundor::ScopedVariant text;
        if (FAILED(item->get_nodeValue(text.put())) || text.type() != VT_BSTR) {
            return E_FAIL;
        }
        const wchar_t* source = text.get().bstrVal != nullptr ? text.get().bstrVal : L"";
        const std::size_t count = ::wcsnlen(source, kMaxAttributeLength);
        auto* copy = static_cast<wchar_t*>(::CoTaskMemAlloc((count + 1) * sizeof(wchar_t)));
        if (copy == nullptr) {
            return E_OUTOFMEMORY;
        }
        std::wmemcpy(copy, source, count);
        copy[count] = L'\0';
        *value = copy;
        return S_OK;
    }
}

DWORD CAgentUICfg::ReadFont(const wchar_t* expression, KvFontRecord* font)
{
    if (expression == nullptr || font == nullptr || font->faceName != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!m_document) {
        return ERROR_INVALID_HANDLE;
    }
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    const HRESULT selected = m_document->Select(expression, attributes.GetAddressOf());
    if (selected != S_OK) {
        return static_cast<DWORD>(selected);
    }
    if (!attributes) {
        return 0;
    }
    long long number = 0;
    DWORD code = ReadNumberAttribute(attributes.Get(), L"codepage", &number);
    if (code != 0) {
        return code;
    }
    font->codePage = static_cast<DWORD>(number);
    code = ReadNumberAttribute(attributes.Get(), L"point_size", &number);
    if (code != 0) {
        return code;
    }
    font->pointSize = static_cast<DWORD>(number);
    wchar_t* face = nullptr;
    code = static_cast<DWORD>(GetAttributeValue(attributes.Get(), L"face_name", &face));
    if (code != 0) {
        return code;
    }
    font->faceName = Duplicate(face);
    ::CoTaskMemFree(face);
    return font->faceName != nullptr ? 0 : ERROR_OUTOFMEMORY;
}

DWORD CAgentUICfg::ReadDimensions(const wchar_t* expression, DWORD* width, DWORD* height, DWORD* position)
{
    if (expression == nullptr || width == nullptr || height == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!m_document) {
        return ERROR_INVALID_HANDLE;
    }
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    DWORD code = static_cast<DWORD>(m_document->Select(expression, attributes.GetAddressOf()));
    if (code == 0 && attributes) {
        // Height belongs to width: one without the other leaves both as they were.
        DWORD newWidth = 0;
        code = ReadSizeAttribute(attributes.Get(), L"width", &newWidth);
        if (code == 0) {
            DWORD newHeight = 0;
            code = ReadSizeAttribute(attributes.Get(), L"height", &newHeight);
            if (code == 0) {
                *width = newWidth;
                *height = newHeight;
            }
        }
    }
    if (position != nullptr) {
        long long value = 0;
        code = ReadNumberAttribute(attributes.Get(), L"position", &value);
        if (code == 0) {
            *position = static_cast<DWORD>(value);
        }
    }
    return code;
}

DWORD CAgentUICfg::GetOrdwellFontAndDimInfo(const wchar_t* page, DWORD* width, DWORD* height, DWORD* position,
                                             KvFontRecord* font)
{
    if (page == nullptr || width == nullptr || height == nullptr || font == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return _GetShellFontAndDimInfo(L"sarn_ordwell", page, width, height, position, font);
}

DWORD CAgentUICfg::GetShellFontAndDimInfo(const wchar_t* page, DWORD* width, DWORD* height, KvFontRecord* font)
{
    if (page == nullptr || width == nullptr || height == nullptr || font == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    return _GetShellFontAndDimInfo(L"sarn_shell", page, width, height, nullptr, font);
}

DWORD CAgentUICfg::_GetShellFontAndDimInfo(const wchar_t* section, const wchar_t* page, DWORD* width,
                                           DWORD* height, DWORD* position, KvFontRecord* font)
{
    if (section == nullptr || page == nullptr || font == nullptr || font->faceName != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!m_document || !m_defaultTag) {
        return ERROR_INVALID_HANDLE;
    }
    const wchar_t* language = m_uiTag ? m_uiTag.get() : m_defaultTag.get();
    const wchar_t* fallback = m_defaultTag.get();

    const KvScreenSize screen = m_screenSize();
    if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelInformation)) {
        ETWLogging::LogMessage(ETWLogging::kLevelInformation, kLogFile, L"CAgentUICfg::_GetShellFontAndDimInfo", 408,
                               L"screen resolution:%dX%d", screen.cx, screen.cy);
    }
    const wchar_t* screenClass = (screen.cx < 1024 || screen.cy < 768) ? L"lores" : L"hires";

    // The page name comes from the command line: a path that does not fit is not looked up.
    wchar_t first[kPagePathCapacity];
    wchar_t second[kPagePathCapacity];
    const wchar_t* const format = L"*/%s/%s/%s/%s";
    const bool firstFits = FormatFits(first, kPagePathCapacity, format, section, language, screenClass, L"font");
    const bool secondFits = FormatFits(second, kPagePathCapacity, format, section, fallback, screenClass, L"font");
    DWORD code = firstFits ? ReadFont(first, font) : ERROR_INSUFFICIENT_BUFFER;
    if (code != 0) {
        code = secondFits ? ReadFont(second, font) : ERROR_INSUFFICIENT_BUFFER;
        if (code != 0) {
            return code;
        }
    }

    const bool firstPageFits = FormatFits(first, kPagePathCapacity, format, section, language, screenClass, page);
    const bool secondPageFits = FormatFits(second, kPagePathCapacity, format, section, fallback, screenClass, page);
    code = firstPageFits ? ReadDimensions(first, width, height, position) : ERROR_INSUFFICIENT_BUFFER;
    if (code != 0) {
        code = secondPageFits ? ReadDimensions(second, width, height, position) : ERROR_INSUFFICIENT_BUFFER;
    }
    // Pages carry no font of their own: the screen-class font read above is the page's font.
    return code;
}

void CAgentUICfg::FreeFontRecord(KvFontRecord* font)
{
    if (font != nullptr && font->faceName != nullptr) {
        std::free(font->faceName);
        font->faceName = nullptr;
    }
}

DWORD CAgentUICfg::BuildLanguagePath(const wchar_t* base, const wchar_t* name, wchar_t* buffer, DWORD capacity) const
{
    return BuildPath(base, name, m_defaultTag.get(), m_uiTag.get(), buffer, capacity);
}

DWORD CAgentUICfg::BuildAlternateLanguagePath(const wchar_t* base, const wchar_t* name, wchar_t* buffer,
                                              DWORD capacity) const
{
    return BuildPath(base, name, m_defaultTag.get(), m_alternateTag.get(), buffer, capacity);
}

DWORD CAgentUICfg::_ReadNumbers(const wchar_t* expression, const wchar_t* const* names, DWORD* const* values,
                                int count)
{
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    const HRESULT selected = m_document->Select(expression, attributes.GetAddressOf());
    if (selected != S_OK) {
        return static_cast<DWORD>(selected);
    }
    DWORD code = 0;
    for (int i = 0; i < count && code == 0; ++i) {
        long long value = 0;
        code = ReadNumberAttribute(attributes.Get(), names[i], &value);
        if (code == 0) {
            *values[i] = static_cast<DWORD>(value);
        }
    }
    return code;
}

DWORD CAgentUICfg::_ReadSectionNumbers(const wchar_t* section, const wchar_t* name, bool alternate,
                                       const wchar_t* const* names, DWORD* const* values, int count)
{
    if (!m_document) {
        return ERROR_INVALID_HANDLE;
    }
    wchar_t base[kLanguagePathCapacity];
    if (!FormatFits(base, kLanguagePathCapacity, L"%s/%s/%s", L"*", section, name)) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    wchar_t expression[kLanguagePathCapacity];
    const DWORD built = alternate ? BuildAlternateLanguagePath(base, nullptr, expression, kLanguagePathCapacity)
                                  : BuildLanguagePath(base, nullptr, expression, kLanguagePathCapacity);
    return built != 0 ? built : _ReadNumbers(expression, names, values, count);
}

DWORD CAgentUICfg::_ReadSectionFont(const wchar_t* section, const wchar_t* role, bool alternate, KvFontRecord* font)
{
    if (!m_document) {
        return ERROR_INVALID_HANDLE;
    }
    wchar_t base[kLanguagePathCapacity];
    if (!FormatFits(base, kLanguagePathCapacity, L"%s/%s/%s", L"*", section, L"fonts")) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    wchar_t expression[kLanguagePathCapacity];
    const DWORD built = alternate ? BuildAlternateLanguagePath(base, role, expression, kLanguagePathCapacity)
                                  : BuildLanguagePath(base, role, expression, kLanguagePathCapacity);
    return built != 0 ? built : ReadFont(expression, font);
}

DWORD CAgentUICfg::GetHtmlDialogInfo(const wchar_t* name, DWORD info[4])
{
    if (IsEmpty(name) || info == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    static constexpr const wchar_t* kNames[] = {L"width", L"height", L"close", L"scroll"};
    DWORD* const values[] = {&info[0], &info[1], &info[2], &info[3]};
    return _ReadSectionNumbers(L"htmldialog", name, false, kNames, values, 4);
}

DWORD CAgentUICfg::GetAlertFonts(KvAlertFonts* fonts)
{
    if (fonts == nullptr || fonts->title != nullptr || fonts->description != nullptr ||
        fonts->actionTitle != nullptr || fonts->action != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!m_document) {
        return ERROR_INVALID_HANDLE;
    }
    KvFontRecord** const slots[] = {&fonts->title, &fonts->description, &fonts->actionTitle, &fonts->action};
    static constexpr const wchar_t* kRoles[] = {L"title", L"description", L"actiontitle", L"action"};
    for (KvFontRecord** slot : slots) {
        *slot = NewFontRecord();
        if (*slot == nullptr) {
            FreeAlertFonts(fonts);
            return ERROR_OUTOFMEMORY;
        }
    }
    for (int i = 0; i < 4; ++i) {
        const DWORD code = _ReadSectionFont(L"sarn_alert", kRoles[i], false, *slots[i]);
        if (code != 0) {
            FreeAlertFonts(fonts);
            return code;
        }
    }
    return 0;
}

DWORD CAgentUICfg::GetAlertFontSet(KvAlertFontSet* fonts)
{
    if (fonts == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    KvFontRecord** const slots[] = {&fonts->title,  &fonts->description, &fonts->actionTitle,      &fonts->action,
                                    &fonts->option, &fonts->button,      &fonts->notificationTitle};
    for (KvFontRecord** slot : slots) {
        if (*slot != nullptr) {
            return ERROR_INVALID_PARAMETER;
        }
    }
    if (!m_document) {
        return ERROR_INVALID_HANDLE;
    }
    fonts->size = sizeof(KvAlertFontSet);
    for (KvFontRecord** slot : slots) {
        *slot = NewFontRecord();
        if (*slot == nullptr) {
            FreeAlertFontSet(fonts);
            return ERROR_OUTOFMEMORY;
        }
    }
    struct Default {
        const wchar_t* role;
        const wchar_t* face;
        DWORD points;
    };
    static constexpr Default kDefaults[] = {
        {L"title", L"arial", 16},  {L"description", L"Arial", 8}, {L"actiontitle", L"Arial", 8},
        {L"action", L"Arial", 8},  {L"option", L"Arial", 8},      {L"button", L"Arial", 9},
        {L"notificationtitle", L"Arial", 10},
    };
    for (int i = 0; i < 7; ++i) {
        KvFontRecord* font = *slots[i];
        if (_ReadSectionFont(L"sarn_alert", kDefaults[i].role, true, font) != 0) {
            FreeFontRecord(font);
            font->faceName = Duplicate(kDefaults[i].face);
            if (font->faceName == nullptr) {
                FreeAlertFontSet(fonts);
                return ERROR_OUTOFMEMORY;
            }
            font->pointSize = kDefaults[i].points;
            font->codePage = 1252;
        }
    }
    return 0;
}

DWORD CAgentUICfg::GetDialogFonts(KvDialogFonts* fonts)
{
    if (fonts == nullptr || fonts->dialog != nullptr || fonts->title != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!m_document) {
        return ERROR_INVALID_HANDLE;
    }
    fonts->dialog = NewFontRecord();
    fonts->title = NewFontRecord();
    if (fonts->dialog == nullptr || fonts->title == nullptr) {
        FreeDialogFonts(fonts);
        return ERROR_OUTOFMEMORY;
    }
    DWORD code = _ReadSectionFont(L"kvdialog", L"title", false, fonts->title);
    if (code == 0) {
        code = _ReadSectionFont(L"kvdialog", L"dialog", false, fonts->dialog);
    }
    if (code != 0) {
        FreeDialogFonts(fonts);
    }
    return code;
}

DWORD CAgentUICfg::GetAlertWidth(const wchar_t* name, DWORD* width)
{
    if (IsEmpty(name) || width == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    static constexpr const wchar_t* kNames[] = {L"width"};
    DWORD* const values[] = {width};
    return _ReadSectionNumbers(L"sarn_alert", name, false, kNames, values, 1);
}

DWORD CAgentUICfg::GetAlertWidthAndDetailsHeight(const wchar_t* name, DWORD values[2])
{
    if (IsEmpty(name) || values == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    static constexpr const wchar_t* kNames[] = {L"width", L"details_height"};
    DWORD* const outputs[] = {&values[0], &values[1]};
    return _ReadSectionNumbers(L"sarn_alert", name, true, kNames, outputs, 2);
}

DWORD CAgentUICfg::GetMorenAlertWidth(const wchar_t* alertId, DWORD kind, DWORD* width)
{
    if (width == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *width = 425;
    if (!m_document) {
        return ERROR_INVALID_HANDLE;
    }
    wchar_t base[kLanguagePathCapacity];
    if (!FormatFits(base, kLanguagePathCapacity, L"%s/%s", L"*", L"moren_alert")) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    static constexpr const wchar_t* kNames[] = {L"width"};
    DWORD* const values[] = {width};
    wchar_t expression[kLanguagePathCapacity];
    if (!IsEmpty(alertId)) {
        if (*alertId == L'{') {
            ++alertId;
        }
        wchar_t name[kLanguagePathCapacity];
        if (FormatFits(name, kLanguagePathCapacity, L"%s/alert_%s", L"alertparams", alertId)) {
            const std::size_t length = std::wcslen(name);
            if (length > 0 && name[length - 1] == L'}') {
                name[length - 1] = L'\0';
            }
            if (BuildLanguagePath(base, name, expression, kLanguagePathCapacity) == 0 &&
                _ReadNumbers(expression, kNames, values, 1) == 0) {
                return 0;
            }
        }
    }
    const wchar_t* preset = L"p3";
    *width = 425;
    if (kind == 1) {
        preset = L"p1";
        *width = 525;
    } else if (kind == 2) {
        preset = L"p2";
    }
    if (BuildLanguagePath(base, preset, expression, kLanguagePathCapacity) == 0) {
        (void)_ReadNumbers(expression, kNames, values, 1);
    }
    return 0;
}

DWORD CAgentUICfg::GetSectionFont(const wchar_t* section, const wchar_t* name, KvFontRecord* font)
{
    if (IsEmpty(section) || IsEmpty(name) || font == nullptr || font->faceName != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    const DWORD code = _ReadSectionFont(section, name, false, font);
    if (code != 0) {
        FreeFontRecord(font);
    }
    return code;
}

DWORD CAgentUICfg::GetSplashFont(KvFontRecord* font) { return GetSectionFont(L"splash", L"copyright", font); }

DWORD CAgentUICfg::GetWowScreenFont(KvFontRecord* font) { return GetSectionFont(L"wow_screen", L"wow_screen", font); }

DWORD CAgentUICfg::GetSectionFontAndSize(const wchar_t* section, const wchar_t* name, DWORD* width, DWORD* height,
                                         KvFontRecord* font)
{
    if (IsEmpty(section) || IsEmpty(name) || width == nullptr || height == nullptr || font == nullptr ||
        font->faceName != nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!m_document) {
        return ERROR_INVALID_HANDLE;
    }
    wchar_t base[kLanguagePathCapacity];
    wchar_t expression[kLanguagePathCapacity];
    if (!FormatFits(base, kLanguagePathCapacity, L"%s/%s/%s", L"*", section, L"fonts")) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    DWORD code = BuildLanguagePath(base, name, expression, kLanguagePathCapacity);
    if (code != 0) {
        return code;
    }
    code = ReadFont(expression, font);
    if (code == 0) {
        static constexpr const wchar_t* kNames[] = {L"width", L"height"};
        DWORD* const values[] = {width, height};
        code = _ReadNumbers(expression, kNames, values, 2);
    }
    if (code != 0) {
        FreeFontRecord(font);
    }
    return code;
}

DWORD CAgentUICfg::GetSizeByPath(const wchar_t* expression, DWORD* width, DWORD* height)
{
    if (IsEmpty(expression) || width == nullptr || height == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *width = 0;
    *height = 0;
    if (!m_document) {
        return ERROR_INVALID_DATA;
    }
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    if (FAILED(m_document->Select(expression, attributes.GetAddressOf()))) {
        return 0;
    }
    long long value = 0;
    if (ReadNumberAttribute(attributes.Get(), L"width", &value) == 0) {
        *width = static_cast<DWORD>(value);
        if (ReadNumberAttribute(attributes.Get(), L"height", &value) == 0) {
            *height = static_cast<DWORD>(value);
        }
    }
    return 0;
}

void CAgentUICfg::FreeAlertFonts(KvAlertFonts* fonts)
{
    if (fonts != nullptr) {
        DeleteFontRecord(fonts->title);
        DeleteFontRecord(fonts->description);
        DeleteFontRecord(fonts->actionTitle);
        DeleteFontRecord(fonts->action);
    }
}

void CAgentUICfg::FreeAlertFontSet(KvAlertFontSet* fonts)
{
    if (fonts != nullptr) {
        DeleteFontRecord(fonts->title);
        DeleteFontRecord(fonts->description);
        DeleteFontRecord(fonts->actionTitle);
        DeleteFontRecord(fonts->action);
        DeleteFontRecord(fonts->option);
        DeleteFontRecord(fonts->button);
        DeleteFontRecord(fonts->notificationTitle);
    }
}

void CAgentUICfg::FreeDialogFonts(KvDialogFonts* fonts)
{
    if (fonts != nullptr) {
        DeleteFontRecord(fonts->dialog);
        DeleteFontRecord(fonts->title);
    }
}

DWORD CAgentUICfg::GetAlternateLanguage(wchar_t* buffer, DWORD capacity) const
{
    if (buffer == nullptr || capacity == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!m_alternateTag) {
        return ERROR_INVALID_HANDLE;
    }
    const std::size_t length = std::wcslen(m_alternateTag.get());
    if (length + 1 > capacity) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::wmemcpy(buffer, m_alternateTag.get(), length + 1);
    return 0;
}

DWORD CAgentUICfg::SetAlternateLanguage(const wchar_t* tag)
{
    if (IsEmpty(tag)) {
        return ERROR_INVALID_PARAMETER;
    }
    HeapString copy(Duplicate(tag));
    if (!copy) {
        return ERROR_OUTOFMEMORY;
    }
    m_alternateTag = std::move(copy);
    return 0;
}
