#include "pageobjects/services/KvRegistryPath.h"

void KvRegistryPath::Set(const std::wstring& text)
{
    if (text.empty()) return;
    std::wstring normal;
    normal.reserve(text.size() + 1);
    for (const wchar_t c : text) {
        if (c == L'\\' && (normal.empty() || normal.back() == L'\\')) continue;
        normal.push_back(c);
    }
    if (!normal.empty() && normal.back() != L'\\') normal.push_back(L'\\');
    m_text = std::move(normal);
}

KvRegistryPath KvRegistryPath::Join(const KvRegistryPath& other) const
{
    KvRegistryPath joined(*this);
    joined.m_text += other.m_text;
    return joined;
}
