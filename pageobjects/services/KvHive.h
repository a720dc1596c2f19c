#pragma once
// One registry location of the override hives: a root key and a normalised path; and the record
// the override set keeps per hive (the hive, its priority and whether it is read).

#include "pageobjects/services/KvRegistryPath.h"

#include <windows.h>

#include <cstdint>
#include <string>

class KvHive {
public:
    KvHive(HKEY root, const std::wstring& path) : m_root(root), m_path(path) {}
    KvHive(const KvHive&) = default;
    KvHive& operator=(const KvHive&) = default;
    virtual ~KvHive() = default;

    [[nodiscard]] HKEY Root() const { return m_root; }
    [[nodiscard]] const KvRegistryPath& Path() const { return m_path; }

    // By root handle value (unsigned), then by path text code unit by code unit (case-sensitive).
    [[nodiscard]] bool operator<(const KvHive& other) const;

private:
    HKEY m_root;
    KvRegistryPath m_path;
};

class KvHiveRecord {
public:
    KvHiveRecord(const KvHive& hive, std::uint32_t priority, std::uint32_t active)
        : m_hive(hive), m_priority(priority), m_active(active) {}
    KvHiveRecord(const KvHiveRecord&) = default;
    KvHiveRecord& operator=(const KvHiveRecord&) = default;
    virtual ~KvHiveRecord() = default;

    [[nodiscard]] const KvHive& Hive() const { return m_hive; }
    [[nodiscard]] std::uint32_t Priority() const { return m_priority; }
    [[nodiscard]] bool IsActive() const { return m_active != 0; }

private:
    KvHive m_hive;
    std::uint32_t m_priority;
    std::uint32_t m_active;
};
