#include "access/NroValidationClient.h"

#include "access/WinTrustFileCheck.h"
#include "core/base/ScopedComValues.h"
#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"

#include <cwchar>
#include <string>

using Fundor::ScopedHandle;
using Fundor::ScopedModule;
using Fundor::ScopedRegKey;

namespace {

constexpr wchar_t kHalvornKey[] = L"Software\\Tervane\\Halvorn";
constexpr REGSAM kHalvornAccess = KEY_READ | KEY_WOW64_32KEY;

DWORD VerifyServiceFile(const std::wstring& path)
{
    WinTrustFileCheck check(path.c_str(), WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL);
    return static_cast<DWORD>(check.Verify());
}

bool ReadInstallFolder(std::wstring* folder)
{
    wchar_t buffer[262] = {};
    DWORD size = sizeof(buffer);
    ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHalvornKey, 0, kHalvornAccess, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    if (::RegGetValueW(key.get(), nullptr, L"szInstallDir64", RRF_RT_REG_SZ, nullptr, buffer, &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    *folder = buffer;
    return !folder->empty();
}

std::wstring ProgramPath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void DebugText(const std::wstring& text) { ::OutputDebugStringW(text.c_str()); }

// Finds, verifies and loads the service DLL. 0 with *module set, or an error code.
DWORD LoadServiceDll(const wchar_t* name, HMODULE* module)
{
    *module = nullptr;
    const std::size_t nameLength = std::wcslen(name);
    if (nameLength >= 260) {
        return ERROR_INVALID_PARAMETER;
    }
    const bool asItStands = nameLength < 3 || name[0] == L'\\' || name[1] == L':';
    std::wstring path;
    if (asItStands) {
        path = name;
    } else {
        // Halvorn's folder only. There is deliberately no fallback to the current directory:
        // a DLL planted in the working folder must never get to vouch for anything.
        std::wstring folder;
        if (ReadInstallFolder(&folder)) {
            path = folder + L"\\" + name;
        }
    }

    // The file verified is held, readable but neither writable nor deletable, until it is loaded.
    ScopedHandle hold;
    auto verifyHeld = [&hold](const std::wstring& candidate) -> DWORD {
        hold.reset(::CreateFileW(candidate.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!hold) {
            // A missing folder is a missing file, as WinVerifyTrust would report it.
            const DWORD error = ::GetLastError();
            return error == 0 || error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : error;
        }
        return VerifyServiceFile(candidate);
    };
    DWORD result = path.empty() ? ERROR_FILE_NOT_FOUND : verifyHeld(path);
    if ((result == ERROR_FILE_NOT_FOUND || result == static_cast<DWORD>(CRYPT_E_FILE_ERROR)) &&
        !asItStands) {
        DebugText(L"NotComDllGetInterface: DLL not found in install location, looking in current directory\n");
        const std::wstring program = ProgramPath();
        const std::size_t slash = program.find_last_of(L'\\');
        if (slash != std::wstring::npos) {
            path = program.substr(0, slash + 1) + name;
            result = verifyHeld(path);
        }
    }
    if (result != 0 && result != static_cast<DWORD>(CRYPT_E_SECURITY_SETTINGS) &&
        result != static_cast<DWORD>(CERT_E_EXPIRED) &&
        result != static_cast<DWORD>(CERT_E_REVOCATION_FAILURE)) {
        DebugText(Fundor::FormatString(L"NotComDllGetInterface: %s loading %s, WinVerifyTrust failed with %08x\n",
                                       ProgramPath().c_str(), path.c_str(), result));
        return result;
    }
    *module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD error = ::GetLastError();
    hold.reset();
    if (*module == nullptr) {
        return error != 0 ? error : ERROR_FILE_NOT_FOUND;
    }
    return 0;
}

}  // namespace

DWORD NotComDllGetInterface(const wchar_t* dllName, const char* interfaceName, void** control,
                            HMODULE* module)
{
    if (module != nullptr) {
        *module = nullptr;
    }
    if (dllName == nullptr || interfaceName == nullptr || control == nullptr || module == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *control = nullptr;
    HMODULE raw = nullptr;
    const DWORD loaded = LoadServiceDll(dllName, &raw);
    if (loaded != 0) {
        return loaded;
    }
    ScopedModule owner(raw);
    auto entry = reinterpret_cast<NotComDllGetInterfaceFn>(
        reinterpret_cast<void*>(::GetProcAddress(owner.get(), "NotComDllGetInterface")));
    if (entry == nullptr) {
        const DWORD error = ::GetLastError();
        return error != 0 ? error : ERROR_PROC_NOT_FOUND;
    }
    const DWORD result = entry(interfaceName, control);
    if (result != 0 || *control == nullptr) {
        *control = nullptr;
        return result != 0 ? result : static_cast<DWORD>(E_NOINTERFACE);
    }
    // The interface's code lives in this DLL: it stays loaded for as long as the interface is held.
    *module = owner.release();
    return 0;
}

DWORD NroValidationClient::VersionFromText(const wchar_t* text)
{
    constexpr DWORD kDefault = 1504;
    if (text == nullptr) {
        return kDefault;
    }
    auto readNumber = [](const wchar_t*& p, unsigned long long* value) {
        while (*p == L' ' || *p == L'\t') ++p;
        const wchar_t* start = p;
        *value = 0;
        while (*p >= L'0' && *p <= L'9') {
            *value = *value * 10 + static_cast<unsigned>(*p - L'0');
            if (*value > 0xFFFFFFFFull) return false;
            ++p;
        }
        return p != start;
    };
    const wchar_t* p = text;
    unsigned long long major = 0;
    unsigned long long minor = 0;
    if (!readNumber(p, &major)) {
        return kDefault;
    }
    if (*p == L'.') {
        ++p;
        if (!readNumber(p, &minor)) minor = 0;
    }
    // Compared as a pair, so 16.0 is newer than 15.4; a minor of 100 or more would spill into
    // the major in major*100+minor, so it is not taken.
    if (minor >= 100 || major > 40000000ull || major < 15 || (major == 15 && minor < 4)) {
        return kDefault;
    }
    return static_cast<DWORD>(major * 100 + minor);
}

NroValidationClient::NroValidationClient() { Connect(); }

NroValidationClient::~NroValidationClient()
{
    m_control.Reset();  // before the DLL that implements it goes
    m_module.reset();
}

void NroValidationClient::Connect()
{
    m_version = 0;
    {
        ScopedRegKey key;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kHalvornKey, 0, kHalvornAccess, key.put()) != ERROR_SUCCESS) {
            return;  // no service: every query answers "not trusted"
        }
        m_version = 1504;
        wchar_t text[64] = {};  // 128 bytes
        DWORD size = sizeof(text);
        if (::RegGetValueW(key.get(), nullptr, L"halvorn_version", RRF_RT_REG_SZ, nullptr, text,
                           &size) == ERROR_SUCCESS) {
            m_version = VersionFromText(text);
        }
    }
    void* control = nullptr;
    HMODULE module = nullptr;
    if (NotComDllGetInterface(L"qdxnroa.dll", "NroValidationControl2", &control, &module) != 0) {
        control = nullptr;
        module = nullptr;
        if (NotComDllGetInterface(L"qdxnroa.dll", "NroValidationControl", &control, &module) != 0) {
            return;
        }
    }
    m_module.reset(module);
    m_control = Fundor::AdoptComPtr(static_cast<NroValidationControl*>(control));
}

DWORD NroValidationClient::IsTrusted(const wchar_t* path)
{
    if (m_control == nullptr || path == nullptr) {
        return ERROR_ACCESS_DENIED;
    }
    NroValidationResult result = {0, 0};
    const DWORD flags = QueryFlags();
    (void)m_control->QueryFileTrust(path, flags, &result);
    const DWORD trustedBit = m_version < 1505 ? 0x1u : 0x8u;
    return (result.status & 0x2u) != 0 && (result.verdict & trustedBit) != 0 ? 0 : ERROR_ACCESS_DENIED;
}
