#pragma once
// Test isolation for the registry: HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER and HKEY_CLASSES_ROOT
// are redirected (RegOverridePredefKey) to fresh scratch keys below the real HKEY_CURRENT_USER
// for the lifetime of the object, and the scratch keys are removed afterwards.
//
// Set-up is all or nothing. When a step fails (or anything in it throws), the redirects already made
// are undone and the scratch key is removed before the constructor throws std::runtime_error, which
// names the step and the error. A fixture's test then fails in its constructor without running
// against the real registry, and no later test of the program inherits a redirect.
//
// The scratch keys live in kScratchParentKey of the real HKEY_CURRENT_USER, one per isolation, named
//     <created>_<pid>_<started>_<counter>_<test name>
// created: UTC FILETIME of the key's creation, 16 upper-case hex digits; pid: the owning process,
// decimal; started: that process's creation time (FILETIME, 16 upper-case hex digits), which tells
// the owner from a later process that got its id again (Wine reuses ids). Every set-up first removes
// what crashed runs left: the keys created more than a day ago, and those whose owner no longer runs.
// Keys of other live test processes (ctest -j) are kept, and so is every key whose name is not of
// that form.
//
// One isolation at a time in a process: a nested one is refused (std::logic_error), because its end
// puts the real keys back (RegOverridePredefKey(root, nullptr)) under the outer one.

#include "core/base/ScopedResource.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

namespace Fundor::testing {

// Below the real HKEY_CURRENT_USER.
inline constexpr wchar_t kScratchParentKey[] = L"Software\\OrdwellTestScratch";

class RegistryIsolation {
public:
    // The steps of set-up, in their order.
    enum class Step {
        OpenScratchParent,
        CreateScratchKey,
        CreateMachineKey,
        CreateUserKey,
        CreateClassesKey,
        RedirectMachine,
        RedirectClasses,
        RedirectUser,
    };

    // Throws std::runtime_error when set-up fails (nothing is then left redirected or created), and
    // std::logic_error while another isolation of this process is in place.
    RegistryIsolation();
    // For the helper's own tests: set-up fails at failingStep as if its call had returned
    // ERROR_ACCESS_DENIED (the call is not made).
    explicit RegistryIsolation(Step failingStep);
    // Puts the real keys back, then removes the scratch key. Never throws; a key that cannot be
    // removed is left to a later set-up, once this process has ended.
    ~RegistryIsolation();
    RegistryIsolation(const RegistryIsolation&) = delete;
    RegistryIsolation& operator=(const RegistryIsolation&) = delete;

    // Path of the scratch key below the real HKEY_CURRENT_USER.
    [[nodiscard]] const std::wstring& ScratchPath() const { return m_scratchPath; }

private:
    void SetUp(std::optional<Step> failingStep);
    // Undoes what set-up made, newest first; from the destructor and from a failed set-up.
    void Undo() noexcept;

    std::wstring m_scratchName;  // below kScratchParentKey
    std::wstring m_scratchPath;  // below the real HKEY_CURRENT_USER
    ScopedRegKey m_parent;       // the real kScratchParentKey, opened before anything is redirected
    bool m_scratchCreated = false;
    ScopedRegKey m_machine;
    ScopedRegKey m_user;
    ScopedRegKey m_classes;
    HKEY m_redirected[3] = {};   // predefined keys (not owned) overridden so far, in order
    std::size_t m_redirectCount = 0;
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

// Fixture base for tests that touch the registry. A failed isolation fails the test in the
// fixture's constructor, before its body runs.
class RegistryIsolatedTest : public ::testing::Test {
protected:
    RegistryIsolation m_registry;
};

}  // namespace Fundor::testing
