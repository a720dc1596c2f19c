#include "shell/host/KvBrwsr2Lib.h"

#include "access/InstallFolders.h"
#include "access/ModuleTrust.h"
#include "core/Logging/Logging.h"
#include "core/base/LastError.h"

#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kLibraryName[] = L"KvBrwsr2.dll";

// The URL library, held for the process while the browser library may call its handler.
Fundor::ScopedModule& UrlLibrary()
{
    static Fundor::ScopedModule library;
    return library;
}

template <typename Function>
Function Bind(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

}  // namespace

KvBrwsr2Lib::~KvBrwsr2Lib()
{
    if (m_deInit != nullptr) m_deInit();
    Unload();
}

void KvBrwsr2Lib::Unload() noexcept
{
    m_module.reset();
    m_getBrwObject2 = nullptr;
    m_getBrwObject2Ex = nullptr;
    m_init = nullptr;
    m_reserved = nullptr;
    m_deInit = nullptr;
}

DWORD KvBrwsr2Lib::LoadFromFolder(const wchar_t* folder)
{
    std::wstring path(folder);
    if (!path.empty() && path.back() != L'\\') path += L'\\';
    path += kLibraryName;
    if (path.size() >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
    // What the check left in the last error says more than its verdict (a missing file).
    if (const DWORD refused = ValidateModulePath(path.c_str()); refused != 0) return Fundor::LastErrorOr(refused);
    m_module.reset(::LoadLibraryW(path.c_str()));
    RETURN_LAST_ERROR_IF(!m_module);
    return ERROR_SUCCESS;
}

DWORD KvBrwsr2Lib::Load()
{
    Unload();
    // The error of the last step that failed, taken where it failed: the folder look-ups and the
    // second attempt in between would otherwise replace it. Never 0 on failure.
    DWORD error = ERROR_MOD_NOT_FOUND;
    wchar_t program[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        wchar_t* slash = std::wcsrchr(program, L'\\');
        if (slash != nullptr) {
            slash[1] = L'\0';
            error = LoadFromFolder(program);
        }
    }
    if (!m_module) {
        wchar_t common[MAX_PATH] = {};
        if (GetCommonFilesDir(common, MAX_PATH, 1) == ERROR_SUCCESS) error = LoadFromFolder(common);
    }
    if (m_module) {
        m_getBrwObject2 = Bind<PFN_KvGetBrwObject2>(m_module.get(), "KvGetBrwObject2");
        error = m_getBrwObject2 != nullptr ? ERROR_SUCCESS : Fundor::LastErrorOr(ERROR_PROC_NOT_FOUND);
        if (error == ERROR_SUCCESS) {
            m_getBrwObject2Ex = Bind<PFN_KvGetBrwObject2Ex>(m_module.get(), "KvGetBrwObject2Ex");
            if (m_getBrwObject2Ex != nullptr) return ERROR_SUCCESS;
            error = Fundor::LastErrorOr(ERROR_PROC_NOT_FOUND);
        }
    }
    Unload();
    return error;
}

DWORD KvBrwsr2Lib::Init(DWORD flags, KvBrwNfHandler handler, void* context)
{
    DWORD result = Load();
    if (result != ERROR_SUCCESS) return result;
    if ((flags & 1) == 0) {
        m_init = Bind<PFN_KvBrwInit>(m_module.get(), "KvBrwInit");
        result = m_init != nullptr ? ERROR_SUCCESS : Fundor::LastErrorOr(ERROR_PROC_NOT_FOUND);
        if (result == ERROR_SUCCESS) {
            m_deInit = Bind<PFN_KvBrwDeInit>(m_module.get(), "KvBrwDeInit");
            if (m_deInit == nullptr) result = Fundor::LastErrorOr(ERROR_PROC_NOT_FOUND);
        }
        if (result != ERROR_SUCCESS) {
            m_deInit = nullptr;  // never initialised: nothing to undo
        } else {
            result = m_init(flags, handler, context);
            if (result != ERROR_SUCCESS) m_deInit = nullptr;
        }
    }
    if (result != ERROR_SUCCESS) Unload();
    return result;
}

DWORD KvBrwsr2Lib::GetBrwObject2(IKvBrowser2** browser)
{
    if (browser == nullptr) return ERROR_INVALID_PARAMETER;
    *browser = nullptr;
    if (m_getBrwObject2 == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
    IKvBrowser2* object = nullptr;
    if (!m_getBrwObject2(&object)) return ERROR_FUNCTION_FAILED;
    if (object == nullptr) return ERROR_INVALID_DATA;
    *browser = object;
    return ERROR_SUCCESS;
}

void GetBrwNfyHandler(KvBrwNfHandler* handler)
{
    if (handler == nullptr) return;
    *handler = nullptr;
    wchar_t path[MAX_PATH] = {};
    if (!_ModulePathFromCLSID(L"AD6E7ABF-E06F-4ff6-B734-D04F22DAE042", path, MAX_PATH)) return;
    wchar_t* slash = std::wcsrchr(path, L'\\');
    if (slash == nullptr) {
        ETWLOG(ETWLogging::kLevelError, L"KvQrnBrwsrCallback", L"GetBrwNfyHandler",
               L"GetBrwNfyHandler - After _ModulePathFromCLSID(CLSID_CoKvQrnCShim) could not get last slash in %s",
               path);
        return;
    }
    *slash = L'\0';
    std::wstring library(path);
    library += L"\\Tessil.dll";
    if (library.size() >= MAX_PATH) return;
    if (ValidateModulePath(library.c_str()) != 0) return;
    Fundor::ScopedModule& held = UrlLibrary();
    held.reset(::LoadLibraryW(library.c_str()));
    if (!held) return;
    auto* address = Bind<KvBrwNfHandler>(held.get(), "QrnBrwNfHandler");
    if (address == nullptr) {
        held.reset();
        return;
    }
    *handler = address;
}

void ReleaseBrwNfyHandler()
{
    UrlLibrary().reset();
}
