#include "access/wrappers/ProcessAPI.h"

namespace Velmo {

ProcessAPI::~ProcessAPI() = default;

DWORD ProcessAPI::getCurrentProcessId() { return ::GetCurrentProcessId(); }

DWORD ProcessAPI::getProcessId(HANDLE process) { return ::GetProcessId(process); }

bool ProcessAPI::processIdToSessionId(DWORD processId, DWORD* sessionId)
{
    return ::ProcessIdToSessionId(processId, sessionId) != FALSE;
}

DWORD ProcessAPI::getActiveConsoleSessionId() { return ::WTSGetActiveConsoleSessionId(); }

HANDLE ProcessAPI::getCurrentProcess() { return ::GetCurrentProcess(); }

bool ProcessAPI::createProcessAsUser(HANDLE token, wchar_t* commandLine, SECURITY_ATTRIBUTES* processAttributes,
                                     SECURITY_ATTRIBUTES* threadAttributes, bool inheritHandles, DWORD creationFlags,
                                     void* environment, STARTUPINFOW* startupInfo, PROCESS_INFORMATION* processInfo)
{
    return ::CreateProcessAsUserW(token, nullptr, commandLine, processAttributes, threadAttributes,
                                  inheritHandles ? TRUE : FALSE, creationFlags, environment, nullptr, startupInfo,
                                  processInfo) != FALSE;
}

bool ProcessAPI::createProcessAsUser(HANDLE token, const wchar_t* applicationName, wchar_t* commandLine,
                                     SECURITY_ATTRIBUTES* processAttributes, SECURITY_ATTRIBUTES* threadAttributes,
                                     bool inheritHandles, DWORD creationFlags, void* environment,
                                     const wchar_t* currentDirectory, STARTUPINFOW* startupInfo,
                                     PROCESS_INFORMATION* processInfo)
{
    return ::CreateProcessAsUserW(token, applicationName, commandLine, processAttributes, threadAttributes,
                                  inheritHandles ? TRUE : FALSE, creationFlags, environment, currentDirectory,
                                  startupInfo, processInfo) != FALSE;
}

bool ProcessAPI::openProcessToken(HANDLE process, DWORD desiredAccess, HANDLE* token)
{
    return ::OpenProcessToken(process, desiredAccess, token) != FALSE;
}

bool ProcessAPI::adjustTokenPrivileges(HANDLE token, bool disableAll, TOKEN_PRIVILEGES* newState, DWORD bufferLength,
                                       TOKEN_PRIVILEGES* previousState, DWORD* returnLength)
{
    return ::AdjustTokenPrivileges(token, disableAll ? TRUE : FALSE, newState, bufferLength, previousState,
                                   returnLength) != FALSE;
}

bool ProcessAPI::lookupPrivilegeValue(const wchar_t* systemName, const wchar_t* name, LUID* luid)
{
    return ::LookupPrivilegeValueW(systemName, name, luid) != FALSE;
}

bool ProcessAPI::getExitCodeProcess(HANDLE process, DWORD* exitCode)
{
    return ::GetExitCodeProcess(process, exitCode) != FALSE;
}

bool ProcessAPI::terminateProcess(HANDLE process, UINT exitCode)
{
    return ::TerminateProcess(process, exitCode) != FALSE;
}

bool ProcessAPI::closeHandle(HANDLE handle) { return ::CloseHandle(handle) != FALSE; }

DWORD ProcessAPI::getLastError() { return ::GetLastError(); }

DWORD ProcessAPI::waitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    return ::WaitForSingleObject(handle, milliseconds);
}

HANDLE ProcessAPI::openProcess(DWORD desiredAccess, bool inheritHandle, DWORD processId)
{
    return ::OpenProcess(desiredAccess, inheritHandle ? TRUE : FALSE, processId);
}

HANDLE ProcessAPI::createToolhelp32Snapshot(DWORD flags, DWORD processId)
{
    return ::CreateToolhelp32Snapshot(flags, processId);
}

bool ProcessAPI::process32First(HANDLE snapshot, PROCESSENTRY32W* entry)
{
    return ::Process32FirstW(snapshot, entry) != FALSE;
}

bool ProcessAPI::process32Next(HANDLE snapshot, PROCESSENTRY32W* entry)
{
    return ::Process32NextW(snapshot, entry) != FALSE;
}

}  // namespace Velmo
