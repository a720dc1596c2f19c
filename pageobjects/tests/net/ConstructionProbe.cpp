// Started by the tests: in this process only the process-wide network object was built. The exit
// code has one bit per thing that construction must not have done; stdout says which.

#include <winsock2.h>  // before windows.h, as the network header below needs it
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>

#include "pageobjects/net/KvPlatformNet.h"

int main()
{
    int problems = 0;
    for (const char* library : {"ws2_32.dll", "wsock32.dll", "rasapi32.dll", "rasapi.dll", "iphlpapi.dll",
                                "wininet.dll"}) {
        if (::GetModuleHandleA(library) != nullptr) {
            std::printf("loaded %s\n", library);
            problems |= 1;
        }
    }
    for (const char* event : {"KvPlatformNetLingerEvent", g_kvPlatformNet.ExitEventName()}) {
        HANDLE handle = ::OpenEventA(SYNCHRONIZE, FALSE, event);
        if (handle != nullptr || ::GetLastError() != ERROR_FILE_NOT_FOUND) {
            std::printf("event %s\n", event);
            problems |= 2;
        }
        if (handle != nullptr) {
            ::CloseHandle(handle);
        }
    }
    char expected[64];
    std::snprintf(expected, sizeof(expected), "KvPlatformNetExitEvent_%lu", ::GetCurrentProcessId());
    if (std::strcmp(expected, g_kvPlatformNet.ExitEventName()) != 0) {
        std::printf("name %s\n", g_kvPlatformNet.ExitEventName());
        problems |= 4;
    }
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    int threads = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) {
            ++threads;
        }
    }
    ::CloseHandle(snapshot);
    if (threads != 1) {
        std::printf("threads %d\n", threads);
        problems |= 8;
    }
    if (g_kvPlatformNet.IsInitialized() || g_kvPlatformNet.HasWorkerThread()) {
        std::printf("initialised\n");
        problems |= 16;
    }
    return problems;
}
