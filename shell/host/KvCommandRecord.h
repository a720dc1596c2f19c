#pragma once
// The host's command record: the options of the command line, kept for the whole run.

#include "core/base/UrlLimits.h"

#include <windows.h>

#include <cstdint>
#include <string>

inline constexpr std::uint32_t kCommandFlagHidden = 4;      // "H"
inline constexpr std::uint32_t kCommandFlagPageOption = 8;  // "header:", "body:" or "id:"

inline constexpr std::size_t kProgramPathCharacters = 260;
inline constexpr std::size_t kCommandLineCharacters = 8336;
inline constexpr std::size_t kHostIdCharacters = 520;

struct KvCommandRecord {
    std::uint32_t flags;
    wchar_t programPath[kProgramPathCharacters];
    wchar_t commandLine[kCommandLineCharacters];
    wchar_t headerUrl[Fundor::kUrlBufferCharacters];
    wchar_t bodyUrl[Fundor::kUrlBufferCharacters];
    wchar_t hostId[kHostIdCharacters];
    std::uint32_t headerGiven;  // 1 when a non-empty header URL was stored and not refused
};

// A zero-filled block of count records (one when count is 0) from the process heap, or null.
[[nodiscard]] KvCommandRecord* AllocCommandRecord(std::size_t count) noexcept;
// Returns the block to the process heap; null is ignored.
void FreeCommandRecord(KvCommandRecord* record) noexcept;

// White space trimmed at both ends, then at most one leading and one trailing double quote dropped.
[[nodiscard]] std::wstring StripQuotes(const std::wstring& text);

// Copies at most capacity - 1 characters of source and terminates; a longer value is cut.
void CopyCut(wchar_t* destination, std::size_t capacity, const wchar_t* source) noexcept;
// Lower-cases the terminated text in place, at most capacity characters.
void LowerCaseField(wchar_t* text, std::size_t capacity) noexcept;
// Whether url begins with "sarn://" (compared as given: callers lower-case first).
[[nodiscard]] bool IsSarnUrl(const wchar_t* url) noexcept;
// The option an argument of the command line holds: the text after its first "-" or "/" (so
// "x/id:a" holds "id:a"), or null for an argument without one.
[[nodiscard]] const wchar_t* CommandOptionOf(const wchar_t* argument) noexcept;

// Whether the program's command line goes on to a start with a host ID, by the rules of the
// module's parse (CKvShellModule::ParseCommandLine): not too long, no registration switch, and an
// "id:" option with a value. Read before the parse, to begin work that only such a start needs; a
// wrong answer may cost time, never change what the start does.
[[nodiscard]] bool CommandLineNamesHostId(const wchar_t* line) noexcept;
