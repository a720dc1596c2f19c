#include "access/CheckedCreation.h"
#include "access/ModuleTrust.h"
#include "access/NroValidationClient.h"
#include "access/tests/TrustTestSupport.h"
#include "core/testsupport/RegistryIsolation.h"

#include <gtest/gtest.h>

#include <string>

using namespace TrustTesting;
using Fundor::testing::ScratchFolder;

namespace {

// The signed stand-in service lives in bin\halvorn beside the test program.
std::wstring SignedServiceFolder() { return ProgramFolder() + L"\\halvorn"; }

// The service is found through HKLM "Software\Tervane\Halvorn" (32-bit view). These tests use
// the prefix's real key instead of the registry-isolation fixture: Wine's crypto reads its trust
// providers, Authenticode decoders and CSPs from HKLM, so with HKLM redirected WinVerifyTrust
// fails, or (with no providers found) even answers 0. HalvornKeyTurn lets the test programs
// running in parallel take turns, each from a fresh key that is removed afterwards.
class ValidationService : public ::testing::Test {
protected:
    static constexpr const wchar_t* kKey = L"Software\\Tervane\\Halvorn";

    void SetUp() override { ASSERT_TRUE(m_turn.owned()); }
    void TearDown() override
    {
        if (m_key != nullptr) RegCloseKey(m_key);
        m_key = nullptr;
    }
    HKEY Key()
    {
        if (m_key == nullptr) {
            EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0,
                                                     KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &m_key, nullptr));
        }
        return m_key;
    }
    void SetText(const wchar_t* name, const std::wstring& value)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(Key(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
    }
    void SetDword(const wchar_t* name, DWORD value)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(Key(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)));
    }
    void Trust(const std::wstring& path)
    {
        std::wstring list = path + L'\0' + L'\0';
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(Key(), L"trusted_paths", 0, REG_MULTI_SZ,
                                                reinterpret_cast<const BYTE*>(list.data()),
                                                static_cast<DWORD>(list.size() * sizeof(wchar_t))));
    }
    void Install(const wchar_t* version, const std::wstring& folder = SignedServiceFolder())
    {
        SetText(L"szInstallDir64", folder);
        if (version != nullptr) SetText(L"halvorn_version", version);
    }
    DWORD RecordedFlags()
    {
        DWORD value = 0xFFFFFFFF;
        DWORD size = sizeof(value);
        EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(Key(), nullptr, L"last_query_flags", RRF_RT_REG_DWORD, nullptr, &value, &size));
        return value;
    }
    std::wstring RecordedText(const wchar_t* name)
    {
        wchar_t value[512] = {};
        DWORD size = sizeof(value);
        if (RegGetValueW(Key(), nullptr, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS) return {};
        return value;
    }

    HalvornKeyTurn m_turn;
    HKEY m_key = nullptr;
};

TEST(NroValidationVersion, MajorAndMinorCompareAsAPair)
{
    EXPECT_EQ(1509u, NroValidationClient::VersionFromText(L"15.9"));
    EXPECT_EQ(1504u, NroValidationClient::VersionFromText(L"15.4"));
    EXPECT_EQ(1505u, NroValidationClient::VersionFromText(L"15.5.3"));
    EXPECT_EQ(1600u, NroValidationClient::VersionFromText(L"16.0"));
    EXPECT_EQ(1603u, NroValidationClient::VersionFromText(L"16.3"));
    EXPECT_EQ(1600u, NroValidationClient::VersionFromText(L"16"));
    for (const wchar_t* old : {L"15.3", L"14.9", L"15", L"", L"abc", L".9", L"15.100", L"99999999999.1"}) {
        EXPECT_EQ(1504u, NroValidationClient::VersionFromText(old)) << old;
    }
    EXPECT_EQ(1504u, NroValidationClient::VersionFromText(nullptr));
}

TEST_F(ValidationService, NoHalvornKeyMeansNoServiceAndNothingLoaded)
{
    NroValidationClient client;
    EXPECT_EQ(0u, client.ServiceVersion());
    EXPECT_FALSE(client.HasInterface());
    EXPECT_EQ(5u, client.IsTrusted(SignedFile(L"good.dll").c_str()));
    EXPECT_EQ(nullptr, GetModuleHandleW(L"qdxnroa.dll"));
}

TEST_F(ValidationService, NewerServiceIsQueriedWithFlags200AndItsAnswerDecides)
{
    Install(L"15.9");
    const std::wstring listed = SignedFile(L"unsigned.dll");
    Trust(listed);
    NroValidationClient client;
    EXPECT_EQ(1509u, client.ServiceVersion());
    ASSERT_TRUE(client.HasInterface());
    EXPECT_EQ(L"NroValidationControl2", RecordedText(L"last_interface"));
    EXPECT_EQ(0u, client.IsTrusted(listed.c_str()));
    EXPECT_EQ(0x200u, RecordedFlags());
    EXPECT_EQ(listed, RecordedText(L"last_query_path"));
    EXPECT_EQ(5u, client.IsTrusted(SignedFile(L"good.dll").c_str()));

    // The answer is read by the version's own bit, and only when marked valid.
    SetDword(L"forced_status", 0x2);
    SetDword(L"forced_verdict", 0x1);
    EXPECT_EQ(5u, client.IsTrusted(listed.c_str()));
    SetDword(L"forced_verdict", 0x8);
    EXPECT_EQ(0u, client.IsTrusted(listed.c_str()));
    SetDword(L"forced_status", 0xFFFFFFFD);
    SetDword(L"forced_verdict", 0xFFFFFFFF);
    EXPECT_EQ(5u, client.IsTrusted(listed.c_str()));
}

TEST_F(ValidationService, OlderServiceIsQueriedWithFlags4)
{
    Install(L"15.3");
    const std::wstring listed = SignedFile(L"unsigned.dll");
    Trust(listed);
    NroValidationClient client;
    EXPECT_EQ(1504u, client.ServiceVersion());
    EXPECT_EQ(0u, client.IsTrusted(listed.c_str()));
    EXPECT_EQ(4u, RecordedFlags());
    SetDword(L"forced_status", 0x2);
    SetDword(L"forced_verdict", 0x8);
    EXPECT_EQ(5u, client.IsTrusted(listed.c_str()));
}

TEST_F(ValidationService, VersionSixteenCountsAsNewer)
{
    Install(L"16.0");
    Trust(SignedFile(L"unsigned.dll"));
    NroValidationClient client;
    EXPECT_EQ(1600u, client.ServiceVersion());
    EXPECT_EQ(0u, client.IsTrusted(SignedFile(L"unsigned.dll").c_str()));
    EXPECT_EQ(0x200u, RecordedFlags());
}

TEST_F(ValidationService, MissingVersionValueLeaves1504)
{
    Install(nullptr);
    NroValidationClient client;
    EXPECT_EQ(1504u, client.ServiceVersion());
    EXPECT_TRUE(client.HasInterface());
}

TEST_F(ValidationService, TheServiceDllStaysLoadedWhileItsInterfaceIsHeld)
{
    Install(L"15.9");
    const std::wstring dll = SignedServiceFolder() + L"\\qdxnroa.dll";
    {
        NroValidationClient client;
        ASSERT_TRUE(client.HasInterface());
        EXPECT_NE(nullptr, GetModuleHandleW(dll.c_str()));
        EXPECT_EQ(5u, client.IsTrusted(SignedFile(L"good.dll").c_str()));
    }
    EXPECT_EQ(nullptr, GetModuleHandleW(dll.c_str()));
}

TEST_F(ValidationService, AnUnsignedServiceDllIsNeverLoaded)
{
    Install(L"15.9", SignedFile(L"halvorn-unsigned"));
    NroValidationClient client;
    EXPECT_FALSE(client.HasInterface());
    EXPECT_EQ(nullptr, GetModuleHandleW(L"qdxnroa.dll"));
    EXPECT_EQ(5u, client.IsTrusted(SignedFile(L"unsigned.dll").c_str()));
}

TEST_F(ValidationService, ADllInTheWorkingFolderNeverVouches)
{
    // The key names no install folder; the signed service sits in the current directory.
    SetText(L"halvorn_version", L"15.9");
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(SignedServiceFolder().c_str()));
    Trust(SignedFile(L"unsigned.dll"));
    NroValidationClient client;
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(1509u, client.ServiceVersion());
    EXPECT_FALSE(client.HasInterface());
    EXPECT_EQ(5u, client.IsTrusted(SignedFile(L"unsigned.dll").c_str()));
}

TEST_F(ValidationService, NotComDllGetInterfaceReportsWhatWentWrong)
{
    void* control = reinterpret_cast<void*>(1);
    HMODULE module = reinterpret_cast<HMODULE>(1);
    EXPECT_EQ(87u, NotComDllGetInterface(std::wstring(260, L'a').c_str(), "NroValidationControl", &control, &module));
    EXPECT_EQ(nullptr, module);
    const std::wstring unsignedDll = SignedFile(L"halvorn-unsigned\\qdxnroa.dll");
    EXPECT_EQ(static_cast<DWORD>(TRUST_E_NOSIGNATURE),
              NotComDllGetInterface(unsignedDll.c_str(), "NroValidationControl", &control, &module));
    EXPECT_EQ(nullptr, module);
    const std::wstring signedDll = SignedServiceFolder() + L"\\qdxnroa.dll";
    EXPECT_NE(0u, NotComDllGetInterface(signedDll.c_str(), "NoSuchControl", &control, &module));
    EXPECT_EQ(nullptr, control);
    EXPECT_EQ(nullptr, module);
    EXPECT_EQ(nullptr, GetModuleHandleW(signedDll.c_str()));
    ASSERT_EQ(0u, NotComDllGetInterface(signedDll.c_str(), "NroValidationControl", &control, &module));
    ASSERT_NE(nullptr, control);
    EXPECT_EQ(module, GetModuleHandleW(signedDll.c_str()));
    static_cast<IUnknown*>(control)->Release();
    FreeLibrary(module);
}

TEST_F(ValidationService, IsFileTrustedTakesTheServicesWordForAnUnsignedFile)
{
    Install(L"15.9");
    Trust(SignedFile(L"unsigned.dll"));
    ScratchFolder folder;
    TrustedPublisherList list(folder.File(L"trusted.js"), ListSignerPin(), Fundor::testing::UniqueName(L"TrustAtom"));
    NroValidationClient client;
    EXPECT_EQ(0u, IsFileTrusted(&client, SignedFile(L"unsigned.dll").c_str(), TestBuiltInList(), list));
    EXPECT_EQ(5u, IsFileTrusted(&client, SignedFile(L"tampered.dll").c_str(), TestBuiltInList(), list));
    EXPECT_EQ(0u, IsFileTrusted(&client, SignedFile(L"good.dll").c_str(), TestBuiltInList(), list));
}

// ---------------------------------------------------------------------------------------------

const CLSID kTestClass = {0x3d0c6a41, 0x2b7e, 0x4f19, {0x8a, 0x55, 0x61, 0x0e, 0x9c, 0x3b, 0x27, 0xd4}};

// A class object served by the (unsigned) test program itself.
class LocalClassObject final : public IKvClassObject {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IKvClassObject2 && iid != IID_IKvClassObject) return E_NOINTERFACE;
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(REFIID iid, void** out) override
    {
        ++created;
        return QueryInterface(iid, out);
    }
    int created = 0;
};

class ComApartment {
public:
    ComApartment() { EXPECT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    ~ComApartment() { CoUninitialize(); }
};

class Registration {
public:
    explicit Registration(IUnknown* object)
    {
        EXPECT_EQ(S_OK, CoRegisterClassObject(kTestClass, object, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_cookie));
    }
    ~Registration() { CoRevokeClassObject(m_cookie); }

private:
    DWORD m_cookie = 0;
};

TEST_F(ValidationService, CheckedCreationRefusesAClassObjectFromAnUntrustedModule)
{
    ComApartment com;
    LocalClassObject classObject;
    Registration registration(&classObject);
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_ACCESSDENIED, KvCreateInstance2(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object, 1));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(0, classObject.created);
    EXPECT_EQ(S_OK, KvCreateInstanceNoAuth(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object));
    EXPECT_EQ(&classObject, object);
    EXPECT_EQ(1, classObject.created);
    EXPECT_EQ(E_POINTER, KvCreateInstance2(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr, 1));
    EXPECT_EQ(E_POINTER, KvCreateInstanceNoAuth(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr));
    // Without the check the class is created by CoCreateInstance: this class is not registered
    // as a server, and an unknown class is reported as such.
    const CLSID unknown = {0x3d0c6a42, 0x2b7e, 0x4f19, {0x8a, 0x55, 0x61, 0x0e, 0x9c, 0x3b, 0x27, 0xd4}};
    EXPECT_EQ(REGDB_E_CLASSNOTREG, KvCreateInstance2(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object, 0));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, KvCreateInstance2(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object, 1));
}

// A class object that counts its references and answers only the older class-object interface.
class CountingClassObject final : public IKvClassObject {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (iid != IID_IUnknown && iid != IID_IKvClassObject) return E_NOINTERFACE;
        *out = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++count); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--count); }
    HRESULT STDMETHODCALLTYPE CreateInstance(REFIID iid, void** out) override { return QueryInterface(iid, out); }
    LONG count = 0;
};

TEST_F(ValidationService, CheckedCreationGivesBackEveryClassObjectReferenceItTakes)
{
    ComApartment com;
    CountingClassObject classObject;
    {
        Registration registration(&classObject);
        const LONG registered = classObject.count;
        void* object = nullptr;
        // Found through the older interface, then refused by the check.
        EXPECT_EQ(E_ACCESSDENIED,
                  KvCreateInstance2(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object, 1));
        EXPECT_EQ(registered, classObject.count);
        // Only the created object's reference stays, whether the class makes it or refuses it.
        ASSERT_EQ(S_OK, KvCreateInstanceNoAuth(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &object));
        EXPECT_EQ(registered + 1, classObject.count);
        static_cast<IUnknown*>(object)->Release();
        EXPECT_EQ(E_NOINTERFACE,
                  KvCreateInstanceNoAuth(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IClassFactory, &object));
        EXPECT_EQ(nullptr, object);
        EXPECT_EQ(registered, classObject.count);
    }
    EXPECT_EQ(0, classObject.count);
}

TEST_F(ValidationService, CheckedCreationAcceptsAClassObjectFromATrustedModule)
{
    // The process-wide validator is built on this first check, from the service named here.
    const std::wstring module = SignedFile(L"good.dll");
    Install(L"15.9");
    Trust(module);
    ComApartment com;
    HMODULE target = LoadLibraryExW(module.c_str(), nullptr, 0);
    ASSERT_NE(nullptr, target);
    auto classObjectOf = reinterpret_cast<IUnknown* (*)()>(reinterpret_cast<void*>(GetProcAddress(target, "TrustTargetClassObject")));
    auto createdCount = reinterpret_cast<LONG (*)()>(reinterpret_cast<void*>(GetProcAddress(target, "TrustTargetCreatedCount")));
    ASSERT_NE(nullptr, classObjectOf);
    ASSERT_NE(nullptr, createdCount);
    {
        Registration registration(classObjectOf());
        IUnknown* object = nullptr;
        ASSERT_EQ(S_OK, KvCreateInstance2(kTestClass, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                          reinterpret_cast<void**>(&object), 1))
            << "needs a process of its own (as CTest runs each test): the validator is built once";
        ASSERT_NE(nullptr, object);
        EXPECT_EQ(1, createdCount());
        object->Release();
        EXPECT_EQ(0u, ValidateModulePath(module.c_str()));
        EXPECT_EQ(0x200u, RecordedFlags());
    }
    FreeLibrary(target);
}

}  // namespace
