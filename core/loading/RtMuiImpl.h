#pragma once
// The process's binding of the localized-resource DLL "KvRtMui.dll".
//
// The DLL is looked for only at "%CommonProgramFiles%\Tervane\Platform\KvRtMui.dll", or at the
// override path when one was set before first use. Binding happens once per process, is all or
// none, and is never retried; when it fails, the wrappers of RtMui.h use the plain Windows
// functions.

#include "core/loading/RtMuiDllInterface.h"

#include <windows.h>

namespace Fundor {

class RtMuiImpl final : public RtMuiDllInterface {
public:
    // Binds the DLL at path (a fully qualified path; anything else leaves the binding unavailable
    // with status ERROR_INVALID_PARAMETER and loads nothing). For callers that must name the DLL
    // themselves; the system uses Instance().
    explicit RtMuiImpl(const wchar_t* path);
    ~RtMuiImpl() = default;

    // Every path is accepted.
    [[nodiscard]] DWORD CheckPath(const wchar_t* path) override;

    // The single binding of the process, built on first use (thread-safe) from the override path
    // or else the "CommonProgramFiles" folder, and kept until the process exits.
    [[nodiscard]] static RtMuiImpl& Instance();

    // Names the DLL that Instance() binds instead of the one below "CommonProgramFiles"; null or
    // empty clears it. Returns false and changes nothing when Instance() has already been built
    // or the path does not fit 260 characters with its terminator.
    [[nodiscard]] static bool SetOverridePath(const wchar_t* path);

private:
    // Binds from the override path, else from the "CommonProgramFiles" folder.
    RtMuiImpl();
};

}  // namespace Fundor
