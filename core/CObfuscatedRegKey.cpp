#include "core/CObfuscatedRegKey.h"

#include "core/CObfuscatedRegKeyImpl.h"

#include <memory>

namespace Fundor {

CObfuscatedRegKey::CObfuscatedRegKey() : CRegKey(std::make_shared<CObfuscatedRegKeyImpl>()) {}

}  // namespace Fundor
