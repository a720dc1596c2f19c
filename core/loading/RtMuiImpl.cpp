#include "core/loading/RtMuiImpl.h"

#include "core/base/StringFormat.h"

#include <cwchar>
#include <mutex>

namespace Fundor {
namespace {

constexpr const wchar_t* kCommonFilesVariable = L"CommonProgramFiles";
constexpr const wchar_t* kMuiDllBelowCommonFiles = L"\\Tervane\\Platform\\KvRtMui.dll";

struct OverridePath {
    std::mutex lock;
    wchar_t path[MAX_PATH] = {};
    bool instanceBuilt = false;  // once set, the path no longer changes
};

OverridePath& Override()
{
    static OverridePath state;
    return state;
}

// Copies the override path for the single instance and closes it against later changes.
bool TakeOverridePath(wchar_t (&path)[MAX_PATH])
{
    OverridePath& state = Override();
    const std::lock_guard<std::mutex> guard(state.lock);
    state.instanceBuilt = true;
    std::wmemcpy(path, state.path, MAX_PATH);
    return path[0] != L'\0';
}

}  // namespace

RtMuiImpl::RtMuiImpl(const wchar_t* path) { BindAll(path); }

RtMuiImpl::RtMuiImpl()
{
    wchar_t path[MAX_PATH] = {};
    if (TakeOverridePath(path)) {
        BindAll(path);
        return;
    }
    wchar_t folder[MAX_PATH] = {};
    ::SetLastError(ERROR_SUCCESS);
    const DWORD length = ::GetEnvironmentVariableW(kCommonFilesVariable, folder, MAX_PATH);
    if (length == 0) {
        // An empty value also gives 0, possibly with no error set.
        const DWORD error = ::GetLastError();
        SetFailure(error != ERROR_SUCCESS ? error : ERROR_ENVVAR_NOT_FOUND);
        return;
    }
    // A value or path that does not fit is refused: a shortened path could name another file.
    if (length >= MAX_PATH || FormatW(path, MAX_PATH, L"%s%s", folder, kMuiDllBelowCommonFiles) < 0) {
        SetFailure(ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    BindAll(path);
}

DWORD RtMuiImpl::CheckPath(const wchar_t* /*path*/) { return ERROR_SUCCESS; }

RtMuiImpl& RtMuiImpl::Instance()
{
    static RtMuiImpl instance;
    return instance;
}

bool RtMuiImpl::SetOverridePath(const wchar_t* path)
{
    const std::size_t length = path != nullptr ? std::wcslen(path) : 0;
    if (length >= MAX_PATH) {
        return false;
    }
    OverridePath& state = Override();
    const std::lock_guard<std::mutex> guard(state.lock);
    if (state.instanceBuilt) {
        return false;
    }
    std::wmemcpy(state.path, path != nullptr ? path : L"", length);
    state.path[length] = L'\0';
    return true;
}

}  // namespace Fundor
