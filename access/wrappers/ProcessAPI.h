#pragma once
// Process and token calls of the Velmo library, behind an interface so that the logic above them
// (the bus client's session lookup, for one) can run against a substitute. The default
// implementation forwards each operation to the platform call of the same role and returns its
// result unchanged (BOOL results as bool); it keeps no state and may be used from any thread.
// Handles returned by an operation belong to the caller.

#include <windows.h>
#include <tlhelp32.h>

namespace Velmo {

class ProcessAPI {
public:
    ProcessAPI() = default;
    ProcessAPI(const ProcessAPI&) = delete;
    ProcessAPI& operator=(const ProcessAPI&) = delete;
    virtual ~ProcessAPI();

    [[nodiscard]] virtual DWORD getCurrentProcessId();
    [[nodiscard]] virtual DWORD getProcessId(HANDLE process);
    // sessionId is written only on success.
    [[nodiscard]] virtual bool processIdToSessionId(DWORD processId, DWORD* sessionId);
    [[nodiscard]] virtual DWORD getActiveConsoleSessionId();
    [[nodiscard]] virtual HANDLE getCurrentProcess();
    // CreateProcessAsUserW with no application name and no current directory.
    [[nodiscard]] virtual bool createProcessAsUser(HANDLE token, wchar_t* commandLine,
                                                   SECURITY_ATTRIBUTES* processAttributes,
                                                   SECURITY_ATTRIBUTES* threadAttributes, bool inheritHandles,
                                                   DWORD creationFlags, void* environment,
                                                   STARTUPINFOW* startupInfo, PROCESS_INFORMATION* processInfo);
    [[nodiscard]] virtual bool createProcessAsUser(HANDLE token, const wchar_t* applicationName,
                                                   wchar_t* commandLine, SECURITY_ATTRIBUTES* processAttributes,
                                                   SECURITY_ATTRIBUTES* threadAttributes, bool inheritHandles,
                                                   DWORD creationFlags, void* environment,
                                                   const wchar_t* currentDirectory, STARTUPINFOW* startupInfo,
                                                   PROCESS_INFORMATION* processInfo);
    [[nodiscard]] virtual bool openProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token);
    [[nodiscard]] virtual bool adjustTokenPrivileges(HANDLE token, bool disableAll, TOKEN_PRIVILEGES* newState,
                                                     DWORD bufferLength, TOKEN_PRIVILEGES* previousState,
                                                     DWORD* returnLength);
    [[nodiscard]] virtual bool lookupPrivilegeValue(const wchar_t* systemName, const wchar_t* name, LUID* luid);
    [[nodiscard]] virtual bool getExitCodeProcess(HANDLE process, DWORD* exitCode);
    [[nodiscard]] virtual bool terminateProcess(HANDLE process, UINT exitCode);
    [[nodiscard]] virtual bool closeHandle(HANDLE handle);
    [[nodiscard]] virtual DWORD getLastError();
    [[nodiscard]] virtual DWORD waitForSingleObject(HANDLE handle, DWORD milliseconds);
    [[nodiscard]] virtual HANDLE openProcess(DWORD desiredAccess, bool inheritHandle, DWORD processId);
    [[nodiscard]] virtual HANDLE createToolhelp32Snapshot(DWORD flags, DWORD processId);
    [[nodiscard]] virtual bool process32First(HANDLE snapshot, PROCESSENTRY32W* entry);
    [[nodiscard]] virtual bool process32Next(HANDLE snapshot, PROCESSENTRY32W* entry);
};

}  // namespace Velmo
