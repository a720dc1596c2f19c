#include "core/base/ShlObjAPI.h"

namespace Fundor {

ShlObjAPI::~ShlObjAPI() = default;

HRESULT ShlObjAPI::SHGetKnownFolderPath(REFKNOWNFOLDERID folderId, DWORD flags, HANDLE token, PWSTR* path)
{
    return ::SHGetKnownFolderPath(folderId, flags, token, path);
}

}  // namespace Fundor
