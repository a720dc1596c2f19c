#pragma once
// Checks shared by the module signer check and the list file's own signature check.

#include <windows.h>

namespace TrustDetail {

// WinVerifyTrust (generic verify v2) of a file's embedded signature: no UI, no revocation, hash
// only, cached URLs only (provider flags 0x1214). True when it answers 0.
[[nodiscard]] bool FileSignatureVerifies(const wchar_t* path);

}  // namespace TrustDetail
