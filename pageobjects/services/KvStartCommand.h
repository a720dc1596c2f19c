#pragma once
// Starting a further program for a page: the command a page gives names a program and its
// parameters; the program is resolved once to the one file that exists, checked unless the page's
// caller vouches for it, and started by that file's final path.

#include <windows.h>

// command: a program and its parameters, the program in double quotes when it holds blanks
// (blanks and tabs after the closing quote are skipped; unquoted, the first blank ends it). Under 520 characters in all, parameters under 260.
// A bare name is looked up in App Paths (the user's, then the machine's), then along the search
// path (".exe" added when it has no extension); a name with a path is made absolute.
// trusted: the file is only held while it starts, else it must pass the module trust check.
// 0; 87 a null, over-long or malformed command or no program; 2 no such program; 5 not trusted;
// the hold's or the start's code otherwise (the shell's 0-32 among them). Logs as the session
// manager's launcher. std::bad_alloc may leave it; nothing else does.
[[nodiscard]] DWORD KvStartCommand(const wchar_t* command, bool trusted);
