#pragma once
// Client of Halvorn's validation service ("qdxnroa.dll"), the first voice of the module trust
// check, and the loader of the service's interface.

#include "access/ModuleValidator.h"
#include "access/NroValidationControl.h"
#include "core/base/ScopedResource.h"

#include <windows.h>
#include <wrl/client.h>

class NroValidationClient final : public ModuleValidator {
public:
    // Connects: reads HKLM "Software\Tervane\Halvorn" (32-bit view) for the service version and
    // asks "qdxnroa.dll" for "NroValidationControl2", else "NroValidationControl". Without the
    // key the service counts as absent (version 0) and no DLL is loaded.
    NroValidationClient();
    // Releases the interface, then lets the DLL go. (The process-wide client is never destroyed.)
    ~NroValidationClient();
    NroValidationClient(const NroValidationClient&) = delete;
    NroValidationClient& operator=(const NroValidationClient&) = delete;

    // 0 when the service vouches for path, else ERROR_ACCESS_DENIED.
    [[nodiscard]] DWORD IsTrusted(const wchar_t* path) override;

    // major * 100 + minor: 0 absent, 1504 unless "halvorn_version" reads (15, 4) or later.
    [[nodiscard]] DWORD ServiceVersion() const { return m_version; }
    [[nodiscard]] bool HasInterface() const { return m_control != nullptr; }
    // The query flags sent with each query: 4 before service version 1505, 0x200 from it on.
    [[nodiscard]] DWORD QueryFlags() const { return m_version < 1505 ? 4u : 0x200u; }

    // The "halvorn_version" rule: (major, minor) at least (15, 4) as a pair gives major*100+minor;
    // anything else (unreadable, older, or a minor of 100 or more) keeps 1504.
    [[nodiscard]] static DWORD VersionFromText(const wchar_t* text);

private:
    void Connect();

    DWORD m_version = 0;
    Fundor::ScopedModule m_module;  // kept loaded while the interface is held
    Microsoft::WRL::ComPtr<NroValidationControl> m_control;
};

// Gets a named interface from the export "NotComDllGetInterface" of a DLL that passes
// WinVerifyTrust. dllName is a bare name (looked for in Halvorn's install folder, then in the
// program's own folder) or a path (taken as it stands). On success *module receives the loaded DLL,
// which the caller must keep loaded while it uses the interface; on failure *module is null.
// Returns the export's result; ERROR_INVALID_PARAMETER for a name of 260 characters or more; the
// loader's WinVerifyTrust code; the last error, or ERROR_FILE_NOT_FOUND when none.
[[nodiscard]] DWORD NotComDllGetInterface(const wchar_t* dllName, const char* interfaceName,
                                          void** control, HMODULE* module);
