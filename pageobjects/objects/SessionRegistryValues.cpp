#include "pageobjects/objects/SessionRegistryValues.h"

#include "core/Logging/Logging.h"
#include "core/base/ScopedComValues.h"
#include "core/base/ScopedResource.h"
#include "core/registry/ObfuscatedValueBlob.h"
#include "core/registry/RegistryTextConversion.h"
#include "pageobjects/objects/PageStringArray.h"
#include "pageobjects/objects/ScriptObjectAccess.h"

#include <oleauto.h>

#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kSource[] = L"SessionMgr";
constexpr wchar_t kSetFunction[] = L"CSessionMgr2::KvRegSetValue";
// A page list longer than this is not a registry value anyone means to write.
constexpr long kMaxScriptArrayLength = 65536;

// The strings of a REG_MULTI_SZ block of `characters` UTF-16 characters: each up to its zero or
// the end, until an empty string or the end.
std::vector<std::wstring> SplitMultiString(const wchar_t* text, std::size_t characters)
{
    std::vector<std::wstring> strings;
    std::size_t position = 0;
    while (position < characters && text[position] != L'\0') {
        const wchar_t* start = text + position;
        const std::size_t length = wcsnlen(start, characters - position);
        strings.emplace_back(start, length);
        position += length + 1;
    }
    return strings;
}

void AppendString(std::vector<BYTE>& data, const wchar_t* text, std::size_t characters)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(text);
    data.insert(data.end(), bytes, bytes + characters * sizeof(wchar_t));
    data.insert(data.end(), sizeof(wchar_t), 0);
}

// The page's array of strings from a SAFEARRAY of VARIANT; false when the value is no such array.
// *usable false when an element is not a string.
bool SafeArrayStrings(const VARIANT& value, std::vector<std::wstring>& strings, bool* usable)
{
    SAFEARRAY* array = nullptr;
    if (value.vt == (VT_ARRAY | VT_VARIANT)) {
        array = value.parray;
    } else if (value.vt == (VT_BYREF | VT_ARRAY | VT_VARIANT) && value.pparray != nullptr) {
        array = *value.pparray;
    } else if (value.vt == (VT_BYREF | VT_VARIANT) && value.pvarVal != nullptr &&
               value.pvarVal->vt == (VT_ARRAY | VT_VARIANT)) {
        array = value.pvarVal->parray;
    }
    if (array == nullptr || ::SafeArrayGetDim(array) != 1) return false;
    LONG lower = 0;
    LONG upper = -1;
    if (FAILED(::SafeArrayGetLBound(array, 1, &lower)) || FAILED(::SafeArrayGetUBound(array, 1, &upper)) ||
        upper < lower) {
        return false;
    }
    *usable = true;
    for (LONG index = lower; index <= upper; ++index) {
        Fundor::ScopedVariant element;
        if (FAILED(::SafeArrayGetElement(array, &index, element.put())) || element.type() != VT_BSTR) {
            *usable = false;
            return true;
        }
        const BSTR text = element.get().bstrVal;
        strings.emplace_back(text != nullptr ? text : L"", ::SysStringLen(text));
    }
    return true;
}

// The strings of a script array ("length", then "0", "1", ...); non-strings are skipped. False
// when the length cannot be read or is out of range.
bool ScriptArrayStrings(IDispatch* object, std::vector<std::wstring>& strings)
{
    Fundor::ScopedVariant length;
    VARIANT* lengthSlot = length.put();
    if (FAILED(GetScriptProperty(object, L"length", lengthSlot)) ||
        FAILED(::VariantChangeType(lengthSlot, lengthSlot, 0, VT_I4)) || length.get().lVal < 0 ||
        length.get().lVal > kMaxScriptArrayLength) {
        return false;
    }
    const long count = length.get().lVal;
    for (long index = 0; index < count; ++index) {
        const std::wstring name = std::to_wstring(index);
        Fundor::ScopedVariant element;
        if (SUCCEEDED(GetScriptProperty(object, name.c_str(), element.put())) && element.type() == VT_BSTR) {
            const BSTR text = element.get().bstrVal;
            strings.emplace_back(text != nullptr ? text : L"", ::SysStringLen(text));
        }
    }
    return true;
}

DWORD MultiStringData(const std::vector<std::wstring>& strings, std::vector<BYTE>& data)
{
    data.clear();
    for (const std::wstring& text : strings) {
        // A zero inside a string would split it into two strings of the list (or end the list).
        if (text.find(L'\0') != std::wstring::npos) {
            ETWLOG(ETWLogging::kLevelError, kSource, kSetFunction, L"A list string holds a zero character");
            data.clear();
            return ERROR_INVALID_PARAMETER;
        }
        // A reader stops at an empty string: the strings after it would be lost.
        if (text.empty()) continue;
        AppendString(data, text.data(), text.size());
    }
    if (data.empty()) {
        ETWLOG(ETWLogging::kLevelError, kSource, kSetFunction, L"Empty string received");
        return ERROR_INVALID_PARAMETER;
    }
    data.insert(data.end(), sizeof(wchar_t), 0);
    return ERROR_SUCCESS;
}

}  // namespace

HRESULT RegistryDataToVariant(DWORD type, const BYTE* data, std::size_t bytes, VARIANT* value) noexcept
{
    if (value == nullptr) return E_POINTER;
    if (data == nullptr) bytes = 0;
    const auto* text = reinterpret_cast<const wchar_t*>(data);
    const std::size_t characters = bytes / sizeof(wchar_t);
    try {
        switch (type) {
        case REG_SZ: {
            const std::size_t length = characters == 0 ? 0 : wcsnlen(text, characters);
            BSTR copy = ::SysAllocStringLen(text, static_cast<UINT>(length));
            if (copy == nullptr) return E_OUTOFMEMORY;
            value->vt = VT_BSTR;
            value->bstrVal = copy;
            return S_OK;
        }
        case REG_DWORD:
            if (bytes < sizeof(DWORD)) return S_OK;
            value->vt = VT_I4;
            memcpy(&value->lVal, data, sizeof(DWORD));
            return S_OK;
        case REG_MULTI_SZ:
            return MakeStringArrayVariant(SplitMultiString(text, characters), value);
        default:
            return S_OK;
        }
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

DWORD VariantToRegistryData(const VARIANT& value, DWORD* type, std::vector<BYTE>& data)
{
    data.clear();
    if (value.vt == VT_I4) {
        *type = REG_DWORD;
        const auto* bytes = reinterpret_cast<const BYTE*>(&value.lVal);
        data.assign(bytes, bytes + sizeof(DWORD));
        return ERROR_SUCCESS;
    }
    if (value.vt == VT_BSTR) {
        *type = REG_SZ;
        AppendString(data, value.bstrVal != nullptr ? value.bstrVal : L"", ::SysStringLen(value.bstrVal));
        return ERROR_SUCCESS;
    }
    std::vector<std::wstring> strings;
    bool usable = false;
    if (SafeArrayStrings(value, strings, &usable)) {
        if (!usable) {
            ETWLOG(ETWLogging::kLevelError, kSource, kSetFunction, L"unsupported variant type");
            return ERROR_INVALID_PARAMETER;
        }
        *type = REG_MULTI_SZ;
        return MultiStringData(strings, data);
    }
    if (IDispatch* object = ScriptObjectOf(value)) {
        if (!ScriptArrayStrings(object, strings)) {
            ETWLOG(ETWLogging::kLevelError, kSource, kSetFunction, L"unsupported variant IDispatch type");
            return ERROR_INVALID_PARAMETER;
        }
        *type = REG_MULTI_SZ;
        return MultiStringData(strings, data);
    }
    ETWLOG(ETWLogging::kLevelError, kSource, kSetFunction, L"unsupported variant type");
    return ERROR_INVALID_PARAMETER;
}

LONG ReadSessionValue(HKEY root, const wchar_t* subkey, const wchar_t* name, bool enciphered, DWORD* type,
                      std::vector<BYTE>& data)
{
    data.clear();
    Fundor::ScopedRegKey key;
    LONG status = ::RegOpenKeyExW(root, subkey, 0, KEY_READ, key.put());
    if (status != ERROR_SUCCESS) return status;
    DWORD rawType = REG_NONE;
    DWORD size = 0;
    status = ::RegQueryValueExW(key.get(), name, nullptr, &rawType, nullptr, &size);
    for (int attempt = 0; attempt < 3 && status == ERROR_SUCCESS && size != 0; ++attempt) {
        data.resize(size);
        status = ::RegQueryValueExW(key.get(), name, nullptr, &rawType, data.data(), &size);
        if (status == ERROR_SUCCESS) {
            data.resize(size);
            break;
        }
        if (status == ERROR_MORE_DATA) status = ERROR_SUCCESS;
    }
    if (status != ERROR_SUCCESS) {
        data.clear();
        return status;
    }
    if (!enciphered) {
        *type = rawType;
        return ERROR_SUCCESS;
    }
    if (rawType != REG_BINARY) return ERROR_INVALID_DATA;
    DWORD plainType = REG_NONE;
    DWORD plainSize = 0;
    status = Fundor::DecodeObfuscatedValue(data.data(), static_cast<DWORD>(data.size()), &plainType, nullptr,
                                           &plainSize);
    if (status != ERROR_SUCCESS) return status;
    std::vector<BYTE> plain(plainSize);
    status = Fundor::DecodeObfuscatedValue(data.data(), static_cast<DWORD>(data.size()), &plainType, plain.data(),
                                           &plainSize);
    if (status != ERROR_SUCCESS) return status;
    plain.resize(plainSize);
    if (Fundor::internal::IsRegistryStringType(plainType)) {
        std::wstring wide;
        status = Fundor::internal::NarrowRegistryTextToWide(CP_THREAD_ACP, plainType,
                                                            reinterpret_cast<const char*>(plain.data()), plain.size(),
                                                            wide);
        if (status != ERROR_SUCCESS) return status;
        const auto* bytes = reinterpret_cast<const BYTE*>(wide.data());
        plain.assign(bytes, bytes + wide.size() * sizeof(wchar_t));
    }
    *type = plainType;
    data.swap(plain);
    return ERROR_SUCCESS;
}

LONG WriteSessionValue(HKEY root, const wchar_t* subkey, const wchar_t* name, DWORD type,
                       const std::vector<BYTE>& data, bool enciphered)
{
    Fundor::ScopedRegKey key;
    LONG status = ::RegCreateKeyExW(root, subkey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) return status;
    if (!enciphered) {
        return ::RegSetValueExW(key.get(), name, 0, type, data.data(), static_cast<DWORD>(data.size()));
    }
    std::vector<BYTE> plain = data;
    if (Fundor::internal::IsRegistryStringType(type)) {
        std::string narrow;
        status = Fundor::internal::WideRegistryTextToNarrow(CP_THREAD_ACP, type,
                                                            reinterpret_cast<const wchar_t*>(data.data()),
                                                            data.size() / sizeof(wchar_t), narrow);
        if (status != ERROR_SUCCESS) return status;
        plain.assign(narrow.begin(), narrow.end());
    }
    std::vector<BYTE> record(plain.size() + Fundor::kObfuscatedValueHeaderSize);
    status = Fundor::EncodeObfuscatedValue(plain.data(), static_cast<DWORD>(plain.size()), type, record.data(),
                                           static_cast<DWORD>(record.size()));
    if (status != ERROR_SUCCESS) return status;
    return ::RegSetValueExW(key.get(), name, 0, REG_BINARY, record.data(), static_cast<DWORD>(record.size()));
}
