#include "core/registry/CObfuscatedRegKeyImpl.h"

#include "core/registry/ObfuscatedValueAccess.h"
#include "core/registry/RegistryTextConversion.h"

#include <new>
#include <string>

namespace Fundor {
namespace {

// First read of a raw record; larger records are read again at their size.
constexpr std::size_t kFirstReadBytes = 256;

}  // namespace

LONG CObfuscatedRegKeyImpl::QueryValue(const wchar_t* name, DWORD* type, void* data, DWORD* size)
{
    try {
        if ((size == nullptr && type == nullptr) || (data != nullptr && size == nullptr)) {
            return ERROR_INVALID_PARAMETER;
        }
        std::string ansiName;
        const LONG status = internal::WideNameToAnsi(name, ansiName);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        return internal::QueryEncipheredValueA(Handle(), name != nullptr ? ansiName.c_str() : nullptr, type, data,
                                               size, kFirstReadBytes, true, CP_UTF8);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG CObfuscatedRegKeyImpl::SetValue(const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    try {
        if (data == nullptr || size == 0) {
            return ERROR_INVALID_PARAMETER;
        }
        std::string ansiName;
        const LONG status = internal::WideNameToAnsi(name, ansiName);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        return internal::SetEncipheredValueA(Handle(), name != nullptr ? ansiName.c_str() : nullptr, type, data,
                                             size, true, CP_UTF8);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace Fundor
