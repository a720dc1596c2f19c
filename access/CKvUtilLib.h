#pragma once
// Run-time binding of the maker's utility library "KvUtil.dll". The file is looked for in four
// places, passes the module trust check before it is loaded, and is bound by export name. The
// host asks it one question, KvIsNTAdmin. Nothing here logs or throws; no operation takes a lock,
// so one object is used from one thread.

#include "access/KvUtilExports.h"
#include "core/base/ScopedResource.h"

#include <windows.h>

#include <array>
#include <cstddef>

// HKLM key and value that remember where the library was found.
inline constexpr wchar_t kPlatformKey[] = L"SOFTWARE\\Tervane\\Platform";
inline constexpr wchar_t kKvUtilInstallDirValue[] = L"kvutil64_install_dir";

class CKvUtilLib {
public:
    // Nothing loaded, every slot empty.
    CKvUtilLib();
    // Frees the library when one is held.
    ~CKvUtilLib();
    CKvUtilLib(const CKvUtilLib&) = delete;
    CKvUtilLib& operator=(const CKvUtilLib&) = delete;

    // Finds, checks, loads and binds the library, trying in order: the program's folder; the folder
    // in HKLM "SOFTWARE\Tervane\Platform" "kvutil64_install_dir"; the newest version folder under
    // the common-files folder's "kvutil" (remembered in that value when the process runs as an
    // administrator); the common-files folder. 0 when one load succeeded and the exports were
    // bound, else ERROR_MOD_NOT_FOUND with nothing held. A library already held is let go first.
    [[nodiscard]] DWORD Initialize();

    // One load attempt of folder + "\KvUtil.dll" (null or empty folder: the program's folder). 0
    // loaded (the library is then held and the slots are empty until BindExports);
    // ERROR_FILE_NOT_FOUND no such file; ERROR_FILENAME_EXCED_RANGE the path does not fit MAX_PATH
    // characters; the trust check's code for a file it refuses (ERROR_INVALID_PARAMETER also for a
    // folder that is not fully qualified); ERROR_UNHANDLED_EXCEPTION (574) an exception on the way;
    // else the loader's error. A file already loaded in the process is taken without a check. On
    // failure whatever was held before stays held.
    [[nodiscard]] DWORD LoadFrom(const wchar_t* folder);

    // Looks up every export name when a library is held; a missing name leaves its slot empty.
    // Always true.
    bool BindExports();

    // The library's KvIsNTAdmin with the caller's flag; ERROR_CALL_NOT_IMPLEMENTED when it is not
    // bound (nothing is called and the flag is untouched).
    [[nodiscard]] DWORD KvIsNTAdmin(DWORD* isAdmin) const;

    // 1 when the process token holds the local Administrators group enabled. 0 otherwise; then
    // *memberButDisabled (cleared first when given) is 1 when the group is there but not enabled.
    [[nodiscard]] static int IsProcessAdmin(DWORD* memberButDisabled);

    // The library held, or null. The binding keeps ownership.
    [[nodiscard]] HMODULE Module() const { return m_module.get(); }
    [[nodiscard]] const wchar_t* FileName() const { return m_fileName; }
    // The bound address of kKvUtilExportNames[slot]; null when unbound or slot is out of range.
    [[nodiscard]] FARPROC Export(std::size_t slot) const
    {
        return slot < m_exports.size() ? m_exports[slot] : nullptr;
    }

private:
    void Unbind();

    const wchar_t* m_fileName;
    Fundor::ScopedModule m_module;
    // Kept for the library's users; no operation here enters it.
    CRITICAL_SECTION m_lock;
    std::array<FARPROC, kKvUtilExportCount> m_exports{};
};

// The sub-folder of folder named by four numbers "a,b,c,d" with the highest version, compared
// number by number; an equal version keeps the folder enumerated first. Only entries whose
// attributes are exactly FILE_ATTRIBUTE_DIRECTORY count. 1 with out = folder + "\" + name, else
// 0 (also when that path does not fit outCount characters) with out emptied when it is given.
[[nodiscard]] int FindNewestVersionFolder(const wchar_t* folder, wchar_t* out, DWORD outCount);

// Reads a version folder name the way "%lu,%lu,%lu,%lu" does (white space and a plus sign may
// lead each number; whatever follows the fourth is ignored), except that a minus sign or a number
// above 32 bits refuses the name instead of wrapping into a huge version. True with version
// filled in.
[[nodiscard]] bool ParseVersionFolderName(const wchar_t* name, std::array<DWORD, 4>& version);
