// A UI DLL whose code announces itself: loading it to run sets the process's environment
// variable ORDWELL_MANIFEST_PROBE_RAN.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) SetEnvironmentVariableW(L"ORDWELL_MANIFEST_PROBE_RAN", L"1");
    return TRUE;
}
