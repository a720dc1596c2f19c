#pragma once
// The short-path helper shared by the page services and the URL library. It links nothing but
// the logging front end, so the URL library can take it without trust or window code.

// Copies `path` into `buffer` (they may be the same) when it fits in `characters` including the
// terminator, and returns its length. No 8.3 conversion takes place. Returns 0 and leaves the
// buffer untouched when the path does not fit, or when path or buffer is null.
unsigned KvGetShortPathName(const wchar_t* path, wchar_t* buffer, unsigned characters) noexcept;
