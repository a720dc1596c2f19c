#pragma once
// The access-control functions of the System folder's advapi32.dll, bound by name at run time,
// all or none. One table is made for each access-list rewrite and frees the library with it.

#include <windows.h>
#include <aclapi.h>

#include "core/base/ScopedResource.h"

namespace Fundor {

// The 26 bound functions, in table order.
#define ORDWELL_SECURITY_FUNCTIONS(X)                                                              \
    X(SetEntriesInAclW)                                                                            \
    X(GetFileSecurityW)                                                                            \
    X(SetFileSecurityW)                                                                            \
    X(LookupAccountSidW)                                                                           \
    X(GetExplicitEntriesFromAclW)                                                                  \
    X(RegGetKeySecurity)                                                                           \
    X(RegSetKeySecurity)                                                                           \
    X(InitializeSecurityDescriptor)                                                                \
    X(SetSecurityDescriptorDacl)                                                                   \
    X(GetSecurityDescriptorDacl)                                                                   \
    X(AllocateAndInitializeSid)                                                                    \
    X(FreeSid)                                                                                     \
    X(OpenThreadToken)                                                                             \
    X(GetTokenInformation)                                                                         \
    X(InitializeAcl)                                                                               \
    X(InitializeSid)                                                                               \
    X(GetSidSubAuthority)                                                                          \
    X(AddAccessAllowedAce)                                                                         \
    X(GetSecurityInfo)                                                                             \
    X(SetSecurityInfo)                                                                             \
    X(QueryServiceStatusEx)                                                                        \
    X(GetAce)                                                                                      \
    X(DeleteAce)                                                                                   \
    X(EqualSid)                                                                                    \
    X(GetAclInformation)                                                                           \
    X(SetSecurityDescriptorControl)

// Whether VerifyVersionInfoW reports the NT platform (VER_PLATFORM_WIN32_NT, VER_EQUAL).
[[nodiscard]] bool IsWindowsNtPlatform();

class SecurityFunctionTable {
public:
    static constexpr int kFunctionCount = 26;

    // Takes the platform answer once; binds nothing yet.
    SecurityFunctionTable();
    ~SecurityFunctionTable();
    SecurityFunctionTable(const SecurityFunctionTable&) = delete;
    SecurityFunctionTable& operator=(const SecurityFunctionTable&) = delete;

    // Loads advapi32.dll from the System folder (freeing a library loaded by an earlier call) and
    // binds every function. False, with no function bound and no library held, when the library
    // or any one function is missing.
    [[nodiscard]] bool Bind();
    [[nodiscard]] bool IsBound() const { return m_bound; }
    [[nodiscard]] bool IsWindowsNt() const { return m_isWindowsNt; }

    // Null until Bind succeeds.
#define ORDWELL_SECURITY_FUNCTION_FIELD(name) decltype(&::name) name = nullptr;
    ORDWELL_SECURITY_FUNCTIONS(ORDWELL_SECURITY_FUNCTION_FIELD)
#undef ORDWELL_SECURITY_FUNCTION_FIELD

private:
    void Unbind();

    CRITICAL_SECTION m_lock;
    ScopedModule m_library;
    bool m_isWindowsNt = false;
    bool m_bound = false;
};

}  // namespace Fundor
