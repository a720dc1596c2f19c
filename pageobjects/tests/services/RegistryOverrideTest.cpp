#include "core/testsupport/RegistryIsolation.h"
#include "pageobjects/services/GetActivePackageId.h"
#include "pageobjects/services/KvPartnerCustomizationBase.h"
#include "pageobjects/services/KvRegistryOverride.h"
#include "pageobjects/tests/services/ServicesTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Fundor::testing::RegistryIsolatedTest;
using namespace ServicesTesting;

constexpr REGSAM kRead64 = KEY_READ | KEY_WOW64_64KEY;

std::wstring ReadLink(KvRegistryOverride& hives, const wchar_t* name, HRESULT* status = nullptr)
{
    wchar_t text[64] = {};
    DWORD size = sizeof(text) - sizeof(wchar_t);
    const HRESULT read = hives.ReadValue(name, nullptr, text, &size, 0);
    if (status != nullptr) *status = read;
    return SUCCEEDED(read) ? std::wstring(text) : L"<failed>";
}

TEST(RegistryPath, IsKeptInNormalFormAndJoinsByConcatenation)
{
    KvRegistryPath path(L"\\\\SOFTWARE\\\\\\Tervane\\QRN");
    EXPECT_EQ(L"SOFTWARE\\Tervane\\QRN\\", path.Text());
    path.Set(L"");
    EXPECT_EQ(L"SOFTWARE\\Tervane\\QRN\\", path.Text());
    EXPECT_EQ(L"SOFTWARE\\Tervane\\QRN\\ui\\", path.Append(L"ui").Text());
    EXPECT_EQ(L"A\\b\\", KvRegistryPath(L"A\\").Join(KvRegistryPath(L"b")).Text());
    EXPECT_EQ(L"", KvRegistryPath(L"").Text());
    EXPECT_EQ(L"", KvRegistryPath(L"\\\\").Text());
}

class RegistryOverride : public RegistryIsolatedTest {};

// Hive i has priority (i * 7) % 3 and answers "who" = i. Sorting must order by priority and keep
// the order added among equal priorities (the read then takes the hive added last), at the sizes
// where the standard library's plain sort switches algorithms.
TEST_F(RegistryOverride, EqualPrioritiesKeepTheirOrderAndTheHiveAddedLastWinsAt3And17And40Hives)
{
    for (const int count : {3, 17, 40}) {
        KvRegistryOverride hives;
        for (int i = 0; i < count; ++i) {
            const std::wstring path = L"Hives" + std::to_wstring(count) + L"\\H" + std::to_wstring(i);
            SetString(path + L"\\Links", L"who", std::to_wstring(i));
            ASSERT_EQ(S_OK, hives.AddHive(HKEY_LOCAL_MACHINE, path, static_cast<std::uint32_t>((i * 7) % 3), 1));
        }
        ASSERT_EQ(S_OK, hives.OpenKey(L"Links", kRead64));
        std::vector<int> order;
        for (const KvHiveRecord& record : hives.Hives()) {
            const std::wstring& text = record.Hive().Path().Ref();
            order.push_back(std::stoi(text.substr(text.find(L"\\H") + 2)));
        }
        std::vector<int> expected;
        for (std::uint32_t priority = 0; priority < 3; ++priority)
            for (int i = 0; i < count; ++i)
                if (static_cast<std::uint32_t>((i * 7) % 3) == priority) expected.push_back(i);
        EXPECT_EQ(expected, order) << count << " hives";
        EXPECT_EQ(std::to_wstring(expected.back()), ReadLink(hives, L"who")) << count << " hives";
    }
}

TEST_F(RegistryOverride, PrioritiesCompareUnsignedAndInactiveOrKeylessHivesArePassedOver)
{
    SetString(L"Base\\Links", L"v", L"base");
    SetString(L"Top\\Links", L"v", L"top");
    SetString(L"Off\\Links", L"v", L"off");
    SetString(L"Mid\\Links", L"other", L"mid");
    KvRegistryOverride hives;
    EXPECT_EQ(E_HANDLE, hives.ReadValue(L"v", nullptr, nullptr, nullptr, 0));
    ASSERT_EQ(S_OK, hives.AddHive(HKEY_LOCAL_MACHINE, L"Top", 0xFFFFFFFFu, 1));
    ASSERT_EQ(S_OK, hives.AddHive(HKEY_LOCAL_MACHINE, L"Base", 0, 1));
    ASSERT_EQ(S_OK, hives.AddHive(HKEY_LOCAL_MACHINE, L"Off", 0xFFFFFFFFu, 0));
    ASSERT_EQ(S_OK, hives.AddHive(HKEY_LOCAL_MACHINE, L"Mid", 5, 1));
    ASSERT_EQ(S_OK, hives.OpenKey(L"\\Links\\", kRead64));
    EXPECT_EQ(L"top", ReadLink(hives, L"v"));
    // Mid has the key but not the value: the next lower hive answers.
    EXPECT_EQ(L"mid", ReadLink(hives, L"other"));
    HRESULT status = S_OK;
    EXPECT_EQ(L"<failed>", ReadLink(hives, L"absent", &status));
    EXPECT_EQ(E_FAIL, status);

    EXPECT_EQ(E_FAIL, hives.OpenKey(L"Nowhere", kRead64));
    EXPECT_EQ(E_HANDLE, hives.ReadValue(L"v", nullptr, nullptr, nullptr, 0));
    ASSERT_EQ(S_OK, hives.OpenKey(L"Links", kRead64));
    hives.CloseKeys();
    EXPECT_EQ(E_HANDLE, hives.ReadValue(L"v", nullptr, nullptr, nullptr, 0));
}

// A value too long for the caller's buffer in a higher hive ends the read: no lower hive answers
// in its place, and no read is given more room than the caller's buffer.
TEST_F(RegistryOverride, AValueTooLargeInAHigherHiveEndsTheReadWithoutOverrunningTheBuffer)
{
    SetString(L"Low\\Links", L"v", L"lo");
    SetString(L"High\\Links", L"v", L"a much longer value");
    SetString(L"Low\\Links", L"w", L"low w");
    KvRegistryOverride hives;
    ASSERT_EQ(S_OK, hives.AddHive(HKEY_LOCAL_MACHINE, L"Low", 0, 1));
    ASSERT_EQ(S_OK, hives.AddHive(HKEY_LOCAL_MACHINE, L"High", 1, 1));
    ASSERT_EQ(S_OK, hives.OpenKey(L"Links", kRead64));

    struct {
        wchar_t text[4];
        wchar_t guard[16];
    } buffer = {};
    for (wchar_t& c : buffer.guard) c = L'#';
    DWORD size = sizeof(buffer.text);
    DWORD type = 0;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MORE_DATA), hives.ReadValue(L"v", &type, buffer.text, &size, 0));
    EXPECT_EQ((wcslen(L"a much longer value") + 1) * sizeof(wchar_t), size);
    for (const wchar_t c : buffer.guard) ASSERT_EQ(L'#', c);

    // The high hive lacks "w": the low hive's read gets the caller's own size again.
    wchar_t text[16] = {};
    size = 6 * sizeof(wchar_t);
    EXPECT_EQ(S_OK, hives.ReadValue(L"w", &type, text, &size, 0));
    EXPECT_STREQ(L"low w", text);
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(6 * sizeof(wchar_t), size);
}

class PartnerCustomization : public RegistryIsolatedTest {
protected:
    static constexpr const wchar_t* kSettings = L"SOFTWARE\\Tervane\\QRN\\Settings";
    static constexpr const wchar_t* kPlugins = L"Software\\Tervane\\QRN\\plugins\\";
    static constexpr const wchar_t* kOverrides = L"Software\\Tervane\\QRN\\overrides\\";

    static std::vector<std::pair<std::wstring, std::uint32_t>> Listed(KvPartnerCustomizationBase& base)
    {
        (void)base.Override().SortHives();
        std::vector<std::pair<std::wstring, std::uint32_t>> listed;
        for (const KvHiveRecord& record : base.Override().Hives())
            listed.emplace_back(record.Hive().Path().Text(), record.Priority());
        return listed;
    }
    static std::wstring Dll(KvPartnerCustomizationBase& base, const std::wstring& path)
    {
        const std::wstring* name = base.ResDlls().FindDll(KvHive(HKEY_LOCAL_MACHINE, path));
        return name != nullptr ? *name : L"<none>";
    }
};

TEST_F(PartnerCustomization, BuildsTheHivesFromBasePackagePluginsAndOverrides)
{
    SetString(L"SOFTWARE\\Tervane\\QRN\\Packages", L"activeuipackages", L"12");
    CreateKey(std::wstring(kSettings) + L"12");
    SetString(std::wstring(kSettings) + L"\\generalSettings", L"ResDll", L"base.dll");
    // Kept as stored data has it: "priority" is read whatever its type, so REG_SZ "5" is 0x35.
    SetString(std::wstring(kPlugins) + L"Text", L"priority", L"5");
    SetString(std::wstring(kPlugins) + L"Text\\Settings\\generalSettings", L"ResDll", L"text.dll");
    // A one-byte priority fills one byte of a zeroed number.
    const BYTE one = 2;
    SetRaw(HKEY_LOCAL_MACHINE, std::wstring(kPlugins) + L"Byte", L"priority", REG_BINARY, &one, 1);
    CreateKey(std::wstring(kPlugins) + L"NoPriority\\Settings");
    SetDword(std::wstring(kOverrides) + L"Partner", L"priority", 0);
    // A "ResDll" stored without its terminator comes back terminated.
    const wchar_t unterminated[] = {L'p', L'.', L'd', L'l', L'l'};
    SetDword(std::wstring(kOverrides) + L"Raw", L"priority", 3);
    SetRaw(HKEY_LOCAL_MACHINE, std::wstring(kOverrides) + L"Raw\\Settings\\generalSettings", L"ResDll", REG_BINARY,
           unterminated, sizeof(unterminated));

    KvPartnerCustomizationBase base;
    ASSERT_EQ(S_OK, base.Initialize(nullptr));
    const std::vector<std::pair<std::wstring, std::uint32_t>> expected = {
        {L"SOFTWARE\\Tervane\\QRN\\Settings\\", 0},
        {std::wstring(kOverrides) + L"Partner\\Settings\\", 0},
        {L"SOFTWARE\\Tervane\\QRN\\Settings12\\", 1},
        {std::wstring(kPlugins) + L"Byte\\Settings\\", 2},
        {std::wstring(kOverrides) + L"Raw\\Settings\\", 3},
        {std::wstring(kPlugins) + L"Text\\Settings\\", 0x35},
    };
    EXPECT_EQ(expected, Listed(base));
    EXPECT_EQ(L"base.dll", Dll(base, kSettings));
    EXPECT_EQ(L"text.dll", Dll(base, std::wstring(kPlugins) + L"Text\\Settings\\"));
    EXPECT_EQ(L"<none>", Dll(base, std::wstring(kPlugins) + L"Byte\\Settings\\"));
    EXPECT_EQ(L"base.dll", Dll(base, std::wstring(kOverrides) + L"Partner\\Settings\\"));
    EXPECT_EQ(L"p.dll", Dll(base, std::wstring(kOverrides) + L"Raw\\Settings\\"));

    // An override of priority 0 still beats the base hive: equal priority, added later.
    SetString(std::wstring(kSettings) + L"\\Links", L"support", L"base");
    SetString(std::wstring(kOverrides) + L"Partner\\Settings\\Links", L"support", L"partner");
    ASSERT_EQ(S_OK, base.Override().OpenKey(L"Links", kRead64));
    EXPECT_EQ(L"partner", ReadLink(base.Override(), L"support"));
}

TEST_F(PartnerCustomization, WithoutExtrasThereIsOneHiveAndOverridesGetAnEmptyDefaultDll)
{
    KvPartnerCustomizationBase base;
    ASSERT_EQ(S_OK, base.Initialize(nullptr));
    EXPECT_EQ((std::vector<std::pair<std::wstring, std::uint32_t>>{{L"SOFTWARE\\Tervane\\QRN\\Settings\\", 0}}),
              Listed(base));
    SetDword(std::wstring(kSettings) + L"\\ui", L"uiClickRefreshEnabled", 0);
    ASSERT_EQ(S_OK, base.Override().OpenKey(L"ui", kRead64));
    DWORD value = 7;
    DWORD size = sizeof(value);
    EXPECT_EQ(S_OK, base.Override().ReadValue(L"uiClickRefreshEnabled", nullptr, &value, &size, 0));
    EXPECT_EQ(0u, value);

    SetDword(std::wstring(kOverrides) + L"Bare", L"priority", 4);
    ASSERT_EQ(S_OK, base.Initialize(L"SOFTWARE\\Tervane\\QRN\\"));
    EXPECT_EQ(2u, base.Override().Hives().size());
    EXPECT_EQ(L"", Dll(base, L"SOFTWARE\\Tervane\\QRN\\overrides\\Bare\\Settings\\"));
}

TEST_F(PartnerCustomization, ActivePackageFallsBackFromAListToTheSecondValue)
{
    const std::wstring packages = L"SOFTWARE\\Tervane\\QRN\\Packages";
    EXPECT_EQ(0u, GetActivePackageId());
    SetString(packages, L"activeuipackages", L"12;13");
    SetString(packages, L"activepackages", L"21");
    EXPECT_EQ(21u, GetActivePackageId());
    SetString(packages, L"activepackages", L"21;22");
    EXPECT_EQ(0u, GetActivePackageId());
    SetDword(packages, L"activeuipackages", 9);
    SetString(packages, L"activepackages", L"34 packages");
    EXPECT_EQ(34u, GetActivePackageId());
}

}  // namespace
