#pragma once
// A CRegKey over CObfuscatedRegKeyImpl: every value it reads or writes is an enciphered
// "KVRG" record with UTF-8 text inside.

#include "core/registry/CRegKey.h"

namespace Fundor {

class CObfuscatedRegKey : public CRegKey {
public:
    CObfuscatedRegKey();
};

}  // namespace Fundor
