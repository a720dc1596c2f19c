// The installed-package reader against a redirected registry.

#include "core/testsupport/RegistryIsolation.h"
#include "urlhandler/KvPartnerCustomizationCommon.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using Fundor::testing::RegistryIsolatedTest;
using testing::ElementsAre;
using testing::IsEmpty;
using Items = std::vector<std::wstring>;

constexpr wchar_t kPackages[] = L"SOFTWARE\\Tervane\\QRN\\Packages";

void SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value, DWORD type = REG_SZ)
{
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, type, value.c_str(),
                                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))));
}

std::wstring Package(const wchar_t* id)
{
    return std::wstring(kPackages) + L"\\" + id;
}

TEST(PackageLists, SplitByTheListRuleAndReadByTheStringRule)
{
    EXPECT_THAT(KvPackages::SplitList(L"a;;b"), ElementsAre(L"a", L"", L"b"));
    EXPECT_THAT(KvPackages::SplitList(L";a"), ElementsAre(L"", L"a"));
    EXPECT_THAT(KvPackages::SplitList(L"a;"), ElementsAre(L"a"));
    EXPECT_THAT(KvPackages::SplitList(L";"), ElementsAre(L""));
    EXPECT_THAT(KvPackages::SplitList(L"a;;"), ElementsAre(L"a", L""));
    EXPECT_THAT(KvPackages::SplitList(L""), IsEmpty());

    const wchar_t terminated[] = L"ab";
    const wchar_t unterminated[] = {L'a', L'b', L'c'};
    EXPECT_TRUE(KvPackages::IsWellFormedString(ERROR_SUCCESS, REG_SZ, terminated, 6, 8));
    EXPECT_TRUE(KvPackages::IsWellFormedString(ERROR_SUCCESS, REG_EXPAND_SZ, terminated, 0, 8));
    EXPECT_FALSE(KvPackages::IsWellFormedString(ERROR_SUCCESS, REG_SZ, unterminated, 6, 8));
    EXPECT_FALSE(KvPackages::IsWellFormedString(ERROR_SUCCESS, REG_SZ, terminated, 5, 8));
    EXPECT_FALSE(KvPackages::IsWellFormedString(ERROR_SUCCESS, REG_MULTI_SZ, terminated, 6, 8));
    EXPECT_FALSE(KvPackages::IsWellFormedString(ERROR_MORE_DATA, REG_SZ, terminated, 6, 8));

    // Only A-Z are lower-cased, whatever the locale.
    EXPECT_EQ(L"abc\u00C0\u0130z", KvPackages::AsciiLower(L"AbC\u00C0\u0130Z"));
}

class PackagesInfor : public RegistryIsolatedTest {};

TEST_F(PackagesInfor, ActivePackagesPreferTheUiValueAndFallBack)
{
    CKvPackagesInfor info;
    info.Init();  // no Packages key
    EXPECT_THAT(info.ActivePackages(), IsEmpty());
    EXPECT_THAT(info.PackageFeatures(), IsEmpty());

    struct Row {
        std::optional<std::wstring> ui;  // none: value missing
        DWORD uiType;
        const wchar_t* fallback;  // null: value missing
        Items expected;
    };
    const Row rows[] = {
        {L"12;;34", REG_SZ, L"9", {L"12", L"", L"34"}},
        {L"12;", REG_EXPAND_SZ, L"9", {L"12"}},
        {L";Pk", REG_SZ, L"9", {L"", L"Pk"}},
        {L";", REG_SZ, L"9", {L""}},
        {L"", REG_SZ, L"9;8", {L"9", L"8"}},
        {std::nullopt, REG_SZ, L"9", {L"9"}},
        {L"12", REG_MULTI_SZ, L"9", {L"9"}},
        {L"12", REG_BINARY, L"9", {L"9"}},
        {std::wstring(1024, L'x'), REG_SZ, L"9", {L"9"}},
        {std::wstring(1023, L'x'), REG_SZ, L"9", {std::wstring(1023, L'x')}},
        {std::nullopt, REG_SZ, L"", {}},
        {std::nullopt, REG_SZ, nullptr, {}},
        {std::wstring(L"a\0b", 3), REG_SZ, L"9", {L"a"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "row " << (&row - rows));
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPackages);
        SetValue(kPackages, L"unrelated", L"");
        if (row.ui) {
            SetValue(kPackages, L"activeuipackages", *row.ui, row.uiType);
        }
        if (row.fallback != nullptr) {
            SetValue(kPackages, L"activepackages", row.fallback);
        }
        info.Init();
        EXPECT_EQ(row.expected, info.ActivePackages());
    }
}

TEST_F(PackagesInfor, FeatureMapsFromThePackageSubkeys)
{
    SetValue(kPackages, L"activeuipackages", L"PkgA");
    SetValue(Package(L"PkgA"), L"features", L"F1;dru;;Abc;DRU");
    SetValue(Package(L"PkgA"), L"additionalfeatures", L"a=1;b=0;c=10;d;=1;e=");
    SetValue(Package(L"B"), L"features", L"qemp");  // "B" enumerates before the longer "PkgA"
    SetValue(Package(L"NoFeatures"), L"additionalfeatures", L"x=1");
    SetValue(Package(L"AppCode\\F1"), L"AppID", L"Xup");
    SetValue(Package(L"AppCode\\Abc"), L"AppID", L"");

    CKvPackagesInfor info;
    info.Init();
    EXPECT_THAT(info.ActivePackages(), ElementsAre(L"PkgA"));
    ASSERT_EQ(2u, info.PackageFeatures().size());
    EXPECT_THAT(info.PackageFeatures().at(L"PkgA"), ElementsAre(L"F1", L"dru", L"", L"Abc", L"DRU"));
    EXPECT_THAT(info.PackageFeatures().at(L"B"), ElementsAre(L"qemp"));
    ASSERT_EQ(1u, info.PackageAdditionalFeatures().size());
    EXPECT_THAT(info.PackageAdditionalFeatures().at(L"PkgA"), ElementsAre(L"a", L"c", L""));
    // F1 and dru share the app code "xup": the first one keeps the key.
    const std::map<std::wstring, std::wstring> expected = {
        {L"b:qem", L"qemp"}, {L"pkga:xup", L"F1"}, {L"pkga:", L""}, {L"pkga:abc", L"Abc"}};
    EXPECT_EQ(expected, info.FeatureByAppCode());

    // A long package identifier keeps its whole key.
    const std::wstring longId(250, L'L');
    SetValue(Package(longId.c_str()), L"features", L"wotap");
    info.Init();
    EXPECT_EQ(1u, info.FeatureByAppCode().count(std::wstring(250, L'l') + L":wota"));
    EXPECT_EQ(3u, info.PackageFeatures().size());
}

TEST_F(PackagesInfor, AppCodeOfAFeature)
{
    SetValue(Package(L"AppCode\\Named"), L"AppID", L"XUP");
    SetValue(Package(L"AppCode\\wotap"), L"AppID", L"Own");  // the value wins over the table
    SetValue(Package(L"AppCode\\Long"), L"AppID", std::wstring(520, L'z'));
    SetValue(Package(L"AppCode\\Typed"), L"AppID", L"abc", REG_MULTI_SZ);
    const std::pair<const wchar_t*, const wchar_t*> rows[] = {
        {L"Named", L"xup"}, {L"WotaP", L"own"}, {L"DrU", L"xup"},  {L"QEMP", L"qem"}, {L"dru", L"xup"},
        {L"Abc", L"abc"},   {L"Long", L"long"}, {L"Typed", L"typed"}, {L"\u00C9X", L"\u00C9x"},
    };
    for (const auto& [feature, appCode] : rows) {
        EXPECT_EQ(appCode, GetAppCodeForFeature(feature)) << testing::PrintToString(std::wstring(feature));
    }
}

}  // namespace
