#pragma once
// Reader of a file's version resource (the block that GetFileVersionInfoW returns) and of the
// strings in it.

#include <windows.h>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace Fundor {

// The version strings the system reads, in the order of kVersionStringKeyNames.
enum class VersionStringKey : std::size_t {
    CompanyName,
    FileVersion,
    FileDescription,
    Copyright,
    ProductName,
    ProductVersion,
};

// "CompanyName", "FileVersion", "FileDescription", "Copyright", "ProductName", "ProductVersion".
extern const std::array<const wchar_t*, 6> kVersionStringKeyNames;

[[nodiscard]] const wchar_t* VersionStringKeyName(VersionStringKey key) noexcept;

class FileVersionInfo {
public:
    FileVersionInfo() = default;
    virtual ~FileVersionInfo();
    FileVersionInfo(const FileVersionInfo&) = default;
    FileVersionInfo& operator=(const FileVersionInfo&) = default;

    // Reads the version resource of the file at path. Only the first successful load counts:
    // once data is loaded, a further call returns false and keeps the data. False for a null
    // path or a file without a version resource (nothing is kept then).
    [[nodiscard]] virtual bool Load(const wchar_t* path);

    // The string named key of the first translation (from "\VarFileInfo\Translation") whose
    // string table holds it; empty when nothing is loaded, the file has no translation table,
    // no translation holds the key, or key is null.
    [[nodiscard]] virtual std::wstring QueryString(const wchar_t* key) const;
    [[nodiscard]] std::wstring QueryString(VersionStringKey key) const { return QueryString(VersionStringKeyName(key)); }

    [[nodiscard]] bool IsLoaded() const noexcept { return m_loaded; }

private:
    std::vector<BYTE> m_data;
    bool m_loaded = false;
};

}  // namespace Fundor
