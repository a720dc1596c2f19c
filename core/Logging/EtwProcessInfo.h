#pragma once
// Facts about the process that every ETW record carries and that never change while it runs:
// the process's file version and the full path of the logging module.

#include <windows.h>

#include <string>

namespace ETWLogging::internal {

struct EtwProcessInfo {
    std::wstring fileVersion;  // "FileVersion" of the process's version resource; empty without one
    std::wstring modulePath;   // full path of the module; empty when it cannot be had
};

// Computed by the first call in the process (module null: the process image); every later call
// returns the same object, whatever module it names. May throw std::bad_alloc (the next call
// then tries again).
[[nodiscard]] const EtwProcessInfo& GetEtwProcessInfo(HMODULE module);

// The "FileVersion" string of the file's version resource, with a text of the form
// "%u,%u,%u,%u" rewritten as "%u.%u.%u.%u". Empty when the file has none.
[[nodiscard]] std::wstring ReadFileVersionText(const wchar_t* path);
[[nodiscard]] std::wstring NormalizeFileVersion(const std::wstring& text);

// GetModuleFileNameW with the buffer grown by 255 characters until the path fits.
[[nodiscard]] std::wstring GetFullModulePath(HMODULE module);

}  // namespace ETWLogging::internal
