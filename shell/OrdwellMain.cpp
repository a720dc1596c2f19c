// Entry point of the host program.

#include "CKvShellModule.h"
#include "SafeLoading.h"
#include "ScopedResource.h"

#include <windows.h>

namespace {

// The module object exists before the entry point runs, as the page objects expect of it.
[[maybe_unused]] CKvShellModule& g_module = GetShellModule();

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    try {
        CKvShellModule& module = GetShellModule();
        module.StartupMarker().Start(L"Ordwell Startup");
        module.SetInstance(instance);
        Fundor::ScopedModule shellFolder(Fundor::LoadSystemLibrary(L"SHFolder.dll"));
        (void)::CoInitialize(nullptr);
        const HRESULT result = module.RunModule(show);
        return static_cast<int>(result);
    } catch (...) {
        return static_cast<int>(E_UNEXPECTED);
    }
}
