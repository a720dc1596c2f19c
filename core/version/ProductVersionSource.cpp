#include "core/version/ProductVersionSource.h"

#include "core/version/SystemFileVersionInfo.h"

namespace Fundor::internal {

ProductVersionSource::ProductVersionSource(std::shared_ptr<ShlObjAPI> shell)
    : m_shell(shell ? std::move(shell) : std::make_shared<ShlObjAPI>())
{
}

ProductVersionSource::~ProductVersionSource() = default;

std::wstring ProductVersionSource::ReadProductVersion()
{
    SystemFileVersionInfo kernel(m_shell);
    if (!kernel.Load(L"kernel32.dll")) {
        return {};
    }
    return kernel.QueryString(VersionStringKey::ProductVersion);
}

}  // namespace Fundor::internal
