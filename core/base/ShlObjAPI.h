#pragma once
// Seam over the shell's known-folder call, so that code which asks for a known folder can be
// run against a substitute.

#include <windows.h>
#include <shlobj.h>

namespace Fundor {

class ShlObjAPI {
public:
    ShlObjAPI() = default;
    virtual ~ShlObjAPI();
    ShlObjAPI(const ShlObjAPI&) = delete;
    ShlObjAPI& operator=(const ShlObjAPI&) = delete;

    // SHGetKnownFolderPath with the same arguments; returns its HRESULT. On success the caller
    // owns *path and frees it with CoTaskMemFree (a ScopedCoTaskMemory).
    [[nodiscard]] virtual HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD flags, HANDLE token,
                                                       PWSTR* path);
};

}  // namespace Fundor
