#pragma once
// Layout answers from the suite's UI configuration file "qrnuicfg.dat": width, height, position
// code and font of a page, chosen by language and by screen class ("hires" or "lores"), plus
// readers for the file's dialog, alert and splash sections.
//
// The file is read through the maker's UI-configuration component (KvUiCfgInterfaces.h), created
// by class id or, when that fails, through "DllGetClassObject" of "KvUiCfg.dll" in the program's
// own folder. Element tree: root -> section -> language tag -> "hires"/"lores" -> page element
// ("width", "height", "position"), and beside the pages a "font" element ("codepage",
// "point_size", "face_name"). All values are decimal text.
//
// One object is loaded, used and closed on one thread (Load initialises COM on it). Results are
// Win32 codes, or the HRESULT of the attribute read that failed. Nothing is logged except the
// screen resolution. Strings and font records handed out belong to the caller.

#include "core/base/ScopedResource.h"
#include "shell/config/KvUiCfgInterfaces.h"

#include <windows.h>
#include <wrl/client.h>

#include <cstdlib>
#include <memory>

// A font as the readers fill it. size is 24; readers that allocate records set it. faceName is
// owned by the record (allocated with malloc), freed by CAgentUICfg::FreeFontRecord. A reader
// refuses (ERROR_INVALID_PARAMETER) a record whose faceName is already set.
struct KvFontRecord {
    DWORD size;
    wchar_t* faceName;
    DWORD pointSize;
    DWORD codePage;
};

// Records of pointers to records that the alert and dialog readers allocate; every pointer must
// be null on entry. The Free* operations release them.
struct KvAlertFonts {
    KvFontRecord* title;
    KvFontRecord* description;
    KvFontRecord* actionTitle;
    KvFontRecord* action;
};
struct KvAlertFontSet {
    DWORD size;  // set to 64 by the reader
    KvFontRecord* title;
    KvFontRecord* description;
    KvFontRecord* actionTitle;
    KvFontRecord* action;
    KvFontRecord* option;
    KvFontRecord* button;
    KvFontRecord* notificationTitle;
};
struct KvDialogFonts {
    KvFontRecord* dialog;
    KvFontRecord* title;
};

// Screen size in pixels. The production source is GetSystemMetrics; tests give their own.
struct KvScreenSize {
    int cx;
    int cy;
};
using KvScreenSizeSource = KvScreenSize (*)();

class CAgentUICfg {
public:
    // Capacity in characters of the buffers that page paths and language paths are built in.
    static constexpr DWORD kPagePathCapacity = 260;
    static constexpr DWORD kLanguagePathCapacity = 1024;
    // Attribute values are cut to this many characters.
    static constexpr DWORD kMaxAttributeLength = 260;

    explicit CAgentUICfg(KvScreenSizeSource screenSize = &SystemScreenSize);
    // Close().
    ~CAgentUICfg();
    CAgentUICfg(const CAgentUICfg&) = delete;
    CAgentUICfg& operator=(const CAgentUICfg&) = delete;

    // Opens the file at path (an empty path is passed on; the component decides) with defaultTag
    // ("en-us" for the host) as the language of last resort; the UI language comes from
    // Fundor::RtMuiGetMappedLocale. flags has no effect. Closes first. 0 loaded;
    // ERROR_INVALID_PARAMETER null path or null/empty default tag; ERROR_OUTOFMEMORY out of memory;
    // ERROR_ACCESS_DENIED COM not initialised, component not created or file not opened. Any
    // failure leaves the object empty.
    [[nodiscard]] DWORD Load(const wchar_t* path, const wchar_t* defaultTag, DWORD flags);
    // Frees everything Load made, releases the component (and its DLL) and balances COM.
    void Close();

    // The host's reader: section "sarn_ordwell". Width and height are written only when the page
    // element gives them as positive numbers; *position only when "position" was read.
    // ERROR_INVALID_PARAMETER for a null page, width, height or record, or a record holding a face
    // name; ERROR_INVALID_HANDLE not loaded; ERROR_INSUFFICIENT_BUFFER the page name makes paths
    // that do not fit 260 characters (nothing is read then). Otherwise the code of the font step or
    // the size step that failed both languages, or 0 when both read.
    [[nodiscard]] DWORD GetOrdwellFontAndDimInfo(const wchar_t* page, DWORD* width, DWORD* height, DWORD* position,
                                                 KvFontRecord* font);
    // As GetOrdwellFontAndDimInfo for section "sarn_shell", without a position.
    [[nodiscard]] DWORD GetShellFontAndDimInfo(const wchar_t* page, DWORD* width, DWORD* height, KvFontRecord* font);
    // Frees and nulls font->faceName; the record stays the caller's. Null is accepted.
    static void FreeFontRecord(KvFontRecord* font);

    // Readers of the other sections. Each checks its pointers (ERROR_INVALID_PARAMETER), needs a
    // loaded object (ERROR_INVALID_HANDLE) and otherwise gives the code of its last read. Language
    // paths that do not fit 1,024 characters give ERROR_INSUFFICIENT_BUFFER.
    [[nodiscard]] DWORD GetHtmlDialogInfo(const wchar_t* name, DWORD info[4]);
    [[nodiscard]] DWORD GetAlertFonts(KvAlertFonts* fonts);
    [[nodiscard]] DWORD GetAlertFontSet(KvAlertFontSet* fonts);
    [[nodiscard]] DWORD GetDialogFonts(KvDialogFonts* fonts);
    [[nodiscard]] DWORD GetAlertWidth(const wchar_t* name, DWORD* width);
    [[nodiscard]] DWORD GetAlertWidthAndDetailsHeight(const wchar_t* name, DWORD values[2]);
    // Always 0 once loaded: *width holds what was read, or the preset for the kind.
    [[nodiscard]] DWORD GetMorenAlertWidth(const wchar_t* alertId, DWORD kind, DWORD* width);
    [[nodiscard]] DWORD GetSectionFont(const wchar_t* section, const wchar_t* name, KvFontRecord* font);
    [[nodiscard]] DWORD GetSplashFont(KvFontRecord* font);
    [[nodiscard]] DWORD GetWowScreenFont(KvFontRecord* font);
    [[nodiscard]] DWORD GetSectionFontAndSize(const wchar_t* section, const wchar_t* name, DWORD* width,
                                              DWORD* height, KvFontRecord* font);
    // Both outputs are zeroed first; ERROR_INVALID_DATA when not loaded; 0 otherwise.
    [[nodiscard]] DWORD GetSizeByPath(const wchar_t* expression, DWORD* width, DWORD* height);
    static void FreeAlertFonts(KvAlertFonts* fonts);
    static void FreeAlertFontSet(KvAlertFontSet* fonts);
    static void FreeDialogFonts(KvDialogFonts* fonts);

    // ERROR_INVALID_HANDLE no alternate tag, ERROR_INSUFFICIENT_BUFFER it does not fit capacity
    // characters (buffer untouched), else 0.
    [[nodiscard]] DWORD GetAlternateLanguage(wchar_t* buffer, DWORD capacity) const;
    // Replaces the alternate tag with a copy. ERROR_INVALID_PARAMETER null or empty,
    // ERROR_OUTOFMEMORY out of memory.
    [[nodiscard]] DWORD SetAlternateLanguage(const wchar_t* tag);

    // One attribute of an element, found by name ignoring the case of A to Z, as a new string
    // (CoTaskMemAlloc; the caller frees it with CoTaskMemFree) of at most 260 characters.
    // E_INVALIDARG for a null argument; S_FALSE for an empty map; the map's own code when the
    // name is absent; E_FAIL when the value is not a string; E_OUTOFMEMORY. *value is null on
    // every result but S_OK.
    [[nodiscard]] static HRESULT GetAttributeValue(IXMLDOMNamedNodeMap* attributes, const wchar_t* name,
                                                   wchar_t** value);

    // Reads "codepage", then "point_size", then "face_name" of the selected element, each only
    // after the previous was read. ERROR_INVALID_PARAMETER, ERROR_INVALID_HANDLE, or the code of
    // the last read (0 also when the expression selected nothing with result 0).
    [[nodiscard]] DWORD ReadFont(const wchar_t* expression, KvFontRecord* font);
    // Reads "width", then "height" (only after a positive width); with position given "position"
    // is read in any case and its code is the result.
    [[nodiscard]] DWORD ReadDimensions(const wchar_t* expression, DWORD* width, DWORD* height, DWORD* position);

    // "P[D and not(U)]/D/S | P/U/S" (or without "/S") for the UI tag U and default tag D, or
    // "P/D/S" when there is no UI tag; the alternate form uses the alternate tag.
    // ERROR_INVALID_PARAMETER for a null base, buffer or capacity 0; ERROR_INSUFFICIENT_BUFFER when
    // it does not fit (buffer emptied).
    [[nodiscard]] DWORD BuildLanguagePath(const wchar_t* base, const wchar_t* name, wchar_t* buffer,
                                          DWORD capacity) const;
    [[nodiscard]] DWORD BuildAlternateLanguagePath(const wchar_t* base, const wchar_t* name, wchar_t* buffer,
                                                   DWORD capacity) const;

    // State, for callers that report it.
    [[nodiscard]] bool IsLoaded() const { return m_document != nullptr; }
    [[nodiscard]] const wchar_t* UiLanguageTag() const { return m_uiTag.get(); }
    [[nodiscard]] bool LoadedThroughFallbackDll() const { return m_fallbackModule.valid(); }

    // GetSystemMetrics(SM_CXSCREEN / SM_CYSCREEN).
    [[nodiscard]] static KvScreenSize SystemScreenSize();

private:
    [[nodiscard]] DWORD _GetShellFontAndDimInfo(const wchar_t* section, const wchar_t* page, DWORD* width,
                                                DWORD* height, DWORD* position, KvFontRecord* font);
    [[nodiscard]] HRESULT _OpenWithLoader(IKvUiCfgLoader* loader);
    [[nodiscard]] DWORD _OpenThroughFallbackDll();
    // Selects expression and reads the named numbers in order, each only after the previous.
    [[nodiscard]] DWORD _ReadNumbers(const wchar_t* expression, const wchar_t* const* names, DWORD* const* values,
                                     int count);
    [[nodiscard]] DWORD _ReadSectionNumbers(const wchar_t* section, const wchar_t* name, bool alternate,
                                            const wchar_t* const* names, DWORD* const* values, int count);
    [[nodiscard]] DWORD _ReadSectionFont(const wchar_t* section, const wchar_t* role, bool alternate,
                                         KvFontRecord* font);

    struct FreeDeleter {
        void operator()(wchar_t* text) const { std::free(text); }
    };
    using HeapString = std::unique_ptr<wchar_t, FreeDeleter>;

    KvScreenSizeSource m_screenSize;
    HeapString m_path;
    HeapString m_uiTag;
    HeapString m_defaultTag;
    HeapString m_alternateTag;
    DWORD m_comInitialized = 0;
    Fundor::ScopedModule m_fallbackModule;
    LPFNGETCLASSOBJECT m_getClassObject = nullptr;
    // Declared after the fallback module, which holds its code, so that it goes first.
    Microsoft::WRL::ComPtr<IKvUiCfgDocument> m_document;
};
