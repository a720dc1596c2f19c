#include "core/testsupport/RegistryIsolation.h"
#include "pageobjects/services/CAppInfoReg.h"
#include "pageobjects/services/CKvRegStorage.h"
#include "pageobjects/tests/services/ServicesTestSupport.h"

#include <objbase.h>
#include <objidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace {

using Fundor::testing::RegistryIsolatedTest;
using namespace ServicesTesting;

constexpr const wchar_t* kApplicationInfo = L"SOFTWARE\\Tervane\\QRN\\Settings\\ApplicationInfo";

// Sees every block the task allocator frees while it is registered.
class FreeSpy : public IMallocSpy {
public:
    std::set<void*> freed;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IMallocSpy) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T size) override { return size; }
    void* STDMETHODCALLTYPE PostAlloc(void* block) override { return block; }
    void* STDMETHODCALLTYPE PreFree(void* block, BOOL) override
    {
        freed.insert(block);
        return block;
    }
    void STDMETHODCALLTYPE PostFree(BOOL) override {}
    SIZE_T STDMETHODCALLTYPE PreRealloc(void* block, SIZE_T size, void** newBlock, BOOL) override
    {
        *newBlock = block;
        return size;
    }
    void* STDMETHODCALLTYPE PostRealloc(void* block, BOOL) override { return block; }
    void* STDMETHODCALLTYPE PreGetSize(void* block, BOOL) override { return block; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T size, BOOL) override { return size; }
    void* STDMETHODCALLTYPE PreDidAlloc(void* block, BOOL) override { return block; }
    int STDMETHODCALLTYPE PostDidAlloc(void*, BOOL, int actual) override { return actual; }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

TEST(AppIdOrder, KnownIdsComeByRankWithTheirSpellingAndUnknownOnesKeepTheirOrder)
{
    // This input order cannot come from a registry (keys enumerate alphabetically): the
    // comparator is tested on its own here.
    std::vector<std::wstring> ids = {L"guf", L"Other", L"QRN", L"Alpha", L"zeb"};
    std::stable_sort(ids.begin(), ids.end(),
                     [](const std::wstring& a, const std::wstring& b) { return CompareAppIds(a.c_str(), b.c_str()); });
    EXPECT_EQ((std::vector<std::wstring>{L"QRN", L"zeb", L"guf", L"Other", L"Alpha"}), ids);
    std::vector<std::wstring> known = {L"gUf", L"DAQ", L"jiv", L"Xup", L"wota", L"QEM", L"zeb", L"qrn"};
    std::stable_sort(known.begin(), known.end(),
                     [](const std::wstring& a, const std::wstring& b) { return CompareAppIds(a.c_str(), b.c_str()); });
    EXPECT_EQ((std::vector<std::wstring>{L"qrn", L"zeb", L"QEM", L"wota", L"Xup", L"jiv", L"DAQ", L"gUf"}), known);
    EXPECT_FALSE(CompareAppIds(nullptr, L"Other"));
    EXPECT_TRUE(CompareAppIds(L"GUF", nullptr));
}

class AppList : public RegistryIsolatedTest {};

TEST_F(AppList, ComesFromTheRegistryInProductOrderAndFreesBothLevels)
{
    for (const wchar_t* id : {L"guf", L"Other", L"QRN", L"Alpha", L"zeb", L"Jiv"})
        CreateKey(std::wstring(kApplicationInfo) + L"\\" + id);
    CAppInfoReg reader;
    DWORD count = 99;
    WCHAR** list = nullptr;
    ASSERT_EQ(0u, reader.QueryAppList(&count, &list));
    ASSERT_EQ(6u, count);
    ASSERT_NE(nullptr, list);
    std::vector<std::wstring> ids(list, list + count);
    // The registry enumerates Alpha, guf, Jiv, Other, QRN, zeb.
    EXPECT_EQ((std::vector<std::wstring>{L"QRN", L"zeb", L"Jiv", L"guf", L"Alpha", L"Other"}), ids);

    FreeSpy spy;
    ASSERT_EQ(S_OK, CoRegisterMallocSpy(&spy));
    std::vector<void*> blocks(list, list + count);
    blocks.push_back(list);
    FreeAppList(count, list);
    EXPECT_EQ(S_OK, CoRevokeMallocSpy());
    for (void* block : blocks) EXPECT_EQ(1u, spy.freed.count(block));
}

TEST_F(AppList, AMissingKeyIsAnEmptyListAndNullOutputsAreRefused)
{
    CAppInfoReg reader;
    DWORD count = 99;
    WCHAR** list = reinterpret_cast<WCHAR**>(&count);
    EXPECT_EQ(0u, reader.QueryAppList(&count, &list));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(nullptr, list);
    EXPECT_EQ(87u, reader.QueryAppList(nullptr, &list));
    EXPECT_EQ(87u, reader.QueryAppList(&count, nullptr));
    FreeAppList(0, nullptr);
}

class RegStorage : public RegistryIsolatedTest {};

TEST_F(RegStorage, ListsEveryNameWhenALongerNameFollowsAShorterOne)
{
    const std::wstring path = L"SOFTWARE\\Storage";
    for (const wchar_t* name : {L"a", L"bbbbbbbbbbbb", L"cc"}) {
        CreateKey(path + L"\\" + name);
        SetString(path, name, L"x");
    }
    CKvRegStorage storage;
    storage.SetRoot(L"HKEY_LOCAL_MACHINE");
    std::vector<std::wstring> names = {L"stale"};
    ASSERT_EQ(0, storage.EnumSubKeys(path.c_str(), names));
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"bbbbbbbbbbbb", L"cc"}), names);
    ASSERT_EQ(0, storage.EnumValues(path.c_str(), names));
    EXPECT_EQ((std::vector<std::wstring>{L"a", L"bbbbbbbbbbbb", L"cc"}), names);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, storage.EnumSubKeys(L"SOFTWARE\\Absent", names));
    EXPECT_TRUE(names.empty());
}

TEST_F(RegStorage, KeysValuesAndRootsBehaveAsTheirCallersExpect)
{
    CKvRegStorage storage;
    std::unique_ptr<CKvSarnBaseStorage> child;
    EXPECT_EQ(ERROR_BADKEY, storage.CreateKey(L"SOFTWARE\\Made", &child));
    EXPECT_EQ(nullptr, child);
    storage.SetRoot(L"hkey_current_user");
    EXPECT_EQ(HKEY_CURRENT_USER, storage.Key());
    storage.SetRoot(L"HKEY_USERS");
    EXPECT_EQ(HKEY_LOCAL_MACHINE, storage.Key());
    EXPECT_EQ(87, storage.OpenKey(L"", &child));
    EXPECT_EQ(87, storage.OpenKey(L"SOFTWARE", nullptr));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, storage.OpenKey(L"SOFTWARE\\Made", &child));

    ASSERT_EQ(0, storage.CreateKey(L"SOFTWARE\\Made", &child));
    ASSERT_NE(nullptr, child);
    const wchar_t text[] = L"secret";
    EXPECT_EQ(87, child->WriteValue(nullptr, L"v", REG_SZ, text, 0, 1));
    ASSERT_EQ(0, child->WriteValue(L"Inner", L"v", REG_SZ, text, sizeof(text), 1));
    wchar_t back[16] = {};
    DWORD size = sizeof(back);
    DWORD type = 0;
    ASSERT_EQ(0, child->ReadValue(L"Inner", L"v", &type, back, &size, 1));
    EXPECT_STREQ(L"secret", back);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    // Enciphered: the stored value is a record, not the text.
    DWORD storedType = 0;
    ASSERT_EQ(0, RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Made\\Inner", L"v", RRF_RT_ANY, &storedType, nullptr,
                              nullptr));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), storedType);
    DWORD subKeys = 0, values = 9;
    ASSERT_EQ(0, child->QueryKeyInfo(nullptr, &subKeys, nullptr, &values, nullptr, nullptr));
    EXPECT_EQ(1u, subKeys);
    EXPECT_EQ(0u, values);
    EXPECT_EQ(0, child->DeleteValue(L"Inner", L"v"));
    EXPECT_EQ(0, child->DeleteKey(L"Inner"));
    EXPECT_EQ(0, child->CloseKey());
    EXPECT_EQ(0, child->CloseKey());
    EXPECT_EQ(ERROR_BADKEY, child->ReadValue(nullptr, L"v", nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(87, child->ReadValue(nullptr, L"v", nullptr, back, nullptr, 0));
}

}  // namespace
