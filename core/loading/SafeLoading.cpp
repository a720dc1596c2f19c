#include "core/loading/SafeLoading.h"

#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"

#include <knownfolders.h>
#include <shlobj.h>

#include <cwchar>
#include <cwctype>

namespace Fundor {
namespace {

bool RestrictDefaultDllSearch()
{
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) {
        return false;
    }
    auto setDirectories = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDirectories == nullptr) {
        return false;
    }
    return setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) == TRUE;
}

const bool g_setDefaultDllDirectoriesApplied = RestrictDefaultDllSearch();

bool IsPathSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

}  // namespace

bool IsSetDefaultDllDirectoriesApplied() { return g_setDefaultDllDirectoriesApplied; }

bool IsFullyQualifiedFilePath(const wchar_t* path)
{
    if (path == nullptr || path[0] == L'\0') {
        return false;
    }
    const wchar_t* rest = nullptr;
    if (std::iswalpha(path[0]) && path[1] == L':' && IsPathSeparator(path[2])) {
        rest = path + 3;  // "C:\"
    } else if (IsPathSeparator(path[0]) && IsPathSeparator(path[1])) {
        // "\\server\share\" or "\\?\C:\"
        const wchar_t* p = path + 2;
        if (p[0] == L'?' && IsPathSeparator(p[1])) {
            return IsFullyQualifiedFilePath(p + 2);
        }
        const wchar_t* server = p;
        while (*p != L'\0' && !IsPathSeparator(*p)) ++p;
        if (p == server || *p == L'\0') return false;
        const wchar_t* share = ++p;
        while (*p != L'\0' && !IsPathSeparator(*p)) ++p;
        if (p == share || *p == L'\0') return false;
        rest = p + 1;
    } else {
        return false;
    }
    // At least "folder\file" below the root.
    const wchar_t* separator = nullptr;
    for (const wchar_t* p = rest; *p != L'\0'; ++p) {
        if (IsPathSeparator(*p)) separator = p;
    }
    return separator != nullptr && separator != rest && separator[1] != L'\0';
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    if (name == nullptr) {
        return nullptr;
    }
    PWSTR folder = nullptr;
    const HRESULT hr = ::SHGetKnownFolderPath(FOLDERID_System, 0, nullptr, &folder);
    ScopedCoTaskMemory folderOwner(folder);
    if (FAILED(hr) || folder == nullptr) {
        return nullptr;
    }
    wchar_t path[MAX_PATH];
    if (FormatW(path, MAX_PATH, L"%s\\%s", folder, name) < 0) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    return ::LoadLibraryExW(path, nullptr, 0);
}

HMODULE LoadQualifiedLibrary(const wchar_t* path, DWORD flags)
{
    if (!IsFullyQualifiedFilePath(path)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return ::LoadLibraryExW(path, nullptr, flags);
}

}  // namespace Fundor

// Referenced from the link line of every binary that links the core, so that the static
// initialiser above is always part of the program.
extern "C" {
extern const bool* const OrdwellCoreSafeLoadingAnchor;
__attribute__((used)) const bool* const OrdwellCoreSafeLoadingAnchor = &Fundor::g_setDefaultDllDirectoriesApplied;
}
