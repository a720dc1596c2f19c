#pragma once
// Localized strings and images of an application's resource DLLs. OEM resource DLLs, when
// present, answer first: "KvOemRes.dll" in the UI-language folder beside the resource DLL
// ("<folder>\<LANGID>\KvOemRes.dll") for strings, and "OemUI.dll" beside the UI DLL for images.
// The resource and UI DLLs themselves load on first use. All loading goes through the
// localized-resource loader (RtMui.h).
//
// Strings may carry tokens (text between percent signs) that the caller replaces; the token
// "%COMPANY_NAME_NEUTRAL%" stands for string 35030, the company name. One object is used from one
// thread. Results are Win32 codes.

#include "core/base/ScopedResource.h"

#include <windows.h>

#include <cstddef>

#undef LoadImage

class CKvSARNLocale2 {
public:
    static constexpr UINT kCompanyNameStringId = 35030;
    static constexpr wchar_t kCompanyNameToken[] = L"%COMPANY_NAME_NEUTRAL%";

    // Nothing loaded.
    CKvSARNLocale2() = default;
    // Frees every module held.
    virtual ~CKvSARNLocale2();
    CKvSARNLocale2(const CKvSARNLocale2&) = delete;
    CKvSARNLocale2& operator=(const CKvSARNLocale2&) = delete;

    // Frees what an earlier call loaded, then reads application "qrn"'s "ResDll" and "UIDll"
    // (ApplicationInfo.h). With path null the two DLLs are those values; with a path both are the
    // path (and a non-empty path is also the folder the OEM string DLL is looked for in). mode 0 or
    // 1 lets the resource DLL load; any other mode makes string loads from it give
    // ERROR_NOT_SUPPORTED. 0 ready; ERROR_PATH_NOT_FOUND a path without a backslash; the registry
    // read's code. The OEM DLLs load here when present; their absence is no failure.
    [[nodiscard]] DWORD Initialize(const wchar_t* path, DWORD mode);

    // String id into buffer (capacity in characters), from the OEM string DLL when it holds the id,
    // else from the resource DLL. Then each token of tokenList (tokens separated by ',', e.g.
    // L"%NAME%,%PLACE%") is replaced, in list order, by replacements[i] of the counted list of
    // replacementCount texts: every occurrence, left to right, never inside inserted text. The
    // token "%COMPANY_NAME_NEUTRAL%" with a replacement of one blank is removed instead. A null or
    // empty tokenList, or one with fewer than two '%', replaces nothing. 0 done;
    // ERROR_INVALID_PARAMETER null buffer, capacity 0 or a null replacement; ERROR_APP_INIT_FAILURE
    // (575) not initialised; ERROR_NOT_SUPPORTED the mode forbids loading; the loader's error when
    // the resource DLL does not load; ERROR_NOT_FOUND no such string; ERROR_INVALID_DATA an odd
    // number of '%' or a token count that differs from replacementCount; ERROR_INSUFFICIENT_BUFFER
    // the text does not fit capacity with its terminator. On failure the buffer is emptied.
    [[nodiscard]] DWORD LoadResString(UINT id, wchar_t* buffer, DWORD capacity, const wchar_t* tokenList = nullptr,
                                      const wchar_t* const* replacements = nullptr, std::size_t replacementCount = 0);

    // A string whose id may depend on the package. With packageId non-zero and id above 0xFFFF,
    // string packageId holds the package's base number (decimal text) and the string loaded is base
    // + (id >> 16); when that gives no string the plain id (id & 0xFFFF) is loaded instead. The
    // plain id's text has "%COMPANY_NAME_NEUTRAL%" replaced by string 35030. Tokens, arguments and
    // codes as LoadResString; ERROR_INVALID_DATA also for a base + offset beyond 0xFFFF.
    [[nodiscard]] DWORD LoadPkgString(DWORD packageId, DWORD id, wchar_t* buffer, DWORD capacity,
                                      const wchar_t* tokenList = nullptr, const wchar_t* const* replacements = nullptr,
                                      std::size_t replacementCount = 0);

    // An image (LoadImageW's arguments) from the OEM UI DLL, the OEM string DLL or the UI DLL, the
    // first that has it. The caller owns the handle. Null when none has it; *error (when given)
    // is then the last failure's code (the UI DLL's load error when it did not load).
    [[nodiscard]] HANDLE LoadImage(const wchar_t* name, UINT type, int cx, int cy, UINT flags, DWORD* error);

    [[nodiscard]] bool IsInitialized() const { return m_initialized; }
    [[nodiscard]] const wchar_t* ResourceDllPath() const { return m_resourceDllPath; }
    [[nodiscard]] const wchar_t* UiDllPath() const { return m_uiDllPath; }
    [[nodiscard]] bool HasOemResourceDll() const { return m_oemResourceDll.valid(); }
    [[nodiscard]] bool HasOemUiDll() const { return m_oemUiDll.valid(); }

private:
    void _FreeModules();
    [[nodiscard]] DWORD _LoadResourceDll();
    [[nodiscard]] DWORD _LoadUiDll();
    // The string id as text, OEM string DLL first; 0, ERROR_NOT_FOUND or the resource DLL's load
    // code.
    [[nodiscard]] DWORD _LoadText(UINT id, wchar_t* text, int capacity, int* length);

    Fundor::ScopedModule m_resourceDll;
    Fundor::ScopedModule m_uiDll;
    wchar_t m_resourceDllPath[MAX_PATH] = {};
    wchar_t m_uiDllPath[MAX_PATH] = {};
    DWORD m_mode = 0;
    bool m_initialized = false;
    Fundor::ScopedModule m_oemResourceDll;
    Fundor::ScopedModule m_oemUiDll;
};

