// Stand-in of Halvorn's validation service "qdxnroa.dll", for tests and the demo only.
//
// Export NotComDllGetInterface(name, out) serves "NroValidationControl2" and
// "NroValidationControl". Slot 5 answers from HKLM "Software\Tervane\Halvorn" (32-bit view):
//   "trusted_paths"   REG_MULTI_SZ  the files the service vouches for (compared without case);
//   "forced_status", "forced_verdict"  REG_DWORD  when present, the two answer words as they stand.
// A vouched-for file gets status 0x2 and verdict 0x8 for query flags with 0x200, else 0x1.
// It records what it was asked in the same key: "last_interface" (REG_SZ), "last_query_path"
// (REG_SZ) and "last_query_flags" (REG_DWORD).

#include "access/NroValidationControl.h"

#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kKey[] = L"Software\\Tervane\\Halvorn";

HKEY OpenKey(REGSAM access)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, access | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

void Record(const wchar_t* name, const std::wstring& text)
{
    if (HKEY key = OpenKey(KEY_SET_VALUE)) {
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
}

void Record(const wchar_t* name, DWORD value)
{
    if (HKEY key = OpenKey(KEY_SET_VALUE)) {
        RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
        RegCloseKey(key);
    }
}

bool ReadDword(HKEY key, const wchar_t* name, DWORD* value)
{
    DWORD size = sizeof(*value);
    return RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, value, &size) == ERROR_SUCCESS;
}

bool IsListed(HKEY key, const wchar_t* path)
{
    DWORD size = 0;
    if (RegGetValueW(key, nullptr, L"trusted_paths", RRF_RT_REG_MULTI_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<wchar_t> list(size / sizeof(wchar_t) + 2, L'\0');
    if (RegGetValueW(key, nullptr, L"trusted_paths", RRF_RT_REG_MULTI_SZ, nullptr, list.data(), &size) != ERROR_SUCCESS) {
        return false;
    }
    for (const wchar_t* entry = list.data(); *entry != L'\0'; entry += wcslen(entry) + 1) {
        if (_wcsicmp(entry, path) == 0) return true;
    }
    return false;
}

class ValidationControl final : public NroValidationControl {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown) return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_refs)); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&m_refs)); }
    HRESULT STDMETHODCALLTYPE Reserved3() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Reserved4() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryFileTrust(const wchar_t* path, DWORD flags, NroValidationResult* result) override
    {
        if (path == nullptr || result == nullptr) return E_POINTER;
        Record(L"last_query_path", path);
        Record(L"last_query_flags", flags);
        HKEY key = OpenKey(KEY_QUERY_VALUE);
        if (key == nullptr) return E_FAIL;
        DWORD status = 0;
        DWORD verdict = 0;
        if (ReadDword(key, L"forced_status", &status) && ReadDword(key, L"forced_verdict", &verdict)) {
            result->status = status;
            result->verdict = verdict;
        } else if (IsListed(key, path)) {
            result->status = 0x2;
            result->verdict = (flags & 0x200) != 0 ? 0x8 : 0x1;
        } else {
            result->status = 0x2;
            result->verdict = 0;
        }
        RegCloseKey(key);
        return S_OK;
    }

private:
    LONG m_refs = 1;
};

ValidationControl g_control;

}  // namespace

extern "C" DWORD WINAPI NotComDllGetInterface(const char* name, void** out)
{
    if (name == nullptr || out == nullptr) return ERROR_INVALID_PARAMETER;
    *out = nullptr;
    if (strcmp(name, "NroValidationControl2") != 0 && strcmp(name, "NroValidationControl") != 0) {
        return ERROR_NOT_FOUND;
    }
    std::wstring wide(name, name + strlen(name));
    Record(L"last_interface", wide);
    g_control.AddRef();
    *out = static_cast<NroValidationControl*>(&g_control);
    return 0;
}
