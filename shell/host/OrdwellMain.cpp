// Entry point of the host program.

#include "core/base/ScopedResource.h"
#include "core/loading/SafeLoading.h"
#include "shell/host/CKvShellModule.h"
#include "shell/host/RootStoreWarmUp.h"

#include <windows.h>

#include <optional>

class KvPlatformNet;
extern KvPlatformNet g_kvPlatformNet;

namespace {

// Destroyed after every other static object of the program: the process waits for the warm-up's
// thread before it is torn down. Started first thing in wWinMain, for a start that needs it.
__attribute__((init_priority(101))) std::optional<RootStoreWarmUp> g_rootStoreWarmUp;

// The module object exists before the entry point runs, as the page objects expect of it.
[[maybe_unused]] CKvShellModule& g_module = GetShellModule();

// The network module's process-wide object is built by its own static initialiser. Nothing else in
// the program names it, and the linker leaves an unnamed member of a static library out.
__attribute__((used)) KvPlatformNet* const g_networkModuleAnchor = &g_kvPlatformNet;

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    try {
        // Only a start with a host ID reaches the trust checks of a host or a hand-over: the
        // platform builds its root store for them while the rest of the start goes on. A start
        // without one (no page option, "H" alone, a refused line, a registration switch) ends
        // without a page and would wait for the warm-up at its exit.
        if (CommandLineNamesHostId(::GetCommandLineW())) g_rootStoreWarmUp.emplace();
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
