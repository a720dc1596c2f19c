#pragma once
// The system-information call the path macros need ("$(OS.Platform)"), behind an interface so
// that every platform value can be tried against a substitute. The default forwards to
// GetNativeSystemInfo: the processor architecture of Windows itself, not the one a WoW64
// process is shown. No state; any thread may use it.

#include <windows.h>

namespace Velmo {

class SystemInfoAPI {
public:
    SystemInfoAPI() = default;
    SystemInfoAPI(const SystemInfoAPI&) = delete;
    SystemInfoAPI& operator=(const SystemInfoAPI&) = delete;
    virtual ~SystemInfoAPI();

    // Fills info (GetNativeSystemInfo cannot fail).
    virtual void getNativeSystemInfo(SYSTEM_INFO& info);
};

}  // namespace Velmo
