#include "access/InstallFolders.h"

#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"
#include "core/registry/ObfuscatedRegistry.h"

#include <shlobj.h>

#include <cwchar>
#include <string>

namespace {

constexpr DWORD kRegistryTextCharacters = 520;  // 1040-byte value buffers
constexpr DWORD kReadPlain64 = Fundor::kRegistryView64;
constexpr DWORD kReadEnciphered64 = Fundor::kRegistryView64 | Fundor::kObfuscatedValueEnciphered;

// Opens "CLSID\<braced clsid><suffix>" in the first view that has it.
bool OpenServerKey(const wchar_t* clsid, Fundor::ScopedRegKey& key)
{
    const std::size_t length = std::wcslen(clsid);
    const wchar_t* open = clsid[0] == L'{' ? L"" : L"{";
    // A braced CLSID is 38 characters; its closing brace is looked for within them.
    const std::size_t last = (length < 38 ? length : 38) - 1;
    const wchar_t* close = clsid[last] == L'}' ? L"" : L"}";
    static constexpr const wchar_t* kSuffixes[] = {L"\\InprocServer32", L"\\LocalServer32"};
    static constexpr REGSAM kViews[] = {0, KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    for (const wchar_t* suffix : kSuffixes) {
        wchar_t path[MAX_PATH];
        if (Fundor::FormatW(path, MAX_PATH, L"CLSID\\%s%s%s%s", open, clsid, close, suffix) < 0) {
            return false;
        }
        for (const REGSAM view : kViews) {
            if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_QUERY_VALUE | view, key.put()) == ERROR_SUCCESS) {
                return true;
            }
        }
    }
    return false;
}

// The product value as text when it reads as a non-empty REG_SZ.
std::wstring ReadProductValue(const wchar_t* valueName)
{
    wchar_t value[kRegistryTextCharacters] = {};
    DWORD type = 0;
    DWORD size = (kRegistryTextCharacters - 1) * sizeof(wchar_t);
    if (ReadRegValueEx(HKEY_LOCAL_MACHINE, kProductKey, valueName, &type, value, &size, 0) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return {};
    }
    value[size / sizeof(wchar_t) < kRegistryTextCharacters ? size / sizeof(wchar_t) : kRegistryTextCharacters - 1] = L'\0';
    return value;
}

// The folder of the server registered for the product's CLSID, with its backslash.
std::wstring ProductServerFolder()
{
    wchar_t server[kRegistryTextCharacters];
    if (_ModulePathFromCLSID(kProductServerClsid, server, kRegistryTextCharacters) == 0) {
        return {};
    }
    const wchar_t* slash = std::wcsrchr(server, L'\\');
    // A bare file name names no folder.
    return slash != nullptr ? std::wstring(server, static_cast<std::size_t>(slash + 1 - server)) : std::wstring();
}

DWORD LookUpFolder(const wchar_t* valueName, bool productFolder, int csidl, const wchar_t* shellSuffix,
                   wchar_t* out, DWORD outCount, int trailingBackslash)
{
    if (out == nullptr || outCount == 0) {
        return ERROR_INVALID_PARAMETER;
    }
    try {
        std::wstring text = ReadProductValue(valueName);
        if (text.empty() && productFolder) {
            text = ProductServerFolder();
        }
        if (text.empty()) {
            wchar_t shell[MAX_PATH] = {};
            if (FAILED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, shell))) {
                out[0] = L'\0';
                return ERROR_NO_DATA;
            }
            text = std::wstring(shell) + shellSuffix;
        }
        // A folder written in double quotes: the quotes are no part of the path, and must go
        // before the trailing backslash is settled.
        if (!text.empty() && text.front() == L'"') {
            text.erase(0, 1);
            if (!text.empty() && text.back() == L'"') text.pop_back();
        }
        const bool endsInBackslash = !text.empty() && text.back() == L'\\';
        if (endsInBackslash && trailingBackslash == 0) {
            text.pop_back();
        } else if (!endsInBackslash && trailingBackslash != 0) {
            text.push_back(L'\\');
        }
        // Never a success with nothing in out.
        if (text.empty()) {
            out[0] = L'\0';
            return ERROR_PATH_NOT_FOUND;
        }
        if (CopyPathToBuffer(text.c_str(), out, outCount) == 0) {
            out[0] = L'\0';
            return ERROR_INSUFFICIENT_BUFFER;
        }
        return ERROR_SUCCESS;
    } catch (...) {
        out[0] = L'\0';
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

}  // namespace

int _ModulePathFromCLSID(const wchar_t* clsid, wchar_t* out, int outCount)
{
    if (out == nullptr || outCount < 1) {
        return 0;
    }
    out[0] = L'\0';
    if (clsid == nullptr || clsid[0] == L'\0') {
        return 0;
    }
    Fundor::ScopedRegKey key;
    if (!OpenServerKey(clsid, key)) {
        return 0;
    }
    // The text may take outCount - 1 characters: a value stored with its terminator fills the
    // whole buffer, one stored without it must leave the last place for the terminator.
    const DWORD capacity = static_cast<DWORD>(outCount);
    DWORD type = REG_NONE;
    DWORD size = capacity * sizeof(wchar_t);
    const LONG read = RegQueryValueExW(key.get(), nullptr, nullptr, &type, reinterpret_cast<BYTE*>(out), &size);
    if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) {
        out[0] = L'\0';
        return 0;
    }
    DWORD characters = size / sizeof(wchar_t);
    while (characters > 0 && out[characters - 1] == L'\0') --characters;
    if (characters >= capacity) {
        out[0] = L'\0';
        return 0;
    }
    out[characters] = L'\0';
    if (type == REG_EXPAND_SZ) {
        try {
            const std::wstring unexpanded(out);
            const DWORD needed = ExpandEnvironmentStringsW(unexpanded.c_str(), out, static_cast<DWORD>(outCount));
            if (needed == 0 || needed > static_cast<DWORD>(outCount)) {
                out[0] = L'\0';
                return 0;
            }
        } catch (...) {
            out[0] = L'\0';
            return 0;
        }
    }
    const std::size_t length = std::wcslen(out);
    if (length > 2 && out[0] == L'"' && out[length - 1] == L'"') {
        std::wmemmove(out, out + 1, length - 2);
        out[length - 2] = L'\0';
    }
    return out[0] != L'\0' ? 1 : 0;
}

DWORD GetCommonFilesDir(wchar_t* out, DWORD outCount, int trailingBackslash)
{
    return LookUpFolder(kCommonFilesDirValue, false, CSIDL_PROGRAM_FILES_COMMON, L"\\Tervane\\Platform", out,
                        outCount, trailingBackslash);
}

DWORD GetProductInstallDir(wchar_t* out, DWORD outCount, int trailingBackslash)
{
    return LookUpFolder(kInstallDirValue, true, CSIDL_PROGRAM_FILES, L"\\Tervane\\QRN", out, outCount,
                        trailingBackslash);
}

DWORD ReadRegValueEx(HKEY root, const wchar_t* subkey, const wchar_t* valueName, DWORD* type, void* data,
                     DWORD* size, int obfuscated)
{
    if (data != nullptr && size == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (root == nullptr) {
        return ERROR_BADKEY;
    }
    return static_cast<DWORD>(Fundor::ObfuscatedRegQueryValue(root, subkey, valueName, type, data, size,
                                                              obfuscated == 1 ? kReadEnciphered64 : kReadPlain64));
}

int CopyPathToBuffer(const wchar_t* src, wchar_t* dst, DWORD dstCount)
{
    if (src == nullptr || dst == nullptr || dstCount == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const std::size_t length = std::wcslen(src);
    if (length > dstCount - 1) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::wmemmove(dst, src, length + 1);
    return static_cast<int>(length);
}

DWORD GetMaxPathBytes(const void*)
{
    return 520;
}
