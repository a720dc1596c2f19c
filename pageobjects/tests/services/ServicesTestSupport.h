#pragma once
// Registry writers shared by the page-service tests (HKLM in the 64-bit view unless a root is
// given).

#include "core/testsupport/Narrow.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace ServicesTesting {

inline void SetRaw(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                             nullptr, &key, nullptr))
        << "creating " << std::string(path.begin(), path.end());
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

inline void SetString(const std::wstring& path, const wchar_t* name, const std::wstring& text,
                      HKEY root = HKEY_LOCAL_MACHINE)
{
    SetRaw(root, path, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

inline void SetDword(const std::wstring& path, const wchar_t* name, DWORD value)
{
    SetRaw(HKEY_LOCAL_MACHINE, path, name, REG_DWORD, &value, sizeof(value));
}

inline void CreateKey(const std::wstring& path, HKEY root = HKEY_LOCAL_MACHINE)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_64KEY,
                                             nullptr, &key, nullptr));
    RegCloseKey(key);
}

inline std::wstring ReadString(const std::wstring& path, const wchar_t* name)
{
    wchar_t text[1024] = {};
    DWORD size = sizeof(text);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), name, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, text,
                     &size) != ERROR_SUCCESS)
        return L"<none>";
    return text;
}

using Fundor::testing::Narrow;

}  // namespace ServicesTesting
