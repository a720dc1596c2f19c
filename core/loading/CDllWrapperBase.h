#pragma once
// Owner of one DLL bound by fully qualified path.
//
// A bound DLL may export "DllAddRef" and "DllRelease" (no arguments, no result): the first is
// called once after the DLL is loaded, the second once before it is freed. Derived classes decide
// through the path check (the one virtual operation) which paths they accept.

#include "core/base/ScopedResource.h"

#include <windows.h>

namespace Fundor {

class CDllWrapperBase {
public:
    CDllWrapperBase(const CDllWrapperBase&) = delete;
    CDllWrapperBase& operator=(const CDllWrapperBase&) = delete;

    // Asked before every load: 0 lets path be loaded, any other Win32 code refuses it.
    [[nodiscard]] virtual DWORD CheckPath(const wchar_t* path) = 0;

    // Loads path with LoadQualifiedLibrary(path, 0) and calls its "DllAddRef". Returns 0 on
    // success or when a DLL is already held (that one is kept); the code of the path check; or
    // the load's last error (ERROR_INVALID_PARAMETER for a path that is not fully qualified), with
    // nothing held.
    [[nodiscard]] DWORD Bind(const wchar_t* path);

    // Calls "DllRelease" of the held DLL, if any, and frees it. Nothing held afterwards.
    void Unbind() noexcept;

    // The held DLL (owned by this object), or null.
    [[nodiscard]] HMODULE Module() const noexcept { return m_module.get(); }

    // The held DLL's export name, or null (also when nothing is held). The last error is kept.
    [[nodiscard]] FARPROC FindExport(const char* name) const noexcept;

protected:
    CDllWrapperBase() noexcept = default;
    // Not virtual: the path check keeps the first slot, and no owner deletes through this base.
    ~CDllWrapperBase();

private:
    ScopedModule m_module;
};

}  // namespace Fundor
