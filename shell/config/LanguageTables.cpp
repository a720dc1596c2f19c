#include "shell/config/LanguageTables.h"

#include "shell/config/AsciiText.h"

#include <cwchar>

// Old tag forms ("in", "ji", "sb", "sx", "ro-mo", "ru-mo", "sr-sp") are kept: configuration
// files name their elements with them.
const KvLanguageRow kLanguageTable[kLanguageRowCount] = {
    {0, L"Neutral"}, {1025, L"ar-sa"}, {1026, L"bg"}, {1027, L"ca"}, {1028, L"zh-tw"}, {1029, L"cs"},
    {1030, L"da"}, {1031, L"de"}, {1032, L"el"}, {1033, L"en-us"}, {1034, L"es"}, {1035, L"fi"}, {1036, L"fr"},
    {1037, L"he"}, {1038, L"hu"}, {1039, L"is"}, {1040, L"it"}, {1041, L"ja"}, {1042, L"ko"}, {1043, L"nl"},
    {1044, L"no"}, {1045, L"pl"}, {1046, L"pt-br"}, {1047, L"rm"}, {1048, L"ro"}, {1049, L"ru"}, {1050, L"hr"},
    {1051, L"sk"}, {1052, L"sq"}, {1053, L"sv"}, {1054, L"th"}, {1055, L"tr"}, {1056, L"ur"}, {1057, L"in"},
    {1058, L"uk"}, {1059, L"be"}, {1060, L"sl"}, {1061, L"et"}, {1062, L"lv"}, {1063, L"lt"}, {1065, L"fa"},
    {1066, L"vi"}, {1069, L"eu"}, {1070, L"sb"}, {1071, L"mk"}, {1072, L"sx"}, {1073, L"ts"}, {1074, L"tn"},
    {1076, L"xh"}, {1077, L"zu"}, {1078, L"af"}, {1080, L"fo"}, {1081, L"hi"}, {1082, L"mt"}, {1084, L"gd"},
    {1085, L"ji"}, {1086, L"ms"}, {2049, L"ar-iq"}, {2052, L"zh-cn"}, {2055, L"de-ch"}, {2057, L"en-gb"},
    {2058, L"es-mx"}, {2060, L"fr-be"}, {2064, L"it-ch"}, {2067, L"nl-be"}, {2070, L"pt"}, {2072, L"ro-mo"},
    {2073, L"ru-mo"}, {2074, L"sr-sp"}, {2077, L"sv-fi"}, {3073, L"ar-eg"}, {3076, L"zh-hk"}, {3079, L"de-at"},
    {3081, L"en-au"}, {3084, L"fr-ca"}, {3098, L"sr"}, {4097, L"ar-ly"}, {4100, L"zh-sg"}, {4103, L"de-lu"},
    {4105, L"en-ca"}, {4106, L"es-gt"}, {4108, L"fr-ch"}, {5121, L"ar-dz"}, {5127, L"de-li"}, {5129, L"en-nz"},
    {5130, L"es-cr"}, {5132, L"fr-lu"}, {6145, L"ar-ma"}, {6153, L"en-ie"}, {6154, L"es-pa"}, {7169, L"ar-tn"},
    {7177, L"en-za"}, {7178, L"es-do"}, {8193, L"ar-om"}, {8201, L"en-jm"}, {8202, L"es-ve"}, {9217, L"ar-ye"},
    {9226, L"es-co"}, {10241, L"ar-sy"}, {10249, L"en-bz"}, {10250, L"es-pe"}, {11265, L"ar-jo"},
    {11273, L"en-tt"}, {11274, L"es-ar"}, {12289, L"ar-lb"}, {12298, L"es-ec"}, {13313, L"ar-kw"},
    {13322, L"es-cl"}, {14337, L"ar-ae"}, {14346, L"es-uy"}, {15361, L"ar-bh"}, {15370, L"es-py"},
    {16385, L"ar-qa"}, {16394, L"es-bo"}, {17418, L"es-sv"}, {18442, L"es-hn"}, {19466, L"es-ni"},
    {20490, L"es-pr"},
};

// 852, 1250 and 28592 map to French and 866/20866 to a LANGID without a language row; stored
// configurations were written against these rows, so they stay as they are.
const KvCodePageRow kCodePageTable[kCodePageRowCount] = {
    {852, 1036, 0},   {866, 2092, 0},   {874, 1054, 0},   {932, 1041, 1},   {936, 2052, 1},   {949, 1042, 1},
    {950, 1028, 1},   {1250, 1036, 0},  {1252, 1033, 0},  {1253, 1032, 0},  {1255, 1037, 0},  {1256, 1025, 0},
    {1258, 1066, 0},  {20866, 2092, 0}, {28592, 1036, 0}, {50225, 1042, 1},
};

BOOL LangIdToLocaleName(LANGID langId, wchar_t* buffer, DWORD bufferBytes)
{
    if (langId == 0 || buffer == nullptr || bufferBytes < 8) {
        return FALSE;
    }
    std::size_t low = 0;
    std::size_t high = kLanguageRowCount;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        const WORD rowId = kLanguageTable[middle].langId;
        if (rowId < langId) {
            low = middle + 1;
        } else if (rowId > langId) {
            high = middle;
        } else {
            const wchar_t* tag = kLanguageTable[middle].tag;
            const std::size_t length = std::wcslen(tag);
            // An 8- to 11-byte buffer holds 4 or 5 characters: a longer tag must not be written.
            if (length + 1 > bufferBytes / sizeof(wchar_t)) {
                return FALSE;
            }
            std::wmemcpy(buffer, tag, length + 1);
            return TRUE;
        }
    }
    return FALSE;
}

BOOL LocaleNameToLangId(const wchar_t* tag, LANGID* langId)
{
    if (tag == nullptr || langId == nullptr) {
        return FALSE;
    }
    *langId = 0;
    for (const KvLanguageRow& row : kLanguageTable) {
        if (EqualIgnoringAsciiCase(row.tag, tag)) {
            *langId = row.langId;
            return TRUE;
        }
    }
    return FALSE;
}

BOOL GetSystemDefaultLocaleName(wchar_t* buffer, DWORD bufferBytes)
{
    return LangIdToLocaleName(::GetSystemDefaultLangID(), buffer, bufferBytes);
}

BOOL CodePageToLangId(DWORD codePage, LANGID* langId, DWORD* doubleByte)
{
    if (langId == nullptr) {
        return FALSE;
    }
    *langId = 0;
    const DWORD key = codePage & 0xFFFF;
    std::size_t low = 0;
    std::size_t high = kCodePageRowCount;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        const DWORD rowPage = kCodePageTable[middle].codePage;
        if (rowPage < key) {
            low = middle + 1;
        } else if (rowPage > key) {
            high = middle;
        } else {
            *langId = static_cast<LANGID>(kCodePageTable[middle].langId);
            if (doubleByte != nullptr) {
                *doubleByte = kCodePageTable[middle].doubleByte;
            }
            return TRUE;
        }
    }
    *langId = 1033;
    if (doubleByte != nullptr) {
        *doubleByte = 0;
    }
    return TRUE;
}
