#include "pageobjects/objects/PageStringArray.h"

#include "core/base/ScopedComValues.h"

#include <gtest/gtest.h>

#include <oleauto.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

TEST(PageStringArray, EachStringBecomesOneCountedElementFromZero)
{
    const std::vector<std::vector<std::wstring>> lists = {
        {},
        {L"Ordwell"},
        {L"first", L"", L"third"},
        {L"a\0b"s, L"\0"s},  // zero characters inside stay, with the counted length
    };
    for (const std::vector<std::wstring>& strings : lists) {
        SCOPED_TRACE(strings.size());
        Fundor::ScopedVariant made;
        ASSERT_EQ(S_OK, MakeStringArrayVariant(strings, made.put()));
        ASSERT_EQ(VT_ARRAY | VT_VARIANT, made.type());
        SAFEARRAY* array = made.get().parray;
        ASSERT_NE(nullptr, array);
        EXPECT_EQ(1u, ::SafeArrayGetDim(array));
        LONG lower = -1;
        LONG upper = -2;
        ASSERT_EQ(S_OK, ::SafeArrayGetLBound(array, 1, &lower));
        ASSERT_EQ(S_OK, ::SafeArrayGetUBound(array, 1, &upper));
        EXPECT_EQ(0, lower);
        ASSERT_EQ(static_cast<LONG>(strings.size()) - 1, upper);
        for (LONG index = 0; index <= upper; ++index) {
            Fundor::ScopedVariant element;
            ASSERT_EQ(S_OK, ::SafeArrayGetElement(array, &index, element.put()));
            ASSERT_EQ(VT_BSTR, element.type());
            const BSTR text = element.get().bstrVal;
            EXPECT_EQ(strings[static_cast<std::size_t>(index)], std::wstring(text, ::SysStringLen(text)));
        }
    }
    EXPECT_EQ(E_POINTER, MakeStringArrayVariant({L"x"}, nullptr));
}

}  // namespace
