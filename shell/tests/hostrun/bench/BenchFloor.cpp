// The floors of the host benchmarks. "window": registers a class, creates a hidden popup like the
// host's, destroys it and exits. No argument: exits at once (a bare process start).

#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, wchar_t* arguments, int)
{
    if (arguments == nullptr || std::wcsstr(arguments, L"window") == nullptr) return 0;
    WNDCLASSEXW windowClass{sizeof(windowClass)};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"HostBenchFloorWindow";
    if (RegisterClassExW(&windowClass) == 0) return 1;
    HWND window = CreateWindowExW(0x10000, L"HostBenchFloorWindow", L"floor", 0x80080000, 0, 0, 700, 620, nullptr,
                                  nullptr, instance, nullptr);
    if (window == nullptr) return 2;
    DestroyWindow(window);
    return 0;
}
