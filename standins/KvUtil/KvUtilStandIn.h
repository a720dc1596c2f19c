#pragma once
// What tests need to drive the "KvUtil.dll" stand-in.

// Environment variable of the calling process that KvIsNTAdmin answers from (see
// KvUtilStandIn.cpp): "1" administrator, "0" not, "error:<n>" fails with n.
inline constexpr wchar_t kKvUtilStandInAdminVariable[] = L"ORDWELL_KVUTIL_ADMIN";

// Extra export: how many times KvIsNTAdmin was called since the library was loaded.
inline constexpr char kKvUtilStandInCallCountExport[] = "KvUtilStandInIsNTAdminCalls";
typedef long (*KvUtilStandInCallCountFunction)();
