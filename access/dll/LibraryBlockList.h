#pragma once
// Which library versions the DLL loader refuses. The module platform's own libraries
// ("Garrow.dll", "Dellith.dll", "Fennick.dll", "Corvane.dll", names compared without case) are
// never refused. Any other library is refused when HKLM "SOFTWARE\Tervane\Brann\List\<file
// name>" holds an enciphered string value (the obfuscated key's "KVRG" record) named by the
// file's "FileVersion" text whose text is that same version. A plain value there counts for
// nothing: only the enciphered store is read.

#include <string>
#include <vector>

namespace Velmo::internal {

class LibraryBlockList {
public:
    // The exempt names as listed; built once (thread-safe) and kept until exit.
    [[nodiscard]] static const std::vector<std::wstring>& exemptNames();
    // fileName equals one of the exempt names, ignoring case.
    [[nodiscard]] static bool isExempt(const std::wstring& fileName);
    // True when the library fileName, whose file is at fullPath, must not be loaded. An empty
    // name, an exempt name, a file without a "FileVersion" text and a missing key never block.
    [[nodiscard]] static bool isBlocked(const std::wstring& fileName, const std::wstring& fullPath);

    static constexpr const wchar_t* kBlockListKey = L"SOFTWARE\\Tervane\\Brann\\List\\";
};

}  // namespace Velmo::internal
