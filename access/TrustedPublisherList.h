#pragma once
// The signed trusted publisher list file "trusted.js": its whole-file lock, its line grammar, the
// signer list built from it, and loading, reloading and replacing it.
//
// File grammar (single-byte text, one byte per character): lines are trimmed of spaces and tabs
// (and a trailing CR); empty lines and lines beginning "/*", "//" or "*/" are skipped; "[NAME]"
// opens a section (an empty name invalidates the file); any other line is a value of the section
// opened last. [VER] must hold exactly one decimal number that fits 32 bits; [ORG] organisation
// names; [SER] serial numbers to pass over; [SHA] root thumbprints, each exactly 40 hex digits
// (anything else rejects the whole file).

#include "access/TrustedSignerList.h"
#include "core/base/ScopedResource.h"

#include <windows.h>

#include <array>
#include <map>
#include <string>
#include <vector>

class TrustedPublisherList {
public:
    using Thumbprint = std::array<BYTE, 20>;
    using SectionMap = std::map<std::wstring, std::vector<std::wstring>>;

    // How long a load or replace waits for the whole-file lock before giving up.
    static constexpr DWORD kDefaultFileLockWaitMs = 5000;

    // The production list: the default path below the Windows drive's common files, the maker's
    // pinned list signer and the atom "67136527-5D6B-4AC9-865B-3E392E982420".
    TrustedPublisherList();
    // A list on the given path with the production signer pin and atom.
    explicit TrustedPublisherList(std::wstring path);
    // A private list (tests and temporary copies): its own path, pinned signer, atom name, the
    // version of the built-in list it must exceed to be installed, and its file-lock wait.
    TrustedPublisherList(std::wstring path, const Thumbprint& pinnedSigner, std::wstring atomName,
                         DWORD builtInVersion = 7, DWORD fileLockWaitMs = kDefaultFileLockWaitMs);
    ~TrustedPublisherList();
    TrustedPublisherList(const TrustedPublisherList&) = delete;
    TrustedPublisherList& operator=(const TrustedPublisherList&) = delete;

    // Loads the file when not yet loaded; true when loaded. The caller holds the exclusive lock
    // or is the only user.
    [[nodiscard]] bool Load();
    // Load under the exclusive lock.
    [[nodiscard]] bool LoadLocked();
    [[nodiscard]] bool IsLoaded();
    // Under the exclusive lock: Clear, then Load.
    [[nodiscard]] bool Reload();
    // Frees the arrays and the section map; not loaded afterwards. Caller holds the exclusive lock
    // or is the only user.
    void Clear();
    // Installs newFile in place of the list file through "trusted.tmp" beside it, signals the
    // atom and reloads. True when the reloaded list is loaded. When the file cannot be replaced
    // now, the replacement is queued for the next start and the result is false.
    [[nodiscard]] bool Replace(const wchar_t* newFile);
    // Loads path into a temporary list (signature included) and installs it with Replace when its
    // version is above the built-in version, the loaded list's version and the version of the
    // list file on disk.
    [[nodiscard]] bool InstallTrustedListIfNewer(const wchar_t* path);

    // Holds the shared lock while the signer list taken from it is used. signerList() is valid
    // only while the view lives and only when loaded() is true.
    class SharedView {
    public:
        explicit SharedView(TrustedPublisherList& list);
        ~SharedView();
        SharedView(const SharedView&) = delete;
        SharedView& operator=(const SharedView&) = delete;
        [[nodiscard]] bool loaded() const { return m_list.m_loaded; }
        [[nodiscard]] DWORD version() const { return m_list.m_version; }
        [[nodiscard]] TrustedSignerList signerList() const;

    private:
        TrustedPublisherList& m_list;
    };

    [[nodiscard]] const std::wstring& Path() const { return m_path; }
    [[nodiscard]] const std::wstring& AtomName() const { return m_atomName; }
    [[nodiscard]] DWORD BuiltInVersion() const { return m_builtInVersion; }

    // The grammar alone, over the file's bytes: false when a section name is empty.
    [[nodiscard]] static bool ParseListText(const char* data, std::size_t size, SectionMap& sections);
    // The rules the sections must meet to build a signer list: [VER] holds exactly one decimal
    // number that fits 32 bits (written to *version), every [SHA] value is 40 hex digits.
    [[nodiscard]] static bool CheckSections(const SectionMap& sections, DWORD* version);
    // The default path: root of the Windows folder's drive plus
    // "Program Files\Common Files\Tervane\Platform\Core\trusted.js".
    [[nodiscard]] static std::wstring DefaultPath();

private:
    [[nodiscard]] bool LoadUnlocked() noexcept;
    [[nodiscard]] bool BuildArrays();
    [[nodiscard]] bool ReplaceUnlocked(const wchar_t* newFile) noexcept;

    std::wstring m_path;
    Thumbprint m_pinnedSigner{};
    std::wstring m_atomName;
    DWORD m_builtInVersion = 7;
    DWORD m_fileLockWaitMs = kDefaultFileLockWaitMs;

    SRWLOCK m_lock = SRWLOCK_INIT;
    SectionMap m_sections;
    bool m_loaded = false;
    DWORD m_version = 0;
    std::vector<const wchar_t*> m_names;    // null-terminated, or empty for "any name"
    std::vector<const wchar_t*> m_serials;  // null-terminated, or empty for "skip nothing"
    std::vector<Thumbprint> m_thumbprints;
    std::vector<const BYTE*> m_thumbprintPointers;
};

// The process-wide list, built on first use with the production values.
[[nodiscard]] TrustedPublisherList& GlobalTrustedPublisherList();

// The list file's own signature: exactly one signer, whose certificate's SHA-1 hash is
// pinnedSigner, and WinVerifyTrust passes.
[[nodiscard]] bool VerifyTrustedListSignature(const wchar_t* path,
                                              const TrustedPublisherList::Thumbprint& pinnedSigner);

// Takes "trusted.js" out of a cabinet through "Cabinet.dll", bound at run time from the System
// folder, and installs it into a list when newer.
class CabinetExtractor {
public:
    CabinetExtractor();
    ~CabinetExtractor();
    CabinetExtractor(const CabinetExtractor&) = delete;
    CabinetExtractor& operator=(const CabinetExtractor&) = delete;

    [[nodiscard]] bool IsUsable() const { return m_usable; }
    // True when the cabinet held a "trusted.js" that target installed. The extracted copy is
    // deleted in every case.
    [[nodiscard]] bool ExtractTrustedList(const wchar_t* cabinetPath, TrustedPublisherList& target);

private:
    Fundor::ScopedModule m_module;
    void* m_create = nullptr;
    void* m_copy = nullptr;
    void* m_destroy = nullptr;
    bool m_usable = false;
};
