#include "CNamedParameterMap.h"

#include <gtest/gtest.h>

namespace {

// Owned BSTR for the test's names and texts.
struct Bstr {
    explicit Bstr(const wchar_t* text) : value(SysAllocString(text)) {}
    ~Bstr() { SysFreeString(value); }
    BSTR value;
};

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
    Bstr key(name);
    Variant out;
    EXPECT_EQ(S_OK, map.GetParameter(key.value, &out.value));
    return out.value.vt == VT_I4 ? out.value.lVal : -1;
}

TEST(NamedParameterMap, ByReferenceValuesAreStoredAsTheValueTheyPointTo)
{
    CNamedParameterMap map;
    Bstr name(L"count");
    long result = 99;
    {
        // The caller's storage is gone (and overwritten) once the call has returned.
        long number = 41;
        VARIANT reference;
        VariantInit(&reference);
        reference.vt = VT_BYREF | VT_I4;
        reference.plVal = &number;
        ASSERT_EQ(S_OK, map.SetParameter(name.value, reference, &result));
        number = 7;
    }
    EXPECT_EQ(0, result);
    Variant out;
    ASSERT_EQ(S_OK, map.GetParameter(name.value, &out.value));
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
    Bstr textName(L"text");
    ASSERT_EQ(S_OK, map.SetParameter(textName.value, outer, &result));
    VariantClear(&inner.value);
    Variant text;
    ASSERT_EQ(S_OK, map.GetParameter(textName.value, &text.value));
    ASSERT_EQ(VT_BSTR, text.value.vt);
    EXPECT_STREQ(L"text", text.value.bstrVal);
}

TEST(NamedParameterMap, EmptyValuesAndNullArgumentsAreRefusedAndKeepTheOldEntry)
{
    CNamedParameterMap map;
    Bstr name(L"kept");
    long result = 5;
    ASSERT_EQ(S_OK, map.SetParameter(name.value, Int(1), &result));
    VARIANT empty;
    VariantInit(&empty);
    result = 5;
    EXPECT_EQ(E_INVALIDARG, map.SetParameter(name.value, empty, &result));
    EXPECT_EQ(5, result);
    EXPECT_EQ(E_INVALIDARG, map.SetParameter(nullptr, Int(2), &result));
    EXPECT_EQ(E_INVALIDARG, map.SetParameter(name.value, Int(2), nullptr));
    EXPECT_EQ(E_INVALIDARG, map.GetParameter(name.value, nullptr));
    EXPECT_EQ(E_INVALIDARG, map.RemoveParameter(nullptr, &result));
    EXPECT_EQ(1, Read(map, L"kept"));

    // A second set replaces; remove drops; an absent name reads as VT_EMPTY with S_OK.
    ASSERT_EQ(S_OK, map.SetParameter(name.value, Int(3), &result));
    EXPECT_EQ(3, Read(map, L"kept"));
    result = 5;
    EXPECT_EQ(S_OK, map.RemoveParameter(name.value, &result));
    EXPECT_EQ(0, result);
    Variant absent;
    absent.value.vt = VT_I4;
    EXPECT_EQ(S_OK, map.GetParameter(name.value, &absent.value));
    EXPECT_EQ(VT_EMPTY, absent.value.vt);
    result = 5;
    EXPECT_EQ(S_OK, map.RemoveParameter(name.value, &result));
    EXPECT_EQ(0, result);
}

TEST(NamedParameterMap, NamesDifferingInCaseAreSeparateAndAnEmptyNameIsOne)
{
    CNamedParameterMap map;
    Bstr upper(L"A"), lower(L"a"), none(L"");
    long result = 0;
    ASSERT_EQ(S_OK, map.SetParameter(upper.value, Int(1), &result));
    ASSERT_EQ(S_OK, map.SetParameter(lower.value, Int(2), &result));
    ASSERT_EQ(S_OK, map.SetParameter(none.value, Int(3), &result));
    EXPECT_EQ(1, Read(map, L"A"));
    EXPECT_EQ(2, Read(map, L"a"));
    EXPECT_EQ(3, Read(map, L""));
    ASSERT_EQ(S_OK, map.RemoveParameter(upper.value, &result));
    EXPECT_EQ(-1, Read(map, L"A"));
    EXPECT_EQ(2, Read(map, L"a"));
}

}  // namespace
