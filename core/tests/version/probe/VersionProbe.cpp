// A DLL that only carries a version resource, for the version reader's tests.
#include <windows.h>

extern "C" __declspec(dllexport) int VersionProbeAnswer() { return 7; }
