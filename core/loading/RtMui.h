#pragma once
// Resource loading in the user's mapped language through the localized-resource DLL
// "KvRtMui.dll", with the plain Windows functions as fallback.
//
// Each wrapper uses the process's single binding (RtMuiImpl::Instance(), built on first use).
// When that binding is available, the call goes to the DLL's export (the "Ex" export when a
// language other than 0 is given), with one trailing null argument; otherwise to the Windows
// function named below, which ignores the language. Results and ownership are those of the
// Windows function. The overloads that take a binding use that one instead.

#include "core/loading/RtMuiDllInterface.h"

#include <windows.h>

namespace Fundor {

// The DLL's mapped language; 1033 when unavailable.
[[nodiscard]] LANGID RtMuiGetMappedLocale();
[[nodiscard]] LANGID RtMuiGetMappedLocale(const RtMuiDllInterface& mui);

// Fallback: LoadLibraryW(fileName).
[[nodiscard]] HMODULE RtMuiLoadLibrary(const wchar_t* fileName);
[[nodiscard]] HMODULE RtMuiLoadLibrary(const RtMuiDllInterface& mui, const wchar_t* fileName);

// Fallback: LoadLibraryExW(fileName, file, flags).
[[nodiscard]] HMODULE RtMuiLoadLibraryEx(const wchar_t* fileName, HANDLE file, DWORD flags);
[[nodiscard]] HMODULE RtMuiLoadLibraryEx(const RtMuiDllInterface& mui, const wchar_t* fileName, HANDLE file,
                                         DWORD flags);

// Fallback: LoadStringW(module, id, buffer, bufferMax).
[[nodiscard]] int RtMuiLoadString(HINSTANCE module, UINT id, wchar_t* buffer, int bufferMax, LANGID language);
[[nodiscard]] int RtMuiLoadString(const RtMuiDllInterface& mui, HINSTANCE module, UINT id, wchar_t* buffer,
                                  int bufferMax, LANGID language);

// Fallback: FindResourceW(module, name, type).
[[nodiscard]] HRSRC RtMuiFindResource(HMODULE module, const wchar_t* name, const wchar_t* type, LANGID language);
[[nodiscard]] HRSRC RtMuiFindResource(const RtMuiDllInterface& mui, HMODULE module, const wchar_t* name,
                                      const wchar_t* type, LANGID language);

// Fallback: LoadImageW(module, name, type, cx, cy, flags).
[[nodiscard]] HANDLE RtMuiLoadImage(HINSTANCE module, const wchar_t* name, UINT type, int cx, int cy, UINT flags,
                                    LANGID language);
[[nodiscard]] HANDLE RtMuiLoadImage(const RtMuiDllInterface& mui, HINSTANCE module, const wchar_t* name, UINT type,
                                    int cx, int cy, UINT flags, LANGID language);

// Fallback: LoadBitmapW(module, name).
[[nodiscard]] HBITMAP RtMuiLoadBitmap(HINSTANCE module, const wchar_t* name, LANGID language);
[[nodiscard]] HBITMAP RtMuiLoadBitmap(const RtMuiDllInterface& mui, HINSTANCE module, const wchar_t* name,
                                      LANGID language);

// Fallback: LoadIconW(module, name).
[[nodiscard]] HICON RtMuiLoadIcon(HINSTANCE module, const wchar_t* name, LANGID language);
[[nodiscard]] HICON RtMuiLoadIcon(const RtMuiDllInterface& mui, HINSTANCE module, const wchar_t* name,
                                  LANGID language);

}  // namespace Fundor
