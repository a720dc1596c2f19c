#pragma once
// A registry path in normal form: no leading backslash, no run of backslashes, and a trailing
// backslash unless empty. Joining two normal paths is then plain concatenation.

#include <string>

class KvRegistryPath {
public:
    KvRegistryPath() = default;
    KvRegistryPath(const KvRegistryPath&) = default;
    KvRegistryPath& operator=(const KvRegistryPath&) = default;
    explicit KvRegistryPath(const std::wstring& text) { Set(text); }
    virtual ~KvRegistryPath() = default;

    // An empty text leaves the path as it was; any other replaces it, normalised.
    void Set(const std::wstring& text);
    // This path followed by other ("A\" + "b\" gives "A\b\").
    [[nodiscard]] KvRegistryPath Join(const KvRegistryPath& other) const;
    // This path followed by text, normalised first.
    [[nodiscard]] KvRegistryPath Append(const std::wstring& text) const { return Join(KvRegistryPath(text)); }
    [[nodiscard]] std::wstring Text() const { return m_text; }
    [[nodiscard]] const std::wstring& Ref() const { return m_text; }

private:
    std::wstring m_text;
};
