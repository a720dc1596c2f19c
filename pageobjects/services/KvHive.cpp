#include "pageobjects/services/KvHive.h"

#include <cstdint>

bool KvHive::operator<(const KvHive& other) const
{
    const auto mine = reinterpret_cast<std::uintptr_t>(m_root);
    const auto theirs = reinterpret_cast<std::uintptr_t>(other.m_root);
    if (mine != theirs) return mine < theirs;
    return m_path.Ref() < other.m_path.Ref();
}
