#pragma once
// Shared by the page-object tests: the COM apartment, the surrogate stand-in's log, class objects
// of the stand-in registered in the test process, and the validation service trusting files.

#include "access/tests/TrustTestSupport.h"
#include "core/testsupport/ChildProcess.h"
#include "core/testsupport/ProgramFolder.h"
#include "core/testsupport/RegistryIsolation.h"
#include "core/testsupport/RunnerLocks.h"
#include "standins/surrogate/SurrogateStandIn.h"

#include <gtest/gtest.h>
#include <oaidl.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace PageObjectTesting {

class ComApartment {
public:
    ComApartment() { EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    ~ComApartment() { CoUninitialize(); }
};

// The stand-in records into a fresh file of this test (the variable is inherited by a local
// server that this process starts).
class StandInLog {
public:
    StandInLog() : m_path(m_folder.File(L"surrogate.log"))
    {
        EXPECT_TRUE(SetEnvironmentVariableW(L"ORDWELL_SURROGATE_LOG", m_path.c_str()));
    }
    ~StandInLog() { SetEnvironmentVariableW(L"ORDWELL_SURROGATE_LOG", nullptr); }
    // Lines without their leading process id, each prefixed "self " when this process wrote it
    // and "other " otherwise.
    [[nodiscard]] std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        std::ifstream file{std::filesystem::path(m_path)};
        const std::string self = std::to_string(GetCurrentProcessId());
        for (std::string line; std::getline(file, line);) {
            const std::size_t blank = line.find(' ');
            lines.push_back((line.substr(0, blank) == self ? "self " : "other ") + line.substr(blank + 1));
        }
        return lines;
    }
    [[nodiscard]] int Count(const std::string& line) const
    {
        int count = 0;
        for (const std::string& entry : Lines()) count += entry == line ? 1 : 0;
        return count;
    }

private:
    Fundor::testing::ScratchFolder m_folder;
    std::wstring m_path;
};

// A stand-in class object registered in this process for the test's lifetime.
class RegisteredClass {
public:
    RegisteredClass(REFCLSID clsid, DWORD context)
    {
        // A class object offered to other processes is seen by every test that runs meanwhile:
        // those tests hold the same lock as the ones that register the surrogate program itself.
        if ((context & CLSCTX_LOCAL_SERVER) != 0) {
            EXPECT_TRUE(Fundor::testing::HoldsRunnerLock(L"halvorn_registry"));
        }
        IUnknown* classObject = nullptr;
        EXPECT_EQ(S_OK, CreateStandInClassObject(clsid, &classObject));
        EXPECT_EQ(S_OK, CoRegisterClassObject(clsid, classObject, context, REGCLS_MULTIPLEUSE, &m_cookie));
        classObject->Release();
    }
    ~RegisteredClass()
    {
        CoRevokeClassObject(m_cookie);
    }
    RegisteredClass(const RegisteredClass&) = delete;
    RegisteredClass& operator=(const RegisteredClass&) = delete;

private:
    DWORD m_cookie = 0;
};

inline std::string GuidText(REFGUID guid)
{
    wchar_t text[64] = {};
    StringFromGUID2(guid, text, 64);
    return std::string(text, text + wcslen(text));
}

inline std::wstring ProcessTag(DWORD process) { return std::to_wstring(process); }

// The text of a BSTR VARIANT, or "<vt N>" for anything else.
inline std::wstring Text(const VARIANT& value)
{
    if (value.vt != VT_BSTR) return L"<vt " + std::to_wstring(value.vt) + L">";
    return value.bstrVal != nullptr ? value.bstrVal : L"";
}

// The "Name" property of a stand-in provider handed out as VT_DISPATCH.
inline std::wstring ProviderName(const VARIANT& value)
{
    if (value.vt != VT_DISPATCH || value.pdispVal == nullptr) return L"<vt " + std::to_wstring(value.vt) + L">";
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"Name");
    if (FAILED(value.pdispVal->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id))) return L"<no Name>";
    DISPPARAMS none = {};
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = value.pdispVal->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result,
                                              nullptr, nullptr);
    const std::wstring text = SUCCEEDED(hr) ? Text(result) : L"<failed>";
    VariantClear(&result);
    return text;
}

// The validation service (the signed stand-in in bin\halvorn) vouching for the given files,
// through HKLM "Software\Tervane\Halvorn" while this test holds the key's turn.
class TrustedFiles {
public:
    explicit TrustedFiles(const std::vector<std::wstring>& paths)
    {
        EXPECT_TRUE(m_turn.owned());
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Tervane\\Halvorn", 0, nullptr, 0,
                                                 KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &m_key, nullptr));
        SetText(L"szInstallDir64", TrustTesting::ProgramFolder() + L"\\halvorn");
        SetText(L"halvorn_version", L"15.9");
        Trust(paths);
    }
    ~TrustedFiles()
    {
        if (m_key != nullptr) RegCloseKey(m_key);
    }
    void Trust(const std::vector<std::wstring>& paths)
    {
        std::wstring list;
        for (const std::wstring& path : paths) list += path + L'\0';
        list += L'\0';
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(m_key, L"trusted_paths", 0, REG_MULTI_SZ,
                                                reinterpret_cast<const BYTE*>(list.data()),
                                                static_cast<DWORD>(list.size() * sizeof(wchar_t))));
    }

private:
    void SetText(const wchar_t* name, const std::wstring& value)
    {
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(m_key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
    }
    TrustTesting::HalvornKeyTurn m_turn;
    HKEY m_key = nullptr;
};

using Fundor::testing::ThisProgramPath;

// Runs the surrogate stand-in program with one switch; its exit code, or nullopt when it did not
// start or end.
inline std::optional<DWORD> RunStandIn(const wchar_t* option)
{
    return Fundor::testing::RunProgram(TrustTesting::ProgramFolder() + L"\\surrogate\\KvSurrogate.exe", option,
                                       30000);
}

}  // namespace PageObjectTesting
