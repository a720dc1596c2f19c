#pragma once
// The known-folder seam of the Velmo library is the core library's one (slot 1
// SHGetKnownFolderPath), so one substitute serves both.

#include "core/base/ShlObjAPI.h"

namespace Velmo {

using ShlObjAPI = Fundor::ShlObjAPI;

}  // namespace Velmo
