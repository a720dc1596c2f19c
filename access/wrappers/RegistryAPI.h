#pragma once
// Registry reads of the Velmo library (HKLM only), behind an interface so that the path macros
// can run against a substitute. Keys are opened with KEY_READ in the process's own view. Results
// are module status codes. No state; any thread may use it.

#include "access/ModuleStatus.h"

#include <windows.h>

#include <string>

namespace Velmo {

class RegistryAPI {
public:
    RegistryAPI() = default;
    RegistryAPI(const RegistryAPI&) = delete;
    RegistryAPI& operator=(const RegistryAPI&) = delete;
    virtual ~RegistryAPI();

    // The string value (REG_SZ or REG_EXPAND_SZ, not expanded) of HKLM keyPath. 0 on success,
    // else MODULE_STATUS_UNSUCCESSFUL with value untouched.
    [[nodiscard]] virtual ModuleStatus readString(const std::wstring& keyPath, const std::wstring& valueName,
                                                  std::wstring& value);
    // The REG_DWORD value of HKLM keyPath. 0 on success, else MODULE_STATUS_UNSUCCESSFUL with
    // value untouched.
    [[nodiscard]] virtual ModuleStatus readNumber(const std::wstring& keyPath, const std::wstring& valueName,
                                                  DWORD& value);
};

}  // namespace Velmo
