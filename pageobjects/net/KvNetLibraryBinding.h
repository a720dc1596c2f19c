#pragma once
// How the network module reaches its libraries: loaded by name and bound function by function at
// run time. Production code binds to the System folder through the core's safe loader; tests bind
// a substitute to drive missing libraries, missing functions and the network itself.

#include <windows.h>

#include <memory>

class IKvNetLibraryBinding {
public:
    virtual ~IKvNetLibraryBinding() = default;
    // A module the caller gives back with Free, or null when the library cannot be loaded.
    [[nodiscard]] virtual HMODULE Load(const char* name) = 0;
    // The named export of module, or null when it is missing.
    [[nodiscard]] virtual FARPROC Resolve(HMODULE module, const char* name) = 0;
    virtual void Free(HMODULE module) = 0;
};

// Loads from the System folder only (never the current or the program's folder) and binds with
// GetProcAddress.
class KvSystemNetLibraryBinding final : public IKvNetLibraryBinding {
public:
    [[nodiscard]] HMODULE Load(const char* name) override;
    [[nodiscard]] FARPROC Resolve(HMODULE module, const char* name) override;
    void Free(HMODULE module) override;
};

[[nodiscard]] std::shared_ptr<IKvNetLibraryBinding> KvMakeSystemNetLibraryBinding();
