#include "shell/host/ShellWindowHelpers.h"

#include <cwchar>
#include <cwctype>
#include <string_view>

DWORD ForceForegroundWindow(HWND window, BOOL attach)
{
    if (window == nullptr) return ERROR_INVALID_PARAMETER;
    const HWND foreground = ::GetForegroundWindow();
    const DWORD foregroundThread = foreground != nullptr ? ::GetWindowThreadProcessId(foreground, nullptr) : 0;
    const DWORD thisThread = ::GetCurrentThreadId();
    if (attach && foreground != nullptr && foregroundThread != thisThread) {
        ::AttachThreadInput(thisThread, foregroundThread, TRUE);
        if (::IsIconic(window)) ::ShowWindow(window, SW_SHOWNORMAL);
        ::SetForegroundWindow(window);
        ::AttachThreadInput(thisThread, foregroundThread, FALSE);
    } else {
        ::SetForegroundWindow(window);
    }
    return ERROR_SUCCESS;
}

bool PageAllowsClose(HRESULT queryResult, const VARIANT& value) noexcept
{
    if (FAILED(queryResult)) return true;
    switch (value.vt) {
    case VT_BOOL:
        return value.boolVal != VARIANT_FALSE;
    case VT_I1:
    case VT_UI1:
        return value.bVal != 0;
    case VT_I2:
    case VT_UI2:
        return value.iVal != 0;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
        return value.lVal != 0;
    case VT_I8:
    case VT_UI8:
        return value.llVal != 0;
    case VT_R4:
        return value.fltVal != 0.0f;
    case VT_R8:
        return value.dblVal != 0.0;
    default:
        return true;  // empty, null ("not reported") or not a yes/no answer
    }
}

bool DataNamesWindow(const wchar_t* data, const wchar_t* windowId) noexcept
{
    if (data == nullptr || windowId == nullptr || windowId[0] == L'\0') return false;
    const std::size_t length = std::wcslen(windowId);
    for (const wchar_t* at = std::wcsstr(data, windowId); at != nullptr; at = std::wcsstr(at + 1, windowId)) {
        const wchar_t next = at[length];
        if (next == L'\0' || !std::iswdigit(next)) return true;
    }
    return false;
}

std::wstring PageNameFromUrl(const wchar_t* url)
{
    if (url == nullptr) return {};
    std::wstring text(url, wcsnlen(url, 2048));
    const std::size_t query = text.find(L'?');
    if (query != std::wstring::npos) text.resize(query);
    const std::size_t colon = text.rfind(L':');
    if (colon == std::wstring::npos) return {};
    std::size_t begin = colon + 1;
    while (begin < text.size() && (text[begin] == L':' || text[begin] == L'\\' || text[begin] == L'/')) ++begin;
    return text.substr(begin);
}

SarnDllReference ReadSarnDllReference(const wchar_t* url)
{
    SarnDllReference reference;
    if (url == nullptr || _wcsnicmp(url, L"sarn://", 7) != 0) return reference;
    std::wstring_view body(url + 7);
    for (int skipped = 0; skipped < 2 && !body.empty() && (body.front() == L'/' || body.front() == L'\\'); ++skipped) {
        body.remove_prefix(1);
    }
    const bool installRelative = !body.empty() && body.front() == L'@';
    if (installRelative) {
        // "@{tk:...}" tokens name their DLL through the machine's settings.
        if (body.size() > 1 && body[1] == L'{') return reference;
        body.remove_prefix(1);
    }
    const std::size_t separator = body.find(L"::");
    if (separator == std::wstring_view::npos) return reference;
    const std::wstring_view dll = body.substr(0, separator);
    if (dll.find_first_of(L"\\/:") == std::wstring_view::npos) return reference;
    reference.kind = installRelative ? SarnDllReference::Kind::BelowInstallFolder : SarnDllReference::Kind::OwnPath;
    reference.dll.assign(dll);
    reference.resource.assign(body.substr(separator));
    return reference;
}
