#pragma once
// Finds a file in an ordered list of folders: the first folder that holds it wins. One thread
// uses an object; it has no lock.

#include "access/wrappers/DllAPI.h"
#include "access/wrappers/PathAPI.h"

#include <memory>
#include <string>
#include <vector>

namespace Velmo {

// folder + "\" + name, without doubling a separator the folder already ends with. An empty
// folder gives "\" + name.
[[nodiscard]] std::wstring JoinFolderAndName(const std::wstring& folder, const std::wstring& name);

class PathSearch {
public:
    // Empty pointers are replaced by default objects (the real file and module calls). The
    // folder list starts empty.
    explicit PathSearch(std::shared_ptr<PathAPI> pathApi = nullptr, std::shared_ptr<DllAPI> dllApi = nullptr);
    PathSearch(const PathSearch&) = delete;
    PathSearch& operator=(const PathSearch&) = delete;
    virtual ~PathSearch();

    // A copy of the folder list.
    [[nodiscard]] virtual std::vector<std::wstring> getSearchPaths() const;
    // Appends the folders in order.
    virtual void addSearchPaths(const std::vector<std::wstring>& folders);
    virtual void addSearchPath(const std::wstring& folder);
    // Replaces the list.
    virtual void setSearchPaths(const std::vector<std::wstring>& folders);
    // The first folder, in list order, for which checkIfExists(folder + "\" + name) holds is
    // written to folder, and the result is true. False, with folder untouched, when no folder
    // holds the file (or the list is empty).
    [[nodiscard]] virtual bool findFilePath(const std::wstring& name, std::wstring& folder);
    // An existing path that is not a folder (PathAPI::isFile).
    [[nodiscard]] virtual bool checkIfExists(const std::wstring& path);

private:
    std::shared_ptr<PathAPI> m_pathApi;
    std::shared_ptr<DllAPI> m_dllApi;
    std::vector<std::wstring> m_folders;
};

}  // namespace Velmo
