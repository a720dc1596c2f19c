#include "core/registry/CObfuscatedRegKey.h"

#include "core/registry/CObfuscatedRegKeyImpl.h"

#include <memory>

namespace Fundor {

CObfuscatedRegKey::CObfuscatedRegKey() : CRegKey(std::make_shared<CObfuscatedRegKeyImpl>()) {}

}  // namespace Fundor
