#include "access/dll/DllLoader.h"

#include "core/Logging/Logging.h"

namespace Velmo {

namespace {
constexpr const wchar_t* kSource = L"dll\\DllLoader";
}

DllLoader::DllLoader(std::shared_ptr<DllAPI> dllApi)
    : m_dllApi(dllApi ? std::move(dllApi) : std::make_shared<DllAPI>())
{
}

DllLoader::~DllLoader() = default;

bool DllLoader::loadDLL(const std::wstring& path, HMODULE* handle)
{
    constexpr const wchar_t* kFunction = L"Velmo::DllLoader::loadDLL";
    if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelNormal)) {
        ETWLogging::LogMessage(ETWLogging::kLevelNormal, kSource, kFunction, __LINE__, L"Entering loadDLL for %ls",
                               path);
    }
    if (handle == nullptr) {
        if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelWarning)) {
            ETWLogging::LogMessage(ETWLogging::kLevelWarning, kSource, kFunction, __LINE__,
                                   L"Invalid pHandle specified. Exiting.");
        }
        return false;
    }

    ModuleStatus status = MODULE_STATUS_SUCCESS;
    HMODULE module = nullptr;
    try {
        // Flags 0: the handle comes with a reference of its own, like a load.
        if (!m_dllApi->getModuleHandleEx(0, path.c_str(), module) || module == nullptr) {
            module = nullptr;
            if (!m_dllApi->loadLibrary(path, module) || module == nullptr) {
                status = MODULE_STATUS_UNSUCCESSFUL;
            }
        }
    } catch (...) {
        status = MODULE_STATUS_UNKNOWN_EXCEPTION;
    }

    if (status != MODULE_STATUS_SUCCESS) {
        if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelError)) {
            ETWLogging::LogMessage(ETWLogging::kLevelError, kSource, kFunction, __LINE__,
                                   L"Failed to load library. Error code: %ls(%lu).", ModuleStatusName(status),
                                   static_cast<unsigned long>(status));
        }
        return false;
    }
    *handle = module;
    if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelNormal)) {
        ETWLogging::LogMessage(ETWLogging::kLevelNormal, kSource, kFunction, __LINE__, L"Leaving loadDLL: loaded.");
    }
    return true;
}

ModuleStatus DllLoader::getProcAddress(HMODULE handle, const char* name, FARPROC* address)
{
    constexpr const wchar_t* kFunction = L"Velmo::DllLoader::getProcAddress";
    if (name == nullptr || address == nullptr) {
        return MODULE_STATUS_INVALID_PARAMETER;
    }
    FARPROC found = nullptr;
    try {
        found = m_dllApi->getProcAddress(handle, name);
    } catch (...) {
        return MODULE_STATUS_UNKNOWN_EXCEPTION;
    }
    if (found == nullptr) {
        if (ETWLogging::IsLogLevelEnabled(ETWLogging::kLevelWarning)) {
            ETWLogging::LogMessage(ETWLogging::kLevelWarning, kSource, kFunction, __LINE__,
                                   L"getProcAddress was unsuccessful in finding the handle's address");
        }
        return MODULE_STATUS_INVALID_HANDLE;
    }
    *address = found;
    return MODULE_STATUS_SUCCESS;
}

}  // namespace Velmo
