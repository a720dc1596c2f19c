#include "access/PathHelpers.h"

#include "core/base/ScopedResource.h"

#include <knownfolders.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <regex>
#include <vector>

namespace Velmo {

namespace internal {

std::uint32_t PlatformValueOfArchitecture(WORD architecture) noexcept
{
    switch (architecture) {
    case PROCESSOR_ARCHITECTURE_INTEL: return 0;
    case PROCESSOR_ARCHITECTURE_AMD64: return 1;
    default: return 2;
    }
}

const wchar_t* PlatformText(std::uint32_t platformValue) noexcept
{
    switch (platformValue) {
    case 0: return L"win32";
    case 1: return L"x64";
    case 2: return L"PlatformUnknown";
    default: return L"";
    }
}

}  // namespace internal

class PathHelpers::_Impl {
public:
    _Impl(std::shared_ptr<ShlObjAPI> shlObj, std::shared_ptr<OSInfo> osInfo, std::shared_ptr<RegistryAPI> registry,
          std::shared_ptr<SystemInfoAPI> systemInfo)
        : m_shlObj(shlObj ? std::move(shlObj) : std::make_shared<ShlObjAPI>()),
          m_osInfo(osInfo ? std::move(osInfo) : std::make_shared<OSInfo>()),
          m_registry(registry ? std::move(registry) : std::make_shared<RegistryAPI>()),
          m_systemInfo(systemInfo ? std::move(systemInfo) : std::make_shared<SystemInfoAPI>())
    {
    }

    std::wstring platform()
    {
        SYSTEM_INFO info{};
        m_systemInfo->getNativeSystemInfo(info);
        return internal::PlatformText(internal::PlatformValueOfArchitecture(info.wProcessorArchitecture));
    }

    std::wstring knownFolder(REFKNOWNFOLDERID id)
    {
        PWSTR path = nullptr;
        const HRESULT hr = m_shlObj->SHGetKnownFolderPath(id, 0, nullptr, &path);
        Fundor::ScopedCoTaskMemory owner(path);
        if (FAILED(hr) || path == nullptr) {
            return {};
        }
        return path;
    }

    std::wstring brannockInstallFolder()
    {
        const wchar_t* valueName = m_osInfo->IsWow64() ? L"Install Dir32" : L"Install Dir";
        std::wstring folder;
        if (m_registry->readString(L"SOFTWARE\\TERVANE\\BRANN", valueName, folder) != MODULE_STATUS_SUCCESS) {
            return {};
        }
        return folder;
    }

private:
    std::shared_ptr<ShlObjAPI> m_shlObj;
    std::shared_ptr<OSInfo> m_osInfo;
    std::shared_ptr<RegistryAPI> m_registry;
    std::shared_ptr<SystemInfoAPI> m_systemInfo;
};

namespace {

// Parts of the program module's path, by mask: drive 1, folder 2, file name 4, extension 8.
struct ModulePathParts {
    std::wstring drive;
    std::wstring folder;
    std::wstring name;
    std::wstring extension;
};

ModulePathParts SplitProgramPath()
{
    // Read the whole path, however long: a cut path would name the wrong folder.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            break;
        }
        if (buffer.size() >= 32768) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    const std::size_t room = buffer.size();
    std::vector<wchar_t> drive(room), folder(room), name(room), extension(room);
    if (_wsplitpath_s(buffer.data(), drive.data(), room, folder.data(), room, name.data(), room, extension.data(),
                      room) != 0) {
        return {};
    }
    return ModulePathParts{drive.data(), folder.data(), name.data(), extension.data()};
}

const ModulePathParts& ProgramPathParts()
{
    static const ModulePathParts parts = SplitProgramPath();
    return parts;
}

std::wstring ProgramPath(unsigned mask)
{
    const ModulePathParts& parts = ProgramPathParts();
    std::wstring text;
    if (mask & 1) text += parts.drive;
    if (mask & 2) text += parts.folder;
    if (mask & 4) text += parts.name;
    if (mask & 8) text += parts.extension;
    return text;
}

using ValueGetter = std::function<std::wstring(PathHelpers::_Impl&)>;

ValueGetter KnownFolder(REFKNOWNFOLDERID id)
{
    const KNOWNFOLDERID copy = id;
    return [copy](PathHelpers::_Impl& impl) { return impl.knownFolder(copy); };
}

ValueGetter ProgramPart(unsigned mask)
{
    return [mask](PathHelpers::_Impl&) { return ProgramPath(mask); };
}

const std::map<std::wstring, ValueGetter>& MacroTable()
{
    static const std::map<std::wstring, ValueGetter> table = {
        {L"$(OS.Platform)", [](PathHelpers::_Impl& impl) { return impl.platform(); }},
        {L"$(App.Binary)", ProgramPart(4 | 8)},
        {L"$(App.Name)", ProgramPart(4)},
        {L"$(App.Folder)", ProgramPart(1 | 2)},
        {L"$(App.Path)", ProgramPart(1 | 2 | 4 | 8)},
        {L"$(Brannock.InstallDir)", [](PathHelpers::_Impl& impl) { return impl.brannockInstallFolder(); }},
        {L"$(FOLDERID_Profile)", KnownFolder(FOLDERID_Profile)},
        {L"$(FOLDERID_Desktop)", KnownFolder(FOLDERID_Desktop)},
        {L"$(FOLDERID_Documents)", KnownFolder(FOLDERID_Documents)},
        {L"$(FOLDERID_LocalAppDataLow)", KnownFolder(FOLDERID_LocalAppDataLow)},
        {L"$(FOLDERID_LocalAppData)", KnownFolder(FOLDERID_LocalAppData)},
        {L"$(FOLDERID_RoamingAppData)", KnownFolder(FOLDERID_RoamingAppData)},
        {L"$(FOLDERID_ProgramData)", KnownFolder(FOLDERID_ProgramData)},
        {L"$(FOLDERID_ProgramFiles)", KnownFolder(FOLDERID_ProgramFiles)},
        {L"$(FOLDERID_ProgramFilesX64)", KnownFolder(FOLDERID_ProgramFilesX64)},
        {L"$(FOLDERID_ProgramFilesX86)", KnownFolder(FOLDERID_ProgramFilesX86)},
        {L"$(FOLDERID_ProgramFilesCommon)", KnownFolder(FOLDERID_ProgramFilesCommon)},
        {L"$(FOLDERID_ProgramFilesCommonX64)", KnownFolder(FOLDERID_ProgramFilesCommonX64)},
        {L"$(FOLDERID_ProgramFilesCommonX86)", KnownFolder(FOLDERID_ProgramFilesCommonX86)},
    };
    return table;
}

const std::wregex& MacroPattern()
{
    static const std::wregex pattern(L"\\$\\([^$()]+\\)");
    return pattern;
}

}  // namespace

PathHelpers::PathHelpers(std::shared_ptr<ShlObjAPI> shlObj, std::shared_ptr<OSInfo> osInfo,
                         std::shared_ptr<RegistryAPI> registry, std::shared_ptr<SystemInfoAPI> systemInfo)
    : m_impl(std::make_shared<_Impl>(std::move(shlObj), std::move(osInfo), std::move(registry), std::move(systemInfo)))
{
}

PathHelpers::~PathHelpers() = default;

bool PathHelpers::expand(std::wstring& path)
{
    const std::wstring input = path;
    std::wstring output;
    const std::map<std::wstring, ValueGetter>& table = MacroTable();
    auto rest = input.cbegin();
    std::wsmatch match;
    while (std::regex_search(rest, input.cend(), match, MacroPattern())) {
        output.append(match.prefix().first, match.prefix().second);
        const std::wstring macro = match.str(0);
        const auto entry = table.find(macro);
        if (entry != table.end()) {
            output += entry->second(*m_impl);
        } else {
            output += macro;
        }
        rest = match[0].second;
    }
    output.append(rest, input.cend());
    path = std::move(output);
    return true;
}

}  // namespace Velmo
