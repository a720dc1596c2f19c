#include "core/registry/ObfuscatedValueAccess.h"

#include "core/registry/ObfuscatedValueBlob.h"
#include "core/registry/RegistryTextConversion.h"

#include <algorithm>
#include <string>

namespace Fundor::internal {
namespace {

// A value can grow between the size query and the read; try a few times.
constexpr int kReadAttempts = 4;

}  // namespace

LONG ReadValueA(HKEY key, const char* name, DWORD& type, std::vector<std::uint8_t>& bytes,
                std::size_t firstReadBytes)
{
    bytes.resize(std::max<std::size_t>(firstReadBytes, 1));
    LONG status = ERROR_MORE_DATA;
    for (int attempt = 0; attempt < kReadAttempts && status == ERROR_MORE_DATA; ++attempt) {
        DWORD got = static_cast<DWORD>(bytes.size());
        status = ::RegQueryValueExA(key, name, nullptr, &type, bytes.data(), &got);
        if (status == ERROR_SUCCESS) {
            bytes.resize(got);
        } else if (status == ERROR_MORE_DATA) {
            bytes.resize(std::max<std::size_t>(got, bytes.size() + 1));
        }
    }
    return status;
}

LONG DeliverValue(DWORD type, const std::uint8_t* bytes, std::size_t count, bool toWide, UINT codePage,
                  void* data, DWORD* size)
{
    if (toWide && IsRegistryStringType(type)) {
        std::wstring text;
        const LONG status =
            NarrowRegistryTextToWide(codePage, type, reinterpret_cast<const char*>(bytes), count, text);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        return CopyToCallerBuffer(text.data(), text.size() * sizeof(wchar_t), data, size);
    }
    return CopyToCallerBuffer(bytes, count, data, size);
}

LONG QueryEncipheredValueA(HKEY key, const char* name, DWORD* type, void* data, DWORD* size,
                           std::size_t firstReadBytes, bool toWide, UINT codePage)
{
    if ((size == nullptr && type == nullptr) || (data != nullptr && size == nullptr)) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD rawType = REG_NONE;
    std::vector<std::uint8_t> record;
    LONG status = ReadValueA(key, name, rawType, record, firstReadBytes);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (rawType != REG_BINARY) {
        return ERROR_INVALID_DATA;
    }
    const DWORD recordLength = static_cast<DWORD>(record.size());
    DWORD plainType = REG_NONE;
    DWORD plainLength = 0;
    status = DecodeObfuscatedValue(record.data(), recordLength, &plainType, nullptr, &plainLength);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    if (type != nullptr) {
        *type = plainType;
    }
    if (size == nullptr) {
        return ERROR_SUCCESS;
    }
    // At least one byte, so that an empty record reaches the cipher and fails there.
    std::vector<std::uint8_t> plain(std::max<DWORD>(plainLength, 1));
    DWORD room = plainLength;
    status = DecodeObfuscatedValue(record.data(), recordLength, nullptr, plain.data(), &room);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return DeliverValue(plainType, plain.data(), plainLength, toWide, codePage, data, size);
}

LONG SetEncipheredValueA(HKEY key, const char* name, DWORD type, const void* data, DWORD size, bool fromWide,
                         UINT codePage)
{
    if (data == nullptr || size == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    const void* plain = data;
    std::size_t plainLength = size;
    std::string text;
    if (fromWide && IsRegistryStringType(type)) {
        const LONG status =
            WideRegistryTextToNarrow(codePage, type, static_cast<const wchar_t*>(data), size / sizeof(wchar_t), text);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        plain = text.data();
        plainLength = text.size();
    }
    if (plainLength > MAXDWORD - kObfuscatedValueHeaderSize) {
        return ERROR_INVALID_PARAMETER;
    }
    std::vector<std::uint8_t> record(plainLength + kObfuscatedValueHeaderSize);
    const LONG status = EncodeObfuscatedValue(plain, static_cast<DWORD>(plainLength), type, record.data(),
                                              static_cast<DWORD>(record.size()));
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return ::RegSetValueExA(key, name, 0, REG_BINARY, record.data(), static_cast<DWORD>(record.size()));
}

}  // namespace Fundor::internal
