#pragma once
// Substitutes for the Velmo wrappers, shared by the path, loader and shared-library tests.

#include "access/PathHelpers.h"
#include "access/wrappers/DllAPI.h"
#include "access/wrappers/PathAPI.h"
#include "access/wrappers/RegistryAPI.h"
#include "access/wrappers/ShlObjAPI.h"
#include "access/wrappers/SystemInfoAPI.h"

#include <gmock/gmock.h>

#include <cstring>
#include <cwchar>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace VelmoTesting {

// Hands out made-up module handles and counts what was taken and given back, so a test can see
// that every reference taken was freed exactly once.
class CountingDllAPI : public Velmo::DllAPI {
public:
    bool loadLibrary(const std::wstring& path, HMODULE& module) override
    {
        loadPaths.push_back(path);
        if (throwOnLoad) throw std::runtime_error("load");
        if (failLoad) return false;
        module = NewHandle();
        ++loads;
        return true;
    }
    FARPROC getProcAddress(HMODULE module, const char* name) override
    {
        requestedExports.push_back(name);
        if (missingExports.count(name) != 0) return nullptr;
        return reinterpret_cast<FARPROC>(reinterpret_cast<ULONG_PTR>(module) + requestedExports.size());
    }
    bool isTrusted(const std::wstring& path) override { return !path.empty(); }
    bool freeLibrary(HMODULE module) override
    {
        freed.push_back(module);
        return !failFree;
    }
    bool getModuleHandleEx(DWORD flags, const wchar_t* name, HMODULE& module) override
    {
        handleQueries.push_back(name);
        if (!alreadyLoaded) return false;
        module = NewHandle();
        ++loads;
        return true;
    }

    // Every handle handed out and not yet freed.
    [[nodiscard]] int outstanding() const { return loads - static_cast<int>(freed.size()); }

    bool failLoad = false;
    bool throwOnLoad = false;
    bool failFree = false;
    bool alreadyLoaded = false;
    std::set<std::string> missingExports;

    int loads = 0;
    std::vector<std::wstring> loadPaths;
    std::vector<std::wstring> handleQueries;
    std::vector<std::string> requestedExports;
    std::vector<HMODULE> freed;

private:
    HMODULE NewHandle() { return reinterpret_cast<HMODULE>(static_cast<ULONG_PTR>(0x10000 * (++m_next))); }
    int m_next = 0;
};

// Files exist only where the test says; every probe is recorded.
class FakePathAPI : public Velmo::PathAPI {
public:
    bool isFile(const std::wstring& path) override
    {
        probes.push_back(path);
        return files.count(path) != 0;
    }
    std::set<std::wstring> files;
    std::vector<std::wstring> probes;
};

class MockDllAPI : public Velmo::DllAPI {
public:
    MOCK_METHOD(bool, loadLibrary, (const std::wstring& path, HMODULE& module), (override));
    MOCK_METHOD(FARPROC, getProcAddress, (HMODULE module, const char* name), (override));
    MOCK_METHOD(bool, isTrusted, (const std::wstring& path), (override));
    MOCK_METHOD(bool, freeLibrary, (HMODULE module), (override));
    MOCK_METHOD(bool, getModuleHandleEx, (DWORD flags, const wchar_t* name, HMODULE& module), (override));
};

class MockRegistryAPI : public Velmo::RegistryAPI {
public:
    MOCK_METHOD(Velmo::ModuleStatus, readString,
                (const std::wstring& keyPath, const std::wstring& valueName, std::wstring& value), (override));
    MOCK_METHOD(Velmo::ModuleStatus, readNumber,
                (const std::wstring& keyPath, const std::wstring& valueName, DWORD& value), (override));
};

class MockOSInfo : public Velmo::PathHelpers::OSInfo {
public:
    MOCK_METHOD(bool, IsWow64, (), (override));
};

class FakeSystemInfoAPI : public Velmo::SystemInfoAPI {
public:
    explicit FakeSystemInfoAPI(WORD value) : architecture(value) {}
    void getNativeSystemInfo(SYSTEM_INFO& info) override
    {
        info = SYSTEM_INFO{};
        info.wProcessorArchitecture = architecture;
    }
    WORD architecture;
};

// Answers each known folder it was told about with a path allocated as the shell does (the
// caller frees it with CoTaskMemFree); any other folder fails with E_FAIL. Records the flags and
// token it was asked with.
class FakeShlObjAPI : public Velmo::ShlObjAPI {
public:
    HRESULT SHGetKnownFolderPath(REFKNOWNFOLDERID id, DWORD flags, HANDLE token, PWSTR* path) override
    {
        ++calls;
        lastFlags = flags;
        lastToken = token;
        *path = nullptr;
        for (const auto& [folderId, text] : folders) {
            if (IsEqualGUID(folderId, id)) {
                const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
                *path = static_cast<PWSTR>(CoTaskMemAlloc(bytes));
                std::memcpy(*path, text.c_str(), bytes);
                return S_OK;
            }
        }
        return E_FAIL;
    }
    std::vector<std::pair<KNOWNFOLDERID, std::wstring>> folders;
    int calls = 0;
    DWORD lastFlags = 0xFFFFFFFF;
    HANDLE lastToken = INVALID_HANDLE_VALUE;
};

// The program's own path, as GetModuleFileNameW gives it.
inline std::wstring ProgramPath()
{
    wchar_t path[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(std::size(path)));
    return std::wstring(path, length);
}

inline std::wstring ProgramFolderWithSeparator()
{
    const std::wstring path = ProgramPath();
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

}  // namespace VelmoTesting
