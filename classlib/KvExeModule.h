#pragma once
// The executable COM module: the run sequence of a program that hosts COM objects, its lock
// count, and the four registration switches, which run the program's registry scripts (resources
// of type "REGISTRY") through the platform's registry-script component.
//
// Run sequence (RunModule): COM apartment -> ParseCommandLine -> PreMessageLoop -> the loop ->
// PostMessageLoop (the pause) -> leave the apartment. A derived module overrides the steps.

#include "classlib/KvRegistrar.h"

#include <windows.h>

#include <vector>

class CKvExeModule {
public:
    CKvExeModule() noexcept;
    virtual ~CKvExeModule();
    CKvExeModule(const CKvExeModule&) = delete;
    CKvExeModule& operator=(const CKvExeModule&) = delete;

    // Lock count of the module; reaching zero starts nothing.
    virtual LONG Lock() noexcept { return InterlockedIncrement(&m_lockCount); }
    virtual LONG Unlock() noexcept { return InterlockedDecrement(&m_lockCount); }
    virtual LONG GetLockCount() const noexcept { return m_lockCount; }
    // Replacements every registry script gets besides "MODULE" (the program path).
    virtual HRESULT AddCommonRGSReplacements(IKvRegistrar* registrar) { return S_OK; }

    // The whole run: -1 when the module's own initialisation failed; a failure of entering the
    // apartment (RPC_E_CHANGED_MODE only when the managed runtime is not loaded); the result of
    // the command line's registration switch; else the result of Run.
    [[nodiscard]] HRESULT RunModule(int show);

    // true: go on and run the module; false: end with *result. The base serves the registration
    // switches ("UnregServer", "RegServer", "UnregServerPerUser", "RegServerPerUser", behind "-"
    // or "/", compared without case as whole words up to a blank or tab, anywhere in the line).
    [[nodiscard]] virtual bool ParseCommandLine(const wchar_t* line, HRESULT* result);
    // PreMessageLoop; the loop when it gave S_OK; PostMessageLoop unless it failed.
    [[nodiscard]] virtual HRESULT Run(int show);
    [[nodiscard]] virtual HRESULT PreMessageLoop(int show) { return S_OK; }
    virtual void RunMessageLoop();
    // Gives late callers the pause before the process ends.
    [[nodiscard]] virtual HRESULT PostMessageLoop();

    // Runs every registry script of the module: the AppID script first when registering, last
    // when unregistering. perUser: HKEY_CLASSES_ROOT is HKEY_CURRENT_USER\Software\Classes for the
    // duration. The first failing script's result, else S_OK.
    [[nodiscard]] HRESULT RegisterServer(bool perUser);
    [[nodiscard]] HRESULT UnregisterServer(bool perUser);
    // One script resource, registered or removed. No exception leaves it (E_OUTOFMEMORY, E_FAIL or
    // E_UNEXPECTED instead, logged).
    [[nodiscard]] HRESULT UpdateRegistryFromResource(UINT resourceId, bool doRegister);

    [[nodiscard]] DWORD ThreadId() const noexcept { return m_threadId; }
    [[nodiscard]] DWORD PauseMilliseconds() const noexcept { return m_pause; }

protected:
    // The module's scripts; 0 means none.
    [[nodiscard]] virtual UINT GetAppIdScriptId() const { return 0; }
    [[nodiscard]] virtual std::vector<UINT> GetObjectScriptIds() const { return {}; }
    // The image holding the scripts (the program by default).
    [[nodiscard]] virtual HMODULE ScriptModule() const { return ::GetModuleHandleW(nullptr); }
    // Whether the managed runtime is in the process (then a foreign apartment is accepted).
    [[nodiscard]] virtual bool IsManagedRuntimeLoaded() const;

    DWORD m_threadId;
    DWORD m_timeOut = 5000;
    DWORD m_pause = 1000;
    bool m_delayShutdown = true;
    bool m_comInitialized = false;
    HRESULT m_initResult = S_OK;

private:
    [[nodiscard]] HRESULT RunRegistrarScript(UINT resourceId, bool doRegister);

    LONG m_lockCount = 0;
};

// Which registration switch the line holds, by the rule of ParseCommandLine.
enum class KvRegistrationSwitch { None, Unregister, Register, UnregisterPerUser, RegisterPerUser };
[[nodiscard]] KvRegistrationSwitch FindRegistrationSwitch(const wchar_t* line) noexcept;
