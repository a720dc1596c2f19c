#pragma once
// The access list of the host's named events: Everyone may use an event but may neither change
// its access list nor delete it (denied WRITE_DAC | DELETE, then allowed GENERIC_ALL).

#include <windows.h>

class NotQuiteNullDacl {
public:
    NotQuiteNullDacl() = default;
    virtual ~NotQuiteNullDacl();
    NotQuiteNullDacl(const NotQuiteNullDacl&) = delete;
    NotQuiteNullDacl& operator=(const NotQuiteNullDacl&) = delete;

    // Builds the list; false with LastError() set on failure.
    [[nodiscard]] bool Create();
    [[nodiscard]] PACL Acl() const noexcept { return m_acl; }
    [[nodiscard]] DWORD LastError() const noexcept { return m_lastError; }

private:
    PACL m_acl = nullptr;  // process heap
    PSID m_everyone = nullptr;
    DWORD m_lastError = 0;
};
