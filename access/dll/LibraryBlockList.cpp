#include "access/dll/LibraryBlockList.h"

#include "core/registry/CObfuscatedRegKey.h"
#include "core/version/FileVersionInfo.h"

#include <windows.h>

namespace Velmo::internal {

const std::vector<std::wstring>& LibraryBlockList::exemptNames()
{
    static const std::vector<std::wstring> names = {L"Garrow.dll", L"Dellith.dll", L"Fennick.dll", L"Corvane.dll"};
    return names;
}

bool LibraryBlockList::isExempt(const std::wstring& fileName)
{
    for (const std::wstring& name : exemptNames()) {
        if (::CompareStringOrdinal(fileName.c_str(), static_cast<int>(fileName.size()), name.c_str(),
                                   static_cast<int>(name.size()), TRUE) == CSTR_EQUAL) {
            return true;
        }
    }
    return false;
}

bool LibraryBlockList::isBlocked(const std::wstring& fileName, const std::wstring& fullPath)
{
    if (fileName.empty() || isExempt(fileName)) {
        return false;
    }
    Fundor::FileVersionInfo versionInfo;
    if (!versionInfo.Load(fullPath.c_str())) {
        return false;
    }
    const std::wstring version = versionInfo.QueryString(Fundor::VersionStringKey::FileVersion);
    // An empty text would name the key's default value; no version, nothing to match.
    if (version.empty()) {
        return false;
    }
    Fundor::CObfuscatedRegKey key;
    const std::wstring keyPath = std::wstring(kBlockListKey) + fileName;
    if (key.Open(HKEY_LOCAL_MACHINE, keyPath.c_str(), KEY_READ) != ERROR_SUCCESS) {
        return false;
    }
    std::wstring listed;
    if (key.QueryStringValue(version.c_str(), listed) != ERROR_SUCCESS) {
        return false;
    }
    return listed == version;
}

}  // namespace Velmo::internal
