// Takes "trusted.js" out of a signed cabinet with the File Decompression Interface of
// "Cabinet.dll", bound at run time.

#include "access/TrustedPublisherList.h"
#include "core/loading/SafeLoading.h"

#include <fcntl.h>
#include <fdi.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using FdiCreateFn = HFDI(DIAMONDAPI*)(PFNALLOC, PFNFREE, PFNOPEN, PFNREAD, PFNWRITE, PFNCLOSE,
                                      PFNSEEK, int, PERF);
using FdiCopyFn = BOOL(DIAMONDAPI*)(HFDI, char*, char*, int, PFNFDINOTIFY, PFNFDIDECRYPT, void*);
using FdiDestroyFn = BOOL(DIAMONDAPI*)(HFDI);

FNALLOC(CabAlloc) { return std::malloc(cb); }
FNFREE(CabFree) { std::free(pv); }
FNOPEN(CabOpen) { return ::_open(pszFile, oflag | _O_BINARY, pmode); }
FNREAD(CabRead) { return static_cast<UINT>(::_read(static_cast<int>(hf), pv, cb)); }
FNWRITE(CabWrite) { return static_cast<UINT>(::_write(static_cast<int>(hf), pv, cb)); }
FNCLOSE(CabClose) { return ::_close(static_cast<int>(hf)); }
FNSEEK(CabSeek) { return ::_lseek(static_cast<int>(hf), dist, seektype); }

struct ExtractionState {
    std::string target;      // the extracted "trusted.js" copy
    std::string placeholder; // the empty ".tmp" file GetTempFileNameA made beside it
    bool closed = false;
};

FNFDINOTIFY(CabNotify)
{
    auto* state = static_cast<ExtractionState*>(pfdin->pv);
    switch (fdint) {
    case fdintCOPY_FILE: {
        if (pfdin->psz1 == nullptr || ::_stricmp(pfdin->psz1, "trusted.js") != 0 ||
            !state->target.empty()) {
            return 0;
        }
        char folder[MAX_PATH] = {};
        char name[MAX_PATH] = {};
        const DWORD length = ::GetTempPathA(MAX_PATH, folder);
        if (length == 0 || length >= MAX_PATH || ::GetTempFileNameA(folder, "trustedjs", 0, name) == 0) {
            return -1;
        }
        state->placeholder = name;
        std::string target = name;
        const std::size_t dot = target.find_last_of('.');
        const std::size_t slash = target.find_last_of('\\');
        if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) {
            target.erase(dot);
        }
        target += ".js";
        // A new file only: a file or link planted under the guessable name is never written through.
        const int handle = ::_open(target.c_str(), _O_BINARY | _O_CREAT | _O_EXCL | _O_WRONLY,
                                   _S_IREAD | _S_IWRITE);
        if (handle != -1) {
            state->target = target;
        }
        return handle;
    }
    case fdintCLOSE_FILE_INFO:
        state->closed = ::_close(static_cast<int>(pfdin->hf)) == 0;
        ::SetFileAttributesA(state->target.c_str(), pfdin->attribs & 0x27);
        return -1;  // the one file wanted is out: end the walk
    default:
        return 0;
    }
}

bool ToAnsi(const wchar_t* text, std::string* out)
{
    const int size = ::WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, text, -1, nullptr,
                                           0, nullptr, nullptr);
    if (size <= 0) {
        return false;
    }
    std::string converted(static_cast<std::size_t>(size), '\0');
    BOOL lossy = FALSE;
    if (::WideCharToMultiByte(CP_THREAD_ACP, WC_NO_BEST_FIT_CHARS, text, -1, converted.data(), size,
                              nullptr, &lossy) != size ||
        lossy) {
        return false;  // a path that does not survive the code page names some other file
    }
    converted.resize(static_cast<std::size_t>(size - 1));
    *out = std::move(converted);
    return true;
}

bool ToWide(const std::string& text, std::wstring* out)
{
    const int size = ::MultiByteToWideChar(CP_THREAD_ACP, MB_ERR_INVALID_CHARS, text.c_str(), -1,
                                           nullptr, 0);
    if (size <= 0) {
        return false;
    }
    std::wstring converted(static_cast<std::size_t>(size), L'\0');
    if (::MultiByteToWideChar(CP_THREAD_ACP, MB_ERR_INVALID_CHARS, text.c_str(), -1,
                              converted.data(), size) != size) {
        return false;
    }
    converted.resize(static_cast<std::size_t>(size - 1));
    *out = std::move(converted);
    return true;
}

void RemoveFile(const std::string& path)
{
    if (path.empty()) {
        return;
    }
    // The copy carries the cabinet's attributes, read-only among them.
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(path.c_str());
}

}  // namespace

CabinetExtractor::CabinetExtractor()
{
    m_module.reset(Fundor::LoadSystemLibrary(L"Cabinet.dll"));
    if (!m_module) {
        return;
    }
    m_create = reinterpret_cast<void*>(::GetProcAddress(m_module.get(), "FDICreate"));
    m_copy = reinterpret_cast<void*>(::GetProcAddress(m_module.get(), "FDICopy"));
    m_destroy = reinterpret_cast<void*>(::GetProcAddress(m_module.get(), "FDIDestroy"));
    m_usable = m_create != nullptr && m_copy != nullptr && m_destroy != nullptr;
}

CabinetExtractor::~CabinetExtractor() = default;

bool CabinetExtractor::ExtractTrustedList(const wchar_t* cabinetPath, TrustedPublisherList& target)
{
    if (!m_usable || cabinetPath == nullptr || cabinetPath[0] == L'\0') {
        return false;
    }
    ExtractionState state;
    bool installed = false;
    try {
        std::string path;
        if (!ToAnsi(cabinetPath, &path)) {
            return false;
        }
        const std::size_t slash = path.find_last_of('\\');
        std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);

        ERF error = {};
        HFDI context = reinterpret_cast<FdiCreateFn>(m_create)(CabAlloc, CabFree, CabOpen, CabRead,
                                                                CabWrite, CabClose, CabSeek,
                                                                cpuUNKNOWN, &error);
        if (context == nullptr) {
            return false;
        }
        // The walk ends early on purpose once "trusted.js" is out, so its result says nothing.
        (void)reinterpret_cast<FdiCopyFn>(m_copy)(context, name.data(), folder.data(), 0, CabNotify,
                                                  nullptr, &state);
        reinterpret_cast<FdiDestroyFn>(m_destroy)(context);

        std::wstring extracted;
        if (state.closed && !state.target.empty() &&
            ::GetFileAttributesA(state.target.c_str()) != INVALID_FILE_ATTRIBUTES &&
            ToWide(state.target, &extracted)) {
            installed = target.InstallTrustedListIfNewer(extracted.c_str());
        }
    } catch (...) {
        installed = false;
    }
    RemoveFile(state.target);
    RemoveFile(state.placeholder);
    return installed;
}
