#pragma once
// The bound exports of the localized-resource DLL "KvRtMui.dll" and the status of the binding.

#include "core/loading/CDllWrapperBase.h"
#include "core/loading/RtMuiExports.h"

#include <windows.h>

namespace Fundor {

// One pointer per export, in the order the DLL is asked for them.
struct RtMuiFunctions {
    RtMUIGetMappedLocaleFn* getMappedLocale = nullptr;
    RtMUILoadLibraryFn* loadLibrary = nullptr;
    RtMUILoadLibraryExFn* loadLibraryEx = nullptr;
    RtMUILoadLibraryImplFn* loadLibraryImpl = nullptr;  // bound for completeness, never called
    RtMUILoadStringFn* loadString = nullptr;
    RtMUILoadStringExFn* loadStringEx = nullptr;
    RtMUIFindResourceFn* findResource = nullptr;
    RtMUIFindResourceExFn* findResourceEx = nullptr;
    RtMUILoadImageFn* loadImage = nullptr;
    RtMUILoadImageExFn* loadImageEx = nullptr;
    RtMUILoadBitmapFn* loadBitmap = nullptr;
    RtMUILoadBitmapExFn* loadBitmapEx = nullptr;
    RtMUILoadIconFn* loadIcon = nullptr;
    RtMUILoadIconExFn* loadIconEx = nullptr;
};

class RtMuiDllInterface : public CDllWrapperBase {
public:
    // Win32 code of the binding: 0 when the DLL and all 14 exports are bound.
    [[nodiscard]] DWORD Status() const noexcept { return m_status; }

    // True only with status 0 and the DLL held; otherwise callers use the plain Windows functions.
    [[nodiscard]] bool IsAvailable() const noexcept { return m_status == ERROR_SUCCESS && Module() != nullptr; }

    // The bound exports: all set when available, all null otherwise. Valid while this object lives.
    [[nodiscard]] const RtMuiFunctions& Functions() const noexcept { return m_functions; }

protected:
    RtMuiDllInterface() noexcept = default;
    ~RtMuiDllInterface() = default;

    // Binds the DLL at path and its 14 exports, all or none: when any of them is missing the DLL
    // is released and freed, every pointer stays null and the status records why (never 0).
    void BindAll(const wchar_t* path);

    // Records a failure found before any load (a non-zero code; 0 is taken as "not found").
    void SetFailure(DWORD status) noexcept { m_status = status != ERROR_SUCCESS ? status : ERROR_FILE_NOT_FOUND; }

private:
    [[nodiscard]] DWORD BindExports() noexcept;

    RtMuiFunctions m_functions;
    DWORD m_status = ERROR_MOD_NOT_FOUND;  // nothing bound yet
};

}  // namespace Fundor
