#include "core/version/SystemFileVersionInfo.h"

#include "core/base/ScopedResource.h"

#include <knownfolders.h>

namespace Fundor {

SystemFileVersionInfo::SystemFileVersionInfo(std::shared_ptr<ShlObjAPI> shell)
    : m_shell(shell ? std::move(shell) : std::make_shared<ShlObjAPI>())
{
}

SystemFileVersionInfo::~SystemFileVersionInfo() = default;

bool SystemFileVersionInfo::Load(const wchar_t* fileName)
{
    if (fileName == nullptr || fileName[0] == L'\0') {
        return false;
    }
    if (m_systemFolder.empty()) {
        PWSTR folder = nullptr;
        const HRESULT hr = m_shell->SHGetKnownFolderPath(FOLDERID_System, 0, nullptr, &folder);
        ScopedCoTaskMemory folderOwner(folder);
        // Without the System folder there is nothing safe to read: a bare "\" would name a file
        // at the root of the current drive.
        if (FAILED(hr) || folder == nullptr || folder[0] == L'\0') {
            return false;
        }
        m_systemFolder = folder;
        if (m_systemFolder.back() != L'\\') {
            m_systemFolder += L'\\';
        }
    }
    const std::wstring path = m_systemFolder + fileName;
    return FileVersionInfo::Load(path.c_str());
}

}  // namespace Fundor
