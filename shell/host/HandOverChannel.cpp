#include "shell/host/HandOverChannel.h"

#include "core/base/LastError.h"

#include <cwchar>
#include <vector>

namespace {

constexpr std::size_t kHostEventNameCharacters = 260;
// A start that looked at a free token holds it for an instant; a new host waits that long at most.
constexpr DWORD kClaimWaitMilliseconds = 5000;
// How often a waiting start looks again when no registry change woke it.
constexpr DWORD kLookAgainMilliseconds = 100;
constexpr int kOpenAttempts = 10;

DWORD Remaining(ULONGLONG deadline)
{
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return 0;
    const ULONGLONG left = deadline - now;
    return left >= INFINITE ? INFINITE - 1 : static_cast<DWORD>(left);
}

// Creates the mutex, or opens it when it exists: creation asks for full access, which the host's
// access list denies (WRITE_DAC and DELETE) once another process made it. *created tells whether this
// call made it (and then owns it when initialOwner is set). Null with the reason in the last error.
HANDLE CreateOrOpenMutex(const std::wstring& name, SECURITY_ATTRIBUTES* attributes, BOOL initialOwner, bool* created)
{
    *created = false;
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        if (HANDLE mutex = ::CreateMutexW(attributes, initialOwner, name.c_str())) {
            *created = ::GetLastError() != ERROR_ALREADY_EXISTS;
            return mutex;
        }
        const DWORD createError = ::GetLastError();
        if (HANDLE mutex = ::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str())) return mutex;
        // Refused while it existed, gone when opened: try again.
        if (::GetLastError() != ERROR_FILE_NOT_FOUND) {
            // The creation's reason tells more (another kind of object, a name that cannot be).
            if (createError != ERROR_ACCESS_DENIED) ::SetLastError(createError);
            break;
        }
    }
    return nullptr;
}

bool IsNameThatCannotBe(DWORD error)
{
    return error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME || error == ERROR_BAD_PATHNAME ||
           error == ERROR_FILENAME_EXCED_RANGE;
}

bool Acquired(DWORD waitResult) { return waitResult == WAIT_OBJECT_0 || waitResult == WAIT_ABANDONED; }

}  // namespace

std::wstring HostEventNameOf(const wchar_t* hostId)
{
    if (hostId == nullptr) return {};
    std::wstring name(hostId, wcsnlen(hostId, kHostEventNameCharacters));
    const std::size_t query = name.find(L'?');
    if (query != std::wstring::npos) name.resize(query);
    return name;
}

std::wstring HandOverValueName(const std::wstring& hostEventName)
{
    return std::wstring(kHandOverValuePrefix) + L"_" + hostEventName;
}

HandOverChannel::HandOverChannel(const std::wstring& hostEventName)
    : m_valueName(HandOverValueName(hostEventName)),
      m_lockName(std::wstring(kHandOverValuePrefix) + L"Lock_" + hostEventName),
      m_tokenName(std::wstring(kHandOverValuePrefix) + L"Host_" + hostEventName)
{
}

HandOverChannel::~HandOverChannel()
{
    ReleaseHost();
    Unlock();
}

HandOverChannel::LockResult HandOverChannel::Lock(SECURITY_ATTRIBUTES* attributes, ULONGLONG deadline)
{
    if (m_locked) return LockResult::Locked;
    if (!m_lock) {
        bool created = false;
        m_lock.reset(CreateOrOpenMutex(m_lockName, attributes, FALSE, &created));
        if (!m_lock) {
            const DWORD error = Fundor::LastErrorOr(ERROR_ACCESS_DENIED);
            ::SetLastError(error);
            return IsNameThatCannotBe(error) ? LockResult::NameInvalid : LockResult::NameHeld;
        }
    }
    m_locked = Acquired(::WaitForSingleObject(m_lock.get(), Remaining(deadline)));
    return m_locked ? LockResult::Locked : LockResult::TimedOut;
}

void HandOverChannel::Unlock() noexcept
{
    if (m_locked) ::ReleaseMutex(m_lock.get());
    m_locked = false;
}

bool HandOverChannel::ClaimHost(SECURITY_ATTRIBUTES* attributes)
{
    ReleaseHost();
    bool created = false;
    m_token.reset(CreateOrOpenMutex(m_tokenName, attributes, TRUE, &created));
    if (!m_token) {
        ::SetLastError(Fundor::LastErrorOr(ERROR_ACCESS_DENIED));
        return false;
    }
    // Still there from an earlier host: free once that host ended, or held for an instant by a start.
    const DWORD waited = created ? WAIT_OBJECT_0 : ::WaitForSingleObject(m_token.get(), kClaimWaitMilliseconds);
    // A timed-out wait leaves the last error as the create found the mutex (ERROR_ALREADY_EXISTS).
    const DWORD waitError = waited == WAIT_FAILED ? Fundor::LastErrorOr(ERROR_INVALID_HANDLE) : ERROR_TIMEOUT;
    m_tokenOwned = Acquired(waited);
    if (!m_tokenOwned) {
        m_token.reset();
        ::SetLastError(waitError);
    }
    return m_tokenOwned;
}

void HandOverChannel::ReleaseHost() noexcept
{
    if (m_tokenOwned) ::ReleaseMutex(m_token.get());
    m_tokenOwned = false;
    m_token.reset();
}

bool HandOverChannel::OpenToken()
{
    if (!m_token) m_token.reset(::OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, m_tokenName.c_str()));
    return m_token.valid();
}

bool HandOverChannel::HostReads()
{
    if (m_tokenOwned) return true;
    if (!OpenToken()) return false;
    const DWORD result = ::WaitForSingleObject(m_token.get(), 0);
    if (result == WAIT_TIMEOUT) return true;
    // Free or abandoned: this start now owns it and hands it straight back.
    if (Acquired(result)) ::ReleaseMutex(m_token.get());
    return false;
}

bool HandOverChannel::WaitForHostEnd(ULONGLONG deadline)
{
    if (!OpenToken()) return true;
    const DWORD result = ::WaitForSingleObject(m_token.get(), Remaining(deadline));
    if (!Acquired(result)) return false;
    ::ReleaseMutex(m_token.get());
    // The token may outlive its host while starts hold it; the next host takes it anew.
    m_token.reset();
    return true;
}

LONG HandOverChannel::WriteValue(const wchar_t* page, std::size_t length, bool* keyFailed)
{
    *keyFailed = false;
    Fundor::ScopedRegKey key;
    const LONG status = ::RegCreateKeyExW(HKEY_CURRENT_USER, kHandOverKey, 0, nullptr, REG_OPTION_VOLATILE, KEY_WRITE,
                                          nullptr, key.put(), nullptr);
    if (status != ERROR_SUCCESS) {
        *keyFailed = true;
        return status;
    }
    // The host reads the characters back with their count: no terminator.
    return ::RegSetValueExW(key.get(), m_valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(page),
                            static_cast<DWORD>(length * sizeof(wchar_t)));
}

void HandOverChannel::RemoveValue() noexcept
{
    Fundor::ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kHandOverKey, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
        ::RegDeleteValueW(key.get(), m_valueName.c_str());
    }
}

bool HandOverChannel::ValueHolds(HKEY key, const wchar_t* page, std::size_t length) const
{
    if (key == nullptr) return false;
    // Room for the page, a terminator the registry may have kept, and one more to see a longer text.
    std::vector<wchar_t> text(length + 2, L'\0');
    DWORD type = 0;
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(key, m_valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    const std::size_t characters = wcsnlen(text.data(), size / sizeof(wchar_t));
    return type == REG_SZ && characters == length && wmemcmp(text.data(), page, length) == 0;
}

HandOverChannel::Outcome HandOverChannel::WaitUntilTaken(const wchar_t* page, std::size_t length, ULONGLONG deadline)
{
    Fundor::ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kHandOverKey, 0, KEY_QUERY_VALUE | KEY_NOTIFY, key.put()) != ERROR_SUCCESS) {
        key.reset();
    }
    Fundor::ScopedHandle changed(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
    bool armed = false;
    for (;;) {
        // Armed before looking, so that a change between the look and the wait still wakes us.
        if (!armed && key && changed) {
            armed = ::RegNotifyChangeKeyValue(key.get(), FALSE, REG_NOTIFY_CHANGE_LAST_SET, changed.get(), TRUE) ==
                    ERROR_SUCCESS;
        }
        // The host first: once it stopped reading, what the value holds is final.
        const bool hostReads = HostReads();
        if (!ValueHolds(key.get(), page, length)) return Outcome::Taken;
        if (!hostReads) return Outcome::HostGone;
        const DWORD left = Remaining(deadline);
        if (left == 0) return Outcome::TimedOut;
        const DWORD slice = left < kLookAgainMilliseconds ? left : kLookAgainMilliseconds;
        if (armed) {
            if (::WaitForSingleObject(changed.get(), slice) == WAIT_OBJECT_0) armed = false;
        } else {
            ::Sleep(slice);
        }
    }
}

HandOverChannel::TakeBackResult HandOverChannel::TakeBack(const wchar_t* page, std::size_t length, LONG* error)
{
    *error = ERROR_SUCCESS;
    Fundor::ScopedRegKey key;
    LONG status = ::RegOpenKeyExW(HKEY_CURRENT_USER, kHandOverKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.put());
    if (status == ERROR_FILE_NOT_FOUND) return TakeBackResult::AlreadyTaken;
    if (status == ERROR_SUCCESS) {
        if (!ValueHolds(key.get(), page, length)) return TakeBackResult::AlreadyTaken;
        // The host's removal and this one cannot both succeed: the first decides.
        status = ::RegDeleteValueW(key.get(), m_valueName.c_str());
        if (status == ERROR_SUCCESS) return TakeBackResult::TakenBack;
        if (status == ERROR_FILE_NOT_FOUND) return TakeBackResult::AlreadyTaken;
    }
    *error = status;
    return TakeBackResult::Failed;
}
