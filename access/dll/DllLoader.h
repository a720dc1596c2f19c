#pragma once
// Loads a DLL by full path into a handle and resolves its exports, through a DllAPI (whose
// default load passes the module trust check first). Results are module status codes; nothing
// is thrown.

#include "access/ModuleStatus.h"
#include "access/wrappers/DllAPI.h"

#include <windows.h>

#include <memory>
#include <string>

namespace Velmo {

class DllLoader {
public:
    // An empty pointer is replaced by a new default DllAPI.
    explicit DllLoader(std::shared_ptr<DllAPI> dllApi = nullptr);
    DllLoader(const DllLoader&) = delete;
    DllLoader& operator=(const DllLoader&) = delete;
    virtual ~DllLoader();

    // A module already loaded from path is taken with one more reference; otherwise the DllAPI
    // loads it. On success *handle receives a reference the caller gives back with
    // DllAPI::freeLibrary (see dllApi()). False for a null handle pointer and on failure, with
    // *handle untouched.
    [[nodiscard]] virtual bool loadDLL(const std::wstring& path, HMODULE* handle);
    // 0 with *address set; MODULE_STATUS_INVALID_HANDLE when the export cannot be resolved,
    // MODULE_STATUS_UNKNOWN_EXCEPTION when the DllAPI throws, MODULE_STATUS_INVALID_PARAMETER
    // for a null name or address pointer. *address is untouched on failure.
    [[nodiscard]] virtual ModuleStatus getProcAddress(HMODULE handle, const char* name, FARPROC* address);

    // The module calls this loader uses (never empty).
    [[nodiscard]] const std::shared_ptr<DllAPI>& dllApi() const noexcept { return m_dllApi; }

private:
    std::shared_ptr<DllAPI> m_dllApi;
};

}  // namespace Velmo
