#pragma once
// Version resource of a file in the System folder, named by its file name alone.

#include "core/base/ShlObjAPI.h"
#include "core/version/FileVersionInfo.h"

#include <memory>
#include <string>

namespace Fundor {

class SystemFileVersionInfo : public FileVersionInfo {
public:
    // The seam is shared; a default one (the real shell call) is made when none is given.
    explicit SystemFileVersionInfo(std::shared_ptr<ShlObjAPI> shell = nullptr);
    ~SystemFileVersionInfo() override;

    // Loads the version resource of fileName in the System folder (FOLDERID_System). The folder
    // is asked for through the seam until it has been had once, then kept. False when the folder
    // cannot be had (never a file outside it), for a null or empty name, and as
    // FileVersionInfo::Load.
    [[nodiscard]] bool Load(const wchar_t* fileName) override;

private:
    std::shared_ptr<ShlObjAPI> m_shell;
    std::wstring m_systemFolder;  // with a trailing '\' once known
};

}  // namespace Fundor
