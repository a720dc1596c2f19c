#include "IHostUiSettings.h"

#include "Logging/Logging.h"
#include "StringFormat.h"

namespace {

class DefaultHostUiSettings final : public IHostUiSettings {
public:
    bool ReadPageWindowSize(const wchar_t*, const wchar_t*, const wchar_t*, const wchar_t*,
                            HostPageWindowSize*) override
    {
        return false;
    }
    DWORD LoadResString(UINT, wchar_t* buffer, int capacity) override
    {
        if (buffer != nullptr && capacity > 0) buffer[0] = L'\0';
        return ERROR_RESOURCE_NAME_NOT_FOUND;
    }
    DWORD LoadPkgString(DWORD, UINT, wchar_t* buffer, int capacity, const wchar_t*) override
    {
        if (buffer != nullptr && capacity > 0) buffer[0] = L'\0';
        return ERROR_RESOURCE_NAME_NOT_FOUND;
    }
    bool IsVistrelEnabled() override { return false; }
    std::wstring CurrentSessionWindowId() override { return FormatSessionWindowId(); }
    LCID UiLocale() override { return ::GetThreadLocale(); }
    HICON LoadAppIcon() override
    {
        return static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(100), IMAGE_ICON, 0, 0,
                                               LR_DEFAULTSIZE | LR_SHARED));
    }
};

}  // namespace

std::unique_ptr<IHostUiSettings> CreateDefaultHostUiSettings()
{
    return std::make_unique<DefaultHostUiSettings>();
}

std::wstring FormatSessionWindowId()
{
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) {
        ETWLOG(4, L"HostUiSettings.cpp", L"VistrelHelper::CurrentSessionWindowId",
               L"ProcessIdToSessionId(): failed: 0x%x", ::GetLastError());
        return {};
    }
    return Fundor::FormatString(L"%s%u", L"Vistrel.Window.for.Session.", session);
}
