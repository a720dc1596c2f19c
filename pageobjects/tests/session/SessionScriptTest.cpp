#include "pageobjects/tests/session/SessionTestSupport.h"

#include "core/testsupport/RegistryIsolation.h"

#include <cstring>

namespace {

using namespace SessionTesting;

class SessionFromScript : public Fundor::testing::RegistryIsolatedTest {
protected:
    void SetUp() override { ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
    void TearDown() override { CoUninitialize(); }
};

TEST_F(SessionFromScript, APageReachesTheMethodsByNameInAnyCase)
{
    Session session;
    ScriptPage page(session.dispatch.Get());
    ASSERT_EQ(S_OK, page.Run(LR"(
        var s = KvDispSessionMgr2;
        var unsupported = [s.CloseWindow(), s.ResizeWindow(1, 2, 3, 4), s.OpenLogWindow(), s.openreportwindow()].join(",");
        var stopUnknown = s.StopTimer("x");
        var started = s.STARTTIMER("x"); var stopped = s.StopTimer("x"); var again = s.StopTimer("x");
        var os = s.GetOSVersionCode();
        var refresh = String(s.IsClickRefreshEnabled());
        var admin = String(s.IsAdminUser());
        var day = s.GetFirstDayOfWeek();
        var kept = s.SetNamedParameter("answer", 42); var answer = s.GetNamedParameter("answer");
        var removed = s.RemoveNamedParameter("answer"); var gone = typeof s.GetNamedParameter("answer");
        var page = {}; var locale = s.GetLocaleInfo(page);
        var region = page.langRegion, direction = page.direction;
        var upgrade = s.OpenBrowser("", "");
    )")) << Narrow(page.Error());
    EXPECT_EQ(L"50,50,50,50", page.Text(L"unsupported"));
    EXPECT_EQ(L"2", page.Text(L"stopUnknown"));
    EXPECT_EQ(L"0 0 2", page.Text(L"started") + L" " + page.Text(L"stopped") + L" " + page.Text(L"again"));
    long code = 0;
    ASSERT_EQ(ERROR_SUCCESS, KvGetOSVersionCode(&code));
    EXPECT_EQ(std::to_wstring(code), page.Text(L"os"));
    // No "ui" key: click refresh stays on; no host: the check could not be made, so admin.
    EXPECT_EQ(L"true", page.Text(L"refresh"));
    EXPECT_EQ(L"true", page.Text(L"admin"));
    // No "iFirstDayOfWeek" in the (isolated) user's settings: Sunday.
    EXPECT_EQ(L"6", page.Text(L"day"));
    EXPECT_EQ(L"0 42 0 undefined", page.Text(L"kept") + L" " + page.Text(L"answer") + L" " + page.Text(L"removed") +
                                      L" " + page.Text(L"gone"));
    // The platform's script objects make new properties only through IDispatchEx.
    EXPECT_EQ(L"0", page.Text(L"locale"));
    EXPECT_EQ(L"en-us", page.Text(L"region"));
    EXPECT_EQ(L"ltr", page.Text(L"direction"));
    EXPECT_EQ(L"87", page.Text(L"upgrade"));
}

TEST_F(SessionFromScript, RegistryRoundTripFromAPage)
{
    Session session;
    ScriptPage page(session.dispatch.Get());
    ASSERT_EQ(S_OK, page.Run(LR"(
        var s = KvDispSessionMgr2, key = "HKCU\\Software\\Ordwell\\Page";
        var plain = s.KvRegSetValue(key, "plain", "hello", false);
        var hidden = s.KvRegSetValue(key, "hidden", "s3cret", true);
        var list = s.KvRegSetValue(key, "list", ["one", "", 3, "two"], false);
        var none = s.KvRegSetValue(key, "none", [1, 2], false);
        var badPath = s.KvRegSetValue("NoBackslash", "x", "y", false);
        var plainBack = s.KvRegQueryValue(key, "plain", false);
        var hiddenBack = s.KvRegQueryValue(key, "hidden", true);
        var missing = typeof s.KvRegQueryValue(key, "missing", false);
    )")) << Narrow(page.Error());
    EXPECT_EQ(L"0", page.Text(L"plain"));
    EXPECT_EQ(L"0", page.Text(L"hidden"));
    EXPECT_EQ(L"0", page.Text(L"list"));
    EXPECT_EQ(L"87", page.Text(L"none"));
    EXPECT_EQ(L"-2147024809", page.Text(L"badPath"));
    EXPECT_EQ(L"hello", page.Text(L"plainBack"));
    EXPECT_EQ(L"s3cret", page.Text(L"hiddenBack"));
    EXPECT_EQ(L"undefined", page.Text(L"missing"));

    BYTE raw[256] = {};
    DWORD size = sizeof(raw);
    DWORD type = 0;
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, L"Software\\Ordwell\\Page", L"list", RRF_RT_ANY, &type,
                                          raw, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
    const wchar_t expected[] = L"one\0two\0";
    ASSERT_EQ(sizeof(expected), size);
    EXPECT_EQ(0, memcmp(raw, expected, size));
    size = sizeof(raw);
    ASSERT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, L"Software\\Ordwell\\Page", L"hidden", RRF_RT_ANY, &type,
                                          raw, &size));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    const BYTE header[] = {0x4B, 0x56, 0x52, 0x47, 0x01, 0x00, 0x00, 0x00, 7, 0, 0, 0, 0x01, 0x00, 0x00, 0x00};
    ASSERT_EQ(32u + 7u, size);
    EXPECT_EQ(0, memcmp(raw, header, sizeof(header)));
    size = sizeof(raw);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegGetValueW(HKEY_CURRENT_USER, L"Software\\Ordwell\\Page", L"none", RRF_RT_ANY,
                                                 &type, raw, &size));
}

TEST_F(SessionFromScript, ATimerNameIsALabelNotAFormat)
{
    HKEY product = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Tervane\\QRN", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &product, nullptr));
    const DWORD on = 1;
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(product, L"PerfCounter", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on),
                                            sizeof(on)));
    RegCloseKey(product);
    static std::vector<std::wstring> lines;
    lines.clear();
    Session session;
    session.object->SetTimerOutput([](const wchar_t* line) { lines.emplace_back(line); });
    ScriptPage page(session.dispatch.Get());
    ASSERT_EQ(S_OK, page.Run(LR"(
        var s = KvDispSessionMgr2;
        var first = s.StartTimer("%s%n%s"); var restarted = s.StartTimer("%s%n%s");
        var stopped = s.StopTimer("%s%n%s"); var again = s.StopTimer("%s%n%s");
    )")) << Narrow(page.Error());
    EXPECT_EQ(L"0 0 0 2", page.Text(L"first") + L" " + page.Text(L"restarted") + L" " + page.Text(L"stopped") + L" " +
                              page.Text(L"again"));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(L"PERFTEST: %s%n%s", lines[0]);
    EXPECT_EQ(L"PERFTEST: %s%n%s", lines[1]);
    // One counter per name: the second start replaced the first, and the stop removed it.
    EXPECT_EQ(nullptr, session.object->FindTimer(L"%s%n%s"));
}

}  // namespace
