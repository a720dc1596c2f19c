#pragma once
// Module calls of the Velmo library, behind an interface so that the DLL loader can run against
// a substitute. The default implementation never loads a file that has not passed the module
// trust check. It keeps no state; any thread may use it.

#include <windows.h>

#include <string>

namespace Velmo {

class DllAPI {
public:
    DllAPI() = default;
    DllAPI(const DllAPI&) = delete;
    DllAPI& operator=(const DllAPI&) = delete;
    virtual ~DllAPI();

    // LoadValidatedLibraryEx(path, 0): a fully qualified path whose file passes the module trust
    // check. On success module receives the handle, owned by the caller (freeLibrary). On failure
    // logs the last error the load left, returns false and leaves module untouched.
    [[nodiscard]] virtual bool loadLibrary(const std::wstring& path, HMODULE& module);
    // GetProcAddress; null when the export is missing.
    [[nodiscard]] virtual FARPROC getProcAddress(HMODULE module, const char* name);
    // False for an empty path, else ValidateModulePath(path) == 0.
    [[nodiscard]] virtual bool isTrusted(const std::wstring& path);
    // FreeLibrary != 0.
    [[nodiscard]] virtual bool freeLibrary(HMODULE module);
    // GetModuleHandleExW != 0. With flags 0 the module's reference count goes up, and the caller
    // owns that reference (freeLibrary). module is written by the call as GetModuleHandleExW does.
    [[nodiscard]] virtual bool getModuleHandleEx(DWORD flags, const wchar_t* name, HMODULE& module);
};

}  // namespace Velmo
