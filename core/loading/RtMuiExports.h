#pragma once
// C signatures of the exports of the localized-resource DLL "KvRtMui.dll".
//
// Each RtMUI function takes the parameters of its Windows namesake (the "Ex" forms add the
// language after them) followed by one reserved pointer that callers always pass as null. The
// results mean what the namesake's result means. The DLL may also export "DllAddRef" and
// "DllRelease"; a binder calls the first after loading the DLL and the second before freeing it.
//
// Shared by the binder in the core library and by any DLL that serves these exports, so that both
// sides agree on every parameter.

#include <windows.h>

extern "C" {

typedef LANGID WINAPI RtMUIGetMappedLocaleFn(void* reserved);
typedef HMODULE WINAPI RtMUILoadLibraryFn(LPCWSTR fileName, void* reserved);
typedef HMODULE WINAPI RtMUILoadLibraryExFn(LPCWSTR fileName, HANDLE file, DWORD flags, void* reserved);
typedef HMODULE WINAPI RtMUILoadLibraryImplFn(LPCWSTR fileName, HANDLE file, DWORD flags, LANGID language,
                                              void* reserved);
typedef int WINAPI RtMUILoadStringFn(HINSTANCE module, UINT id, LPWSTR buffer, int bufferMax, void* reserved);
typedef int WINAPI RtMUILoadStringExFn(HINSTANCE module, UINT id, LPWSTR buffer, int bufferMax, LANGID language,
                                       void* reserved);
typedef HRSRC WINAPI RtMUIFindResourceFn(HMODULE module, LPCWSTR name, LPCWSTR type, void* reserved);
typedef HRSRC WINAPI RtMUIFindResourceExFn(HMODULE module, LPCWSTR name, LPCWSTR type, LANGID language,
                                           void* reserved);
typedef HANDLE WINAPI RtMUILoadImageFn(HINSTANCE module, LPCWSTR name, UINT type, int cx, int cy, UINT flags,
                                       void* reserved);
typedef HANDLE WINAPI RtMUILoadImageExFn(HINSTANCE module, LPCWSTR name, UINT type, int cx, int cy, UINT flags,
                                         LANGID language, void* reserved);
typedef HBITMAP WINAPI RtMUILoadBitmapFn(HINSTANCE module, LPCWSTR name, void* reserved);
typedef HBITMAP WINAPI RtMUILoadBitmapExFn(HINSTANCE module, LPCWSTR name, LANGID language, void* reserved);
typedef HICON WINAPI RtMUILoadIconFn(HINSTANCE module, LPCWSTR name, void* reserved);
typedef HICON WINAPI RtMUILoadIconExFn(HINSTANCE module, LPCWSTR name, LANGID language, void* reserved);

// Optional reference hooks of a bound DLL.
typedef void WINAPI DllAddRefFn(void);
typedef void WINAPI DllReleaseFn(void);

}  // extern "C"
