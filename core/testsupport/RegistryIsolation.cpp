#include "core/testsupport/RegistryIsolation.h"


#include <atomic>
#include <stdexcept>
#include <vector>

namespace Fundor::testing {
namespace {

std::atomic<unsigned> g_uniqueCounter{0};

std::wstring Widen(const char* text)
{
    std::wstring wide;
    for (const char* p = text; p != nullptr && *p != '\0'; ++p) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    }
    return wide;
}

HKEY CreateScratchKey(HKEY realUser, const std::wstring& path)
{
    HKEY key = nullptr;
    const LONG status = ::RegCreateKeyExW(realUser, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                          nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        throw std::runtime_error("cannot create a scratch registry key");
    }
    return key;
}

// Removes folder and everything below it. A link (reparse point) is removed as a link, never
// entered, so a test can never delete what lies outside its scratch folder.
void DeleteTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            const DWORD attributes = found.dwFileAttributes;
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                DeleteTree(path);
            } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                ::RemoveDirectoryW(path.c_str());
            } else {
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::RemoveDirectoryW(folder.c_str());
}

}  // namespace

std::wstring UniqueName(const wchar_t* prefix)
{
    std::wstring name = prefix != nullptr ? prefix : L"";
    if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
        name += L"_";
        name += Widen(info->test_suite_name());
        name += L"_";
        name += Widen(info->name());
    }
    for (wchar_t& c : name) {
        if (c == L'/' || c == L'\\') c = L'_';
    }
    // Wine reuses process ids between runs: the performance counter keeps names apart.
    LARGE_INTEGER now = {};
    ::QueryPerformanceCounter(&now);
    name += L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
            std::to_wstring(g_uniqueCounter.fetch_add(1) + 1) + L"_" + std::to_wstring(now.QuadPart);
    return name;
}

RegistryIsolation::RegistryIsolation()
{
    m_scratchPath = L"Software\\OrdwellTestScratch\\" + UniqueName(L"reg");
    // Open the real HKCU before anything is redirected.
    m_machine = CreateScratchKey(HKEY_CURRENT_USER, m_scratchPath + L"\\HKLM");
    m_user = CreateScratchKey(HKEY_CURRENT_USER, m_scratchPath + L"\\HKCU");
    m_classes = CreateScratchKey(HKEY_CURRENT_USER, m_scratchPath + L"\\HKCR");
    if (::RegOverridePredefKey(HKEY_LOCAL_MACHINE, m_machine) != ERROR_SUCCESS ||
        ::RegOverridePredefKey(HKEY_CLASSES_ROOT, m_classes) != ERROR_SUCCESS ||
        ::RegOverridePredefKey(HKEY_CURRENT_USER, m_user) != ERROR_SUCCESS) {
        throw std::runtime_error("RegOverridePredefKey failed");
    }
}

RegistryIsolation::~RegistryIsolation()
{
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    ::RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    ::RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    ::RegCloseKey(m_machine);
    ::RegCloseKey(m_user);
    ::RegCloseKey(m_classes);
    ::RegDeleteTreeW(HKEY_CURRENT_USER, m_scratchPath.c_str());
    ::RegDeleteKeyW(HKEY_CURRENT_USER, m_scratchPath.c_str());
}

ScratchFolder::ScratchFolder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) {
        throw std::runtime_error("no temporary folder");
    }
    m_path = std::wstring(temp) + UniqueName(L"ordwell");
    if (!::CreateDirectoryW(m_path.c_str(), nullptr)) {
        throw std::runtime_error("cannot create a scratch folder");
    }
}

ScratchFolder::~ScratchFolder()
{
    // Long-path form: a tree deeper than MAX_PATH must still be removed from here, never
    // resolved against the current directory.
    DeleteTree(L"\\\\?\\" + m_path);
}

}  // namespace Fundor::testing
