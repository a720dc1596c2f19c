#include "core/registry/RegistrySecurity.h"
#include "core/base/LastError.h"

#include "core/base/ScopedResource.h"

namespace Fundor {
namespace {

// Registry key names are at most 255 characters.
constexpr DWORD kSubKeyNameChars = 256;

class ScopedSid {
public:
    explicit ScopedSid(const SecurityFunctionTable& functions) : m_functions(functions) {}
    ~ScopedSid()
    {
        if (m_sid != nullptr) m_functions.FreeSid(m_sid);
    }
    ScopedSid(const ScopedSid&) = delete;
    ScopedSid& operator=(const ScopedSid&) = delete;
    PSID* put() { return &m_sid; }
    PSID get() const { return m_sid; }

private:
    const SecurityFunctionTable& m_functions;
    PSID m_sid = nullptr;
};

LONG ApplyToSubKeys(const SecurityFunctionTable& functions, HKEY key, PSECURITY_DESCRIPTOR descriptor)
{
    for (DWORD index = 0;; ++index) {
        wchar_t name[kSubKeyNameChars];
        DWORD nameChars = kSubKeyNameChars;
        const LONG enumStatus = ::RegEnumKeyExW(key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
        if (enumStatus == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (enumStatus != ERROR_SUCCESS) {
            return enumStatus;
        }
        ScopedRegKey subKey;
        if (::RegOpenKeyExW(key, name, 0, KEY_ALL_ACCESS, subKey.put()) != ERROR_SUCCESS) {
            continue;  // a key this caller may not change does not stop the others
        }
        LONG status = functions.RegSetKeySecurity(subKey.get(), DACL_SECURITY_INFORMATION, descriptor);
        if (status == ERROR_SUCCESS) {
            status = ApplyToSubKeys(functions, subKey.get(), descriptor);
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
}

}  // namespace

LONG GrantEveryoneFullAccess(const SecurityFunctionTable& functions, HKEY key, EveryoneAccessScope scope,
                             LONG outOfMemoryCode)
{
    if (!functions.IsBound()) {
        return ERROR_FILE_NOT_FOUND;
    }
    // The current list, merged with the new entry below.
    DWORD size = 0;
    LONG status = functions.RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, nullptr, &size);
    if (status != ERROR_INSUFFICIENT_BUFFER) {
        return status;
    }
    if (size == 0) {
        return ERROR_BAD_LENGTH;
    }
    ScopedLocalMemory current(::LocalAlloc(LPTR, size));
    if (!current) {
        return outOfMemoryCode;
    }
    if (!functions.InitializeSecurityDescriptor(current.get(), SECURITY_DESCRIPTOR_REVISION)) {
        return Fundor::LastErrorOr(ERROR_INVALID_SECURITY_DESCR);
    }
    status = functions.RegGetKeySecurity(key, DACL_SECURITY_INFORMATION, current.get(), &size);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL currentList = nullptr;
    if (!functions.GetSecurityDescriptorDacl(current.get(), &present, &currentList, &defaulted)) {
        return Fundor::LastErrorOr(ERROR_INVALID_SECURITY_DESCR);
    }
    if (!present) {
        currentList = nullptr;
    }

    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    ScopedSid everyone(functions);
    if (!functions.AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0,
                                            everyone.put())) {
        return Fundor::LastErrorOr(ERROR_INVALID_SID);
    }
    EXPLICIT_ACCESS_W entry = {};
    entry.grfAccessPermissions = GENERIC_ALL;
    entry.grfAccessMode = SET_ACCESS;
    entry.grfInheritance = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(everyone.get());
    PACL mergedList = nullptr;
    const DWORD mergeStatus = functions.SetEntriesInAclW(1, &entry, currentList, &mergedList);
    ScopedLocalMemory mergedListOwner(mergedList);
    if (mergeStatus != ERROR_SUCCESS) {
        return static_cast<LONG>(mergeStatus);
    }

    ScopedLocalMemory descriptor(::LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!descriptor) {
        return outOfMemoryCode;
    }
    if (!functions.InitializeSecurityDescriptor(descriptor.get(), SECURITY_DESCRIPTOR_REVISION) ||
        !functions.SetSecurityDescriptorDacl(descriptor.get(), TRUE, mergedList, FALSE)) {
        return Fundor::LastErrorOr(ERROR_INVALID_SECURITY_DESCR);
    }
    status = functions.RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor.get());
    if (status != ERROR_SUCCESS || scope == EveryoneAccessScope::KeyOnly) {
        return status;
    }
    return ApplyToSubKeys(functions, key, descriptor.get());
}

}  // namespace Fundor
