#include "shell/tests/config/ShellConfigTestSupport.h"

#include "core/base/ScopedResource.h"
#include "core/loading/RtMuiImpl.h"

#include <fstream>
#include <sstream>

namespace shelltest {

std::wstring BinFile(const std::wstring& relative)
{
    wchar_t path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring text(path, length);
    return text.substr(0, text.find_last_of(L'\\') + 1) + relative;
}

void SetMappedLanguage(LANGID language)
{
    ::SetEnvironmentVariableW(L"KVRTMUI_STANDIN_LANGID", std::to_wstring(language).c_str());
}

void WriteTextFile(const std::wstring& path, const std::string& text)
{
    std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
    out << text;
}

std::vector<std::string> ReadLines(const std::wstring& path)
{
    std::ifstream in(path.c_str(), std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

UiCfgLog::UiCfgLog(std::wstring path) : m_path(std::move(path))
{
    ::SetEnvironmentVariableW(L"KVUICFG_STANDIN_LOG", m_path.c_str());
}

UiCfgLog::~UiCfgLog() { ::SetEnvironmentVariableW(L"KVUICFG_STANDIN_LOG", nullptr); }

void SetRegistryString(HKEY root, const std::wstring& subkey, const wchar_t* name, const std::wstring& value,
                       DWORD type)
{
    Fundor::ScopedRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                                               nullptr, key.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS, ::RegSetValueExW(key.get(), name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

void SetRegistryDword(HKEY root, const std::wstring& subkey, const wchar_t* name, DWORD value)
{
    Fundor::ScopedRegKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(root, subkey.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY,
                                               nullptr, key.put(), nullptr));
    ASSERT_EQ(ERROR_SUCCESS,
              ::RegSetValueExW(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value));
}

namespace {

// Before any test runs: the stand-in is the process's localized-resource DLL.
struct BindLocalizedResourceStandIn {
    BindLocalizedResourceStandIn()
    {
        ::SetEnvironmentVariableW(L"KVRTMUI_STANDIN_MARK", L"0");
        SetMappedLanguage(1033);
        (void)Fundor::RtMuiImpl::SetOverridePath(BinFile(L"KvRtMui.dll").c_str());
    }
} g_bindLocalizedResourceStandIn;

}  // namespace

}  // namespace shelltest
