#include "access/wrappers/SystemInfoAPI.h"

namespace Velmo {

SystemInfoAPI::~SystemInfoAPI() = default;

void SystemInfoAPI::getNativeSystemInfo(SYSTEM_INFO& info) { ::GetNativeSystemInfo(&info); }

}  // namespace Velmo
