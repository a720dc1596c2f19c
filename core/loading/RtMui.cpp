#include "core/loading/RtMui.h"

#include "core/loading/RtMuiImpl.h"

namespace Fundor {
namespace {

constexpr LANGID kBuiltInLanguage = 1033;

// The bound exports, or null when the plain Windows functions are to be used.
const RtMuiFunctions* Bound(const RtMuiDllInterface& mui) noexcept
{
    return mui.IsAvailable() ? &mui.Functions() : nullptr;
}

// The DLL's answer, or the empty answer when the pointer is null (only possible by misuse).
template <typename Function, typename... Args>
auto CallExport(Function* function, Args... args) -> decltype(function(args..., nullptr))
{
    if (function == nullptr) {
        return {};
    }
    return function(args..., nullptr);
}

}  // namespace

LANGID RtMuiGetMappedLocale(const RtMuiDllInterface& mui)
{
    const RtMuiFunctions* f = Bound(mui);
    return f != nullptr ? CallExport(f->getMappedLocale) : kBuiltInLanguage;
}

HMODULE RtMuiLoadLibrary(const RtMuiDllInterface& mui, const wchar_t* fileName)
{
    const RtMuiFunctions* f = Bound(mui);
    return f != nullptr ? CallExport(f->loadLibrary, fileName) : ::LoadLibraryW(fileName);
}

HMODULE RtMuiLoadLibraryEx(const RtMuiDllInterface& mui, const wchar_t* fileName, HANDLE file, DWORD flags)
{
    const RtMuiFunctions* f = Bound(mui);
    return f != nullptr ? CallExport(f->loadLibraryEx, fileName, file, flags)
                        : ::LoadLibraryExW(fileName, file, flags);
}

int RtMuiLoadString(const RtMuiDllInterface& mui, HINSTANCE module, UINT id, wchar_t* buffer, int bufferMax,
                    LANGID language)
{
    const RtMuiFunctions* f = Bound(mui);
    if (f == nullptr) {
        return ::LoadStringW(module, id, buffer, bufferMax);
    }
    return language != 0 ? CallExport(f->loadStringEx, module, id, buffer, bufferMax, language)
                         : CallExport(f->loadString, module, id, buffer, bufferMax);
}

HRSRC RtMuiFindResource(const RtMuiDllInterface& mui, HMODULE module, const wchar_t* name, const wchar_t* type,
                        LANGID language)
{
    const RtMuiFunctions* f = Bound(mui);
    if (f == nullptr) {
        return ::FindResourceW(module, name, type);
    }
    return language != 0 ? CallExport(f->findResourceEx, module, name, type, language)
                         : CallExport(f->findResource, module, name, type);
}

HANDLE RtMuiLoadImage(const RtMuiDllInterface& mui, HINSTANCE module, const wchar_t* name, UINT type, int cx, int cy,
                      UINT flags, LANGID language)
{
    const RtMuiFunctions* f = Bound(mui);
    if (f == nullptr) {
        return ::LoadImageW(module, name, type, cx, cy, flags);
    }
    return language != 0 ? CallExport(f->loadImageEx, module, name, type, cx, cy, flags, language)
                         : CallExport(f->loadImage, module, name, type, cx, cy, flags);
}

HBITMAP RtMuiLoadBitmap(const RtMuiDllInterface& mui, HINSTANCE module, const wchar_t* name, LANGID language)
{
    const RtMuiFunctions* f = Bound(mui);
    if (f == nullptr) {
        return ::LoadBitmapW(module, name);
    }
    return language != 0 ? CallExport(f->loadBitmapEx, module, name, language)
                         : CallExport(f->loadBitmap, module, name);
}

HICON RtMuiLoadIcon(const RtMuiDllInterface& mui, HINSTANCE module, const wchar_t* name, LANGID language)
{
    const RtMuiFunctions* f = Bound(mui);
    if (f == nullptr) {
        return ::LoadIconW(module, name);
    }
    return language != 0 ? CallExport(f->loadIconEx, module, name, language) : CallExport(f->loadIcon, module, name);
}

LANGID RtMuiGetMappedLocale() { return RtMuiGetMappedLocale(RtMuiImpl::Instance()); }

HMODULE RtMuiLoadLibrary(const wchar_t* fileName) { return RtMuiLoadLibrary(RtMuiImpl::Instance(), fileName); }

HMODULE RtMuiLoadLibraryEx(const wchar_t* fileName, HANDLE file, DWORD flags)
{
    return RtMuiLoadLibraryEx(RtMuiImpl::Instance(), fileName, file, flags);
}

int RtMuiLoadString(HINSTANCE module, UINT id, wchar_t* buffer, int bufferMax, LANGID language)
{
    return RtMuiLoadString(RtMuiImpl::Instance(), module, id, buffer, bufferMax, language);
}

HRSRC RtMuiFindResource(HMODULE module, const wchar_t* name, const wchar_t* type, LANGID language)
{
    return RtMuiFindResource(RtMuiImpl::Instance(), module, name, type, language);
}

HANDLE RtMuiLoadImage(HINSTANCE module, const wchar_t* name, UINT type, int cx, int cy, UINT flags, LANGID language)
{
    return RtMuiLoadImage(RtMuiImpl::Instance(), module, name, type, cx, cy, flags, language);
}

HBITMAP RtMuiLoadBitmap(HINSTANCE module, const wchar_t* name, LANGID language)
{
    return RtMuiLoadBitmap(RtMuiImpl::Instance(), module, name, language);
}

HICON RtMuiLoadIcon(HINSTANCE module, const wchar_t* name, LANGID language)
{
    return RtMuiLoadIcon(RtMuiImpl::Instance(), module, name, language);
}

}  // namespace Fundor
