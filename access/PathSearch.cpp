#include "access/PathSearch.h"

#include "core/Logging/Logging.h"

namespace Velmo {

namespace {
constexpr const wchar_t* kSource = L"PathSearch";
constexpr const wchar_t* kFindFilePath = L"Velmo::PathSearch::findFilePath";
constexpr const wchar_t* kCheckIfExists = L"Velmo::PathSearch::checkIfExists";
}  // namespace

std::wstring JoinFolderAndName(const std::wstring& folder, const std::wstring& name)
{
    // "$(App.Folder)" keeps its trailing separator; a doubled one would make the path differ in
    // text from the file's own name (trust lists compare paths as text).
    if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) {
        return folder + name;
    }
    return folder + L"\\" + name;
}

PathSearch::PathSearch(std::shared_ptr<PathAPI> pathApi, std::shared_ptr<DllAPI> dllApi)
    : m_pathApi(pathApi ? std::move(pathApi) : std::make_shared<PathAPI>()),
      m_dllApi(dllApi ? std::move(dllApi) : std::make_shared<DllAPI>())
{
}

PathSearch::~PathSearch() = default;

std::vector<std::wstring> PathSearch::getSearchPaths() const { return m_folders; }

void PathSearch::addSearchPaths(const std::vector<std::wstring>& folders)
{
    m_folders.insert(m_folders.end(), folders.begin(), folders.end());
}

void PathSearch::addSearchPath(const std::wstring& folder) { m_folders.push_back(folder); }

void PathSearch::setSearchPaths(const std::vector<std::wstring>& folders) { m_folders = folders; }

bool PathSearch::findFilePath(const std::wstring& name, std::wstring& folder)
{
    if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelNormal)) {
        ETWLogging::LogMessage(ETWLogging::kLevelNormal, kSource, kFindFilePath, __LINE__,
                               L"Entering findFilePath for file %ls", name);
    }
    for (const std::wstring& candidate : m_folders) {
        const std::wstring path = JoinFolderAndName(candidate, name);
        if (checkIfExists(path)) {
            folder = candidate;
            if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelNormal)) {
                ETWLogging::LogMessage(ETWLogging::kLevelNormal, kSource, kFindFilePath, __LINE__,
                                       L"File found at path %ls. Returning success.", path);
            }
            return true;
        }
    }
    if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelWarning)) {
        ETWLogging::LogMessage(ETWLogging::kLevelWarning, kSource, kFindFilePath, __LINE__, L"File not found.");
    }
    return false;
}

bool PathSearch::checkIfExists(const std::wstring& path)
{
    if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelNormal)) {
        ETWLogging::LogMessage(ETWLogging::kLevelNormal, kSource, kCheckIfExists, __LINE__,
                               L"Entering checkIfExists for %ls", path);
    }
    if (m_pathApi->isFile(path)) {
        if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelNormal)) {
            ETWLogging::LogMessage(ETWLogging::kLevelNormal, kSource, kCheckIfExists, __LINE__, L"File exists");
        }
        return true;
    }
    if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelWarning)) {
        ETWLogging::LogMessage(ETWLogging::kLevelWarning, kSource, kCheckIfExists, __LINE__, L"File does not exist.");
    }
    return false;
}

}  // namespace Velmo
