#include "access/wrappers/DllAPI.h"

#include "access/ModuleTrust.h"
#include "core/Logging/Logging.h"

namespace Velmo {

namespace {
constexpr const wchar_t* kSource = L"wrappers\\DllAPI";
}

DllAPI::~DllAPI() = default;

bool DllAPI::loadLibrary(const std::wstring& path, HMODULE& module)
{
    HMODULE loaded = ::LoadValidatedLibraryEx(path.c_str(), 0);
    if (loaded == nullptr) {
        const DWORD error = ::GetLastError();
        if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelError)) {
            ETWLogging::LogMessage(ETWLogging::kLevelError, kSource, L"Velmo::DllAPI::loadLibrary", __LINE__,
                                   L"LoadLibrary Failed. GLE: %lu", error);
        }
        return false;
    }
    module = loaded;
    return true;
}

FARPROC DllAPI::getProcAddress(HMODULE module, const char* name) { return ::GetProcAddress(module, name); }

bool DllAPI::isTrusted(const std::wstring& path)
{
    if (path.empty()) {
        return false;
    }
    return ::ValidateModulePath(path.c_str()) == 0;
}

bool DllAPI::freeLibrary(HMODULE module) { return ::FreeLibrary(module) != FALSE; }

bool DllAPI::getModuleHandleEx(DWORD flags, const wchar_t* name, HMODULE& module)
{
    return ::GetModuleHandleExW(flags, name, &module) != FALSE;
}

}  // namespace Velmo
