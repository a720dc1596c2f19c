#pragma once
// Checks shared by the module signer check and the list file's own signature check.

#include "access/CryptoHandles.h"

#include <windows.h>

namespace TrustDetail {

// The embedded PKCS #7 signature of a file (binary form): its message and certificate store.
// False, with both left empty, when the file carries none.
[[nodiscard]] bool OpenEmbeddedSignature(const wchar_t* path, ScopedCertStore& store, ScopedCryptMsg& message);

// WinVerifyTrust (generic verify v2) of a file's embedded signature: no UI, no revocation, hash
// only, cached URLs only (provider flags 0x1214). True when it answers 0.
[[nodiscard]] bool FileSignatureVerifies(const wchar_t* path);

}  // namespace TrustDetail
