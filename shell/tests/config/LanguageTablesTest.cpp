#include "shell/config/LanguageTables.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <set>
#include <string>

namespace {

TEST(LanguageTables, LanguageRowsAreSortedUniqueAndShortTags)
{
    ASSERT_EQ(118u, kLanguageRowCount);
    std::set<std::wstring> tags;
    for (std::size_t i = 0; i < kLanguageRowCount; ++i) {
        if (i > 0) {
            EXPECT_LT(kLanguageTable[i - 1].langId, kLanguageTable[i].langId) << "row " << i;
        }
        EXPECT_LT(std::wcslen(kLanguageTable[i].tag), 8u) << "row " << i;
        tags.insert(kLanguageTable[i].tag);
    }
    EXPECT_EQ(118u, tags.size());
    EXPECT_EQ(0, kLanguageTable[0].langId);
    EXPECT_STREQ(L"Neutral", kLanguageTable[0].tag);
    EXPECT_EQ(20490, kLanguageTable[117].langId);

    ASSERT_EQ(16u, kCodePageRowCount);
    for (std::size_t i = 1; i < kCodePageRowCount; ++i) {
        EXPECT_LT(kCodePageTable[i - 1].codePage, kCodePageTable[i].codePage) << "row " << i;
    }
}

TEST(LanguageTables, LangIdToLocaleNameFindsRowsAndRefusesWhatDoesNotFit)
{
    const struct {
        LANGID langId;
        const wchar_t* tag;
    } rows[] = {{1033, L"en-us"}, {2070, L"pt"},   {1057, L"in"},      {3098, L"sr"},
                {20490, L"es-pr"}, {1025, L"ar-sa"}, {2074, L"sr-sp"}, {1085, L"ji"}};
    for (const auto& row : rows) {
        wchar_t buffer[260] = {};
        ASSERT_TRUE(LangIdToLocaleName(row.langId, buffer, sizeof buffer)) << row.langId;
        EXPECT_STREQ(row.tag, buffer);
    }

    wchar_t buffer[260];
    std::wmemset(buffer, L'#', 260);
    EXPECT_FALSE(LangIdToLocaleName(0, buffer, sizeof buffer));
    EXPECT_FALSE(LangIdToLocaleName(1064, buffer, sizeof buffer));
    EXPECT_FALSE(LangIdToLocaleName(1033, buffer, 7));
    EXPECT_FALSE(LangIdToLocaleName(2070, buffer, 7));
    EXPECT_FALSE(LangIdToLocaleName(1033, nullptr, 520));
    // "en-us" needs 12 bytes: 8 to 11 must not write a character.
    for (DWORD size = 8; size < 12; ++size) {
        EXPECT_FALSE(LangIdToLocaleName(1033, buffer, size)) << size;
    }
    EXPECT_EQ(L'#', buffer[0]);
    EXPECT_TRUE(LangIdToLocaleName(1033, buffer, 12));
    EXPECT_STREQ(L"en-us", buffer);
    EXPECT_EQ(L'#', buffer[6]);
    // A short tag fits the smallest buffer.
    EXPECT_TRUE(LangIdToLocaleName(2070, buffer, 8));
    EXPECT_STREQ(L"pt", buffer);
}

TEST(LanguageTables, ReverseAndCodePageLookUps)
{
    LANGID langId = 77;
    EXPECT_TRUE(LocaleNameToLangId(L"EN-US", &langId));
    EXPECT_EQ(1033, langId);
    EXPECT_TRUE(LocaleNameToLangId(L"Neutral", &langId));
    EXPECT_EQ(0, langId);
    langId = 77;
    EXPECT_FALSE(LocaleNameToLangId(L"en-xx", &langId));
    EXPECT_EQ(0, langId);
    EXPECT_FALSE(LocaleNameToLangId(nullptr, &langId));

    const struct {
        DWORD codePage;
        LANGID langId;
        DWORD doubleByte;
    } pages[] = {{437, 1033, 0},  {932, 1041, 1},   {50225, 1042, 1}, {852, 1036, 0}, {1250, 1036, 0},
                 {28592, 1036, 0}, {866, 2092, 0}, {20866, 2092, 0}, {1252, 1033, 0}, {0x10000 + 932, 1041, 1}};
    for (const auto& page : pages) {
        DWORD doubleByte = 99;
        ASSERT_TRUE(CodePageToLangId(page.codePage, &langId, &doubleByte)) << page.codePage;
        EXPECT_EQ(page.langId, langId) << page.codePage;
        EXPECT_EQ(page.doubleByte, doubleByte) << page.codePage;
    }
    EXPECT_FALSE(CodePageToLangId(1252, nullptr, nullptr));
    // 2092 has no language row: the code page's language has no tag.
    wchar_t buffer[16];
    EXPECT_FALSE(LangIdToLocaleName(2092, buffer, sizeof buffer));
}

}  // namespace
