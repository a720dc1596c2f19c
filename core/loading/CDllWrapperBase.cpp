#include "core/loading/CDllWrapperBase.h"

#include "core/loading/SafeLoading.h"

namespace Fundor {
namespace {

using ReferenceHook = void(WINAPI*)();

ReferenceHook AsHook(FARPROC proc) noexcept
{
    return reinterpret_cast<ReferenceHook>(reinterpret_cast<void*>(proc));
}

}  // namespace

CDllWrapperBase::~CDllWrapperBase() { Unbind(); }

DWORD CDllWrapperBase::Bind(const wchar_t* path)
{
    if (const DWORD refused = CheckPath(path); refused != ERROR_SUCCESS) {
        return refused;
    }
    if (m_module) {
        return ERROR_SUCCESS;
    }
    m_module.reset(LoadQualifiedLibrary(path, 0));
    if (!m_module) {
        const DWORD error = ::GetLastError();
        // A failed load must never read as a bound DLL.
        return error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND;
    }
    if (const ReferenceHook addRef = AsHook(FindExport("DllAddRef")); addRef != nullptr) {
        addRef();
    }
    return ERROR_SUCCESS;
}

void CDllWrapperBase::Unbind() noexcept
{
    if (!m_module) {
        return;
    }
    if (const ReferenceHook release = AsHook(FindExport("DllRelease")); release != nullptr) {
        release();
    }
    m_module.reset();
}

FARPROC CDllWrapperBase::FindExport(const char* name) const noexcept
{
    if (!m_module || name == nullptr) {
        return nullptr;
    }
    // An absent optional export must not replace the error the caller is about to report.
    const DWORD savedError = ::GetLastError();
    FARPROC proc = ::GetProcAddress(m_module.get(), name);
    ::SetLastError(savedError);
    return proc;
}

}  // namespace Fundor
