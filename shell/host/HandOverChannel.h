#pragma once
// The hand-over between two starts of one host ID. A second start leaves its page in a volatile
// value of the user's registry, named from the host event name, sets the host event and waits until
// the running host has taken the value away. Two named mutexes, named from the host event name too,
// make that sound across processes:
// - the hand-over lock: a start holds it from before it creates or opens the host event until its
//   page has been taken or refused. Pages reach a host one at a time (none is overwritten unread),
//   and a new host removes what an earlier host left behind before any page can be written for it.
// - the host token: owned by the running host from its start until it stops reading. A start that
//   waits for its page learns at once when the host ended or died with the page unread. A process
//   that cannot own the token does not run as a host: no start could reach it.
// Whoever removes the value decides what became of the page: the host shows a page only when its
// own removal of the value succeeded, and a start whose host did not take the page in time takes
// it back by removing it while it still holds its text. A page is thus either shown and reported
// handed over, or reported as not handed over and never shown.
// Every name begins with upper-case letters while host event names are lower-case (the ID is), and
// kernel object names are compared with case: the names never meet a host event of another ID.

#include "core/base/ScopedResource.h"

#include <windows.h>

#include <cstddef>
#include <string>

inline constexpr wchar_t kHandOverKey[] = L"Volatile Environment\\SOFTWARE\\Tervane\\QRN\\Settings\\ui";
inline constexpr wchar_t kHandOverValuePrefix[] = L"Ordwellsecinst";

// The host event's name for a host ID: its first 260 characters, cut at the first "?". IDs that
// agree up to there share one host.
[[nodiscard]] std::wstring HostEventNameOf(const wchar_t* hostId);
// The value that carries a page to the host of hostEventName: both ends name it here.
[[nodiscard]] std::wstring HandOverValueName(const std::wstring& hostEventName);

class HandOverChannel {
public:
    // NameInvalid: no object can have the name (nor can the host event: its creation says so).
    // NameHeld: another object holds the name (of another kind, or with an access list that
    // refuses this start); the reason is in the last error.
    enum class LockResult { Locked, TimedOut, NameInvalid, NameHeld };
    enum class Outcome { Taken, HostGone, TimedOut };
    enum class TakeBackResult { TakenBack, AlreadyTaken, Failed };

    explicit HandOverChannel(const std::wstring& hostEventName);
    // Gives back the lock and the token when held (on the thread that took them).
    ~HandOverChannel();
    HandOverChannel(const HandOverChannel&) = delete;
    HandOverChannel& operator=(const HandOverChannel&) = delete;

    // attributes below: the access list of the host's named objects, so that the lock and the token
    // made by one start (elevated or not) can be used by every other start of the user.

    // Takes the hand-over lock, waiting at most until deadline (a GetTickCount64 time). An abandoned
    // lock is taken as well: its start died, and what it left is judged like any other value. A
    // start that cannot hold the lock must write nothing.
    [[nodiscard]] LockResult Lock(SECURITY_ATTRIBUTES* attributes, ULONGLONG deadline);
    void Unlock() noexcept;

    // Makes the calling thread the running host's token owner; false when the token cannot be had,
    // with the reason in the last error (ERROR_TIMEOUT while another process keeps the token,
    // ERROR_INVALID_HANDLE or ERROR_ACCESS_DENIED when another object holds its name).
    [[nodiscard]] bool ClaimHost(SECURITY_ATTRIBUTES* attributes);
    void ReleaseHost() noexcept;

    // Whether a host owns the token now. False once it released it, died owning it, or when there
    // is no token at all.
    [[nodiscard]] bool HostReads();
    // Waits until the host gives up its token, at most until deadline; true when it did.
    [[nodiscard]] bool WaitForHostEnd(ULONGLONG deadline);

    // Writes length characters of page, without a terminator, into the value (made volatile).
    // Returns the first failing registry call's code; *keyFailed tells which one failed.
    [[nodiscard]] LONG WriteValue(const wchar_t* page, std::size_t length, bool* keyFailed);
    // Removes the value; nothing when it is not there.
    void RemoveValue() noexcept;
    // Waits until the value no longer holds page (Taken), until the host stopped reading with the
    // page still there (HostGone), or until deadline (TimedOut). Only a host takes the value away
    // while the caller holds the lock and keeps the host event open.
    [[nodiscard]] Outcome WaitUntilTaken(const wchar_t* page, std::size_t length, ULONGLONG deadline);
    // Removes the value while it still holds page (the caller holds the lock): TakenBack, the page
    // will not be shown; AlreadyTaken, the host removed it first (or it holds another text);
    // Failed, it could not be removed (*error says why) and may still be shown.
    [[nodiscard]] TakeBackResult TakeBack(const wchar_t* page, std::size_t length, LONG* error);

    [[nodiscard]] const std::wstring& ValueName() const noexcept { return m_valueName; }

private:
    [[nodiscard]] bool ValueHolds(HKEY key, const wchar_t* page, std::size_t length) const;
    [[nodiscard]] bool OpenToken();

    std::wstring m_valueName;
    std::wstring m_lockName;
    std::wstring m_tokenName;
    Fundor::ScopedHandle m_lock;
    bool m_locked = false;
    Fundor::ScopedHandle m_token;
    bool m_tokenOwned = false;
};
