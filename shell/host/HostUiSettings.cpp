#include "shell/host/IHostUiSettings.h"

#include "core/Logging/Logging.h"
#include "core/loading/RtMui.h"
#include "shell/config/CAgentUICfg.h"
#include "shell/config/CKvSARNLocale2.h"
#include "shell/config/VistrelHelper.h"

#include <cwchar>

namespace {

constexpr wchar_t kOrdwellSection[] = L"sarn_ordwell";

class ShellConfigUiSettings final : public IHostUiSettings {
public:
    bool ReadPageWindowSize(const wchar_t* configFile, const wchar_t* language, const wchar_t* section,
                            const wchar_t* page, HostPageWindowSize* size) override
    {
        // Only the host's own section carries a position code.
        if (size == nullptr || page == nullptr || section == nullptr || std::wcscmp(section, kOrdwellSection) != 0) {
            return false;
        }
        CAgentUICfg config;
        if (config.Load(configFile, language, 0) != ERROR_SUCCESS) return false;
        DWORD width = 0;
        DWORD height = 0;
        DWORD position = size->position;  // written only when the element gives one
        KvFontRecord font{sizeof(KvFontRecord), nullptr, 0, 0};
        // The code is not looked at: whatever was read counts, the rest keeps its default.
        (void)config.GetOrdwellFontAndDimInfo(page, &width, &height, &position, &font);
        CAgentUICfg::FreeFontRecord(&font);
        // A size that does not fit an int is no size.
        size->width = width <= 0x7FFFFFFFu ? static_cast<int>(width) : 0;
        size->height = height <= 0x7FFFFFFFu ? static_cast<int>(height) : 0;
        size->position = position;
        return true;
    }
    void InitializeLocale() override
    {
        const DWORD code = m_locale.Initialize(nullptr, 0);
        if (code != ERROR_SUCCESS) {
            ETWLOG(ETWLogging::kLevelWarning, L"HostUiSettings.cpp", L"CKvShellModule::CreateGlobalObjects",
                   L"The product's resource DLLs are not known. Error: %u", code);
        }
    }
    DWORD LoadResString(UINT id, wchar_t* buffer, int capacity) override
    {
        if (buffer == nullptr || capacity <= 0) return ERROR_INVALID_PARAMETER;
        return m_locale.LoadResString(id, buffer, static_cast<DWORD>(capacity));
    }
    DWORD LoadPkgString(DWORD packageId, UINT id, wchar_t* buffer, int capacity, const wchar_t* companyName) override
    {
        if (buffer == nullptr || capacity <= 0) return ERROR_INVALID_PARAMETER;
        if (companyName == nullptr) return m_locale.LoadPkgString(packageId, id, buffer, static_cast<DWORD>(capacity));
        const wchar_t* const replacements[] = {companyName};
        return m_locale.LoadPkgString(packageId, id, buffer, static_cast<DWORD>(capacity),
                                      CKvSARNLocale2::kCompanyNameToken, replacements, 1);
    }
    bool IsVistrelEnabled() override { return VistrelHelper::IsEnabled() != 0; }
    std::wstring CurrentSessionWindowId() override { return VistrelHelper::CurrentSessionWindowId(); }
    LCID UiLocale() override { return MAKELCID(Fundor::RtMuiGetMappedLocale(), SORT_DEFAULT); }
    HICON LoadAppIcon() override
    {
        DWORD error = 0;
        HANDLE icon = m_locale.LoadImage(MAKEINTRESOURCEW(100), IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED, &error);
        if (icon == nullptr) {
            icon = ::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(100), IMAGE_ICON, 0, 0,
                                LR_DEFAULTSIZE | LR_SHARED);
        }
        return static_cast<HICON>(icon);
    }

private:
    CKvSARNLocale2 m_locale;
};

}  // namespace

std::unique_ptr<IHostUiSettings> CreateDefaultHostUiSettings()
{
    return std::make_unique<ShellConfigUiSettings>();
}
