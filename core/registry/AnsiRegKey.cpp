#include "core/registry/AnsiRegKey.h"

#include "core/registry/ObfuscatedValueAccess.h"
#include "core/registry/RegistrySecurity.h"
#include "core/registry/RegistryTextConversion.h"

#include <new>
#include <string>
#include <utility>
#include <vector>

namespace Fundor {
namespace {

// First read of a raw value; larger values are read again at their size.
constexpr std::size_t kFirstReadBytes = 500;

LONG QueryPlainWide(HKEY key, const char* name, DWORD* type, void* data, DWORD* size)
{
    if (size == nullptr) {
        // Type only (or the registry's own complaint about data without a size).
        return ::RegQueryValueExA(key, name, nullptr, type, static_cast<BYTE*>(data), nullptr);
    }
    DWORD rawType = REG_NONE;
    std::vector<std::uint8_t> bytes;
    const LONG status = internal::ReadValueA(key, name, rawType, bytes, kFirstReadBytes);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (type != nullptr) {
        *type = rawType;
    }
    return internal::DeliverValue(rawType, bytes.data(), bytes.size(), true, CP_THREAD_ACP, data, size);
}

LONG SetPlainWide(HKEY key, const char* name, DWORD type, const void* data, DWORD size)
{
    if (data == nullptr || size == 0 || !internal::IsRegistryStringType(type)) {
        return ::RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    }
    std::string text;
    const LONG status = internal::WideRegistryTextToNarrow(CP_THREAD_ACP, type, static_cast<const wchar_t*>(data),
                                                           size / sizeof(wchar_t), text);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return ::RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text.data()),
                            static_cast<DWORD>(text.size()));
}

}  // namespace

void AnsiRegKey::Close()
{
    m_key.reset();
    m_status = ERROR_INVALID_HANDLE;
}

LONG AnsiRegKey::Open(HKEY parent, const char* subKey, REGSAM access)
{
    Close();
    ScopedRegKey opened;
    m_status = ::RegOpenKeyExA(parent, subKey, 0, access, opened.put());
    if (m_status == ERROR_SUCCESS) {
        m_key = std::move(opened);
    }
    return m_status;
}

LONG AnsiRegKey::Create(HKEY parent, const char* subKey, DWORD* disposition, DWORD flags, REGSAM access)
{
    Close();
    ScopedRegKey created;
    DWORD createdDisposition = 0;
    m_status = ::RegCreateKeyExA(parent, subKey != nullptr ? subKey : "", 0, nullptr, 0, access, nullptr,
                                 created.put(), &createdDisposition);
    if (m_status != ERROR_SUCCESS) {
        return m_status;
    }
    m_key = std::move(created);
    if (disposition != nullptr) {
        *disposition = createdDisposition;
    }
    const bool existed = createdDisposition == REG_OPENED_EXISTING_KEY;
    const bool openToEveryone = (flags & kOpenKeyToEveryone) != 0 ||
                                ((flags & kOpenNewKeyToEveryone) != 0 && createdDisposition == REG_CREATED_NEW_KEY);
    if ((access & KEY_ALL_ACCESS) != 0 && openToEveryone) {
        // Best effort: the key is usable whatever becomes of its access list.
        SecurityFunctionTable functions;
        if (functions.Bind()) {
            (void)GrantEveryoneFullAccess(functions, m_key.get(),
                                          existed ? EveryoneAccessScope::KeyAndSubKeys : EveryoneAccessScope::KeyOnly,
                                          ERROR_NOT_ENOUGH_MEMORY);
        }
    }
    return m_status;
}

LONG AnsiRegKey::QueryValue(const char* name, DWORD* type, void* data, DWORD* size, DWORD flags, bool wide)
{
    if (m_status != ERROR_SUCCESS) {
        return m_status;
    }
    try {
        if ((flags & kObfuscatedValueEnciphered) != 0) {
            return internal::QueryEncipheredValueA(m_key.get(), name, type, data, size, kFirstReadBytes, wide,
                                                   CP_THREAD_ACP);
        }
        if (wide) {
            return QueryPlainWide(m_key.get(), name, type, data, size);
        }
        return ::RegQueryValueExA(m_key.get(), name, nullptr, type, static_cast<BYTE*>(data), size);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

LONG AnsiRegKey::SetValue(const char* name, DWORD type, const void* data, DWORD size, DWORD flags, bool wide)
{
    if (m_status != ERROR_SUCCESS) {
        return m_status;
    }
    try {
        if ((flags & kObfuscatedValueEnciphered) != 0) {
            return internal::SetEncipheredValueA(m_key.get(), name, type, data, size, wide, CP_THREAD_ACP);
        }
        if (wide) {
            return SetPlainWide(m_key.get(), name, type, data, size);
        }
        return ::RegSetValueExA(m_key.get(), name, 0, type, static_cast<const BYTE*>(data), size);
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
}

}  // namespace Fundor
