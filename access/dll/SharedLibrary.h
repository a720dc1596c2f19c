#pragma once
// One loaded module-platform library (such as "Corvane.dll") and its four bound exports.
//
// The library is looked for by file name in an ordered list of folders, each of which may hold
// path macros ("$(App.Folder)", "$(Brannock.InstallDir)", see PathHelpers.h); the first folder
// that holds the file wins. A folder that expands to an empty, relative or drive-relative path
// is skipped (never probed against the working folder or a drive root). A library whose version
// stands on the block list (LibraryBlockList.h) is refused; every load passes the module trust
// check of the DllAPI (the default one's load is LoadValidatedLibraryEx).
//
// Usage:
//     Velmo::SharedLibrary library(L"Corvane.dll", {L"$(App.Folder)", L"$(Brannock.InstallDir)"});
//     auto create = Velmo::ExportAs<CreateObjectFn>(library.getFunctions()->CreateObject);
// The constructor throws Velmo::ModuleException when the library cannot be loaded or one of the
// four exports is missing; nothing stays loaded then. The destructor frees the library, so the
// bound pointers are valid only while the object lives. One thread uses an object.

#include "access/ModuleStatus.h"
#include "access/PathHelpers.h"
#include "access/PathSearch.h"
#include "access/dll/DllLoader.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace Velmo {

// The exports bound by name, in this order: "CreateObject", "ReleaseObject", "GetVersionStr",
// "GetVersionNum". The caller casts each to its own function type.
struct SharedLibraryFunctions {
    FARPROC CreateObject = nullptr;
    FARPROC ReleaseObject = nullptr;
    FARPROC GetVersionStr = nullptr;
    FARPROC GetVersionNum = nullptr;
};

// An export cast to the caller's function type (by way of a generic function pointer, so the
// compiler takes the cast as intended).
template <typename Function>
[[nodiscard]] Function ExportAs(FARPROC address) noexcept
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

class SharedLibrary {
public:
    // Loads and binds (loadLibrary, then importFunctions). Empty collaborators are replaced by
    // default ones (the real loader, macro sources and file tests). Throws ModuleException with
    // "Failed to load library" or "Failed to import functions from library"; std::bad_alloc
    // passes through. No module stays loaded when it throws.
    SharedLibrary(std::wstring fileName, std::vector<std::wstring> searchFolders,
                  std::shared_ptr<DllLoader> loader = nullptr, std::shared_ptr<PathHelpers> pathHelpers = nullptr,
                  std::shared_ptr<PathSearch> pathSearch = nullptr);
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;
    // Frees the library.
    virtual ~SharedLibrary();

    // The bound-function table, owned by this object.
    [[nodiscard]] virtual const SharedLibraryFunctions* getFunctions() const;

    // Expands the folders (in place), finds the file, applies the block list and loads it. 0, or
    // MODULE_STATUS_NOT_FOUND (in no usable folder; nothing loaded), MODULE_STATUS_NOT_SUPPORTED
    // (version blocked; not loaded), MODULE_STATUS_UNSUCCESSFUL (the load or its trust check
    // failed). A library this object already held is freed first.
    [[nodiscard]] ModuleStatus loadLibrary();
    // Binds the four exports in table order. 0, or MODULE_STATUS_NOT_FOUND at the first missing
    // one (those before it stay bound, those after it unbound). MODULE_STATUS_INVALID_HANDLE
    // when no library is loaded.
    [[nodiscard]] ModuleStatus importFunctions();
    // Frees the library through the DllAPI (a failure is logged) and clears the table. Does
    // nothing when none is loaded.
    void unloadLibrary();

    [[nodiscard]] HMODULE getModule() const noexcept { return m_module.get(); }
    [[nodiscard]] const std::wstring& getFileName() const noexcept { return m_fileName; }
    // Full path of the loaded file; empty while none is loaded.
    [[nodiscard]] const std::wstring& getLibraryPath() const noexcept { return m_libraryPath; }
    // The folders as expanded by the last loadLibrary (before that, as given).
    [[nodiscard]] const std::vector<std::wstring>& getSearchFolders() const noexcept { return m_searchFolders; }

private:
    // Holds one module reference and gives it back through the DllAPI that took it, whatever
    // way the owner is left (an exception in the constructor included).
    class ModuleReference {
    public:
        ModuleReference() = default;
        ModuleReference(const ModuleReference&) = delete;
        ModuleReference& operator=(const ModuleReference&) = delete;
        ~ModuleReference() { static_cast<void>(reset()); }

        void assign(std::shared_ptr<DllAPI> api, HMODULE module) noexcept;
        // Frees the module held (if any); false when the free failed.
        [[nodiscard]] bool reset() noexcept;
        [[nodiscard]] HMODULE get() const noexcept { return m_module; }

    private:
        std::shared_ptr<DllAPI> m_api;
        HMODULE m_module = nullptr;
    };

    std::wstring m_fileName;
    std::vector<std::wstring> m_searchFolders;
    std::shared_ptr<DllLoader> m_loader;
    std::shared_ptr<PathHelpers> m_pathHelpers;
    std::shared_ptr<PathSearch> m_pathSearch;
    std::wstring m_libraryPath;
    SharedLibraryFunctions m_functions;
    // Last: released first, so the module goes while its collaborators are still there.
    ModuleReference m_module;
};

}  // namespace Velmo
