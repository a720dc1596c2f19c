// The surrogate stand-in program "KvSurrogate.exe": a local server of the surrogate helper class.
//   -Embedding     serve the helper's class object until the last object is released and no
//                  lock is held, or every client that held objects has ended, or 10 s pass
//                  without any object being asked for
//   -RegServer     register LocalServer32 for the helper class and the embedded type library
//   -UnregServer   remove both
// Exit code 0, or the failing HRESULT.

#include "pageobjects/objects/KvSurrogateInterfaces.h"
#include "standins/surrogate/SurrogateStandIn.h"

#include <oleauto.h>
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

// {4A3C2E71-5B8D-4F06-9C1E-7D2B6A8F0E35}: the stand-in's type library (resource 1).
constexpr GUID kLibraryId = {0x4A3C2E71, 0x5B8D, 0x4F06, {0x9C, 0x1E, 0x7D, 0x2B, 0x6A, 0x8F, 0x0E, 0x35}};

// When the server ends. COM's own rule comes first: the last object released with no lock held
// ends it at once. Two more cases keep it from being left behind:
// - started by COM but never asked for an object (the activation failed on the client's side):
//   it ends after kUnusedGraceMs;
// - a client process that ended without releasing what it held. Wine 8 pings no clients (no
//   rundown of a local server's references): the references that a dead client's proxies held
//   stay with the stubs (measured: a client ended with TerminateProcess left the surrogate up),
//   and IExternalConnection would not help, as the platform calls ReleaseConnection only when
//   those same references are released. So the helper notes the process id each client hands to
//   LoadSurrogate, the server looks at those processes twice a second and disconnects the
//   objects of one that has ended (CoDisconnectObject), which releases them as a rundown would;
//   the count rule then ends the server. Clients still alive keep their objects and the server.
constexpr UINT kClientWatchMs = 500;
constexpr ULONGLONG kUnusedGraceMs = 10000;

DWORD g_mainThread = 0;

bool Idle()
{
    return StandInObjectCount() == 0 && StandInLockCount() == 0;
}

void QuitWhenIdle()
{
    PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
}

std::wstring ProgramPath()
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::wstring(path, length < MAX_PATH ? length : 0);
}

std::wstring ClassKey()
{
    wchar_t clsid[64] = {};
    StringFromGUID2(CLSID_KvSurrogateHelper, clsid, 64);
    return std::wstring(L"CLSID\\") + clsid;
}

HRESULT Register()
{
    const std::wstring program = ProgramPath();
    std::wstring resource = program + L"\\1";
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(resource.c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) return hr;
    hr = RegisterTypeLib(library, resource.data(), nullptr);
    library->Release();
    if (FAILED(hr)) return hr;
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, (ClassKey() + L"\\LocalServer32").c_str(), 0, nullptr, 0,
                                  KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
    status = RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(program.c_str()),
                            static_cast<DWORD>((program.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return HRESULT_FROM_WIN32(status);
}

HRESULT Unregister()
{
    RegDeleteTreeW(HKEY_CLASSES_ROOT, ClassKey().c_str());
    return UnRegisterTypeLib(kLibraryId, 1, 0, LOCALE_NEUTRAL, SYS_WIN64);
}

HRESULT Serve()
{
    g_mainThread = GetCurrentThreadId();
    SetStandInLastObjectGone(&QuitWhenIdle);
    IUnknown* classObject = nullptr;
    HRESULT hr = CreateStandInClassObject(CLSID_KvSurrogateHelper, &classObject);
    if (FAILED(hr)) return hr;
    DWORD cookie = 0;
    hr = CoRegisterClassObject(CLSID_KvSurrogateHelper, classObject, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    if (SUCCEEDED(hr)) {
        RecordStandInCall(L"server started");
        const ULONGLONG started = GetTickCount64();
        const UINT_PTR watch = SetTimer(nullptr, 0, kClientWatchMs, nullptr);
        MSG message;
        for (;;) {
            const BOOL got = GetMessageW(&message, nullptr, 0, 0);
            if (got == -1) break;
            if (got == 0) {
                // A call queued before the quit may have made an object since: serve on.
                if (Idle()) break;
                continue;
            }
            if (message.message == WM_TIMER && message.hwnd == nullptr) {
                (void)DisconnectEndedStandInClients();
                if (Idle() && (StandInObjectsMade() > 0 || GetTickCount64() - started >= kUnusedGraceMs)) break;
                continue;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        KillTimer(nullptr, watch);
        CoRevokeClassObject(cookie);
        RecordStandInCall(L"server stopped");
    }
    classObject->Release();
    return hr;
}

bool HasSwitch(int count, wchar_t** arguments, const wchar_t* name)
{
    for (int index = 1; index < count; ++index) {
        const wchar_t* argument = arguments[index];
        if (argument[0] == L'-' || argument[0] == L'/') ++argument;
        if (CompareStringOrdinal(argument, -1, name, -1, TRUE) == CSTR_EQUAL) return true;
    }
    return false;
}

}  // namespace

int wmain(int count, wchar_t** arguments)
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(hr)) return static_cast<int>(hr);
    if (HasSwitch(count, arguments, L"RegServer")) {
        hr = Register();
    } else if (HasSwitch(count, arguments, L"UnregServer")) {
        hr = Unregister();
    } else if (HasSwitch(count, arguments, L"Embedding")) {
        hr = Serve();
    } else {
        hr = E_INVALIDARG;
    }
    CoUninitialize();
    return static_cast<int>(hr);
}
