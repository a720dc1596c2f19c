// Entry point of the host program.

#include "core/base/ScopedResource.h"
#include "core/loading/SafeLoading.h"
#include "shell/host/CKvShellModule.h"
#include "shell/host/RootStoreWarmUp.h"

#include <windows.h>

class KvPlatformNet;
extern KvPlatformNet g_kvPlatformNet;

namespace {

// Constructed before every other static object of the program and destroyed after them: the
// platform builds its root store while the program starts, and the process waits for that thread
// before it is torn down.
__attribute__((init_priority(101))) RootStoreWarmUp g_rootStoreWarmUp;

// The module object exists before the entry point runs, as the page objects expect of it.
[[maybe_unused]] CKvShellModule& g_module = GetShellModule();

// The network module's process-wide object is built by its own static initialiser. Nothing else in
// the program names it, and the linker leaves an unnamed member of a static library out.
__attribute__((used)) KvPlatformNet* const g_networkModuleAnchor = &g_kvPlatformNet;

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
