#include "pageobjects/services/KvStartCommand.h"

#include "access/CheckedProgramFile.h"
#include "core/Logging/Logging.h"

#include <cwchar>
#include <string>

namespace {

// The session manager's launcher: its log lines keep its name.
constexpr wchar_t kSource[] = L"SessionMgr";
constexpr std::size_t kCommandCharacters = 520;    // with the terminator
constexpr std::size_t kParameterCharacters = 260;  // with the terminator
constexpr wchar_t kAppPathsKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

bool IsExistingFile(const wchar_t* path) noexcept
{
    const DWORD attributes = ::GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The program a command names, as one full path: a path is made absolute; a bare name is looked
// up in App Paths (the user's, then the machine's), then along the search path. 0 or 2.
DWORD ResolveProgram(const std::wstring& program, std::wstring& full)
{
    wchar_t buffer[MAX_PATH] = {};
    if (program.find_first_of(L"\\/:") != std::wstring::npos) {
        const DWORD length = ::GetFullPathNameW(program.c_str(), MAX_PATH, buffer, nullptr);
        if (length == 0 || length >= MAX_PATH || !IsExistingFile(buffer)) return ERROR_FILE_NOT_FOUND;
        full = buffer;
        return ERROR_SUCCESS;
    }
    std::wstring name = program;
    if (name.find(L'.') == std::wstring::npos) name += L".exe";
    const std::wstring appPath = kAppPathsKey + name;
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        DWORD size = sizeof(buffer);
        // RRF_RT_REG_SZ takes a REG_EXPAND_SZ too, expanded.
        if (::RegGetValueW(root, appPath.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
            continue;
        }
        std::wstring path = buffer;
        if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') path = path.substr(1, path.size() - 2);
        if (!path.empty() && IsExistingFile(path.c_str())) {
            full = path;
            return ERROR_SUCCESS;
        }
    }
    const DWORD length = ::SearchPathW(nullptr, program.c_str(), L".exe", MAX_PATH, buffer, nullptr);
    if (length == 0 || length >= MAX_PATH || !IsExistingFile(buffer)) return ERROR_FILE_NOT_FOUND;
    full = buffer;
    return ERROR_SUCCESS;
}

}  // namespace

DWORD KvStartCommand(const wchar_t* command, bool trusted)
{
    const wchar_t* const function = L"CSessionMgr2::_OpenProcess";
    if (command == nullptr) return ERROR_INVALID_PARAMETER;
    const std::size_t length = wcsnlen(command, kCommandCharacters);
    if (length >= kCommandCharacters) {
        ETWLOG(ETWLogging::kLevelError, kSource, function, L"The command is longer than %d characters",
               int{kCommandCharacters - 1});
        return ERROR_INVALID_PARAMETER;
    }
    const std::wstring line(command, length);
    std::wstring program;
    std::wstring parameters;
    if (!line.empty() && line[0] == L'"') {
        const std::size_t close = line.find(L'"', 1);
        if (close == std::wstring::npos) {
            ETWLOG(ETWLogging::kLevelError, kSource, function, L"The program name of %s has no closing quote", command);
            return ERROR_INVALID_PARAMETER;
        }
        program = line.substr(1, close - 1);
        const std::size_t start = line.find_first_not_of(L" \t", close + 1);
        if (start != std::wstring::npos) parameters = line.substr(start);
    } else {
        const std::size_t blank = line.find(L' ');
        program = line.substr(0, blank);
        if (blank != std::wstring::npos) parameters = line.substr(blank + 1);
    }
    if (program.empty() || parameters.size() >= kParameterCharacters) {
        ETWLOG(ETWLogging::kLevelError, kSource, function, L"No program or parameters longer than %d characters in %s",
               int{kParameterCharacters - 1}, command);
        return ERROR_INVALID_PARAMETER;
    }
    // The file checked is the file started: resolved once, started by its full path.
    std::wstring path;
    if (ResolveProgram(program, path) != ERROR_SUCCESS) {
        ETWLOG(ETWLogging::kLevelError, kSource, function, L"ShellExecute(%s) failed, return code = %u",
               program.c_str(), unsigned{ERROR_FILE_NOT_FOUND});
        return ERROR_FILE_NOT_FOUND;
    }
    // Held from the check until the start returns and started by its final path: a link on the
    // way that is re-pointed in between does not change what starts.
    CheckedProgramFile file;
    const DWORD held = trusted ? file.Hold(path.c_str()) : file.Check(path.c_str());
    if (held != ERROR_SUCCESS) {
        if (!trusted) {
            ETWLOG(ETWLogging::kLevelError, kSource, function, L"failed to validate module of %s", path.c_str());
            return ERROR_ACCESS_DENIED;
        }
        ETWLOG(ETWLogging::kLevelWarning, kSource, function, L"ShellExecute(%s) failed, return code = %u", path.c_str(),
               unsigned{held});
        return held;
    }
    const DWORD code = file.Start(parameters.c_str());
    if (code != ERROR_SUCCESS) {
        ETWLOG(ETWLogging::kLevelWarning, kSource, function, L"ShellExecute(%s) failed, return code = %u",
               file.path().c_str(), unsigned{code});
        return code;
    }
    ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"ShellExecute(%s) succeed", file.path().c_str());
    return ERROR_SUCCESS;
}
