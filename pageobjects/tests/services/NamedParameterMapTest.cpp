#include "pageobjects/services/CNamedParameterMap.h"

#include "core/testsupport/CountedUnknown.h"
#include "core/testsupport/FailingAllocations.h"
#include "core/testsupport/TestBstr.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Fundor::testing::CountedUnknown;
using Fundor::testing::FailingAllocations;
using Fundor::testing::TestBstr;

struct Variant {
    Variant() { VariantInit(&value); }
    ~Variant() { VariantClear(&value); }
    VARIANT value;
};

VARIANT Int(long number)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = number;
    return v;
}

long Read(CNamedParameterMap& map, const wchar_t* name)
{
    TestBstr key(name);
    Variant out;
    EXPECT_EQ(S_OK, map.GetParameter(key, &out.value));
    return out.value.vt == VT_I4 ? out.value.lVal : -1;
}

TEST(NamedParameterMap, ByReferenceValuesAreStoredAsTheValueTheyPointTo)
{
    CNamedParameterMap map;
    TestBstr name(L"count");
    long result = 99;
    {
        // The caller's storage is gone (and overwritten) once the call has returned.
        long number = 41;
        VARIANT reference;
        VariantInit(&reference);
        reference.vt = VT_BYREF | VT_I4;
        reference.plVal = &number;
        ASSERT_EQ(S_OK, map.SetParameter(name, reference, &result));
        number = 7;
    }
    EXPECT_EQ(0, result);
    Variant out;
    ASSERT_EQ(S_OK, map.GetParameter(name, &out.value));
    EXPECT_EQ(VT_I4, out.value.vt);
    EXPECT_EQ(41, out.value.lVal);

    // VT_BYREF|VT_VARIANT: the VARIANT it points to, copied (its string duplicated).
    Variant inner;
    inner.value.vt = VT_BSTR;
    inner.value.bstrVal = SysAllocString(L"text");
    VARIANT outer;
    VariantInit(&outer);
    outer.vt = VT_BYREF | VT_VARIANT;
    outer.pvarVal = &inner.value;
    TestBstr textName(L"text");
    ASSERT_EQ(S_OK, map.SetParameter(textName, outer, &result));
    VariantClear(&inner.value);
    Variant text;
    ASSERT_EQ(S_OK, map.GetParameter(textName, &text.value));
    ASSERT_EQ(VT_BSTR, text.value.vt);
    EXPECT_STREQ(L"text", text.value.bstrVal);
}

TEST(NamedParameterMap, EmptyValuesAndNullArgumentsAreRefusedAndKeepTheOldEntry)
{
    CNamedParameterMap map;
    TestBstr name(L"kept");
    long result = 5;
    ASSERT_EQ(S_OK, map.SetParameter(name, Int(1), &result));
    VARIANT empty;
    VariantInit(&empty);
    result = 5;
    EXPECT_EQ(E_INVALIDARG, map.SetParameter(name, empty, &result));
    EXPECT_EQ(5, result);
    EXPECT_EQ(E_INVALIDARG, map.SetParameter(nullptr, Int(2), &result));
    EXPECT_EQ(E_INVALIDARG, map.SetParameter(name, Int(2), nullptr));
    EXPECT_EQ(E_INVALIDARG, map.GetParameter(name, nullptr));
    EXPECT_EQ(E_INVALIDARG, map.RemoveParameter(nullptr, &result));
    EXPECT_EQ(1, Read(map, L"kept"));

    // A second set replaces; remove drops; an absent name reads as VT_EMPTY with S_OK.
    ASSERT_EQ(S_OK, map.SetParameter(name, Int(3), &result));
    EXPECT_EQ(3, Read(map, L"kept"));
    result = 5;
    EXPECT_EQ(S_OK, map.RemoveParameter(name, &result));
    EXPECT_EQ(0, result);
    Variant absent;
    absent.value.vt = VT_I4;
    EXPECT_EQ(S_OK, map.GetParameter(name, &absent.value));
    EXPECT_EQ(VT_EMPTY, absent.value.vt);
    result = 5;
    EXPECT_EQ(S_OK, map.RemoveParameter(name, &result));
    EXPECT_EQ(0, result);
}

TEST(NamedParameterMap, NamesDifferingInCaseAreSeparateAndAnEmptyNameIsOne)
{
    CNamedParameterMap map;
    TestBstr upper(L"A"), lower(L"a"), none(L"");
    long result = 0;
    ASSERT_EQ(S_OK, map.SetParameter(upper, Int(1), &result));
    ASSERT_EQ(S_OK, map.SetParameter(lower, Int(2), &result));
    ASSERT_EQ(S_OK, map.SetParameter(none, Int(3), &result));
    EXPECT_EQ(1, Read(map, L"A"));
    EXPECT_EQ(2, Read(map, L"a"));
    EXPECT_EQ(3, Read(map, L""));
    ASSERT_EQ(S_OK, map.RemoveParameter(upper, &result));
    EXPECT_EQ(-1, Read(map, L"A"));
    EXPECT_EQ(2, Read(map, L"a"));
}


bool SameValue(const VARIANT& a, const VARIANT& b)
{
    if (a.vt != b.vt) return false;
    switch (a.vt) {
    case VT_EMPTY: return true;
    case VT_I4: return a.lVal == b.lVal;
    case VT_BSTR:
        return std::wstring(a.bstrVal, SysStringLen(a.bstrVal)) == std::wstring(b.bstrVal, SysStringLen(b.bstrVal));
    case VT_UNKNOWN: return a.punkVal == b.punkVal;
    default: return false;
    }
}

TEST(NamedParameterMap, AFailedAllocationForTheNewEntryKeepsTheOldOne)
{
    CountedUnknown oldObject(1);  // the test's own reference
    CountedUnknown newObject(1);
    struct Case {
        const char* label;
        Variant before;  // VT_EMPTY: no earlier entry
        Variant after;
    };
    Case cases[4];
    cases[0].label = "numbers";
    cases[0].before.value = Int(1);
    cases[0].after.value = Int(2);
    cases[1].label = "strings";
    cases[1].before.value.vt = VT_BSTR;
    cases[1].before.value.bstrVal = SysAllocString(L"first");
    cases[1].after.value.vt = VT_BSTR;
    cases[1].after.value.bstrVal = SysAllocString(L"second");
    cases[2].label = "interfaces";
    cases[2].before.value.vt = VT_UNKNOWN;
    cases[2].before.value.punkVal = &oldObject;
    oldObject.AddRef();
    cases[2].after.value.vt = VT_UNKNOWN;
    cases[2].after.value.punkVal = &newObject;
    newObject.AddRef();
    cases[3].label = "no earlier entry";
    cases[3].after.value = Int(3);

    CNamedParameterMap map;
    TestBstr name(L"kept");
    for (Case& test : cases) {
        SCOPED_TRACE(test.label);
        long result = 5;
        ASSERT_EQ(S_OK, map.RemoveParameter(name, &result));
        if (test.before.value.vt != VT_EMPTY) {
            ASSERT_EQ(S_OK, map.SetParameter(name, test.before.value, &result));
        }
        const LONG oldReferences = oldObject.Count();
        const LONG newReferences = newObject.Count();
        HRESULT failed = S_OK;
        {
            FailingAllocations failing;
            failed = map.SetParameter(name, test.after.value, &result);
        }
        EXPECT_EQ(E_OUTOFMEMORY, failed);
        // The earlier entry is there unchanged, and the new value's copy is gone again.
        Variant stored;
        ASSERT_EQ(S_OK, map.GetParameter(name, &stored.value));
        EXPECT_TRUE(SameValue(stored.value, test.before.value));
        VariantClear(&stored.value);
        EXPECT_EQ(oldReferences, oldObject.Count());
        EXPECT_EQ(newReferences, newObject.Count());

        // With memory to spare, the same call replaces it.
        ASSERT_EQ(S_OK, map.SetParameter(name, test.after.value, &result));
        ASSERT_EQ(S_OK, map.GetParameter(name, &stored.value));
        EXPECT_TRUE(SameValue(stored.value, test.after.value));
    }
}

}  // namespace
