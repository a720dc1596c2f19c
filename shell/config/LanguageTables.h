#pragma once
// The constant language tables of the UI configuration: Windows LANGIDs to the short lower-case
// tags that name the configuration file's language elements (and the pages' locale), and code
// pages to LANGIDs. Plain functions over constant data; safe from any thread.

#include <windows.h>

#include <cstddef>

// One row of the language table: a tag of at most 7 characters, zero-padded.
struct KvLanguageRow {
    WORD langId;
    wchar_t tag[8];
};

// One row of the code-page table.
struct KvCodePageRow {
    DWORD codePage;
    DWORD langId;
    DWORD doubleByte;  // 1 for the East Asian double-byte code pages
};

inline constexpr std::size_t kLanguageRowCount = 118;
inline constexpr std::size_t kCodePageRowCount = 16;

// The tables themselves, sorted by ascending LANGID and code page (for callers that list them).
extern const KvLanguageRow kLanguageTable[kLanguageRowCount];
extern const KvCodePageRow kCodePageTable[kCodePageRowCount];

// The tag of langId into buffer (size in bytes). FALSE, with the buffer untouched, for LANGID 0,
// a null buffer, a size below 8 bytes, a LANGID without a row, or a tag that does not fit
// size / 2 characters with its terminator. The session manager passes 520 bytes.
[[nodiscard]] BOOL LangIdToLocaleName(LANGID langId, wchar_t* buffer, DWORD bufferBytes);

// The LANGID of the first row whose tag equals tag, ignoring the case of A to Z ("Neutral" gives
// 0 with TRUE). FALSE for a null argument or an unknown tag; *langId is set to 0 first whenever
// langId is given.
[[nodiscard]] BOOL LocaleNameToLangId(const wchar_t* tag, LANGID* langId);

// LangIdToLocaleName of GetSystemDefaultLangID().
[[nodiscard]] BOOL GetSystemDefaultLocaleName(wchar_t* buffer, DWORD bufferBytes);

// The LANGID and double-byte flag of a code page (looked up by its low 16 bits); a code page
// without a row gives 1033 and 0. TRUE unless langId is null. doubleByte may be null.
[[nodiscard]] BOOL CodePageToLangId(DWORD codePage, LANGID* langId, DWORD* doubleByte);
