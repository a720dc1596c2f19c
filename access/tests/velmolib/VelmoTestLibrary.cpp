// A small module-platform library for the shared-library tests: the four exports the loader
// binds, and a version resource for the block list. Built once without "GetVersionNum".

#include <windows.h>

namespace {
int g_object = 0;
}

extern "C" {

__declspec(dllexport) void* CreateObject(unsigned long id)
{
    return id == 2001000 ? &g_object : nullptr;
}

__declspec(dllexport) void ReleaseObject(void*) {}

__declspec(dllexport) const char* GetVersionStr() { return "3.1.4.1"; }

#ifndef VELMO_TEST_WITHOUT_VERSION_NUM
__declspec(dllexport) unsigned long GetVersionNum() { return 0x03010401; }
#endif

}  // extern "C"
