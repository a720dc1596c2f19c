#include "classlib/KvExeModule.h"

#include "classlib/KvComBoundary.h"
#include "core/Logging/Logging.h"
#include "core/base/LastError.h"
#include "core/base/ScopedResource.h"

#include <wrl/client.h>

#include <cwchar>
#include <optional>
#include <string>

namespace {

constexpr wchar_t kSource[] = L"KvExeModule.cpp";
constexpr wchar_t kScriptType[] = L"REGISTRY";
constexpr wchar_t kUserClassesKey[] = L"Software\\Classes";

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

bool WordEquals(const wchar_t* word, std::size_t length, const wchar_t* name)
{
    return length == std::wcslen(name) && _wcsnicmp(word, name, length) == 0;
}

// A script resource as text: UTF-16 when it starts with a byte-order mark, else UTF-8.
HRESULT LoadScriptText(HMODULE module, UINT resourceId, std::wstring& text)
{
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(resourceId), kScriptType);
    if (resource == nullptr) return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
    const DWORD size = ::SizeofResource(module, resource);
    HGLOBAL loaded = ::LoadResource(module, resource);
    const auto* bytes = static_cast<const char*>(loaded != nullptr ? ::LockResource(loaded) : nullptr);
    if (bytes == nullptr || size == 0) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
    if (size >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
        text.assign(reinterpret_cast<const wchar_t*>(bytes + 2), (size - 2) / sizeof(wchar_t));
        return S_OK;
    }
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), nullptr, 0);
    RETURN_HR_LAST_ERROR_IF(length <= 0);
    text.assign(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, bytes, static_cast<int>(size), text.data(), length);
    // A resource may carry padding zeros after the script.
    const std::size_t end = text.find(L'\0');
    if (end != std::wstring::npos) text.resize(end);
    return S_OK;
}

// HKEY_CLASSES_ROOT is the user's classes key while it lives.
class PerUserClassesRoot {
public:
    PerUserClassesRoot()
    {
        const LONG status = ::RegCreateKeyExW(HKEY_CURRENT_USER, kUserClassesKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                              nullptr, m_key.put(), nullptr);
        m_result = status == ERROR_SUCCESS ? HRESULT_FROM_WIN32(::RegOverridePredefKey(HKEY_CLASSES_ROOT, m_key.get()))
                                           : HRESULT_FROM_WIN32(status);
    }
    ~PerUserClassesRoot()
    {
        if (SUCCEEDED(m_result)) ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    }
    PerUserClassesRoot(const PerUserClassesRoot&) = delete;
    PerUserClassesRoot& operator=(const PerUserClassesRoot&) = delete;
    [[nodiscard]] HRESULT Result() const { return m_result; }

private:
    Fundor::ScopedRegKey m_key;
    HRESULT m_result = E_FAIL;
};

}  // namespace

KvRegistrationSwitch FindRegistrationSwitch(const wchar_t* line) noexcept
{
    if (line == nullptr) return KvRegistrationSwitch::None;
    for (const wchar_t* at = line; *at != L'\0'; ++at) {
        if (*at != L'-' && *at != L'/') continue;
        const wchar_t* word = at + 1;
        std::size_t length = 0;
        while (word[length] != L'\0' && !IsBlank(word[length])) ++length;
        if (WordEquals(word, length, L"UnregServer")) return KvRegistrationSwitch::Unregister;
        if (WordEquals(word, length, L"RegServer")) return KvRegistrationSwitch::Register;
        if (WordEquals(word, length, L"UnregServerPerUser")) return KvRegistrationSwitch::UnregisterPerUser;
        if (WordEquals(word, length, L"RegServerPerUser")) return KvRegistrationSwitch::RegisterPerUser;
    }
    return KvRegistrationSwitch::None;
}

CKvExeModule::CKvExeModule() noexcept : m_threadId(::GetCurrentThreadId()) {}

CKvExeModule::~CKvExeModule() = default;

bool CKvExeModule::IsManagedRuntimeLoaded() const
{
    return ::GetModuleHandleW(L"Mscoree.dll") != nullptr;
}

HRESULT CKvExeModule::RunModule(int show)
{
    if (FAILED(m_initResult)) return -1;
    HRESULT hr = ::CoInitialize(nullptr);
    if (hr == S_OK || hr == S_FALSE) {
        m_comInitialized = true;
    } else if (hr != RPC_E_CHANGED_MODE || !IsManagedRuntimeLoaded()) {
        return hr;
    }
    HRESULT result = S_OK;
    if (ParseCommandLine(::GetCommandLineW(), &result)) result = Run(show);
    if (m_comInitialized) {
        ::CoUninitialize();
        m_comInitialized = false;
    }
    return result;
}

bool CKvExeModule::ParseCommandLine(const wchar_t* line, HRESULT* result)
{
    if (result == nullptr) return false;
    *result = S_OK;
    switch (FindRegistrationSwitch(line)) {
    case KvRegistrationSwitch::None:
        return true;
    case KvRegistrationSwitch::Unregister:
        *result = UnregisterServer(false);
        return false;
    case KvRegistrationSwitch::Register:
        *result = RegisterServer(false);
        return false;
    case KvRegistrationSwitch::UnregisterPerUser:
        *result = UnregisterServer(true);
        return false;
    case KvRegistrationSwitch::RegisterPerUser:
        *result = RegisterServer(true);
        return false;
    }
    return true;
}

HRESULT CKvExeModule::Run(int show)
{
    HRESULT hr = PreMessageLoop(show);
    if (FAILED(hr)) return hr;
    if (hr == S_OK) RunMessageLoop();
    return PostMessageLoop();
}

void CKvExeModule::RunMessageLoop()
{
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

HRESULT CKvExeModule::PostMessageLoop()
{
    // No class object is registered, so there is nothing to revoke; the pause stays so that a
    // caller that reached the process just now is not cut off.
    ::Sleep(m_pause);
    return S_OK;
}

HRESULT CKvExeModule::UpdateRegistryFromResource(UINT resourceId, bool doRegister)
{
    // Runs the platform's registrar with texts of our own: whatever is thrown on the way (out of
    // memory in a replacement) ends here as a failed registration, not in the caller's switch.
    return KvComBoundary(kSource, L"CKvExeModule::UpdateRegistryFromResource",
                         [&] { return RunRegistrarScript(resourceId, doRegister); });
}

HRESULT CKvExeModule::RunRegistrarScript(UINT resourceId, bool doRegister)
{
    std::wstring script;
    HRESULT hr = LoadScriptText(ScriptModule(), resourceId, script);
    if (FAILED(hr)) return hr;
    Microsoft::WRL::ComPtr<IKvRegistrar> registrar;
    hr = ::CoCreateInstance(CLSID_KvRegistrar, nullptr, CLSCTX_INPROC_SERVER, IID_IKvRegistrar,
                            reinterpret_cast<void**>(registrar.GetAddressOf()));
    if (FAILED(hr)) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CKvExeModule::UpdateRegistryFromResource", L"No registrar: 0x%x",
               hr);
        return hr;
    }
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(ScriptModule(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    // A server path with a blank must be quoted to be started as a server.
    const std::wstring module = std::wcschr(path, L' ') != nullptr ? L"\"" + std::wstring(path) + L"\"" : path;
    hr = registrar->AddReplacement(L"MODULE", module.c_str());
    if (SUCCEEDED(hr)) hr = AddCommonRGSReplacements(registrar.Get());
    if (SUCCEEDED(hr)) hr = doRegister ? registrar->StringRegister(script.c_str()) : registrar->StringUnregister(script.c_str());
    if (FAILED(hr)) {
        ETWLOG(ETWLogging::kLevelError, kSource, L"CKvExeModule::UpdateRegistryFromResource", L"Script %u failed: 0x%x",
               resourceId, hr);
    }
    return hr;
}

HRESULT CKvExeModule::RegisterServer(bool perUser)
{
    std::optional<PerUserClassesRoot> perUserRoot;
    if (perUser) {
        perUserRoot.emplace();
        if (FAILED(perUserRoot->Result())) return perUserRoot->Result();
    }
    HRESULT hr = S_OK;
    if (GetAppIdScriptId() != 0) hr = UpdateRegistryFromResource(GetAppIdScriptId(), true);
    if (SUCCEEDED(hr)) {
        for (UINT id : GetObjectScriptIds()) {
            hr = UpdateRegistryFromResource(id, true);
            if (FAILED(hr)) break;
        }
    }
    return hr;
}

HRESULT CKvExeModule::UnregisterServer(bool perUser)
{
    std::optional<PerUserClassesRoot> perUserRoot;
    if (perUser) {
        perUserRoot.emplace();
        if (FAILED(perUserRoot->Result())) return perUserRoot->Result();
    }
    HRESULT hr = S_OK;
    for (UINT id : GetObjectScriptIds()) {
        const HRESULT one = UpdateRegistryFromResource(id, false);
        if (SUCCEEDED(hr) && FAILED(one)) hr = one;
    }
    if (GetAppIdScriptId() != 0) {
        const HRESULT one = UpdateRegistryFromResource(GetAppIdScriptId(), false);
        if (SUCCEEDED(hr) && FAILED(one)) hr = one;
    }
    return hr;
}
