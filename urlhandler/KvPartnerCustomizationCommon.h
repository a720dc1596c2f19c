#pragma once
// The installed product packages as the registry lists them (HKLM, 64-bit view, read only):
// which packages are active, the feature codes of each package, their application codes, and
// the additional features each package switches on.

#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace KvPackages {

// Lower-cases the ASCII letters A to Z only; every other code unit stays as it is, whatever the
// thread's locale.
[[nodiscard]] std::wstring AsciiLower(std::wstring text);
void AsciiLowerInPlace(wchar_t* text, std::size_t length) noexcept;
// Whether text begins with prefix, ASCII letters compared without case. False when text is
// shorter; neither may be null.
[[nodiscard]] bool AsciiStartsWithNoCase(const wchar_t* text, const wchar_t* prefix) noexcept;

// The ";" list rule: items in order, empty items kept; a trailing ";" ends the list, and a value
// that is empty gives no item.
[[nodiscard]] std::vector<std::wstring> SplitList(const wchar_t* value);

// The string rule applied to one finished RegQueryValueExW call: status 0, type REG_SZ or
// REG_EXPAND_SZ, and a byte count of 0 or even with a NUL as its last character. bytes is what
// the call reported; buffer holds what it wrote (capacity characters).
[[nodiscard]] bool IsWellFormedString(LONG status, DWORD type, const wchar_t* buffer, DWORD bytes,
                                      std::size_t capacity) noexcept;

// Reads a string value by that rule into a zero-filled buffer of capacity characters (the
// value ends at its first NUL). False, with out empty, on any failure. Throws std::bad_alloc.
[[nodiscard]] bool ReadRegistryString(HKEY key, const wchar_t* valueName, std::size_t capacity, std::wstring& out);

}  // namespace KvPackages

// The application code of a feature: HKLM "SOFTWARE\Tervane\QRN\Packages\AppCode\<feature>"
// "AppID" lower-cased when it reads as a non-empty string; else the built-in row for "dru",
// "qemp" and "wotap" (compared without case); else the feature code lower-cased.
[[nodiscard]] std::wstring GetAppCodeForFeature(const std::wstring& featureCode);

class CKvPackagesInfor {
public:
    CKvPackagesInfor() = default;
    CKvPackagesInfor(const CKvPackagesInfor&) = delete;
    CKvPackagesInfor& operator=(const CKvPackagesInfor&) = delete;

    // Fills the members afresh from the registry. Registry failures are logged and leave the
    // members empty or partly filled. Throws std::bad_alloc only.
    void Init();

    // Active package identifiers in the order of the value, case kept; may hold empty ones.
    [[nodiscard]] const std::vector<std::wstring>& ActivePackages() const { return m_activePackages; }
    // Package identifier -> feature codes in the order of "features".
    [[nodiscard]] const std::map<std::wstring, std::vector<std::wstring>>& PackageFeatures() const
    {
        return m_packageFeatures;
    }
    // Package identifier -> names of the additional features that are on.
    [[nodiscard]] const std::map<std::wstring, std::vector<std::wstring>>& PackageAdditionalFeatures() const
    {
        return m_packageAdditionalFeatures;
    }
    // "<package>:<app code>" lower-cased -> the first feature code with that app code.
    [[nodiscard]] const std::map<std::wstring, std::wstring>& FeatureByAppCode() const { return m_featureByAppCode; }

private:
    void ReadPackage(HKEY packages, const std::wstring& packageId);

    std::vector<std::wstring> m_activePackages;
    std::map<std::wstring, std::vector<std::wstring>> m_packageFeatures;
    std::map<std::wstring, std::vector<std::wstring>> m_packageAdditionalFeatures;
    std::map<std::wstring, std::wstring> m_featureByAppCode;
};
