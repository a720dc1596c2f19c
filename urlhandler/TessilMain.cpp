// The library's entry points: the loader's DllMain and the one export the browser control calls
// for every "sarn://" navigation.

#include "core/Logging/Logging.h"
#include "urlhandler/CKvSarnUrlHandler.h"

#include <windows.h>

#include <new>

namespace {

// This module logs under its own group, for the program that loaded it. Set once, before the
// first log call of the module builds its logger.
void SetLoggingParameters() noexcept
{
    static const bool applied = [] {
        ETWLogging::ModuleLoggingParameters parameters;
        parameters.group = L"SARN";
        parameters.host = nullptr;
        parameters.module = ::GetModuleHandleW(nullptr);
        parameters.loggerMode = 0;
        return ETWLogging::SetModuleLoggingParameters(parameters);
    }();
    static_cast<void>(applied);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

extern "C" DWORD WINAPI QrnBrwNfHandler(int code, wchar_t* url)
{
    try {
        SetLoggingParameters();
        return CKvSarnUrlHandler::HandleNotification(code, url);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    } catch (...) {
        return ERROR_INVALID_DATA;
    }
}
