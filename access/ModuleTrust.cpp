#include "access/ModuleTrust.h"

#include "access/NroValidationClient.h"
#include "access/TrustedPublisherList.h"
#include "core/base/LastError.h"
#include "core/base/ScopedResource.h"
#include "core/loading/SafeLoading.h"

#include <psapi.h>
#include <shlwapi.h>

#include <cwchar>
#include <new>

using Fundor::ScopedHandle;

namespace {

// The maker's root certificates. Deployment data: the thumbprints of the roots under which the
// suite's modules are signed.
constexpr BYTE kRoot1[20] = {0x3b, 0x1e, 0xc8, 0x52, 0x90, 0x6d, 0x27, 0xa4, 0xf1, 0x0c,
                             0x5d, 0x88, 0xe2, 0x47, 0x19, 0xb6, 0x73, 0x2a, 0x9f, 0x04};
constexpr BYTE kRoot2[20] = {0x8a, 0x52, 0x07, 0xde, 0x41, 0x9c, 0xb3, 0x16, 0x6f, 0xe0,
                             0x2d, 0x95, 0x38, 0xca, 0x71, 0x0b, 0xf4, 0x63, 0x8e, 0x29};
constexpr BYTE kRoot3[20] = {0xc4, 0x09, 0x7b, 0x33, 0xe8, 0x15, 0x5a, 0x92, 0x0d, 0x6e,
                             0xb1, 0x44, 0x27, 0xf9, 0x80, 0x5c, 0x1a, 0xd3, 0x66, 0xbf};
constexpr BYTE kRoot4[20] = {0x17, 0xa0, 0xe5, 0x4c, 0x62, 0xdb, 0x09, 0x38, 0x9e, 0x71,
                             0xc2, 0x0f, 0x5b, 0x84, 0x2e, 0xd6, 0x43, 0xaa, 0x10, 0x7d};
constexpr BYTE kRoot5[20] = {0x6d, 0xf2, 0x31, 0x98, 0x0a, 0xc7, 0x54, 0xe3, 0x29, 0xbd,
                             0x86, 0x12, 0x7f, 0x40, 0xe9, 0x35, 0xc8, 0x5e, 0x03, 0x91};
constexpr BYTE kRoot6[20] = {0xe1, 0x48, 0x9a, 0x06, 0x3d, 0x75, 0xcf, 0x20, 0xb8, 0x5f,
                             0x14, 0xa9, 0x62, 0x0e, 0xd7, 0x83, 0x3c, 0xf0, 0x4b, 0x2a};
constexpr const BYTE* kBuiltInThumbprints[] = {kRoot1, kRoot2, kRoot3, kRoot4, kRoot5, kRoot6};
constexpr const wchar_t* kBuiltInNames[] = {L"Velmo Corporation", L"Tervane, Inc.",
                                            L"Tervane, LLC", L"Tervane, LLC.", nullptr};

const TrustedSignerList kBuiltInList = {7, kBuiltInNames, kBuiltInThumbprints, 6, nullptr};

TrustedSignerList MakeList(DWORD version, const wchar_t* const* names, const BYTE* const* thumbprints,
                           DWORD count, const wchar_t* const* serials)
{
    return TrustedSignerList{version, names, thumbprints, count, serials};
}

}  // namespace

const TrustedSignerList& BuiltInSignerList() { return kBuiltInList; }

ModuleValidator& GetModuleValidator()
{
    // Built once, on the first trust check; kept (and never torn down) until the process ends.
    // A throwing construction leaves the static uninitialised, so a later call tries again.
    static NroValidationClient* const client = new NroValidationClient();
    return *client;
}

DWORD ValidateModulePath(const wchar_t* path)
{
    if (path == nullptr || path[0] == L'\0') {
        return ERROR_INVALID_PARAMETER;
    }
    ModuleValidator* validator = nullptr;
    try {
        validator = &GetModuleValidator();
    } catch (...) {
        return ERROR_ACCESS_DENIED;
    }
    return IsFileTrusted(validator, path);
}

HMODULE LoadValidatedLibraryEx(const wchar_t* path, DWORD flags)
{
    return TrustDetail::LoadLibraryAfterCheck(
        path, flags, [](const wchar_t* checked, void*) { return ValidateModulePath(checked); }, nullptr);
}

HMODULE TrustDetail::LoadLibraryAfterCheck(const wchar_t* path, DWORD flags,
                                           DWORD (*check)(const wchar_t* path, void* context),
                                           void* context)
{
    if (path == nullptr || path[0] == L'\0' || !Fundor::IsFullyQualifiedFilePath(path)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    // Held open, readable by others but neither writable nor deletable, from before the check
    // until the load returns: the file checked is the file mapped.
    ScopedHandle hold(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hold) {
        const DWORD error = ::GetLastError();
        ::SetLastError(error != 0 ? error : ERROR_ACCESS_DENIED);
        return nullptr;
    }
    const DWORD verdict = check(path, context);
    if (verdict != 0) {
        ::SetLastError(verdict);
        return nullptr;
    }
    HMODULE module = ::LoadLibraryExW(path, nullptr, flags);
    const DWORD error = ::GetLastError();
    hold.reset();
    ::SetLastError(error);
    return module;
}

DWORD FindModuleOfAddress(const void* address, wchar_t* path)
{
    if (address == nullptr || path == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    ScopedHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                                       ::GetCurrentProcessId()));
    if (!process) {
        return ::GetLastError();
    }
    constexpr DWORD kModuleArrayBytes = 32768;
    auto* modules = static_cast<HMODULE*>(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY,
                                                      kModuleArrayBytes));
    if (modules == nullptr) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    struct Freer {
        void* block;
        ~Freer() { ::HeapFree(::GetProcessHeap(), 0, block); }
    } freeModules{modules};

    DWORD needed = 0;
    if (!::EnumProcessModules(process.get(), modules, kModuleArrayBytes, &needed)) {
        return ::GetLastError();
    }
    const DWORD count = (needed < kModuleArrayBytes ? needed : kModuleArrayBytes) / sizeof(HMODULE);
    const auto target = reinterpret_cast<ULONG_PTR>(address);
    for (DWORD i = 0; i < count; ++i) {
        MODULEINFO info = {};
        if (!::GetModuleInformation(process.get(), modules[i], &info, sizeof(info))) {
            continue;
        }
        const auto base = reinterpret_cast<ULONG_PTR>(info.lpBaseOfDll);
        if (target < base || target - base >= info.SizeOfImage) {
            continue;
        }
        // Read into a roomy buffer first, so that a path too long for MAX_PATH is refused rather
        // than cut into the name of some other file.
        constexpr DWORD kRoomy = MAX_PATH * 4;
        wchar_t full[kRoomy] = {};
        const DWORD length = ::GetModuleFileNameExW(process.get(), modules[i], full, kRoomy);
        if (length == 0) {
            return Fundor::LastErrorOr(ERROR_ACCESS_DENIED);
        }
        if (length >= MAX_PATH) {
            return ERROR_INSUFFICIENT_BUFFER;
        }
        std::wmemcpy(path, full, length + 1);
        return 0;
    }
    return ERROR_ACCESS_DENIED;
}

DWORD ValidateModuleOfAddress(const void* address)
{
    wchar_t path[MAX_PATH] = {};
    if (FindModuleOfAddress(address, path) != 0) {
        return ValidateModulePath(nullptr);
    }
    return ValidateModulePath(path);
}

DWORD IsFileTrusted(ModuleValidator* validator, const wchar_t* path)
{
    try {
        return IsFileTrusted(validator, path, BuiltInSignerList(), GlobalTrustedPublisherList());
    } catch (...) {
        return ERROR_ACCESS_DENIED;
    }
}

DWORD IsFileTrusted(ModuleValidator* validator, const wchar_t* path, const TrustedSignerList& builtIn,
                    TrustedPublisherList& listFile)
{
    if (path == nullptr || path[0] == L'\0') {
        return ERROR_INVALID_PARAMETER;
    }
    try {
        if (validator != nullptr && validator->IsTrusted(path) == 0) {
            return 0;
        }
        return CheckSignerTrust(path, builtIn, listFile) > 0 ? 0 : ERROR_ACCESS_DENIED;
    } catch (...) {
        return ERROR_ACCESS_DENIED;
    }
}

int CheckSignerTrust(const wchar_t* path, DWORD listVersion, const wchar_t* const* organisationNames,
                     const BYTE* const* thumbprints, DWORD thumbprintCount,
                     const wchar_t* const* serialSkipList)
{
    try {
        return CheckSignerTrust(path, MakeList(listVersion, organisationNames, thumbprints,
                                               thumbprintCount, serialSkipList),
                                GlobalTrustedPublisherList());
    } catch (...) {
        return 0;
    }
}

int CheckSignerTrust(const wchar_t* path, const TrustedSignerList& builtIn, TrustedPublisherList& listFile)
{
    if (CheckAgainstTrustLists(path, builtIn, listFile) == 1) {
        return 1;
    }
    if (path == nullptr || ::_wcsicmp(::PathFindExtensionW(path), L".cab") != 0) {
        return 0;
    }
    try {
        CabinetExtractor extractor;
        if (!extractor.ExtractTrustedList(path, listFile)) {
            return 0;
        }
    } catch (...) {
        return 0;
    }
    return CheckAgainstTrustLists(path, builtIn, listFile);
}

int CheckAgainstTrustLists(const wchar_t* path, DWORD listVersion,
                           const wchar_t* const* organisationNames, const BYTE* const* thumbprints,
                           DWORD thumbprintCount, const wchar_t* const* serialSkipList)
{
    try {
        return CheckAgainstTrustLists(path, MakeList(listVersion, organisationNames, thumbprints,
                                                     thumbprintCount, serialSkipList),
                                      GlobalTrustedPublisherList());
    } catch (...) {
        return 0;
    }
}

namespace {

enum class FileListOutcome { NotInForce, Trusted, NotTrusted };

// Runs the check against the list file when, under this one hold of its shared lock, it is loaded
// with a version above the built-in one; only then are its lists in force.
FileListOutcome CheckWithFileList(const wchar_t* path, const TrustedSignerList& builtIn,
                                  TrustedPublisherList& listFile)
{
    TrustedPublisherList::SharedView view(listFile);
    if (!view.loaded() || view.version() <= builtIn.version) {
        return FileListOutcome::NotInForce;
    }
    return VerifyFileSigner(path, view.signerList()) == 1 ? FileListOutcome::Trusted
                                                          : FileListOutcome::NotTrusted;
}

}  // namespace

int CheckAgainstTrustLists(const wchar_t* path, const TrustedSignerList& builtIn,
                           TrustedPublisherList& listFile)
{
    try {
        if (listFile.IsLoaded()) {
            switch (CheckWithFileList(path, builtIn, listFile)) {
            case FileListOutcome::Trusted:
                return 1;
            case FileListOutcome::NotTrusted:
                // Someone replaced the list file since it was loaded: re-check against the new one.
                if (::GlobalFindAtomW(listFile.AtomName().c_str()) != 0 && listFile.Reload()) {
                    switch (CheckWithFileList(path, builtIn, listFile)) {
                    case FileListOutcome::Trusted:
                        return 1;
                    case FileListOutcome::NotTrusted:
                        return 0;
                    case FileListOutcome::NotInForce:
                        // The reloaded list is not newer than the built-in one: that one decides.
                        return VerifyFileSigner(path, builtIn);
                    }
                }
                if (listFile.IsLoaded()) {
                    return 0;
                }
                // The reload failed: no list file is in force, so the built-in list is.
                return VerifyFileSigner(path, builtIn);
            case FileListOutcome::NotInForce:
                // Loaded, but not newer than the built-in list: the built-in list stays in force.
                return VerifyFileSigner(path, builtIn);
            }
        }
        if (VerifyFileSigner(path, builtIn) == 1) {
            return 1;
        }
        if (!listFile.LoadLocked()) {
            return 0;
        }
        return CheckWithFileList(path, builtIn, listFile) == FileListOutcome::Trusted ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
