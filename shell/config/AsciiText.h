#pragma once
// Comparison of the configuration's names and tags: only A-Z fold, whatever the thread's locale.

// True when both terminated strings are equal once ASCII upper-case letters are folded.
inline bool EqualIgnoringAsciiCase(const wchar_t* left, const wchar_t* right)
{
    for (;; ++left, ++right) {
        wchar_t a = *left;
        wchar_t b = *right;
        if (a >= L'A' && a <= L'Z') a = static_cast<wchar_t>(a - L'A' + L'a');
        if (b >= L'A' && b <= L'Z') b = static_cast<wchar_t>(b - L'A' + L'a');
        if (a != b) return false;
        if (a == L'\0') return true;
    }
}
