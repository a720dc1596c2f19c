#include "core/Logging/EtwProcessInfo.h"

#include "core/base/StringFormat.h"
#include "core/version/FileVersionInfo.h"

#include <cwchar>

namespace ETWLogging::internal {

namespace {

// Longest path the loader can report (a UNICODE_STRING's limit).
constexpr std::size_t kLongestModulePath = 32767;
constexpr std::size_t kModulePathStep = 255;

EtwProcessInfo ComputeProcessInfo(HMODULE module)
{
    EtwProcessInfo info;
    info.fileVersion = ReadFileVersionText(GetFullModulePath(nullptr).c_str());
    info.modulePath = GetFullModulePath(module);
    return info;
}

}  // namespace

const EtwProcessInfo& GetEtwProcessInfo(HMODULE module)
{
    static const EtwProcessInfo info = ComputeProcessInfo(module);
    return info;
}

std::wstring NormalizeFileVersion(const std::wstring& text)
{
    unsigned int parts[4] = {};
    if (std::swscanf(text.c_str(), L"%u,%u,%u,%u", &parts[0], &parts[1], &parts[2], &parts[3]) == 4) {
        return Fundor::FormatString(L"%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
    }
    return text;
}

std::wstring ReadFileVersionText(const wchar_t* path)
{
    if (path == nullptr || path[0] == L'\0') {
        return {};
    }
    Fundor::FileVersionInfo version;
    if (!version.Load(path)) {
        return {};
    }
    return NormalizeFileVersion(version.QueryString(Fundor::VersionStringKey::FileVersion));
}

std::wstring GetFullModulePath(HMODULE module)
{
    std::wstring path(kModulePathStep, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= kLongestModulePath) {
            return {};
        }
        path.resize(path.size() + kModulePathStep);
    }
}

}  // namespace ETWLogging::internal
