#include "shell/host/NotQuiteNullDacl.h"

NotQuiteNullDacl::~NotQuiteNullDacl()
{
    if (m_everyone != nullptr) ::FreeSid(m_everyone);
    if (m_acl != nullptr) ::HeapFree(::GetProcessHeap(), 0, m_acl);
}

bool NotQuiteNullDacl::Create()
{
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    if (!::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &m_everyone)) {
        m_lastError = ::GetLastError();
        return false;
    }
    const DWORD sidLength = ::GetLengthSid(m_everyone);
    // The list header and two entries, each with the SID.
    const DWORD aclSize = 2 * sidLength + 24;
    m_acl = static_cast<PACL>(::HeapAlloc(::GetProcessHeap(), HEAP_ZERO_MEMORY, aclSize));
    if (m_acl == nullptr) {
        m_lastError = ERROR_NOT_ENOUGH_MEMORY;
        return false;
    }
    if (!::InitializeAcl(m_acl, aclSize, ACL_REVISION) ||
        !::AddAccessDeniedAce(m_acl, ACL_REVISION, WRITE_DAC | DELETE, m_everyone) ||
        !::AddAccessAllowedAce(m_acl, ACL_REVISION, GENERIC_ALL, m_everyone)) {
        m_lastError = ::GetLastError();
        return false;
    }
    return true;
}
