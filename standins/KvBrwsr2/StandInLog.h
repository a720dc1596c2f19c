#pragma once
// The stand-in's record of what it was asked, for tests outside the process: one UTF-8 line per
// event, appended to the file named by ORDWELL_KVBRWSR2_LOG (nothing is written without it).

#include <windows.h>

#include <string>

namespace KvBrwsr2 {

// Appends "pid=<pid> " + event + CRLF in one write; line breaks inside the event become spaces.
// Never throws.
void RecordLine(const std::wstring& event) noexcept;

[[nodiscard]] std::wstring Hex32(unsigned long value);
[[nodiscard]] std::wstring HexPointer(const void* value);

}  // namespace KvBrwsr2
