#pragma once
// A service that can vouch for a module file before the signer lists are consulted.

#include <windows.h>

// Answers 0 when the file is trusted and ERROR_ACCESS_DENIED otherwise. Implementations must
// not throw and may be called from any thread.
class ModuleValidator {
public:
    [[nodiscard]] virtual DWORD IsTrusted(const wchar_t* path) = 0;

protected:
    ModuleValidator() = default;
    ~ModuleValidator() = default;
    ModuleValidator(const ModuleValidator&) = default;
    ModuleValidator& operator=(const ModuleValidator&) = default;
};
