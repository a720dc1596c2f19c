#include "core/registry/RegistryTextConversion.h"
#include "core/base/LastError.h"

#include <climits>
#include <cstring>
#include <cwchar>

namespace Fundor::internal {
namespace {

LONG AppendWide(UINT codePage, const char* text, std::size_t bytes, std::wstring& out)
{
    if (bytes == 0) {
        return ERROR_SUCCESS;
    }
    if (bytes > INT_MAX) {
        return ERROR_INVALID_PARAMETER;
    }
    const int length = static_cast<int>(bytes);
    const int needed = ::MultiByteToWideChar(codePage, 0, text, length, nullptr, 0);
    if (needed <= 0) {
        return Fundor::LastErrorOr(ERROR_NO_UNICODE_TRANSLATION);
    }
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(needed));
    if (::MultiByteToWideChar(codePage, 0, text, length, out.data() + at, needed) != needed) {
        return Fundor::LastErrorOr(ERROR_NO_UNICODE_TRANSLATION);
    }
    return ERROR_SUCCESS;
}

LONG AppendNarrow(UINT codePage, const wchar_t* text, std::size_t characters, std::string& out)
{
    if (characters == 0) {
        return ERROR_SUCCESS;
    }
    if (characters > INT_MAX) {
        return ERROR_INVALID_PARAMETER;
    }
    const int length = static_cast<int>(characters);
    const int needed = ::WideCharToMultiByte(codePage, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return Fundor::LastErrorOr(ERROR_NO_UNICODE_TRANSLATION);
    }
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(needed));
    if (::WideCharToMultiByte(codePage, 0, text, length, out.data() + at, needed, nullptr, nullptr) != needed) {
        return Fundor::LastErrorOr(ERROR_NO_UNICODE_TRANSLATION);
    }
    return ERROR_SUCCESS;
}

std::size_t BoundedLength(const char* text, std::size_t limit)
{
    const void* zero = std::memchr(text, '\0', limit);
    return zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - text) : limit;
}

std::size_t BoundedLength(const wchar_t* text, std::size_t limit)
{
    return ::wcsnlen(text, limit);
}

// Walks the strings of a registry string value and appends each converted one, terminated.
template <typename From, typename To, typename Append>
LONG ConvertRegistryText(DWORD type, const From* text, std::size_t count, To& out, Append append)
{
    out.clear();
    if (text == nullptr) {
        count = 0;
    }
    if (type != REG_MULTI_SZ) {
        const std::size_t length = count != 0 ? BoundedLength(text, count) : 0;
        const LONG status = append(text, length, out);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        out.push_back(0);
        return ERROR_SUCCESS;
    }
    std::size_t position = 0;
    while (position < count) {
        const std::size_t length = BoundedLength(text + position, count - position);
        if (length == 0) {
            break;
        }
        const LONG status = append(text + position, length, out);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        out.push_back(0);
        position += length + 1;
    }
    out.push_back(0);
    return ERROR_SUCCESS;
}

}  // namespace

bool IsRegistryStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

LONG NarrowRegistryTextToWide(UINT codePage, DWORD type, const char* text, std::size_t bytes, std::wstring& out)
{
    return ConvertRegistryText(type, text, bytes, out,
                               [codePage](const char* piece, std::size_t length, std::wstring& target) {
                                   return AppendWide(codePage, piece, length, target);
                               });
}

LONG WideRegistryTextToNarrow(UINT codePage, DWORD type, const wchar_t* text, std::size_t characters,
                              std::string& out)
{
    return ConvertRegistryText(type, text, characters, out,
                               [codePage](const wchar_t* piece, std::size_t length, std::string& target) {
                                   return AppendNarrow(codePage, piece, length, target);
                               });
}

LONG WideNameToAnsi(const wchar_t* name, std::string& out)
{
    out.clear();
    if (name == nullptr) {
        return ERROR_SUCCESS;
    }
    return AppendNarrow(CP_THREAD_ACP, name, std::wcslen(name), out);
}

LONG CopyToCallerBuffer(const void* bytes, std::size_t count, void* data, DWORD* size)
{
    if (size == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (count > MAXDWORD) {
        return ERROR_INVALID_DATA;
    }
    const DWORD room = *size;
    *size = static_cast<DWORD>(count);
    if (data == nullptr) {
        return ERROR_SUCCESS;
    }
    if (count > room) {
        return ERROR_MORE_DATA;
    }
    if (count != 0) {
        std::memcpy(data, bytes, count);
    }
    return ERROR_SUCCESS;
}

}  // namespace Fundor::internal
