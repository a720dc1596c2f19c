// Stand-in for the localized-resource DLL "KvRtMui.dll".
//
// Serves each export with its Windows namesake, but answers so that a caller can tell it was
// asked: the mapped language is 1031 and strings carry the mark "[KvRtMui] " (plain export) or
// "[KvRtMui <language>] " ("Ex" export). A test chooses another mapped language with the
// environment variable "KVRTMUI_STANDIN_LANGID" (a decimal LANGID), and turns the marks off
// with "KVRTMUI_STANDIN_MARK" = "0" (strings then come exactly as LoadStringW gives them). Every call, the reference hooks, loading and unloading
// each append one line to the file named by the environment variable "KVRTMUI_STANDIN_LOG" (no
// log when it is unset). Built with KVRTMUI_WITHOUT_LOADICONEX it lacks "RtMUILoadIconEx".

#include "core/loading/RtMuiExports.h"

#include <cstdarg>
#include <cstdio>

namespace {

constexpr LANGID kMappedLanguage = 1031;

// The mapped language: the test's choice when it names a number up to 0xFFFF, else 1031.
LANGID MappedLanguage()
{
    wchar_t text[16];
    const DWORD length = ::GetEnvironmentVariableW(L"KVRTMUI_STANDIN_LANGID", text, 16);
    if (length == 0 || length >= 16) {
        return kMappedLanguage;
    }
    unsigned long value = 0;
    for (DWORD i = 0; i < length; ++i) {
        if (text[i] < L'0' || text[i] > L'9') {
            return kMappedLanguage;
        }
        value = value * 10 + static_cast<unsigned long>(text[i] - L'0');
        if (value > 0xFFFF) {
            return kMappedLanguage;
        }
    }
    return static_cast<LANGID>(value);
}

bool MarksStrings()
{
    wchar_t text[4];
    const DWORD length = ::GetEnvironmentVariableW(L"KVRTMUI_STANDIN_MARK", text, 4);
    return !(length == 1 && text[0] == L'0');
}

// Serialises appends: Wine's FILE_APPEND_DATA is not atomic between concurrent writers.
SRWLOCK g_recordLock = SRWLOCK_INIT;

// Appends one line to the log; keeps the caller's last error.
void Record(const char* format, ...)
{
    const DWORD savedError = ::GetLastError();
    wchar_t logPath[MAX_PATH];
    const DWORD pathLength = ::GetEnvironmentVariableW(L"KVRTMUI_STANDIN_LOG", logPath, MAX_PATH);
    if (pathLength != 0 && pathLength < MAX_PATH) {
        char line[512];
        va_list args;
        va_start(args, format);
        int length = std::vsnprintf(line, sizeof line - 1, format, args);
        va_end(args);
        if (length >= 0) {
            if (length > static_cast<int>(sizeof line) - 2) {
                length = static_cast<int>(sizeof line) - 2;
            }
            line[length++] = '\n';
            ::AcquireSRWLockExclusive(&g_recordLock);
            const HANDLE file = ::CreateFileW(logPath, FILE_APPEND_DATA,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                DWORD written = 0;
                (void)::WriteFile(file, line, static_cast<DWORD>(length), &written, nullptr);
                ::CloseHandle(file);
            }
            ::ReleaseSRWLockExclusive(&g_recordLock);
        }
    }
    ::SetLastError(savedError);
}

// A resource name or file name as log text: "#<number>" for an integer resource, else UTF-8.
struct Text {
    explicit Text(const wchar_t* name)
    {
        if (name == nullptr) {
            std::snprintf(value, sizeof value, "(null)");
        } else if (IS_INTRESOURCE(name)) {
            std::snprintf(value, sizeof value, "#%u", static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(name)));
        } else if (::WideCharToMultiByte(CP_UTF8, 0, name, -1, value, sizeof value, nullptr, nullptr) == 0) {
            std::snprintf(value, sizeof value, "(unprintable)");
        }
    }
    char value[400] = {};
};

const char* Reserved(const void* reserved) { return reserved == nullptr ? "null" : "set"; }

// LoadStringW's text behind a mark, bounded by the caller's buffer.
int MarkedString(HINSTANCE module, UINT id, LPWSTR buffer, int bufferMax, LANGID language)
{
    if (buffer == nullptr || bufferMax <= 0 || !MarksStrings()) {
        return ::LoadStringW(module, id, buffer, bufferMax);  // read-only pointer form or marks off
    }
    wchar_t text[256];
    const int textLength = ::LoadStringW(module, id, text, 256);
    if (textLength <= 0) {
        buffer[0] = L'\0';
        return 0;
    }
    char mark[32];
    if (language == 0) {
        std::snprintf(mark, sizeof mark, "[KvRtMui] ");
    } else {
        std::snprintf(mark, sizeof mark, "[KvRtMui %u] ", static_cast<unsigned>(language));
    }
    int length = 0;
    for (const char* c = mark; *c != '\0' && length < bufferMax - 1; ++c) {
        buffer[length++] = static_cast<wchar_t>(*c);
    }
    for (int i = 0; i < textLength && length < bufferMax - 1; ++i) {
        buffer[length++] = text[i];
    }
    buffer[length] = L'\0';
    return length;
}

}  // namespace

extern "C" {

__declspec(dllexport) DllAddRefFn DllAddRef;
__declspec(dllexport) DllReleaseFn DllRelease;
__declspec(dllexport) RtMUIGetMappedLocaleFn RtMUIGetMappedLocale;
__declspec(dllexport) RtMUILoadLibraryFn RtMUILoadLibrary;
__declspec(dllexport) RtMUILoadLibraryExFn RtMUILoadLibraryEx;
__declspec(dllexport) RtMUILoadLibraryImplFn RtMUILoadLibraryImpl;
__declspec(dllexport) RtMUILoadStringFn RtMUILoadString;
__declspec(dllexport) RtMUILoadStringExFn RtMUILoadStringEx;
__declspec(dllexport) RtMUIFindResourceFn RtMUIFindResource;
__declspec(dllexport) RtMUIFindResourceExFn RtMUIFindResourceEx;
__declspec(dllexport) RtMUILoadImageFn RtMUILoadImage;
__declspec(dllexport) RtMUILoadImageExFn RtMUILoadImageEx;
__declspec(dllexport) RtMUILoadBitmapFn RtMUILoadBitmap;
__declspec(dllexport) RtMUILoadBitmapExFn RtMUILoadBitmapEx;
__declspec(dllexport) RtMUILoadIconFn RtMUILoadIcon;
#ifndef KVRTMUI_WITHOUT_LOADICONEX
__declspec(dllexport) RtMUILoadIconExFn RtMUILoadIconEx;
#endif

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        Record("attach");
    } else if (reason == DLL_PROCESS_DETACH) {
        Record("detach");
    }
    return TRUE;
}

void WINAPI DllAddRef(void) { Record("DllAddRef"); }

void WINAPI DllRelease(void) { Record("DllRelease"); }

LANGID WINAPI RtMUIGetMappedLocale(void* reserved)
{
    Record("RtMUIGetMappedLocale reserved=%s", Reserved(reserved));
    return MappedLanguage();
}

HMODULE WINAPI RtMUILoadLibrary(LPCWSTR fileName, void* reserved)
{
    Record("RtMUILoadLibrary file=%s reserved=%s", Text(fileName).value, Reserved(reserved));
    return ::LoadLibraryW(fileName);
}

HMODULE WINAPI RtMUILoadLibraryEx(LPCWSTR fileName, HANDLE file, DWORD flags, void* reserved)
{
    Record("RtMUILoadLibraryEx file=%s flags=0x%lx reserved=%s", Text(fileName).value, flags, Reserved(reserved));
    return ::LoadLibraryExW(fileName, file, flags);
}

HMODULE WINAPI RtMUILoadLibraryImpl(LPCWSTR fileName, HANDLE file, DWORD flags, LANGID language, void* reserved)
{
    Record("RtMUILoadLibraryImpl file=%s flags=0x%lx lang=%u reserved=%s", Text(fileName).value, flags,
           static_cast<unsigned>(language), Reserved(reserved));
    return ::LoadLibraryExW(fileName, file, flags);
}

int WINAPI RtMUILoadString(HINSTANCE module, UINT id, LPWSTR buffer, int bufferMax, void* reserved)
{
    Record("RtMUILoadString id=%u max=%d reserved=%s", id, bufferMax, Reserved(reserved));
    return MarkedString(module, id, buffer, bufferMax, 0);
}

int WINAPI RtMUILoadStringEx(HINSTANCE module, UINT id, LPWSTR buffer, int bufferMax, LANGID language, void* reserved)
{
    Record("RtMUILoadStringEx id=%u max=%d lang=%u reserved=%s", id, bufferMax, static_cast<unsigned>(language),
           Reserved(reserved));
    return MarkedString(module, id, buffer, bufferMax, language);
}

HRSRC WINAPI RtMUIFindResource(HMODULE module, LPCWSTR name, LPCWSTR type, void* reserved)
{
    Record("RtMUIFindResource name=%s type=%s reserved=%s", Text(name).value, Text(type).value, Reserved(reserved));
    return ::FindResourceW(module, name, type);
}

HRSRC WINAPI RtMUIFindResourceEx(HMODULE module, LPCWSTR name, LPCWSTR type, LANGID language, void* reserved)
{
    Record("RtMUIFindResourceEx name=%s type=%s lang=%u reserved=%s", Text(name).value, Text(type).value,
           static_cast<unsigned>(language), Reserved(reserved));
    return ::FindResourceExW(module, type, name, language);
}

HANDLE WINAPI RtMUILoadImage(HINSTANCE module, LPCWSTR name, UINT type, int cx, int cy, UINT flags, void* reserved)
{
    Record("RtMUILoadImage name=%s type=%u size=%dx%d flags=0x%x reserved=%s", Text(name).value, type, cx, cy, flags,
           Reserved(reserved));
    return ::LoadImageW(module, name, type, cx, cy, flags);
}

HANDLE WINAPI RtMUILoadImageEx(HINSTANCE module, LPCWSTR name, UINT type, int cx, int cy, UINT flags, LANGID language,
                               void* reserved)
{
    Record("RtMUILoadImageEx name=%s type=%u size=%dx%d flags=0x%x lang=%u reserved=%s", Text(name).value, type, cx,
           cy, flags, static_cast<unsigned>(language), Reserved(reserved));
    return ::LoadImageW(module, name, type, cx, cy, flags);
}

HBITMAP WINAPI RtMUILoadBitmap(HINSTANCE module, LPCWSTR name, void* reserved)
{
    Record("RtMUILoadBitmap name=%s reserved=%s", Text(name).value, Reserved(reserved));
    return ::LoadBitmapW(module, name);
}

HBITMAP WINAPI RtMUILoadBitmapEx(HINSTANCE module, LPCWSTR name, LANGID language, void* reserved)
{
    Record("RtMUILoadBitmapEx name=%s lang=%u reserved=%s", Text(name).value, static_cast<unsigned>(language),
           Reserved(reserved));
    return ::LoadBitmapW(module, name);
}

HICON WINAPI RtMUILoadIcon(HINSTANCE module, LPCWSTR name, void* reserved)
{
    Record("RtMUILoadIcon name=%s reserved=%s", Text(name).value, Reserved(reserved));
    return ::LoadIconW(module, name);
}

#ifndef KVRTMUI_WITHOUT_LOADICONEX
HICON WINAPI RtMUILoadIconEx(HINSTANCE module, LPCWSTR name, LANGID language, void* reserved)
{
    Record("RtMUILoadIconEx name=%s lang=%u reserved=%s", Text(name).value, static_cast<unsigned>(language),
           Reserved(reserved));
    return ::LoadIconW(module, name);
}
#endif

}  // extern "C"
