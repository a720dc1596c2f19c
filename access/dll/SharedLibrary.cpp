#include "access/dll/SharedLibrary.h"

#include "access/ModuleException.h"
#include "access/dll/LibraryBlockList.h"
#include "core/Logging/Logging.h"
#include "core/loading/SafeLoading.h"

#include <iterator>

namespace Velmo {

namespace {

constexpr const wchar_t* kSource = L"dll\\SharedLibrary";

// A folder is searched only when it gives a fully qualified path to the file: an empty or
// relative folder would make the search (and the load) depend on the working folder or the
// current drive's root.
bool IsUsableFolder(const std::wstring& folder, const std::wstring& fileName)
{
    return !folder.empty() && Fundor::IsFullyQualifiedFilePath(JoinFolderAndName(folder, fileName).c_str());
}

template <typename... Arguments>
void Log(ETWLogging::LogLevel level, const wchar_t* function, int line, const wchar_t* format,
         const Arguments&... arguments)
{
    if (ETWLogging::IsLogLevelEnabled(level)) {
        ETWLogging::LogMessage(level, kSource, function, line, format, arguments...);
    }
}

}  // namespace

void SharedLibrary::ModuleReference::assign(std::shared_ptr<DllAPI> api, HMODULE module) noexcept
{
    static_cast<void>(reset());
    m_api = std::move(api);
    m_module = module;
}

bool SharedLibrary::ModuleReference::reset() noexcept
{
    if (m_module == nullptr) {
        return true;
    }
    const HMODULE module = m_module;
    m_module = nullptr;
    bool freed = false;
    try {
        freed = m_api->freeLibrary(module);
    } catch (...) {
        freed = false;
    }
    m_api.reset();
    return freed;
}

SharedLibrary::SharedLibrary(std::wstring fileName, std::vector<std::wstring> searchFolders,
                             std::shared_ptr<DllLoader> loader, std::shared_ptr<PathHelpers> pathHelpers,
                             std::shared_ptr<PathSearch> pathSearch)
    : m_fileName(std::move(fileName)),
      m_searchFolders(std::move(searchFolders)),
      m_loader(loader ? std::move(loader) : std::make_shared<DllLoader>()),
      m_pathHelpers(pathHelpers ? std::move(pathHelpers) : std::make_shared<PathHelpers>()),
      m_pathSearch(pathSearch ? std::move(pathSearch) : std::make_shared<PathSearch>())
{
    constexpr const wchar_t* kFunction = L"Velmo::SharedLibrary::SharedLibrary";
    if (loadLibrary() != MODULE_STATUS_SUCCESS) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__, L"Failed to load library: %ls. Throwing ModuleException.",
            m_fileName);
        throw ModuleException("Failed to load library");
    }
    if (importFunctions() != MODULE_STATUS_SUCCESS) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__,
            L"Failed to import functions from library: %ls. Throwing ModuleException.", m_fileName);
        // The destructor does not run for a constructor that throws: give the module back here.
        unloadLibrary();
        throw ModuleException("Failed to import functions from library");
    }
}

SharedLibrary::~SharedLibrary() { unloadLibrary(); }

const SharedLibraryFunctions* SharedLibrary::getFunctions() const { return &m_functions; }

ModuleStatus SharedLibrary::loadLibrary()
{
    constexpr const wchar_t* kFunction = L"Velmo::SharedLibrary::loadLibrary";
    Log(ETWLogging::kLevelNormal, kFunction, __LINE__, L"Entering loadLibrary for %ls", m_fileName);
    unloadLibrary();

    std::vector<std::wstring> usable;
    for (std::wstring& folder : m_searchFolders) {
        const std::wstring written = folder;
        static_cast<void>(m_pathHelpers->expand(folder));
        if (!IsUsableFolder(folder, m_fileName)) {
            Log(ETWLogging::kLevelError, kFunction, __LINE__, L"Failed to resolve file path, %ls, for library: %ls.",
                written, m_fileName);
            continue;
        }
        usable.push_back(folder);
    }
    m_pathSearch->setSearchPaths(usable);  // only the checked folders, once each

    std::wstring folder;
    if (!m_pathSearch->findFilePath(m_fileName, folder)) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__, L"Failed to find valid path for library: %ls.", m_fileName);
        return MODULE_STATUS_NOT_FOUND;
    }
    Log(ETWLogging::kLevelNormal, kFunction, __LINE__, L"Loading %ls from %ls.", m_fileName, folder);

    const std::wstring fullPath = JoinFolderAndName(folder, m_fileName);
    if (internal::LibraryBlockList::isBlocked(m_fileName, fullPath)) {
        Log(ETWLogging::kLevelInformation, kFunction, __LINE__, L"Blocked library: %ls.", m_fileName);
        return MODULE_STATUS_NOT_SUPPORTED;
    }

    HMODULE module = nullptr;
    if (!m_loader->loadDLL(fullPath, &module)) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__, L"Failed to load library: %ls.", m_fileName);
        return MODULE_STATUS_UNSUCCESSFUL;
    }
    m_module.assign(m_loader->dllApi(), module);
    m_libraryPath = fullPath;
    Log(ETWLogging::kLevelNormal, kFunction, __LINE__, L"Leaving loadLibrary: %ls loaded.", fullPath);
    return MODULE_STATUS_SUCCESS;
}

ModuleStatus SharedLibrary::importFunctions()
{
    constexpr const wchar_t* kFunction = L"Velmo::SharedLibrary::importFunctions";
    Log(ETWLogging::kLevelNormal, kFunction, __LINE__, L"Entering importFunctions for %ls", m_fileName);
    if (m_module.get() == nullptr) {
        Log(ETWLogging::kLevelError, kFunction, __LINE__, L"Failed to import functions: library %ls is not loaded.",
            m_fileName);
        return MODULE_STATUS_INVALID_HANDLE;
    }
    struct Binding {
        const char* name;
        FARPROC SharedLibraryFunctions::*slot;
    };
    static constexpr Binding kBindings[] = {
        {"CreateObject", &SharedLibraryFunctions::CreateObject},
        {"ReleaseObject", &SharedLibraryFunctions::ReleaseObject},
        {"GetVersionStr", &SharedLibraryFunctions::GetVersionStr},
        {"GetVersionNum", &SharedLibraryFunctions::GetVersionNum},
    };
    for (const Binding& binding : kBindings) {
        FARPROC address = nullptr;
        if (m_loader->getProcAddress(m_module.get(), binding.name, &address) != MODULE_STATUS_SUCCESS) {
            Log(ETWLogging::kLevelError, kFunction, __LINE__, L"Failed to load %hs function from library: %ls.",
                binding.name, m_fileName);
            return MODULE_STATUS_NOT_FOUND;
        }
        m_functions.*binding.slot = address;
    }
    Log(ETWLogging::kLevelNormal, kFunction, __LINE__, L"Leaving importFunctions: all functions bound.");
    return MODULE_STATUS_SUCCESS;
}

void SharedLibrary::unloadLibrary()
{
    if (m_module.get() == nullptr) {
        return;
    }
    m_functions = SharedLibraryFunctions{};
    m_libraryPath.clear();
    if (!m_module.reset()) {
        Log(ETWLogging::kLevelError, L"Velmo::SharedLibrary::unloadLibrary", __LINE__, L"Failed to free library: %ls.",
            m_fileName);
    }
}

}  // namespace Velmo
