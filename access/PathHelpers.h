#pragma once
// Expands the folder macros of the Velmo library: "$(Name)" texts such as "$(App.Folder)" or
// "$(Brannock.InstallDir)" are replaced by their values from a fixed table of 19 macros (see
// PathHelpers.cpp). Macros are matched by their whole text, case-sensitive; a macro that is not
// in the table, or not written exactly, stays as written. Values are not scanned again.

#include "access/wrappers/RegistryAPI.h"
#include "access/wrappers/ShlObjAPI.h"
#include "access/wrappers/SystemInfoAPI.h"
#include "core/version/OSInfoProxy.h"

#include <cstdint>
#include <memory>
#include <string>

namespace Velmo {

namespace internal {

// The platform value behind "$(OS.Platform)", from the native processor architecture:
// PROCESSOR_ARCHITECTURE_INTEL (0) gives 0, PROCESSOR_ARCHITECTURE_AMD64 (9) gives 1, any other
// architecture (ARM64, IA-64, unknown) 2.
[[nodiscard]] std::uint32_t PlatformValueOfArchitecture(WORD architecture) noexcept;

// 0 "win32", 1 "x64", 2 "PlatformUnknown", any other value "".
[[nodiscard]] const wchar_t* PlatformText(std::uint32_t platformValue) noexcept;

}  // namespace internal

class PathHelpers {
public:
    using OSInfo = Fundor::internal::OSInfoProxy<Fundor::WinOSVersionAPI>;

    // The value sources, each of which may be empty: an empty one is replaced by a new default
    // object of its kind (the real system calls).
    explicit PathHelpers(std::shared_ptr<ShlObjAPI> shlObj = nullptr, std::shared_ptr<OSInfo> osInfo = nullptr,
                         std::shared_ptr<RegistryAPI> registry = nullptr,
                         std::shared_ptr<SystemInfoAPI> systemInfo = nullptr);
    PathHelpers(const PathHelpers&) = delete;
    PathHelpers& operator=(const PathHelpers&) = delete;
    virtual ~PathHelpers();

    // Replaces every macro of the table in path by its value (a value that cannot be had is
    // empty). Always true.
    virtual bool expand(std::wstring& path);

    class _Impl;

private:
    std::shared_ptr<_Impl> m_impl;
};

}  // namespace Velmo
