// A DLL that lies only beside the test program: the restricted DLL search must not find it by
// its bare name.
#include <windows.h>

extern "C" __declspec(dllexport) int SearchProbeAnswer() { return 42; }
