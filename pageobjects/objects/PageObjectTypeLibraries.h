#pragma once
// The page objects' type libraries, embedded in the program that links the page objects as
// resources of type "TYPELIB" under these numbers (the build's generated .rc fragment names them).

#include <windows.h>

inline constexpr int kSessionTypeLibraryResource = 1;      // KvQrnCShimLib: ISessionMgr2
inline constexpr int kUninstallerTypeLibraryResource = 2;  // KvUnInstShimLib: IKvUninstaller..5

// {B7D66DAD-3A3D-4CFD-8E11-9A2365460202}
inline constexpr GUID LIBID_KvQrnCShimLib = {0xB7D66DAD, 0x3A3D, 0x4CFD, {0x8E, 0x11, 0x9A, 0x23, 0x65, 0x46, 0x02, 0x02}};
// {87400E52-0A59-4754-AE80-1E42400361BD}
inline constexpr GUID LIBID_KvUnInstShimLib = {0x87400E52, 0x0A59, 0x4754, {0xAE, 0x80, 0x1E, 0x42, 0x40, 0x03, 0x61, 0xBD}};
