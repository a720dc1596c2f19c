// The floors of the host benchmarks.
//
//   HostBenchFloor.exe                 exits at once (a bare process start)
//   HostBenchFloor.exe window          registers a class, creates a hidden popup like the host's,
//                                      destroys it and exits
//   HostBenchFloor.exe host <id> <url> the fair floor: the platform work that the host's start-up
//                                      has to do, in the host's order, and nothing of its own
//
// The fair floor, first start: COM initialised twice; the validation service connected by the
// first trust check (its DLL held open, verified with WinVerifyTrust, loaded, its interface
// taken); the utility DLL asked of the service, held open and loaded, and KvIsNTAdmin called;
// the host event with its access list and the exit event; COM security; the URL library and the
// browser control asked of the service, held open and loaded, and the control initialised with
// the URL library's handler; a hidden popup named by the ID whose creation makes the browser
// object; the bus DLL asked of the service, held open and loaded; one navigation; then the wait
// for the exit event and for hand-overs, each read from the volatile value and navigated to.
// A second start with the same ID finds the host event, writes the volatile value, sets the
// event and exits. No logging, no page objects, no configuration file: those are the host's own.
//
// Everything is found where the host's run environment puts it (scripts/bench sets it up).
// Exit codes: 0 done; 10 and up, the step that failed.

#include "access/KvUtilExports.h"
#include "access/NroValidationControl.h"
#include "access/WinTrustFileCheck.h"
#include "core/base/ScopedResource.h"
#include "shell/host/KvBrowser2.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <softpub.h>
#include <wintrust.h>

#include <cwchar>
#include <string>

namespace {

using Fundor::ScopedHandle;
using Fundor::ScopedModule;

constexpr wchar_t kHalvornKey[] = L"Software\\Tervane\\Halvorn";
constexpr wchar_t kPlatformKey[] = L"SOFTWARE\\Tervane\\Platform";
constexpr wchar_t kProductKey[] = L"SOFTWARE\\Tervane\\QRN";
constexpr wchar_t kUrlLibraryServerKey[] =
    L"Software\\Classes\\CLSID\\{AD6E7ABF-E06F-4ff6-B734-D04F22DAE042}\\InprocServer32";
constexpr wchar_t kHandOverKey[] = L"Volatile Environment\\SOFTWARE\\Tervane\\QRN\\Settings\\ui";
constexpr wchar_t kHandOverValue[] = L"Ordwellsecinst";
constexpr wchar_t kExitEventPrefix[] = L"F0230C9FDB504518A1CC2EF2EDD4FE77_";

std::wstring ReadText(HKEY root, const wchar_t* key, const wchar_t* name, REGSAM view)
{
    wchar_t text[MAX_PATH] = {};
    DWORD size = sizeof(text);
    const DWORD flags = RRF_RT_REG_SZ | (view == KEY_WOW64_32KEY ? RRF_SUBKEY_WOW6432KEY : RRF_SUBKEY_WOW6464KEY);
    return RegGetValueW(root, key, name, flags, nullptr, text, &size) == ERROR_SUCCESS ? std::wstring(text)
                                                                                      : std::wstring();
}

std::wstring WithName(std::wstring folder, const wchar_t* name)
{
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    return folder + name;
}

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring program(path, length);
    return program.substr(0, program.rfind(L'\\'));
}

// The file, readable by others but neither writable nor deletable, while it is checked and loaded.
ScopedHandle Hold(const std::wstring& path)
{
    return ScopedHandle(
        CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The validation service: its DLL verified and loaded, its interface taken. The first
// WinVerifyTrust of the process is here.
NroValidationControl* ConnectService()
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHalvornKey, 0, KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    wchar_t version[64] = {};
    DWORD size = sizeof(version);
    (void)RegGetValueW(key, nullptr, L"halvorn_version", RRF_RT_REG_SZ, nullptr, version, &size);
    RegCloseKey(key);
    const std::wstring path = WithName(ReadText(HKEY_LOCAL_MACHINE, kHalvornKey, L"szInstallDir64", KEY_WOW64_32KEY),
                                       L"qdxnroa.dll");
    ScopedHandle held = Hold(path);
    if (!held) return nullptr;
    LONG verdict = 0;
    {
        WinTrustFileCheck check(path.c_str(), WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL);
        verdict = check.Verify();
    }
    if (verdict != 0) return nullptr;
    // Kept loaded: the interface's code lives in it.
    const HMODULE service = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (service == nullptr) return nullptr;
    const auto entry = reinterpret_cast<NotComDllGetInterfaceFn>(
        reinterpret_cast<void*>(GetProcAddress(service, "NotComDllGetInterface")));
    void* control = nullptr;
    if (entry == nullptr || entry("NroValidationControl2", &control) != 0) return nullptr;
    return static_cast<NroValidationControl*>(control);
}

// One module: asked of the service, held open, loaded.
HMODULE LoadTrusted(NroValidationControl* service, const std::wstring& path)
{
    ScopedHandle held = Hold(path);
    if (!held) return nullptr;
    NroValidationResult result = {0, 0};
    (void)service->QueryFileTrust(path.c_str(), 0x200, &result);
    if ((result.status & 0x2) == 0 || (result.verdict & 0x8) == 0) return nullptr;
    return LoadLibraryExW(path.c_str(), nullptr, 0);
}

template <typename Function>
Function Bind(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The host events' access list: Everyone may not change the list or delete, and may do the rest.
struct EventSecurity {
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    BYTE acl[128] = {};
    SECURITY_DESCRIPTOR descriptor = {};
    SECURITY_ATTRIBUTES attributes = {sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};

    bool Build()
    {
        if (!AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone)) return false;
        auto* list = reinterpret_cast<PACL>(acl);
        const DWORD size = 2 * GetLengthSid(everyone) + 24;
        if (size > sizeof(acl) || !InitializeAcl(list, size, ACL_REVISION) ||
            !AddAccessDeniedAce(list, ACL_REVISION, WRITE_DAC | DELETE, everyone) ||
            !AddAccessAllowedAce(list, ACL_REVISION, GENERIC_ALL, everyone)) {
            return false;
        }
        if (InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) &&
            SetSecurityDescriptorDacl(&descriptor, TRUE, list, FALSE)) {
            attributes.lpSecurityDescriptor = &descriptor;
        }
        return true;
    }
    ~EventSecurity()
    {
        if (everyone != nullptr) FreeSid(everyone);
    }
};

IKvBrowser2* g_browser = nullptr;
PFN_KvGetBrwObject2 g_getBrowser = nullptr;

// The host makes its browser object while its window is created.
LRESULT CALLBACK FloorWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE && g_getBrowser != nullptr && g_getBrowser(&g_browser) && g_browser != nullptr) {
        (void)g_browser->Initialize();
        (void)g_browser->Create(window);
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// A second start's page, as the running host takes it.
void TakeHandOver()
{
    wchar_t url[260] = {};
    DWORD size = sizeof(url);
    const LONG read = RegGetValueW(HKEY_CURRENT_USER, kHandOverKey, kHandOverValue, RRF_RT_REG_SZ, nullptr, url, &size);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kHandOverKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, kHandOverValue);
        RegCloseKey(key);
    }
    if (read == ERROR_SUCCESS && g_browser != nullptr) (void)g_browser->Navigate(url);
}

int HandOver(HANDLE hostEvent, const std::wstring& url)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, kHandOverKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(key, kHandOverValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(url.c_str()),
                       static_cast<DWORD>(url.size() * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    return SetEvent(hostEvent) ? 0 : 20;
}

int RunHostFloor(HINSTANCE instance)
{
    ScopedModule shellFolder(LoadLibraryExW(L"SHFolder.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    (void)CoInitialize(nullptr);
    (void)CoInitialize(nullptr);
    int count = 0;
    Fundor::ScopedLocalMemory arguments(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!arguments || count < 4) return 10;
    wchar_t** argv = static_cast<wchar_t**>(arguments.get());
    const std::wstring id = argv[2];
    const std::wstring url = argv[3];

    NroValidationControl* service = ConnectService();
    if (service == nullptr) return 11;
    const HMODULE utility = LoadTrusted(
        service, WithName(ReadText(HKEY_LOCAL_MACHINE, kPlatformKey, L"kvutil64_install_dir", KEY_WOW64_64KEY),
                          kKvUtilFileName));
    const auto isAdmin = utility != nullptr ? Bind<KvIsNTAdminFunction>(utility, "KvIsNTAdmin") : nullptr;
    if (isAdmin == nullptr) return 12;
    DWORD administrator = 0;
    (void)isAdmin(&administrator);

    EventSecurity security;
    if (!security.Build()) return 13;
    ScopedHandle hostEvent(CreateEventW(&security.attributes, FALSE, FALSE, id.c_str()));
    bool exists = hostEvent && GetLastError() == ERROR_ALREADY_EXISTS;
    if (!hostEvent) {
        hostEvent.reset(OpenEventW(EVENT_MODIFY_STATE, FALSE, id.c_str()));
        if (!hostEvent) return 14;
        exists = true;
    }
    if (exists) return HandOver(hostEvent.get(), url);
    ScopedHandle exitEvent(CreateEventW(&security.attributes, TRUE, FALSE, (kExitEventPrefix + id).c_str()));
    if (!exitEvent) return 15;
    (void)CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT, RPC_C_IMP_LEVEL_IMPERSONATE,
                               nullptr, EOAC_NONE, nullptr);

    const HMODULE urlLibrary = LoadTrusted(service, ReadText(HKEY_LOCAL_MACHINE, kUrlLibraryServerKey, L"", KEY_WOW64_64KEY));
    const auto handler = urlLibrary != nullptr ? Bind<KvBrwNfHandler>(urlLibrary, "QrnBrwNfHandler") : nullptr;
    const HMODULE control = LoadTrusted(
        service, WithName(ReadText(HKEY_LOCAL_MACHINE, kProductKey, L"CommonFiles Dir", KEY_WOW64_64KEY), L"KvBrwsr2.dll"));
    if (control == nullptr) return 16;
    g_getBrowser = Bind<PFN_KvGetBrwObject2>(control, "KvGetBrwObject2");
    const auto init = Bind<PFN_KvBrwInit>(control, "KvBrwInit");
    const auto deInit = Bind<PFN_KvBrwDeInit>(control, "KvBrwDeInit");
    if (g_getBrowser == nullptr || Bind<PFN_KvGetBrwObject2Ex>(control, "KvGetBrwObject2Ex") == nullptr ||
        init == nullptr || deInit == nullptr || init(6, handler, &g_browser) != 0) {
        return 17;
    }

    WNDCLASSEXW windowClass{sizeof(windowClass)};
    windowClass.lpfnWndProc = FloorWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = id.c_str();
    if (RegisterClassExW(&windowClass) == 0) return 18;
    HWND window = CreateWindowExW(WS_EX_CONTROLPARENT, id.c_str(), L"48392EA030474ca9B38DC55EE5D820AA",
                                  WS_POPUP | WS_SYSMENU, 0, 0, 700, 620, nullptr, nullptr, instance, nullptr);
    if (window == nullptr || g_browser == nullptr) return 19;
    const HMODULE bus = LoadTrusted(service, WithName(ProgramFolder(), L"Corvane.dll"));
    if (bus == nullptr) return 21;
    (void)g_browser->Navigate(url.c_str());

    const HANDLE handles[] = {exitEvent.get(), hostEvent.get()};
    for (;;) {
        const DWORD wait = MsgWaitForMultipleObjects(2, handles, FALSE, INFINITE, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0 + 1) {
            TakeHandOver();
        } else if (wait == WAIT_OBJECT_0 + 2) {
            MSG message{};
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageW(&message);
            }
        } else {
            break;
        }
    }
    (void)g_browser->Close();
    DestroyWindow(window);
    deInit();
    return 0;
}

int RunWindowFloor(HINSTANCE instance)
{
    WNDCLASSEXW windowClass{sizeof(windowClass)};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"HostBenchFloorWindow";
    if (RegisterClassExW(&windowClass) == 0) return 1;
    HWND window = CreateWindowExW(WS_EX_CONTROLPARENT, L"HostBenchFloorWindow", L"floor", WS_POPUP | WS_SYSMENU, 0, 0,
                                  700, 620, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 2;
    DestroyWindow(window);
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, wchar_t* arguments, int)
{
    if (arguments == nullptr) return 0;
    if (std::wcsncmp(arguments, L"host ", 5) == 0) return RunHostFloor(instance);
    if (std::wcsncmp(arguments, L"window", 6) == 0) return RunWindowFloor(instance);
    return 0;
}
