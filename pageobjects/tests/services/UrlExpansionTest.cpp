#include "core/testsupport/RegistryIsolation.h"
#include "pageobjects/services/qrncmn.h"
#include "pageobjects/tests/services/ServicesTestSupport.h"

#include <objbase.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using Fundor::testing::RegistryIsolatedTest;
using namespace ServicesTesting;

const std::wstring kSubstitute = L"SOFTWARE\\Tervane\\QRN\\AppInfo\\Substitute";
const std::wstring kQueryParams = kSubstitute + L"\\QueryParams";
const std::wstring kLinks = L"SOFTWARE\\Tervane\\QRN\\Settings\\Links";

class UrlExpansion : public RegistryIsolatedTest {
protected:
    void SetUp() override
    {
        SetString(kSubstitute, L"domain", L"example.test");
        SetString(kSubstitute, L"lang", L"de");
        SetString(kSubstitute, L"affid", L"77");
    }

    // KvExpandEnvironmentStringEx with a size query first, as callers use it.
    static std::wstring Expand(const wchar_t* input, int append = 1, const wchar_t* key = kSubstitute.c_str())
    {
        DWORD size = 0;
        const DWORD asked = KvExpandEnvironmentStringEx(key, input, append, 0, nullptr, &size, 0);
        if (asked != 0) return L"<error " + std::to_wstring(asked) + L">";
        std::wstring text(size, L'?');
        const DWORD expanded = KvExpandEnvironmentStringEx(key, input, append, 0, text.data(), &size, 0);
        if (expanded != 0) return L"<error " + std::to_wstring(expanded) + L">";
        EXPECT_EQ(text.size(), size);
        text.resize(size - 1);
        return text;
    }

    static std::wstring SarnUrl(const wchar_t* url, DWORD* status = nullptr)
    {
        wchar_t* out = reinterpret_cast<wchar_t*>(1);
        const DWORD result = KvExpandSarnUrl(url, &out);
        if (status != nullptr) *status = result;
        if (result != 0) {
            EXPECT_EQ(nullptr, out);
            return L"<error>";
        }
        std::wstring text = out;
        CoTaskMemFree(out);
        return text;
    }
};

TEST_F(UrlExpansion, TokensAreReplacedAndTheUnnamedValueIsNoToken)
{
    SetString(kSubstitute, nullptr, L"DEFAULT");
    SetString(kSubstitute, L"number", L"5");
    SetRaw(HKEY_LOCAL_MACHINE, kSubstitute, L"skipped", REG_DWORD, "\1\0\0\0", 4);
    EXPECT_EQ(L"https://example.test/de77/%skipped%/%Lang%", Expand(L"https://%domain%/%lang%%affid%/%skipped%/%Lang%", 0));
    EXPECT_EQ(L"%%5", Expand(L"%%%number%", 0));
}

TEST_F(UrlExpansion, AReplacementHoldingItsOwnTokenEndsAndIsNotExpandedAgain)
{
    SetString(kSubstitute, L"loop", L"<%loop%>");
    struct Call {
        std::wstring result;
        HANDLE done;
    } call{L"", CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    ASSERT_NE(nullptr, call.done);
    // On its own thread, so a loop shows as a time-out instead of a hung test program.
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](void* context) -> DWORD {
            auto* c = static_cast<Call*>(context);
            c->result = Expand(L"a%loop%b%loop%", 0);
            SetEvent(c->done);
            return 0;
        },
        &call, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(call.done, 10000)) << "the replacement did not end";
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(call.done);
    EXPECT_EQ(L"a<%loop%>b<%loop%>", call.result);
}

TEST_F(UrlExpansion, QueryParametersAreAppendedOnceEach)
{
    SetString(kQueryParams, L"affid", L"77");
    SetString(kQueryParams, L"lang", L"de");
    SetString(kQueryParams, std::wstring(300, L'n').c_str(), std::wstring(300, L'v'));
    EXPECT_EQ(L"https://example.test/?affid=77&lang=de", Expand(L"https://%domain%/"));
    EXPECT_EQ(L"https://x/?lang=fr&affid=77", Expand(L"https://x/?lang=fr"));
    EXPECT_EQ(L"https://x/?q=1&affid=77&lang=de", Expand(L"https://x/?q=1"));
    EXPECT_EQ(L"https://x/?a=1&affid=2&lang=de", Expand(L"https://x/?a=1&affid=2"));
    EXPECT_EQ(L"https://x/", Expand(L"https://x/", 0));
}

TEST_F(UrlExpansion, SizesCountTheTerminatorAndASmallBufferGets234AndAnEmptyString)
{
    const wchar_t* input = L"%domain%";  // "example.test": 12 characters
    DWORD size = 0;
    ASSERT_EQ(0u, KvExpandEnvironmentStringEx(kSubstitute.c_str(), input, 0, 0, nullptr, &size, 0));
    EXPECT_EQ(13u, size);
    wchar_t small[12];
    wmemset(small, L'#', 12);
    size = 12;
    EXPECT_EQ(234u, KvExpandEnvironmentStringEx(kSubstitute.c_str(), input, 0, 0, small, &size, 0));
    EXPECT_EQ(13u, size);
    EXPECT_EQ(L'\0', small[0]);
    EXPECT_EQ(87u, KvExpandEnvironmentStringEx(nullptr, input, 0, 0, nullptr, &size, 0));
    EXPECT_EQ(87u, KvExpandEnvironmentStringEx(kSubstitute.c_str(), input, 0, 0, nullptr, nullptr, 0));
    EXPECT_EQ(87u, KvExpandEnvironmentStringEx(L"NoBackslash", input, 0, 0, nullptr, &size, 0));
    // A key without values leaves the text as it is.
    EXPECT_EQ(L"%domain%", Expand(input, 1, L"HKLM\\SOFTWARE\\Empty"));
}

TEST_F(UrlExpansion, LinkNamesComeFromTheHighestHive)
{
    SetString(kQueryParams, L"affid", L"77");
    SetString(kLinks, L"support", L"https://%domain%/support?lang=%lang%");
    EXPECT_EQ(L"https://example.test/support?lang=de&affid=77", SarnUrl(L"SubstLink:support"));
    SetDword(L"Software\\Tervane\\QRN\\overrides\\Partner", L"priority", 5);
    SetString(L"Software\\Tervane\\QRN\\overrides\\Partner\\Settings\\Links", L"support", L"https://partner.test/%lang%");
    EXPECT_EQ(L"https://partner.test/de?affid=77", SarnUrl(L"substlink:support"));
    DWORD status = 0;
    EXPECT_EQ(L"<error>", SarnUrl(L"substlink:extURL::support", &status));
    EXPECT_EQ(87u, status);
    EXPECT_EQ(L"<error>", SarnUrl(L"substlink:absent", &status));
    EXPECT_EQ(static_cast<DWORD>(E_FAIL), status);
    SetDword(kLinks, L"number", 5);
    EXPECT_EQ(L"<error>", SarnUrl(L"substlink:number", &status));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_DATA), status);
}

TEST_F(UrlExpansion, ThePerBootCopyIsMadeOnceAndTheSessionExpansionReadsThePersistentKey)
{
    SetString(kQueryParams, L"lcid", L"1031");
    SetString(kQueryParams, L"other", L"no");
    SetString(kSubstitute, L"notcopied", L"no");
    EXPECT_EQ(L"https://example.test/?lcid=1031&other=no", SarnUrl(L"https://%domain%/"));
    const std::wstring copy = L"SOFTWARE\\Tervane\\Volatile\\QRN\\Substitute";
    EXPECT_EQ(L"example.test", ReadString(copy, L"domain"));
    EXPECT_EQ(L"77", ReadString(copy, L"affid"));
    EXPECT_EQ(L"<none>", ReadString(copy, L"notcopied"));
    EXPECT_EQ(L"1031", ReadString(copy + L"\\QueryParams", L"lcid"));
    EXPECT_EQ(L"<none>", ReadString(copy + L"\\QueryParams", L"other"));

    SetString(kSubstitute, L"domain", L"changed.test");
    EXPECT_EQ(L"https://changed.test/?lcid=1031&other=no", SarnUrl(L"https://%domain%/"));
    EXPECT_EQ(L"example.test", ReadString(copy, L"domain"));
    // Another key: the per-boot copy's tokens first, then the key's own.
    SetString(L"SOFTWARE\\Other", L"domain", L"other.test");
    SetString(L"SOFTWARE\\Other", L"path", L"p");
    DWORD size = 0;
    ASSERT_EQ(0u, KvExpandEnvironmentStringEx(L"HKLM\\SOFTWARE\\Other", L"%domain%/%path%", 0, 0, nullptr, &size, 1));
    std::wstring text(size, L'\0');
    ASSERT_EQ(0u, KvExpandEnvironmentStringEx(L"HKLM\\SOFTWARE\\Other", L"%domain%/%path%", 0, 0, text.data(), &size, 1));
    EXPECT_STREQ(L"example.test/p", text.c_str());
}

}  // namespace
