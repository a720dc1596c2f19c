#pragma once
// Opening a registry key to everyone: an entry that gives Everyone (S-1-1-0) GENERIC_ALL,
// inherited by sub-keys and values, is merged into the key's access list.

#include <windows.h>

#include "core/registry/SecurityFunctionTable.h"

namespace Fundor {

enum class EveryoneAccessScope {
    KeyOnly,
    // The same descriptor is also set on every sub-key below the key, depth first. A sub-key that
    // cannot be opened with KEY_ALL_ACCESS is skipped; any other failure ends the walk.
    KeyAndSubKeys,
};

// Rewrites the access list of the open key through the bound table (ERROR_FILE_NOT_FOUND when it
// is not bound). outOfMemoryCode is the result when a descriptor buffer cannot be allocated. Other
// results: ERROR_BAD_LENGTH when the key reports a descriptor of size 0, and the platform's codes
// unchanged.
// On a failure the key (or the sub-keys reached so far) may already carry the new list.
[[nodiscard]] LONG GrantEveryoneFullAccess(const SecurityFunctionTable& functions, HKEY key,
                                           EveryoneAccessScope scope, LONG outOfMemoryCode);

}  // namespace Fundor
