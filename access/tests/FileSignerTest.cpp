#include "access/ModuleTrust.h"
#include "access/TimeStampCheck.h"
#include "access/tests/TrustTestSupport.h"

#include <gtest/gtest.h>

using namespace TrustTesting;

namespace {

int Verify(const wchar_t* file, const TrustedSignerList& list)
{
    return VerifyFileSigner(SignedFile(file).c_str(), list);
}

TEST(VerifyFileSigner, ListedNameUnderListedRootPassesAndEveryFlawFails)
{
    const TrustedSignerList list = TestBuiltInList();
    EXPECT_EQ(1, Verify(L"good.dll", list));
    EXPECT_EQ(0, Verify(L"unsigned.dll", list));
    EXPECT_EQ(0, Verify(L"tampered.dll", list));    // one code byte changed after signing
    EXPECT_EQ(0, Verify(L"badsignature.dll", list)); // its signed attributes changed after signing
    EXPECT_EQ(0, Verify(L"othername.dll", list));   // "Other Maker Ltd" under the listed root
    EXPECT_EQ(0, Verify(L"wrongroot.dll", list));   // "Tervane, Inc." under a trusted, unlisted root
    EXPECT_EQ(0, VerifyFileSigner(L"", list));
    EXPECT_EQ(0, VerifyFileSigner(nullptr, list));
    EXPECT_EQ(0, Verify(L"no-such-file.dll", list));
}

TEST(VerifyFileSigner, ExpiredSignerNeedsAVerifiedTimeStampWithinItsValidity)
{
    const TrustedSignerList list = TestBuiltInList();
    // The certificate was valid only during 2020.
    EXPECT_EQ(0, Verify(L"expired-nots.dll", list));           // signed in 2020, no time stamp
    EXPECT_EQ(1, Verify(L"expired-ts.dll", list));             // RFC 3161 stamp of June 2020
    EXPECT_EQ(0, Verify(L"expired-ts-late.dll", list));        // genuine stamp, but of 2022
    EXPECT_EQ(0, Verify(L"expired-ts-forged.dll", list));      // the 2022 stamp rewritten to 2020
    EXPECT_EQ(0, Verify(L"expired-ts-untrustedtsa.dll", list)); // stamp from an authority of no standing
    EXPECT_EQ(0, Verify(L"expired-ts-transplanted.dll", list)); // genuine stamp of another signature
}

TEST(VerifyFileSigner, ClassicCountersignatureCountsOnlyWhenItVerifies)
{
    const TrustedSignerList list = TestBuiltInList();
    EXPECT_EQ(1, Verify(L"expired-cs.dll", list));               // countersigned in June 2020
    EXPECT_EQ(0, Verify(L"expired-cs-forged.dll", list));        // its 2022 time rewritten to 2020
    EXPECT_EQ(0, Verify(L"expired-cs-late.dll", list));          // countersigned in 2022
    EXPECT_EQ(0, Verify(L"expired-cs-unbound.dll", list));       // over another signature
    EXPECT_EQ(0, Verify(L"expired-cs-untrustedtsa.dll", list));  // by an authority of no standing
}

TEST(VerifyFileSigner, NullListsAcceptAnyNameOrRootButAnEmptyNameListAcceptsNone)
{
    const wchar_t* const noNames[] = {nullptr};
    TrustedSignerList anyName = TestBuiltInList();
    anyName.organisationNames = nullptr;
    EXPECT_EQ(1, Verify(L"othername.dll", anyName));
    EXPECT_EQ(0, Verify(L"wrongroot.dll", anyName));

    TrustedSignerList anyRoot = TestBuiltInList();
    anyRoot.thumbprints = nullptr;
    anyRoot.thumbprintCount = 0;
    EXPECT_EQ(1, Verify(L"wrongroot.dll", anyRoot));
    anyRoot.thumbprints = kListedRoot;
    EXPECT_EQ(1, Verify(L"wrongroot.dll", anyRoot));  // a count of 0 accepts any root too

    TrustedSignerList none = TestBuiltInList();
    none.organisationNames = noNames;
    EXPECT_EQ(0, Verify(L"good.dll", none));

    // The names compare without regard to case.
    const wchar_t* const upper[] = {L"TERVANE, INC.", nullptr};
    TrustedSignerList upperList = TestBuiltInList();
    upperList.organisationNames = upper;
    EXPECT_EQ(1, Verify(L"good.dll", upperList));
}

TEST(VerifyFileSigner, SkippedSerialIsPassedOverWhateverItsLeadingZeros)
{
    // The signer's serial is c0ffee0001; its DER form carries a leading zero byte.
    for (const wchar_t* entry : {L"c0ffee0001", L"C0FFEE0001", L"00c0ffee0001", L"0000C0FFEE0001"}) {
        const wchar_t* const skip[] = {L"1002", entry, nullptr};
        TrustedSignerList list = TestBuiltInList();
        list.serialSkipList = skip;
        EXPECT_EQ(0, Verify(L"good.dll", list)) << entry;
    }
    const wchar_t* const others[] = {L"1002", L"c0ffee00", L"c0ffee000100", nullptr};
    TrustedSignerList list = TestBuiltInList();
    list.serialSkipList = others;
    EXPECT_EQ(1, Verify(L"good.dll", list));
}

TEST(VerifyFileSigner, SeparateArgumentFormMatchesTheListForm)
{
    EXPECT_EQ(1, VerifyFileSigner(SignedFile(L"good.dll").c_str(), kTestNames, kListedRoot, 1, nullptr));
    EXPECT_EQ(0, VerifyFileSigner(SignedFile(L"othername.dll").c_str(), kTestNames, kListedRoot, 1, nullptr));
}

FILETIME Utc(WORD year, WORD month, WORD day, WORD hour, WORD minute, WORD second)
{
    SYSTEMTIME system = {year, month, 0, day, hour, minute, second, 0};
    FILETIME time = {};
    EXPECT_TRUE(SystemTimeToFileTime(&system, &time));
    return time;
}

bool SameTime(const FILETIME& a, const FILETIME& b)
{
    return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

TEST(TimeStamp, UtcTimeReadsOnlyTheFifteenByteFormAndCentury)
{
    auto parse = [](const char* text, FILETIME* time) {
        std::basic_string<BYTE> der = {0x17, 13};
        for (const char* p = text; *p; ++p) der.push_back(static_cast<BYTE>(*p));
        return TrustDetail::ParseUtcTime(der.data(), static_cast<DWORD>(der.size()), time);
    };
    FILETIME time = {};
    ASSERT_TRUE(parse("690101000000Z", &time));
    EXPECT_TRUE(SameTime(Utc(2069, 1, 1, 0, 0, 0), time));
    ASSERT_TRUE(parse("700101000000Z", &time));
    EXPECT_TRUE(SameTime(Utc(1970, 1, 1, 0, 0, 0), time));
    ASSERT_TRUE(parse("200601123456Z", &time));
    EXPECT_TRUE(SameTime(Utc(2020, 6, 1, 12, 34, 56), time));

    const FILETIME untouched = {0x1234, 0x5678};
    for (const char* bad : {"201301000000Z", "200632000000Z", "2006011200Z00", "20060112000AZ"}) {
        time = untouched;
        EXPECT_FALSE(parse(bad, &time)) << bad;
        EXPECT_TRUE(SameTime(untouched, time)) << bad;
    }
    const BYTE shortForm[] = {0x17, 11, '2', '0', '0', '6', '0', '1', '1', '2', '0', '0', 'Z'};
    EXPECT_FALSE(TrustDetail::ParseUtcTime(shortForm, sizeof(shortForm), &time));
    const BYTE generalized[] = {0x18, 13, '2', '0', '0', '6', '0', '1', '1', '2', '0', '0', '0', '0', 'Z'};
    EXPECT_FALSE(TrustDetail::ParseUtcTime(generalized, sizeof(generalized), &time));
}

}  // namespace
