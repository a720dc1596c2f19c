#include "core/base/ScopedComValues.h"

#include "core/testsupport/CountedUnknown.h"

#include <gtest/gtest.h>

#include <utility>

namespace Fundor {
namespace {

using CountedObject = Fundor::testing::CountedUnknown;

// A VARIANT holding one new reference to object.
VARIANT ReferenceTo(CountedObject& object)
{
    VARIANT value;
    ::VariantInit(&value);
    value.vt = VT_UNKNOWN;
    value.punkVal = &object;
    object.AddRef();
    return value;
}

TEST(ScopedComValues, VariantOwnerGivesEachReferenceBackExactlyOnce)
{
    CountedObject first;
    CountedObject second;
    {
        ScopedVariant owner(ReferenceTo(first));
        EXPECT_EQ(1, first.Count());  // taken over, not referenced again
        EXPECT_EQ(VT_UNKNOWN, owner.type());

        // Reset to another value gives the old one back first.
        owner.reset(ReferenceTo(second));
        EXPECT_EQ(0, first.Count());
        EXPECT_EQ(1, second.Count());

        // Moving hands the reference on; the source is empty and gives nothing back later.
        ScopedVariant moved(std::move(owner));
        EXPECT_EQ(VT_EMPTY, owner.type());
        EXPECT_EQ(1, second.Count());
        ScopedVariant assigned(ReferenceTo(first));
        assigned = std::move(moved);
        EXPECT_EQ(0, first.Count());
        EXPECT_EQ(1, second.Count());
        EXPECT_EQ(&second, assigned.get().punkVal);

        // The out slot is cleared before an API writes into it.
        VARIANT* slot = assigned.put();
        EXPECT_EQ(0, second.Count());
        EXPECT_EQ(VT_EMPTY, slot->vt);
        *slot = ReferenceTo(first);
        EXPECT_EQ(1, first.Count());
    }
    // The owner went with first's reference.
    EXPECT_EQ(0, first.Count());

    // Handed over: the owner keeps VT_EMPTY and the reference stays with the receiver.
    VARIANT handed;
    {
        ScopedVariant owner(ReferenceTo(second));
        handed = owner.release();
        EXPECT_EQ(VT_EMPTY, owner.type());
    }
    EXPECT_EQ(1, second.Count());
    EXPECT_EQ(S_OK, ::VariantClear(&handed));
    EXPECT_EQ(0, second.Count());
}

TEST(ScopedComValues, SafeArrayOwnerGivesBackEveryElementAndAdoptionAddsNoReference)
{
    CountedObject elements[3];
    {
        ScopedSafeArray array(::SafeArrayCreateVector(VT_VARIANT, 0, 3));
        ASSERT_TRUE(array);
        for (LONG index = 0; index < 3; ++index) {
            ScopedVariant element(ReferenceTo(elements[index]));
            // The array keeps a copy (one more reference); the element owner gives its own back.
            ASSERT_EQ(S_OK, ::SafeArrayPutElement(array.get(), &index, element.AsInput()));
        }
        for (const CountedObject& element : elements) EXPECT_EQ(1, element.Count());
    }
    for (const CountedObject& element : elements) EXPECT_EQ(0, element.Count());

    // A string written through the out slot: the owner holds what the API made.
    ScopedBstr text;
    ASSERT_EQ(S_OK, ::VarBstrFromI4(-42, LOCALE_INVARIANT, 0, text.put()));
    EXPECT_STREQ(L"-42", text.get());
    EXPECT_EQ(3u, ::SysStringLen(text.get()));

    // A creator's reference taken over by a pointer owner: the owner's end is the object's end.
    CountedObject created;
    created.AddRef();
    {
        Microsoft::WRL::ComPtr<IUnknown> owner = AdoptComPtr<IUnknown>(&created);
        EXPECT_EQ(1, created.Count());
        EXPECT_EQ(&created, owner.Get());
    }
    EXPECT_EQ(0, created.Count());
    EXPECT_FALSE(AdoptComPtr<IUnknown>(nullptr));
}

}  // namespace
}  // namespace Fundor
