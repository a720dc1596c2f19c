#pragma once
// A page as the stand-in shows it: its title, its readable text and its script blocks, taken
// from an HTML resource of a DLL. No layout, no styles: enough for tests and screenshots.

#include <windows.h>

#include <string>
#include <vector>

namespace KvBrwsr2 {

struct ScriptBlock {
    std::wstring code;
    unsigned long firstLine = 0;  // 0-based line of the page on which the code starts
};

struct HtmlPage {
    std::wstring title;
    std::wstring text;
    std::vector<ScriptBlock> scripts;
};

// Splits "sarn://<dll path>::<resource>" (slashes or backslashes right behind the scheme are
// skipped; a query or fragment behind the resource name is dropped). False when the URL has
// another scheme or no "::" with text on both sides.
[[nodiscard]] bool SplitResourceUrl(const std::wstring& url, std::wstring& dllPath, std::wstring& resourceName);

// Loads the DLL as a data file and reads its HTML resource (type 23) by name. Returns 0 or a
// Win32 error; page is touched only on success.
[[nodiscard]] DWORD LoadHtmlResource(const std::wstring& dllPath, const std::wstring& resourceName, HtmlPage& page);

// Parses page bytes: UTF-8 (with or without its byte-order mark) or UTF-16LE with its mark.
[[nodiscard]] HtmlPage ParseHtml(const std::string& bytes);

}  // namespace KvBrwsr2
