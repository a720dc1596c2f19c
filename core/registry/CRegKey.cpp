#include "core/registry/CRegKey.h"

#include <utility>

namespace Fundor {

CRegKey::CRegKey() : m_impl(std::make_shared<internal::CRegKeyImpl>()) {}

CRegKey::CRegKey(std::shared_ptr<internal::CRegKeyImpl> impl)
    : m_impl(impl ? std::move(impl) : std::make_shared<internal::CRegKeyImpl>())
{
}

CRegKey::~CRegKey()
{
    m_impl->Close();
}

LONG CRegKey::QueryValue(const wchar_t* name, DWORD* type, void* data, DWORD* size)
{
    return m_impl->QueryValue(name, type, data, size);
}

LONG CRegKey::SetValue(const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    return m_impl->SetValue(name, type, data, size);
}

LONG CRegKey::SetGUIDValue(const wchar_t* name, REFGUID value)
{
    return m_impl->SetGUIDValue(name, value);
}

LONG CRegKey::SetBinaryValue(const wchar_t* name, const void* data, DWORD size)
{
    return m_impl->SetBinaryValue(name, data, size);
}

LONG CRegKey::SetDWORDValue(const wchar_t* name, DWORD value)
{
    return m_impl->SetDWORDValue(name, value);
}

LONG CRegKey::SetQWORDValue(const wchar_t* name, ULONGLONG value)
{
    return m_impl->SetQWORDValue(name, value);
}

LONG CRegKey::SetStringValue(const wchar_t* name, const wchar_t* text, DWORD type)
{
    return m_impl->SetStringValue(name, text, type);
}

LONG CRegKey::SetMultiStringValue(const wchar_t* name, const wchar_t* text)
{
    return m_impl->SetMultiStringValue(name, text);
}

LONG CRegKey::QueryGUIDValue(const wchar_t* name, GUID& value)
{
    return m_impl->QueryGUIDValue(name, value);
}

LONG CRegKey::QueryBinaryValue(const wchar_t* name, void* data, DWORD* size)
{
    return m_impl->QueryBinaryValue(name, data, size);
}

LONG CRegKey::QueryDWORDValue(const wchar_t* name, DWORD& value)
{
    return m_impl->QueryDWORDValue(name, value);
}

LONG CRegKey::QueryQWORDValue(const wchar_t* name, ULONGLONG& value)
{
    return m_impl->QueryQWORDValue(name, value);
}

LONG CRegKey::QueryStringValue(const wchar_t* name, std::wstring& value)
{
    return m_impl->QueryStringValue(name, value);
}

LONG CRegKey::QueryStringValue(const wchar_t* name, wchar_t* buffer, DWORD* characters)
{
    return m_impl->QueryStringValue(name, buffer, characters);
}

LONG CRegKey::QueryMultiStringValue(const wchar_t* name, wchar_t* buffer, DWORD* characters)
{
    return m_impl->QueryMultiStringValue(name, buffer, characters);
}

LONG CRegKey::GetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor, DWORD* size)
{
    return m_impl->GetKeySecurity(information, descriptor, size);
}

LONG CRegKey::SetKeySecurity(SECURITY_INFORMATION information, PSECURITY_DESCRIPTOR descriptor)
{
    return m_impl->SetKeySecurity(information, descriptor);
}

LONG CRegKey::Create(HKEY parent, const wchar_t* subKey, wchar_t* keyClass, DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES security, DWORD* disposition)
{
    return m_impl->Create(parent, subKey, keyClass, options, access, security, disposition);
}

LONG CRegKey::Open(HKEY parent, const wchar_t* subKey, REGSAM access)
{
    return m_impl->Open(parent, subKey, access);
}

LONG CRegKey::Flush()
{
    return m_impl->Flush();
}

LONG CRegKey::EnumKey(DWORD index, wchar_t* name, DWORD* nameCharacters, FILETIME* lastWrite)
{
    return m_impl->EnumKey(index, name, nameCharacters, lastWrite);
}

LONG CRegKey::NotifyChangeKeyValue(BOOL watchSubtree, DWORD filter, HANDLE event, BOOL asynchronous)
{
    return m_impl->NotifyChangeKeyValue(watchSubtree, filter, event, asynchronous);
}

LONG CRegKey::DeleteSubKey(const wchar_t* name)
{
    return m_impl->DeleteSubKey(name);
}

LONG CRegKey::RecurseDeleteKey(const wchar_t* name)
{
    return m_impl->RecurseDeleteKey(name);
}

LONG CRegKey::DeleteValue(const wchar_t* name)
{
    return m_impl->DeleteValue(name);
}

LONG CRegKey::SetKeyPermissions(bool recurse)
{
    return m_impl->SetKeyPermissions(recurse);
}

void CRegKey::Attach(HKEY key)
{
    m_impl->Attach(key);
}

LONG CRegKey::Close()
{
    return m_impl->Close();
}

HKEY CRegKey::Detach()
{
    return m_impl->Detach();
}

HKEY CRegKey::Handle() const
{
    return m_impl->Handle();
}

}  // namespace Fundor
