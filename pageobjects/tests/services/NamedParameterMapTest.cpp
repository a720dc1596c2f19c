#include "pageobjects/services/CNamedParameterMap.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

// ---- Allocation failure on request: this program's operator new fails on the current thread
// while a FailingAllocations lives; otherwise it allocates as usual ----

namespace {
thread_local bool t_failAllocations = false;
}

void* operator new(std::size_t size)
{
    if (t_failAllocations) {
        throw std::bad_alloc();
    }
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

// These deletes free what the operator new above took from malloc; inlined into a caller, GCC
// sees only a block from `new` handed to free and takes the pair for a mismatch.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* block) noexcept { std::free(block); }

void operator delete(void* block, std::size_t) noexcept { std::free(block); }
#pragma GCC diagnostic pop

namespace {

struct FailingAllocations {
    FailingAllocations() { t_failAllocations = true; }
    ~FailingAllocations() { t_failAllocations = false; }
    FailingAllocations(const FailingAllocations&) = delete;
    FailingAllocations& operator=(const FailingAllocations&) = delete;
};

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

// Counts its references, so that a test sees which copies the map still holds.
class CountedObject final : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (iid != IID_IUnknown) return E_NOINTERFACE;
        *object = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    ULONG references = 1;  // the test's own
};

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
    CountedObject oldObject;
    CountedObject newObject;
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
    Bstr name(L"kept");
    for (Case& test : cases) {
        SCOPED_TRACE(test.label);
        long result = 5;
        ASSERT_EQ(S_OK, map.RemoveParameter(name.value, &result));
        if (test.before.value.vt != VT_EMPTY) {
            ASSERT_EQ(S_OK, map.SetParameter(name.value, test.before.value, &result));
        }
        const ULONG oldReferences = oldObject.references;
        const ULONG newReferences = newObject.references;
        HRESULT failed = S_OK;
        {
            FailingAllocations failing;
            failed = map.SetParameter(name.value, test.after.value, &result);
        }
        EXPECT_EQ(E_OUTOFMEMORY, failed);
        // The earlier entry is there unchanged, and the new value's copy is gone again.
        Variant stored;
        ASSERT_EQ(S_OK, map.GetParameter(name.value, &stored.value));
        EXPECT_TRUE(SameValue(stored.value, test.before.value));
        VariantClear(&stored.value);
        EXPECT_EQ(oldReferences, oldObject.references);
        EXPECT_EQ(newReferences, newObject.references);

        // With memory to spare, the same call replaces it.
        ASSERT_EQ(S_OK, map.SetParameter(name.value, test.after.value, &result));
        ASSERT_EQ(S_OK, map.GetParameter(name.value, &stored.value));
        EXPECT_TRUE(SameValue(stored.value, test.after.value));
    }
}

}  // namespace
