#pragma once
// Shared pieces of the shell configuration tests. Every test program process binds the
// localized-resource stand-in "KvRtMui.dll" from its own folder, with unmarked strings and
// mapped language 1033 unless a test chooses another.

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace shelltest {

// A file beside the test program.
[[nodiscard]] std::wstring BinFile(const std::wstring& relative);

// The mapped UI language the stand-in answers from now on.
void SetMappedLanguage(LANGID language);

// Writes text as UTF-8.
void WriteTextFile(const std::wstring& path, const std::string& text);
[[nodiscard]] std::vector<std::string> ReadLines(const std::wstring& path);

// Points the configuration stand-in's log at path for the lifetime of the object.
class UiCfgLog {
public:
    explicit UiCfgLog(std::wstring path);
    ~UiCfgLog();
    [[nodiscard]] std::vector<std::string> Lines() const { return ReadLines(m_path); }

private:
    std::wstring m_path;
};

// Writes a REG_SZ (or other) value, creating the key.
void SetRegistryString(HKEY root, const std::wstring& subkey, const wchar_t* name, const std::wstring& value,
                       DWORD type = REG_SZ);
void SetRegistryDword(HKEY root, const std::wstring& subkey, const wchar_t* name, DWORD value);

}  // namespace shelltest
