#include "shell/config/VistrelHelper.h"

#include "core/Logging/Logging.h"
#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"

#include <vector>

namespace {

constexpr wchar_t kLogFile[] = L"VistrelHelper.cpp";

// A REG_DWORD value of the Vistrel key; false for a missing value or another type.
bool ReadDword(HKEY key, const wchar_t* name, DWORD* value)
{
    DWORD type = REG_NONE;
    DWORD data = 0;
    DWORD size = sizeof data;
    const LONG result = ::RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
    if (result != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data) {
        return false;
    }
    *value = data;
    return true;
}

Fundor::ScopedRegKey OpenVistrelKey()
{
    Fundor::ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kVistrelKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, key.put()) !=
        ERROR_SUCCESS) {
        key.reset();
    }
    return key;
}

}  // namespace

bool VistrelHelper::ReadInstallDir(std::wstring& folder)
{
    folder.clear();
    try {
        const Fundor::ScopedRegKey key = OpenVistrelKey();
        if (!key) {
            return false;
        }
        // The value may change between the two reads: the second one is bounded by what it gets.
        for (int attempt = 0; attempt < 3; ++attempt) {
            DWORD type = REG_NONE;
            DWORD size = 0;
            if (::RegQueryValueExW(key.get(), L"Install Dir", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
                type != REG_SZ) {
                return false;
            }
            std::vector<wchar_t> text(size / sizeof(wchar_t) + 1, L'\0');
            DWORD got = static_cast<DWORD>((text.size() - 1) * sizeof(wchar_t));
            const LONG result =
                ::RegQueryValueExW(key.get(), L"Install Dir", nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &got);
            if (result == ERROR_MORE_DATA) {
                continue;
            }
            if (result != ERROR_SUCCESS || type != REG_SZ) {
                return false;
            }
            std::size_t length = 0;
            const std::size_t limit = got / sizeof(wchar_t);
            while (length < limit && text[length] != L'\0') {
                ++length;
            }
            folder.assign(text.data(), length);
            if (!folder.empty() && folder.back() == L'\\') {
                folder.pop_back();
            }
            return true;
        }
    } catch (...) {
        folder.clear();
    }
    return false;
}

int VistrelHelper::IsInstalled()
{
    std::wstring folder;
    const int installed = ReadInstallDir(folder) ? 1 : 0;
    ETWLOG(ETWLogging::kLevelInformation, kLogFile, L"VistrelHelper::IsInstalled", L"installed=%d", installed);
    return installed;
}

int VistrelHelper::IsEnabled()
{
    int enabled = 0;
    if (IsInstalled() != 0) {
        enabled = 1;
        const Fundor::ScopedRegKey key = OpenVistrelKey();
        DWORD value = 0;
        if (key && (ReadDword(key.get(), L"Enabled_Override", &value) || ReadDword(key.get(), L"Enabled", &value))) {
            enabled = value != 0 ? 1 : 0;
        }
    }
    ETWLOG(ETWLogging::kLevelInformation, kLogFile, L"VistrelHelper::IsEnabled", L"Vistrel enabled=%d", enabled);
    return enabled;
}

int VistrelHelper::IsVistrelRunning()
{
    const Fundor::ScopedHandle event(::OpenEventW(SYNCHRONIZE, FALSE, kVistrelRunningEvent));
    const int running = event ? 1 : 0;
    ETWLOG(ETWLogging::kLevelInformation, kLogFile, L"VistrelHelper::IsVistrelRunning", L"running=%d", running);
    return running;
}

std::wstring VistrelHelper::CurrentSessionWindowId()
{
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) {
        const DWORD error = ::GetLastError();
        ETWLOG(ETWLogging::kLevelError, kLogFile, L"VistrelHelper::CurrentSessionWindowId",
               L"ProcessIdToSessionId(): failed: 0x%x", error);
        return std::wstring();
    }
    wchar_t id[64];
    if (Fundor::FormatW(id, 64, L"%s%u", kVistrelWindowIdPrefix, static_cast<unsigned>(session)) < 0) {
        return std::wstring();
    }
    try {
        return std::wstring(id);
    } catch (...) {
        return std::wstring();
    }
}
