#pragma once
// Run-time binding of the browser-control library "KvBrwsr2.dll", and the URL-notification handler
// of the URL library handed to it.

#include "core/base/ScopedResource.h"
#include "shell/host/KvBrowser2.h"

#include <windows.h>

class KvBrwsr2Lib {
public:
    KvBrwsr2Lib() = default;
    // Calls KvBrwDeInit when bound, then unloads.
    ~KvBrwsr2Lib();
    KvBrwsr2Lib(const KvBrwsr2Lib&) = delete;
    KvBrwsr2Lib& operator=(const KvBrwsr2Lib&) = delete;

    // The program folder's copy, else the common-files folder's, each only after the trust check;
    // then the two object exports. 0 when loaded and bound; else a non-zero Win32 code
    // (ERROR_MOD_NOT_FOUND when no file was loaded and the system gave none) with nothing held.
    [[nodiscard]] DWORD Load();
    // Load, then (flags bit 0 clear) bind and call KvBrwInit(flags, handler, context). Non-zero
    // result: nothing held.
    [[nodiscard]] DWORD Init(DWORD flags, KvBrwNfHandler handler, void* context);
    void Unload() noexcept;
    // 0 with *browser set; ERROR_CALL_NOT_IMPLEMENTED when not bound; ERROR_FUNCTION_FAILED when
    // the export reports failure; ERROR_INVALID_DATA when it reports success without an object.
    // *browser is null on failure.
    [[nodiscard]] DWORD GetBrwObject2(IKvBrowser2** browser);

    [[nodiscard]] HMODULE Module() const noexcept { return m_module.get(); }

private:
    // 0 when the library of folder is trusted and loaded; else the failed step's error, read
    // where it failed.
    [[nodiscard]] DWORD LoadFromFolder(const wchar_t* folder);

    Fundor::ScopedModule m_module;
    PFN_KvGetBrwObject2 m_getBrwObject2 = nullptr;
    PFN_KvGetBrwObject2Ex m_getBrwObject2Ex = nullptr;
    PFN_KvBrwInit m_init = nullptr;
    void* m_reserved = nullptr;
    PFN_KvBrwDeInit m_deInit = nullptr;
};

// Loads the URL library beside the server of {AD6E7ABF-E06F-4ff6-B734-D04F22DAE042} after its trust
// check and gives its "QrnBrwNfHandler", or null (nothing held then).
void GetBrwNfyHandler(KvBrwNfHandler* handler);
// Frees the URL library when held.
void ReleaseBrwNfyHandler();
