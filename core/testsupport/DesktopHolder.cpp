// Holds the desktop of a Wine prefix for the test script:  OrdwellDesktopHolder.exe <ready file>
// The first program of a prefix that needs the desktop window (an icon, a COM apartment's window,
// any window) starts Wine's desktop process and hands it its own standard error. That process
// lives while any program of the prefix runs, so it would keep a test program's output pipe open
// and ctest would wait for the test long after it ended. The script starts this program first in
// each prefix, its standard handles on /dev/null: it takes the desktop, creates <ready file> (a
// Windows path) and waits until the script ends it. Exit code 1 when the desktop or the file
// cannot be had.

#include "core/base/ScopedResource.h"

#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2 || GetDesktopWindow() == nullptr) return 1;
    const Fundor::ScopedHandle ready(
        CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!ready.valid()) return 1;
    Sleep(INFINITE);
    return 0;
}
