#include "access/CKvUtilLib.h"
#include "core/base/LastError.h"

#include "access/InstallFolders.h"
#include "access/ModuleTrust.h"
#include "core/base/StringFormat.h"
#include "core/registry/ObfuscatedRegistry.h"

#include <cwchar>
#include <cwctype>
#include <memory>

namespace {

constexpr DWORD kInstallDirCharacters = 260;  // the value is read into 520 bytes

struct GlobalMemoryFree {
    void operator()(void* memory) const noexcept { GlobalFree(memory); }
};
struct SidFree {
    void operator()(void* sid) const noexcept { FreeSid(sid); }
};

// folder + "\" (when it lacks one) + "KvUtil.dll" into path[MAX_PATH]; false when it does not fit.
bool BuildLibraryPath(const wchar_t* folder, wchar_t* path)
{
    const std::size_t length = std::wcslen(folder);
    const wchar_t* separator = length > 0 && folder[length - 1] == L'\\' ? L"" : L"\\";
    return Fundor::FormatW(path, MAX_PATH, L"%s%s%s", folder, separator, kKvUtilFileName) >= 0;
}

}  // namespace

CKvUtilLib::CKvUtilLib() : m_fileName(kKvUtilFileName)
{
    InitializeCriticalSection(&m_lock);
}

CKvUtilLib::~CKvUtilLib()
{
    m_exports.fill(nullptr);
    m_module.reset();
    DeleteCriticalSection(&m_lock);
}

void CKvUtilLib::Unbind()
{
    m_exports.fill(nullptr);
    m_module.reset();
}

DWORD CKvUtilLib::Initialize()
{
    Unbind();

    if (LoadFrom(nullptr) == ERROR_SUCCESS) {
        BindExports();
        return ERROR_SUCCESS;
    }

    wchar_t remembered[kInstallDirCharacters] = {};
    DWORD type = REG_NONE;
    DWORD size = (kInstallDirCharacters - 1) * sizeof(wchar_t);
    if (ReadRegValueEx(HKEY_LOCAL_MACHINE, kPlatformKey, kKvUtilInstallDirValue, &type, remembered, &size, 0) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
        const DWORD characters = size / sizeof(wchar_t);
        remembered[characters < kInstallDirCharacters ? characters : kInstallDirCharacters - 1] = L'\0';
        if (remembered[0] != L'\0' && LoadFrom(remembered) == ERROR_SUCCESS) {
            BindExports();
            return ERROR_SUCCESS;
        }
    }

    wchar_t commonFiles[MAX_PATH] = {};
    if (GetCommonFilesDir(commonFiles, MAX_PATH, 1) != ERROR_SUCCESS || commonFiles[0] == L'\0') {
        return ERROR_MOD_NOT_FOUND;
    }
    wchar_t versionsFolder[MAX_PATH];
    wchar_t newest[MAX_PATH] = {};
    if (Fundor::FormatW(versionsFolder, MAX_PATH, L"%skvutil", commonFiles) >= 0 &&
        FindNewestVersionFolder(versionsFolder, newest, MAX_PATH) != 0 && newest[0] != L'\0' &&
        LoadFrom(newest) == ERROR_SUCCESS) {
        if (IsProcessAdmin(nullptr) != 0) {
            const DWORD bytes = static_cast<DWORD>((std::wcslen(newest) + 1) * sizeof(wchar_t));
            // Only a shortcut for the next start; the library is bound either way.
            (void)Fundor::ObfuscatedRegSetValue(HKEY_LOCAL_MACHINE, kPlatformKey, kKvUtilInstallDirValue, REG_SZ,
                                                newest, bytes, Fundor::kRegistryView64);
        }
        BindExports();
        return ERROR_SUCCESS;
    }

    if (LoadFrom(commonFiles) == ERROR_SUCCESS) {
        BindExports();
        return ERROR_SUCCESS;
    }
    return ERROR_MOD_NOT_FOUND;
}

DWORD CKvUtilLib::LoadFrom(const wchar_t* folder)
{
    wchar_t path[MAX_PATH] = {};
    if (folder == nullptr || folder[0] == L'\0') {
        wchar_t program[MAX_PATH] = {};
        const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
        if (length == 0) {
            return Fundor::LastErrorOr(ERROR_MOD_NOT_FOUND);
        }
        // A cut name would name some other folder.
        if (length >= MAX_PATH) {
            return ERROR_FILENAME_EXCED_RANGE;
        }
        wchar_t* slash = std::wcsrchr(program, L'\\');
        if (slash == nullptr) {
            return ERROR_FILE_NOT_FOUND;
        }
        slash[1] = L'\0';
        if (!BuildLibraryPath(program, path)) {
            return ERROR_FILENAME_EXCED_RANGE;
        }
    } else if (!BuildLibraryPath(folder, path)) {
        return ERROR_FILENAME_EXCED_RANGE;
    }

    if (GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
        return ERROR_FILE_NOT_FOUND;
    }

    HMODULE loaded = nullptr;
    if (GetModuleHandleExW(0, path, &loaded) != FALSE && loaded != nullptr) {
        // Raised reference: the destructor's FreeLibrary balances it.
        m_exports.fill(nullptr);
        m_module.reset(loaded);
        return ERROR_SUCCESS;
    }

    try {
        loaded = LoadValidatedLibraryEx(path, 0);
        if (loaded == nullptr) {
            return Fundor::LastErrorOr(ERROR_MOD_NOT_FOUND);
        }
    } catch (...) {
        return ERROR_UNHANDLED_EXCEPTION;
    }
    m_exports.fill(nullptr);
    m_module.reset(loaded);
    return ERROR_SUCCESS;
}

bool CKvUtilLib::BindExports()
{
    if (m_module) {
        for (std::size_t slot = 0; slot < kKvUtilExportCount; ++slot) {
            m_exports[slot] = GetProcAddress(m_module.get(), kKvUtilExportNames[slot]);
        }
    }
    return true;
}

DWORD CKvUtilLib::KvIsNTAdmin(DWORD* isAdmin) const
{
    const FARPROC address = m_exports[kKvIsNTAdminSlot];
    if (address == nullptr) {
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    return reinterpret_cast<KvIsNTAdminFunction>(reinterpret_cast<void*>(address))(isAdmin);
}

int CKvUtilLib::IsProcessAdmin(DWORD* memberButDisabled)
{
    if (memberButDisabled != nullptr) {
        *memberButDisabled = 0;
    }
    Fundor::ScopedHandle token;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()) == FALSE) {
        return 0;
    }
    DWORD size = 0;
    const bool sized = GetTokenInformation(token.get(), TokenGroups, nullptr, 0, &size) != FALSE ||
                       GetLastError() == ERROR_INSUFFICIENT_BUFFER;
    if (!sized || size < sizeof(TOKEN_GROUPS)) {
        return 0;
    }
    std::unique_ptr<void, GlobalMemoryFree> buffer(GlobalAlloc(GPTR, size));
    if (!buffer || GetTokenInformation(token.get(), TokenGroups, buffer.get(), size, &size) == FALSE) {
        return 0;
    }
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID rawSid = nullptr;
    if (AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                                 0, 0, &rawSid) == FALSE) {
        return 0;
    }
    std::unique_ptr<void, SidFree> administrators(rawSid);
    const auto* groups = static_cast<const TOKEN_GROUPS*>(buffer.get());
    for (DWORD index = 0; index < groups->GroupCount; ++index) {
        if (EqualSid(groups->Groups[index].Sid, administrators.get()) == FALSE) {
            continue;
        }
        if ((groups->Groups[index].Attributes & SE_GROUP_ENABLED) != 0) {
            return 1;
        }
        if (memberButDisabled != nullptr) {
            *memberButDisabled = 1;
        }
        return 0;
    }
    return 0;
}

bool ParseVersionFolderName(const wchar_t* name, std::array<DWORD, 4>& version)
{
    if (name == nullptr) {
        return false;
    }
    std::array<DWORD, 4> numbers{};
    const wchar_t* at = name;
    for (std::size_t index = 0; index < numbers.size(); ++index) {
        if (index > 0) {
            if (*at != L',') return false;
            ++at;
        }
        while (*at != L'\0' && std::iswspace(*at)) ++at;
        if (*at == L'+') ++at;
        if (*at < L'0' || *at > L'9') return false;
        unsigned long long value = 0;
        while (*at >= L'0' && *at <= L'9') {
            value = value * 10 + static_cast<unsigned>(*at - L'0');
            if (value > 0xFFFFFFFFull) return false;
            ++at;
        }
        numbers[index] = static_cast<DWORD>(value);
    }
    version = numbers;
    return true;
}

int FindNewestVersionFolder(const wchar_t* folder, wchar_t* out, DWORD outCount)
{
    if (out != nullptr && outCount != 0) {
        out[0] = L'\0';
    }
    if (folder == nullptr || folder[0] == L'\0' || out == nullptr || outCount == 0) {
        return 0;
    }
    wchar_t pattern[520];
    if (Fundor::FormatW(pattern, 520, L"%s\\*,*,*,*", folder) < 0) {
        return 0;
    }
    WIN32_FIND_DATAW entry = {};
    Fundor::ScopedFindHandle find(FindFirstFileW(pattern, &entry));
    if (!find) {
        return 0;
    }
    bool found = false;
    std::array<DWORD, 4> best{};
    wchar_t bestName[MAX_PATH] = {};
    do {
        std::array<DWORD, 4> version{};
        if (entry.dwFileAttributes != FILE_ATTRIBUTE_DIRECTORY || entry.cFileName[0] == L'\0' ||
            !ParseVersionFolderName(entry.cFileName, version)) {
            continue;
        }
        // Lexicographic: the first differing number decides; a tie keeps the earlier entry.
        if (!found || version > best) {
            found = true;
            best = version;
            std::wmemcpy(bestName, entry.cFileName, MAX_PATH);
            bestName[MAX_PATH - 1] = L'\0';
        }
    } while (FindNextFileW(find.get(), &entry) != FALSE);

    if (!found) {
        return 0;
    }
    if (Fundor::FormatW(out, outCount, L"%s\\%s", folder, bestName) < 0) {
        out[0] = L'\0';
        return 0;
    }
    return 1;
}
