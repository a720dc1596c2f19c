#include "pageobjects/objects/IKvUninstaller.h"
#include "pageobjects/objects/ISessionMgr2.h"
#include "pageobjects/objects/PageObjectTypeLibraries.h"
#include "pageobjects/objects/TypeLibDispatch.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

struct Function {
    std::wstring name;
    DISPID id;
    int slot;
    int parameters;
};

// The vtable half of a dual interface, as Invoke uses it.
ComPtr<ITypeInfo> InterfaceHalf(ITypeLib* library, REFIID iid)
{
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(S_OK, library->GetTypeInfoOfGuid(iid, &info));
    HREFTYPE half = 0;
    EXPECT_EQ(S_OK, info->GetRefTypeOfImplType(static_cast<UINT>(-1), &half));
    ComPtr<ITypeInfo> vtable;
    EXPECT_EQ(S_OK, info->GetRefTypeInfo(half, &vtable));
    return vtable;
}

// Functions of the interface and every interface it extends, base first, down to IDispatch.
std::vector<Function> FunctionsOf(ComPtr<ITypeInfo> info, GUID* root)
{
    std::vector<ComPtr<ITypeInfo>> chain;
    while (info) {
        TYPEATTR* attributes = nullptr;
        EXPECT_EQ(S_OK, info->GetTypeAttr(&attributes));
        const GUID guid = attributes->guid;
        const WORD baseCount = attributes->cImplTypes;
        info->ReleaseTypeAttr(attributes);
        if (guid == IID_IDispatch) {
            *root = guid;
            ComPtr<ITypeLib> library;
            UINT index = 0;
            EXPECT_EQ(S_OK, info->GetContainingTypeLib(&library, &index));
            TLIBATTR* libraryAttributes = nullptr;
            EXPECT_EQ(S_OK, library->GetLibAttr(&libraryAttributes));
            *root = libraryAttributes->guid;
            library->ReleaseTLibAttr(libraryAttributes);
            break;
        }
        chain.insert(chain.begin(), info);
        ComPtr<ITypeInfo> base;
        if (baseCount == 1) {
            HREFTYPE reference = 0;
            EXPECT_EQ(S_OK, info->GetRefTypeOfImplType(0, &reference));
            EXPECT_EQ(S_OK, info->GetRefTypeInfo(reference, &base));
        }
        info = base;
    }
    std::vector<Function> functions;
    for (const auto& level : chain) {
        TYPEATTR* attributes = nullptr;
        EXPECT_EQ(S_OK, level->GetTypeAttr(&attributes));
        const WORD count = attributes->cFuncs;
        level->ReleaseTypeAttr(attributes);
        for (UINT index = 0; index < count; ++index) {
            FUNCDESC* description = nullptr;
            EXPECT_EQ(S_OK, level->GetFuncDesc(index, &description));
            BSTR name = nullptr;
            UINT names = 0;
            EXPECT_EQ(S_OK, level->GetNames(description->memid, &name, 1, &names));
            functions.push_back({name, description->memid, description->oVft / 8, description->cParams});
            SysFreeString(name);
            level->ReleaseFuncDesc(description);
        }
    }
    return functions;
}

// stdole2's library id: IDispatch must come from the platform's library, not a copy of ours.
constexpr GUID kStdOleLibrary = {0x00020430, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

TEST(TypeLibraries, SessionManagerInterfaceKeepsItsSlotOrderNamesAndIds)
{
    ComPtr<ITypeLib> library;
    ASSERT_EQ(S_OK, LoadEmbeddedTypeLibrary(kSessionTypeLibraryResource, &library));
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attributes));
    EXPECT_EQ(LIBID_KvQrnCShimLib, attributes->guid);
    EXPECT_EQ(1, attributes->wMajorVerNum);
    EXPECT_EQ(0, attributes->wMinorVerNum);
    library->ReleaseTLibAttr(attributes);

    GUID root = GUID_NULL;
    const std::vector<Function> functions = FunctionsOf(InterfaceHalf(library.Get(), IID_ISessionMgr2), &root);
    EXPECT_EQ(kStdOleLibrary, root);
    const std::vector<std::wstring> expected = {
        L"SetNamedParameter", L"GetNamedParameter", L"RemoveNamedParameter", L"KvRegQueryValue", L"KvRegSetValue",
        L"CloseWindow", L"ResizeWindow", L"StartTimer", L"StopTimer", L"OpenLogWindow", L"OpenReportWindow",
        L"IsClickRefreshEnabled", L"LoadString", L"LoadStrings", L"GetAppList", L"GetProductManifest",
        L"OpenNewHost", L"OpenBrowser", L"ReservedMethod25", L"OpenFile", L"RestartComputer", L"IsAdminUser",
        L"GetLocaleInfo", L"ShutdownComputer", L"GetOSVersionCode", L"ReservedMethod32", L"HandleSysCommand",
        L"ReservedMethod34", L"OpenBrowserAsIs", L"Is24HourClock", L"GetFirstDayOfWeek", L"ReservedMethod38",
        L"ReservedMethod39", L"ReservedMethod40"};
    ASSERT_EQ(expected.size(), functions.size());
    for (std::size_t index = 0; index < expected.size(); ++index) {
        const int slot = static_cast<int>(index) + 7;
        EXPECT_EQ(expected[index], functions[index].name) << slot;
        EXPECT_EQ(slot, functions[index].slot) << functions[index].name;
        EXPECT_EQ(slot, functions[index].id) << functions[index].name;
    }
    // Parameter counts include the [out, retval] result.
    EXPECT_EQ(3, functions[0].parameters);   // SetNamedParameter
    EXPECT_EQ(5, functions[4].parameters);   // KvRegSetValue
    EXPECT_EQ(5, functions[6].parameters);   // ResizeWindow: four values and the result
    EXPECT_EQ(0, functions[18].parameters);  // ReservedMethod25
    EXPECT_EQ(3, functions[26].parameters);  // HandleSysCommand
}

TEST(TypeLibraries, UninstallerInterfacesExtendEachOtherOverSlots7To42)
{
    ComPtr<ITypeLib> library;
    ASSERT_EQ(S_OK, LoadEmbeddedTypeLibrary(kUninstallerTypeLibraryResource, &library));
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(S_OK, library->GetLibAttr(&attributes));
    EXPECT_EQ(LIBID_KvUnInstShimLib, attributes->guid);
    library->ReleaseTLibAttr(attributes);

    // Every interface of the chain is in the library under its own IID.
    for (const IID* iid : {&IID_IKvUninstaller, &IID_IKvUninstaller2, &IID_IKvUninstaller3, &IID_IKvUninstaller4}) {
        ComPtr<ITypeInfo> info;
        EXPECT_EQ(S_OK, library->GetTypeInfoOfGuid(*iid, &info));
    }
    GUID root = GUID_NULL;
    const std::vector<Function> functions = FunctionsOf(InterfaceHalf(library.Get(), IID_IKvUninstaller5), &root);
    EXPECT_EQ(kStdOleLibrary, root);
    ASSERT_EQ(36u, functions.size());
    for (std::size_t index = 0; index < functions.size(); ++index) {
        const int slot = static_cast<int>(index) + 7;
        EXPECT_EQ(slot, functions[index].slot) << functions[index].name;
        EXPECT_EQ(slot, functions[index].id) << functions[index].name;
    }
    EXPECT_EQ(L"GetSimulateString", functions[10 - 7].name);
    EXPECT_EQ(3, functions[10 - 7].parameters);
    EXPECT_EQ(L"GetSurveyData", functions[18 - 7].name);
    EXPECT_EQ(L"GetLaunchData", functions[40 - 7].name);
    EXPECT_EQ(L"Method09", functions[9 - 7].name);
    EXPECT_EQ(L"Method42", functions[42 - 7].name);
}

TEST(TypeLibraries, DispatchHelperRefusesUseBeforeLoadingAndUnknownInterfaces)
{
    CKvTypeLibDispatch dispatch;
    UINT count = 7;
    EXPECT_EQ(S_OK, dispatch.GetTypeInfoCount(&count));
    EXPECT_EQ(0u, count);
    DISPPARAMS none = {};
    EXPECT_EQ(E_UNEXPECTED, dispatch.Invoke(nullptr, 7, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    const IID missing = {0x1d1b2c3e, 0x4f50, 0x4a61, {0x82, 0x73, 0x94, 0xa5, 0xb6, 0xc7, 0xd8, 0xe9}};
    EXPECT_EQ(TYPE_E_ELEMENTNOTFOUND, dispatch.Initialize(kSessionTypeLibraryResource, missing));
    EXPECT_TRUE(FAILED(dispatch.Initialize(99, IID_ISessionMgr2)));
    EXPECT_EQ(S_OK, dispatch.GetTypeInfoCount(&count));
    EXPECT_EQ(0u, count);
}

}  // namespace
