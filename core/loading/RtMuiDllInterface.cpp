#include "core/loading/RtMuiDllInterface.h"

namespace Fundor {
namespace {

// Looks up one export; on failure returns the look-up's error (never 0).
template <typename Function>
DWORD Resolve(HMODULE module, const char* name, Function*& slot) noexcept
{
    const FARPROC proc = ::GetProcAddress(module, name);
    if (proc == nullptr) {
        const DWORD error = ::GetLastError();
        return error != ERROR_SUCCESS ? error : ERROR_PROC_NOT_FOUND;
    }
    slot = reinterpret_cast<Function*>(reinterpret_cast<void*>(proc));
    return ERROR_SUCCESS;
}

}  // namespace

void RtMuiDllInterface::BindAll(const wchar_t* path)
{
    DWORD status = Bind(path);
    if (status == ERROR_SUCCESS) {
        status = BindExports();
    }
    if (status != ERROR_SUCCESS) {
        // A partial DLL is not used at all, and no pointer into it may outlive it.
        m_functions = RtMuiFunctions{};
        Unbind();
    }
    m_status = status;
}

DWORD RtMuiDllInterface::BindExports() noexcept
{
    const HMODULE module = Module();
    RtMuiFunctions& f = m_functions;
    DWORD status = ERROR_SUCCESS;
    // Asked in this order; the first missing one ends the binding and decides the status.
    const auto bind = [&](const char* name, auto*& slot) {
        if (status == ERROR_SUCCESS) {
            status = Resolve(module, name, slot);
        }
    };
    bind("RtMUIGetMappedLocale", f.getMappedLocale);
    bind("RtMUILoadLibrary", f.loadLibrary);
    bind("RtMUILoadLibraryEx", f.loadLibraryEx);
    bind("RtMUILoadLibraryImpl", f.loadLibraryImpl);
    bind("RtMUILoadString", f.loadString);
    bind("RtMUILoadStringEx", f.loadStringEx);
    bind("RtMUIFindResource", f.findResource);
    bind("RtMUIFindResourceEx", f.findResourceEx);
    bind("RtMUILoadImage", f.loadImage);
    bind("RtMUILoadImageEx", f.loadImageEx);
    bind("RtMUILoadBitmap", f.loadBitmap);
    bind("RtMUILoadBitmapEx", f.loadBitmapEx);
    bind("RtMUILoadIcon", f.loadIcon);
    bind("RtMUILoadIconEx", f.loadIconEx);
    return status;
}

}  // namespace Fundor
