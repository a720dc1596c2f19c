#pragma once
// What the host asks of the UI configuration and the locale: the page's window size and position
// code, the strings of the title, the sibling component's state and window id, the UI locale and
// the application icon. The module holds one; production binds it to the shell's configuration
// and locale classes, tests give scripted answers.

#include <windows.h>

#include <memory>
#include <string>

struct HostPageWindowSize {
    int width = 0;           // 0: the default width
    int height = 0;          // 0: the default height
    unsigned position = 0;   // 0 centre, 1-4 corners of the work area
};

class IHostUiSettings {
public:
    virtual ~IHostUiSettings() = default;

    // The page's "width", "height" and "position" in section "sarn_ordwell" of the configuration
    // file, opened with the given language. False (size untouched) when the file cannot be opened.
    [[nodiscard]] virtual bool ReadPageWindowSize(const wchar_t* configFile, const wchar_t* language,
                                                  const wchar_t* section, const wchar_t* page,
                                                  HostPageWindowSize* size) = 0;
    // Readies the localized strings and images (the product's resource DLLs); nothing is loaded
    // before it. Failures leave the built-in answers.
    virtual void InitializeLocale() = 0;
    // A localized string of the product into buffer[capacity]; a Win32 code.
    [[nodiscard]] virtual DWORD LoadResString(UINT id, wchar_t* buffer, int capacity) = 0;
    // A package string with "%COMPANY_NAME_NEUTRAL%" replaced by companyName; a Win32 code.
    [[nodiscard]] virtual DWORD LoadPkgString(DWORD packageId, UINT id, wchar_t* buffer, int capacity,
                                              const wchar_t* companyName) = 0;
    // Whether the sibling UI component is enabled.
    [[nodiscard]] virtual bool IsVistrelEnabled() = 0;
    // The sibling component's window id for this session; empty when it cannot be formed.
    [[nodiscard]] virtual std::wstring CurrentSessionWindowId() = 0;
    // The UI locale for the UI thread.
    [[nodiscard]] virtual LCID UiLocale() = 0;
    // Icon resource 100 at its default size, shared; null when there is none.
    [[nodiscard]] virtual HICON LoadAppIcon() = 0;
};

// The production answers: the page's size from the UI configuration file (CAgentUICfg; false when
// the file cannot be opened), strings and icon 100 from the product's resource DLLs
// (CKvSARNLocale2, initialised with no package; the program's own icon 100 when they have none),
// the sibling component's state and window id from VistrelHelper, the UI locale from the
// localized-resource loader's mapped language.
[[nodiscard]] std::unique_ptr<IHostUiSettings> CreateDefaultHostUiSettings();

