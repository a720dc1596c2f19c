// The command line, the module's reference count and page objects, and the small shell helpers.

#include "pageobjects/services/GetActivePackageId.h"
#include "shell/host/CKvPerfCounter.h"
#include "shell/host/CNAVMSGDATA.h"
#include "shell/host/ShellWindowHelpers.h"
#include "shell/tests/host/HostTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using HostTesting::ParsedModule;

namespace {

TEST(HostCommandLine, OptionsFillTheRecordAndOnlyPageOptionsLetTheHostRun)
{
    ParsedModule full(L"/id:MixedCase -body:SARN://Kv.dll::Page.html x/header:sarn://h /mode:FAKE /simulate:ON");
    ASSERT_TRUE(full.parsed);
    EXPECT_EQ(S_OK, full.parseResult);
    const KvCommandRecord* record = full.module->CommandRecord();
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(kCommandFlagPageOption, record->flags);
    EXPECT_STREQ(L"mixedcase", record->hostId);
    EXPECT_STREQ(L"SARN://Kv.dll::Page.html", record->bodyUrl);  // lower-cased only later
    EXPECT_STREQ(L"sarn://h", record->headerUrl);  // text before "/" is skipped
    EXPECT_EQ(1u, record->headerGiven);
    EXPECT_STREQ(L"Ordwell.exe", record->programPath);
    EXPECT_EQ(L"fake", full.module->Mode());
    EXPECT_EQ(L"on", full.module->Simulate());

    ParsedModule hidden(L"/H");
    EXPECT_TRUE(hidden.parsed);
    EXPECT_EQ(kCommandFlagHidden, hidden.module->CommandRecord()->flags);

    ParsedModule emptyHeader(L"/header:");
    EXPECT_TRUE(emptyHeader.parsed);
    EXPECT_EQ(0u, emptyHeader.module->CommandRecord()->headerGiven);

    // Nothing the host counts: refused with exit code 0, and a registration switch alone is not served.
    for (const wchar_t* line : {L"", L"/mode:fake", L"/simulate:x", L"/ngmdata:abc", L"/RegServer", L"plain words"}) {
        ParsedModule refused(line);
        EXPECT_FALSE(refused.parsed) << line;
        EXPECT_EQ(S_OK, refused.parseResult) << line;
    }
}

TEST(HostCommandLine, NgmdataTakesTheRestOfTheLineAndLaterOptionsStillCount)
{
    ParsedModule module(L"/NGMDATA:  \"Some Value\" /id:Abc  ");
    ASSERT_TRUE(module.parsed);
    EXPECT_EQ(L"Some Value\" /id:Abc", module.module->NgmData());
    EXPECT_STREQ(L"abc", module.module->CommandRecord()->hostId);

    EXPECT_EQ(L"x", StripQuotes(L"  \"x\"  "));
    EXPECT_EQ(L"\"x\"", StripQuotes(L"\"\"x\"\""));  // one quote at each end at most
    EXPECT_EQ(L"", StripQuotes(L"\""));
}

TEST(HostCommandLine, LengthLimitsOfTheLineAndOverLongValuesAreCutToTheirFields)
{
    // The whole line: 8,335 characters pass, 8,336 are refused.
    const std::wstring prefix = L"Ordwell.exe /id:x /body:";
    for (std::size_t total : {std::size_t{8335}, std::size_t{8336}}) {
        CKvShellModule module;
        HRESULT result = E_FAIL;
        const std::wstring line = prefix + std::wstring(total - prefix.size(), L'a');
        EXPECT_EQ(total == 8335, module.ParseCommandLine(line.c_str(), &result)) << total;
    }
    // Values longer than their fields are cut, never written past them.
    const std::wstring id(700, L'I');
    const std::wstring body(3000, L'b');
    ParsedModule module(L"/id:" + id + L" /body:" + body + L" /header:" + body);
    ASSERT_TRUE(module.parsed);
    const KvCommandRecord* record = module.module->CommandRecord();
    EXPECT_EQ(std::wstring(519, L'i'), record->hostId);
    EXPECT_EQ(std::wstring(2083, L'b'), record->bodyUrl);
    EXPECT_EQ(std::wstring(2083, L'b'), record->headerUrl);
    EXPECT_EQ(1u, record->headerGiven);

    CKvShellModule longProgram;
    HRESULT result = E_FAIL;
    const std::wstring longLine = std::wstring(300, L'p') + L" /id:x";
    ASSERT_TRUE(longProgram.ParseCommandLine(longLine.c_str(), &result));
    EXPECT_EQ(std::wstring(258, L'p'), longProgram.CommandRecord()->programPath);

    CKvShellModule nullLine;
    EXPECT_FALSE(nullLine.ParseCommandLine(nullptr, &result));
    EXPECT_FALSE(nullLine.ParseCommandLine(L"x /id:y", nullptr));
}

// The read before the parse names a host ID exactly when the parse lets the start run with one.
TEST(HostCommandLine, TheReadBeforeTheParseNamesAHostIdExactlyWhenTheParseRunsWithOne)
{
    const struct {
        std::wstring arguments;
        bool namesHostId;
    } cases[] = {
        {L"/id:abc", true},
        {L"-ID:Abc /body:sarn://x", true},
        {L"x/id:y", true},  // text before "/" is skipped
        {L"\"/id:with blank\"", true},
        {L"/id: /id:later", true},
        {L"/ngmdata:\"x\" /id:abc", true},
        {L"", false},
        {L"/H", false},
        {L"/mode:x /simulate:y /body:sarn://x", false},
        {L"/id:", false},
        {L"id:abc", false},  // no "-" or "/": no option
        {L"/idx:abc", false},
        {L"/id:x /body:" + std::wstring(8400, L'a'), false},  // a line too long is refused
    };
    for (const auto& c : cases) {
        const std::wstring line = L"Ordwell.exe " + c.arguments;
        EXPECT_EQ(c.namesHostId, CommandLineNamesHostId(line.c_str())) << c.arguments.substr(0, 40);
        const ParsedModule parsed(c.arguments);
        EXPECT_EQ(c.namesHostId, parsed.parsed && parsed.module->CommandRecord()->hostId[0] != L'\0')
            << c.arguments.substr(0, 40);
    }
    // A registration switch ends the start in the parse (not parsed here: it would register).
    EXPECT_FALSE(CommandLineNamesHostId(L"Ordwell.exe /id:x /RegServer"));
    EXPECT_FALSE(CommandLineNamesHostId(L"Ordwell.exe /id:x -unregserverperuser"));
    EXPECT_FALSE(CommandLineNamesHostId(nullptr));
}

TEST(HostModule, ReferenceCountStopsAtZeroAndSetsExitOnce)
{
    ParsedModule parsed(L"/id:refs");
    CKvShellModule& module = *parsed.module;
    EXPECT_EQ(0, module.ModuleRelease(8));  // already 0: stays
    EXPECT_EQ(0, module.ReferenceCount());
    EXPECT_FALSE(module.ExitRequested());
    EXPECT_EQ(1, module.ModuleAddRef(8));
    EXPECT_EQ(2, module.ModuleAddRef(3));
    EXPECT_EQ(1, module.ModuleRelease(3));
    EXPECT_FALSE(module.ExitRequested());
    EXPECT_EQ(0, module.ModuleRelease(8));
    EXPECT_TRUE(module.ExitRequested());
    EXPECT_EQ(0, module.ModuleRelease(8));
    EXPECT_EQ(0, module.ReferenceCount());
}

TEST(HostModule, DispatchByTypeWithoutPageObjectsAndShellStatusCodes)
{
    CKvShellModule module;
    IDispatch* object = reinterpret_cast<IDispatch*>(1);
    EXPECT_EQ(E_INVALIDARG, module.GetDispatch(1, nullptr));
    EXPECT_EQ(E_INVALIDARG, module.GetDispatch(0xFFFFFFFF, &object));
    EXPECT_EQ(static_cast<HRESULT>(0x0A052711), module.GetDispatch(1, &object));
    EXPECT_EQ(nullptr, object);
    EXPECT_EQ(E_FAIL, module.GetDispatch(2, &object));
    EXPECT_EQ(static_cast<HRESULT>(0x0A052711), module.GetDispatch(3, &object));
    EXPECT_EQ(E_INVALIDARG, module.GetDispatch(4, &object));

    EXPECT_EQ(static_cast<HRESULT>(0x0A04000D), kShellObjectsNotCreated);
    EXPECT_EQ(static_cast<HRESULT>(0x0A052713), kShellWindowCreationFailed);
    EXPECT_EQ(S_OK, MakeShellStatus(5, 2, 0));
    EXPECT_EQ(static_cast<HRESULT>(0x0A040001), MakeShellStatus(5, 2, 0x20001));  // bit 16 clear: 16 bits
}

TEST(HostHelpers, CloseAnswerOnlyFalseOrZeroRefuses)
{
    VARIANT value;
    VariantInit(&value);
    EXPECT_TRUE(PageAllowsClose(S_OK, value));  // VT_EMPTY: not reported
    value.vt = VT_NULL;
    EXPECT_TRUE(PageAllowsClose(S_OK, value));
    value.vt = VT_BOOL;
    value.boolVal = VARIANT_FALSE;
    EXPECT_FALSE(PageAllowsClose(S_OK, value));
    EXPECT_TRUE(PageAllowsClose(E_FAIL, value));
    value.boolVal = VARIANT_TRUE;
    EXPECT_TRUE(PageAllowsClose(S_OK, value));
    value.vt = VT_I4;
    value.lVal = 0;
    EXPECT_FALSE(PageAllowsClose(S_OK, value));
    value.lVal = 7;
    EXPECT_TRUE(PageAllowsClose(S_OK, value));
    value.vt = VT_R8;
    value.dblVal = 0.0;
    EXPECT_FALSE(PageAllowsClose(S_OK, value));
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocString(L"false");
    EXPECT_TRUE(PageAllowsClose(S_OK, value));
    VariantClear(&value);
}

TEST(HostHelpers, SessionWindowIdMatchesOnlyAWholeNumberAndNeverAnEmptyId)
{
    const wchar_t* id = L"Vistrel.Window.for.Session.1";
    EXPECT_TRUE(DataNamesWindow(L"Vistrel.Window.for.Session.1", id));
    EXPECT_TRUE(DataNamesWindow(L"closed:Vistrel.Window.for.Session.1;other", id));
    EXPECT_FALSE(DataNamesWindow(L"Vistrel.Window.for.Session.12", id));
    EXPECT_TRUE(DataNamesWindow(L"Vistrel.Window.for.Session.12 Vistrel.Window.for.Session.1", id));
    EXPECT_FALSE(DataNamesWindow(L"Vistrel.Window.for.Session.0", id));
    EXPECT_FALSE(DataNamesWindow(L"anything", L""));
    EXPECT_FALSE(DataNamesWindow(nullptr, id));

    EXPECT_EQ(L"page.html", PageNameFromUrl(L"sarn://res.dll::page.html?x:y"));
    EXPECT_EQ(L"uninstall.html", PageNameFromUrl(L"sarn://qrn.dll::/\\uninstall.html"));
    EXPECT_EQ(L"", PageNameFromUrl(L"no-colon-here"));
}

std::vector<std::wstring> g_perfLines;
void RecordPerfLine(const wchar_t* line) { g_perfLines.emplace_back(line); }

class HostRegistry : public Fundor::testing::RegistryIsolatedTest {
protected:
    void SetProductValue(const wchar_t* subkey, const wchar_t* name, DWORD type, const void* data, DWORD size)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, 0,
                                                 KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &key, nullptr));
        RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
};

TEST_F(HostRegistry, PerfCounterWritesOnlyWhenTheSettingIsOne)
{
    for (DWORD setting : {0u, 2u}) {
        SetProductValue(L"SOFTWARE\\Tervane\\QRN", L"PerfCounter", REG_DWORD, &setting, sizeof(setting));
        g_perfLines.clear();
        CKvPerfCounter counter(&RecordPerfLine);
        counter.Start(L"step %d", 1);
        counter.Stop();
        EXPECT_TRUE(g_perfLines.empty()) << setting;
    }
    const DWORD on = 1;
    SetProductValue(L"SOFTWARE\\Tervane\\QRN", L"PerfCounter", REG_DWORD, &on, sizeof(on));
    g_perfLines.clear();
    CKvPerfCounter counter(&RecordPerfLine);
    counter.Start(L"Ordwell %s", L"Startup");
    counter.Stop();
    ASSERT_EQ(2u, g_perfLines.size());
    EXPECT_EQ(L"PERFTEST: Ordwell Startup", g_perfLines[0]);
    EXPECT_EQ(0u, g_perfLines[1].find(L"PERFTEST: Time taken for Ordwell Startup operation = "));
    EXPECT_NE(std::wstring::npos, g_perfLines[1].find(L" processor counts (or "));
    EXPECT_EQ(L" seconds)", g_perfLines[1].substr(g_perfLines[1].size() - 9));
}

TEST_F(HostRegistry, ActivePackageSkipsListsAndFallsBack)
{
    EXPECT_EQ(0u, GetActivePackageId());
    const wchar_t list[] = L"12;13";
    const wchar_t single[] = L"42";
    SetProductValue(L"SOFTWARE\\Tervane\\QRN\\Packages", L"activeuipackages", REG_SZ, list, sizeof(list));
    SetProductValue(L"SOFTWARE\\Tervane\\QRN\\Packages", L"activepackages", REG_SZ, single, sizeof(single));
    EXPECT_EQ(42u, GetActivePackageId());
    SetProductValue(L"SOFTWARE\\Tervane\\QRN\\Packages", L"activepackages", REG_SZ, list, sizeof(list));
    EXPECT_EQ(0u, GetActivePackageId());
    const wchar_t ui[] = L"7";
    SetProductValue(L"SOFTWARE\\Tervane\\QRN\\Packages", L"activeuipackages", REG_EXPAND_SZ, ui, sizeof(ui));
    EXPECT_EQ(7u, GetActivePackageId());
    const DWORD number = 9;
    SetProductValue(L"SOFTWARE\\Tervane\\QRN\\Packages", L"activeuipackages", REG_DWORD, &number, sizeof(number));
    EXPECT_EQ(0u, GetActivePackageId());
}

TEST(HostNavigationRecord, RecordOwnsItsUrlAndEventAndIsDeletedAtLastRelease)
{
    EXPECT_EQ(nullptr, CreateNavMsgData(nullptr));
    CNAVMSGDATA* record = CreateNavMsgData(L"sarn://x");
    ASSERT_NE(nullptr, record);
    EXPECT_STREQ(L"sarn://x", record->Url());
    ASSERT_NE(nullptr, record->DoneEvent());
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(record->DoneEvent(), 0));
    record->SignalDone();
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(record->DoneEvent(), 0));
    EXPECT_EQ(2u, record->AddRef());
    EXPECT_EQ(1u, record->Release());
    EXPECT_EQ(0u, record->Release());
}

}  // namespace
