#pragma once
// Module trust check: is a module file trusted before it is loaded, started or asked for a class
// object? The validation service is asked first; when it does not vouch for the file, the file's
// Authenticode signature must come from a listed organisation under a listed root (the built-in
// list, or the signed list file when that one is newer).
//
// Plain functions: no exceptions leave them, nothing is logged, buffers come from the process
// heap, and every failure inside folds into "not trusted".

#include "access/ModuleValidator.h"
#include "access/TrustedSignerList.h"

#include <windows.h>

class TrustedPublisherList;

// 0 trusted; ERROR_INVALID_PARAMETER for a null or empty path; ERROR_ACCESS_DENIED not trusted.
// Uses the process-wide validator, the built-in signer list and the process-wide list file.
[[nodiscard]] DWORD ValidateModulePath(const wchar_t* path);

// Loads a DLL only after ValidateModulePath passed. The path must be fully qualified (else
// ERROR_INVALID_PARAMETER),
// and the file is held open without write or delete sharing from before the check until the load
// returns, so the file checked is the file loaded. On refusal returns null with the check's code
// as the thread's last error; the caller owns the module.
[[nodiscard]] HMODULE LoadValidatedLibraryEx(const wchar_t* path, DWORD flags);

namespace TrustDetail {
// LoadValidatedLibraryEx with the check given: check(path, context) runs while the file is held.
[[nodiscard]] HMODULE LoadLibraryAfterCheck(const wchar_t* path, DWORD flags,
                                            DWORD (*check)(const wchar_t* path, void* context),
                                            void* context);
}  // namespace TrustDetail

// ValidateModulePath of the module that holds address; ERROR_INVALID_PARAMETER when no module holds
// it or its path cannot be read whole.
[[nodiscard]] DWORD ValidateModuleOfAddress(const void* address);

// Writes the full path of the loaded module that contains address into path[MAX_PATH].
// 0 on success; ERROR_INVALID_PARAMETER null address or buffer; ERROR_NOT_ENOUGH_MEMORY no memory
// for the module array; ERROR_ACCESS_DENIED no module holds the address; ERROR_INSUFFICIENT_BUFFER
// the path does not fit MAX_PATH characters (it is refused, never cut); or the
// last error of OpenProcess / EnumProcessModules. path is written only on success.
[[nodiscard]] DWORD FindModuleOfAddress(const void* address, wchar_t* path);

// 0 trusted, ERROR_ACCESS_DENIED not, ERROR_INVALID_PARAMETER null or empty path (nothing
// consulted). validator may be null (then only the signer lists decide). The first form uses the
// built-in list and the process-wide list file.
[[nodiscard]] DWORD IsFileTrusted(ModuleValidator* validator, const wchar_t* path);
[[nodiscard]] DWORD IsFileTrusted(ModuleValidator* validator, const wchar_t* path,
                                  const TrustedSignerList& builtIn, TrustedPublisherList& listFile);

// 1 trusted, 0 not. A cabinet (".cab", any case) that fails is opened once: a newer "trusted.js"
// inside it is installed into listFile and the check runs once more. The separate-argument form
// uses the process-wide list file.
[[nodiscard]] int CheckSignerTrust(const wchar_t* path, DWORD listVersion,
                                   const wchar_t* const* organisationNames,
                                   const BYTE* const* thumbprints, DWORD thumbprintCount,
                                   const wchar_t* const* serialSkipList);
[[nodiscard]] int CheckSignerTrust(const wchar_t* path, const TrustedSignerList& builtIn,
                                   TrustedPublisherList& listFile);

// 1 trusted, 0 not. While listFile is loaded with a version above builtIn.version, its lists
// alone are in force; otherwise builtIn is. See ModuleTrust.cpp for the reload rules.
[[nodiscard]] int CheckAgainstTrustLists(const wchar_t* path, DWORD listVersion,
                                         const wchar_t* const* organisationNames,
                                         const BYTE* const* thumbprints, DWORD thumbprintCount,
                                         const wchar_t* const* serialSkipList);
[[nodiscard]] int CheckAgainstTrustLists(const wchar_t* path, const TrustedSignerList& builtIn,
                                         TrustedPublisherList& listFile);

// 1 when one signer of the file's embedded signature passes every step against the given list,
// else 0. Steps per signer: serial skip, certificate, name, verified time stamp, chain (error
// status 0, at the time stamp or now), root pin on a chain context with error status 0, the
// Authenticode time-stamp policy on that context, that signer's own signature, WinVerifyTrust.
[[nodiscard]] int VerifyFileSigner(const wchar_t* path, const wchar_t* const* organisationNames,
                                   const BYTE* const* thumbprints, DWORD thumbprintCount,
                                   const wchar_t* const* serialSkipList);
[[nodiscard]] int VerifyFileSigner(const wchar_t* path, const TrustedSignerList& list);

// The process-wide validation-service client, created (and connected) on first use in a
// thread-safe one-time initialisation and kept until the process ends. A failed creation throws
// to the caller of that first call; a later call tries again.
[[nodiscard]] ModuleValidator& GetModuleValidator();
