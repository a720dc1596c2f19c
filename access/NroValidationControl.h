#pragma once
// The validation service's interface as this system uses it: IUnknown's three slots, two slots
// it never calls, and slot 5, the file query. Shared with the test stand-in of the service.

#include <unknwn.h>
#include <windows.h>

// Result record of a query: both words zeroed by the caller, filled by the service.
struct NroValidationResult {
    DWORD status;   // bit 0x2: the answer is valid
    DWORD verdict;  // bit 0x1: trusted (services before 15.5); bit 0x8: trusted (15.5 on)
};

struct NroValidationControl : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reserved3() = 0;
    virtual HRESULT STDMETHODCALLTYPE Reserved4() = 0;
    // Slot 5. The return value carries no meaning for the caller.
    virtual HRESULT STDMETHODCALLTYPE QueryFileTrust(const wchar_t* path, DWORD queryFlags,
                                                     NroValidationResult* result) = 0;
};

// The service DLL's export: fills *control for a known ANSI interface name and returns 0.
using NotComDllGetInterfaceFn = DWORD(WINAPI*)(const char* interfaceName, void** control);
