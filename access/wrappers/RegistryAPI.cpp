#include "access/wrappers/RegistryAPI.h"

#include "core/registry/CRegKey.h"

namespace Velmo {

RegistryAPI::~RegistryAPI() = default;

ModuleStatus RegistryAPI::readString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& value)
{
    Fundor::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_READ) != ERROR_SUCCESS) {
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    std::wstring text;
    if (key.QueryStringValue(valueName.c_str(), text) != ERROR_SUCCESS) {
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    value = std::move(text);
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus RegistryAPI::readNumber(const std::wstring& keyPath, const std::wstring& valueName, DWORD& value)
{
    Fundor::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_READ) != ERROR_SUCCESS) {
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    DWORD number = 0;
    if (key.QueryDWORDValue(valueName.c_str(), number) != ERROR_SUCCESS) {
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    value = number;
    return MODULE_STATUS_SUCCESS;
}

}  // namespace Velmo
