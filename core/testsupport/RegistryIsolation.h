#pragma once
// Test isolation for the registry: HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and HKEY_CLASSES_ROOT
// are redirected (RegOverridePredefKey) to fresh scratch keys below the real HKEY_CURRENT_USER
// for the lifetime of the object, and the scratch keys are removed afterwards.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace Fundor::testing {

class RegistryIsolation {
public:
    RegistryIsolation();
    ~RegistryIsolation();
    RegistryIsolation(const RegistryIsolation&) = delete;
    RegistryIsolation& operator=(const RegistryIsolation&) = delete;

    // Path of the scratch root below the real HKEY_CURRENT_USER.
    [[nodiscard]] const std::wstring& ScratchPath() const { return m_scratchPath; }

private:
    std::wstring m_scratchPath;
    HKEY m_machine = nullptr;
    HKEY m_user = nullptr;
    HKEY m_classes = nullptr;
};

// A name that no other test, test run or process uses: prefix, test name, process id, counter.
[[nodiscard]] std::wstring UniqueName(const wchar_t* prefix);

// A fresh empty folder in the temporary folder, removed with everything in it afterwards.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    // Without a trailing backslash.
    [[nodiscard]] const std::wstring& Path() const { return m_path; }
    [[nodiscard]] std::wstring File(const wchar_t* name) const { return m_path + L"\\" + name; }

private:
    std::wstring m_path;
};

// Fixture base for tests that touch the registry.
class RegistryIsolatedTest : public ::testing::Test {
protected:
    RegistryIsolation m_registry;
};

}  // namespace Fundor::testing
