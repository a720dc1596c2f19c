#include "core/Logging/CLogging.h"
#include "core/base/SrwLockGuard.h"

#include "core/base/FileSystemHelpers.h"
#include "core/base/LastError.h"
#include "core/base/StringFormat.h"
#include "core/ini/CObfuscatedIniReader.h"

#include <knownfolders.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string_view>

namespace ETWLogging {
namespace {

constexpr wchar_t kConfigSection[] = L"Config";
constexpr wchar_t kIniFileName[] = L"log.ini";
constexpr wchar_t kLastLogIdxKey[] = L"LastLogIdx";
constexpr wchar_t kByteOrderMark = 0xFEFF;  // written as FF FE
constexpr DWORD kFileAttributes = FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL;
constexpr DWORD kFileSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr std::uint32_t kProgramDataChars = MAX_PATH;

constexpr std::uint32_t kSmallestMaxEntries = 2;
constexpr std::uint32_t kLargestSeverity = 6;

using SharedLock = Fundor::SharedSrwLock;
using ExclusiveLock = Fundor::ExclusiveSrwLock;

// Pause between two tries of the file's lock after the first (which only yields): a writer holds
// it for one write, so it is usually free again within a millisecond, and writers that try again
// at once would otherwise keep taking it first (measured under Wine with four contending writers:
// pauses growing to 10 ms made the slowest records wait 60 to 240 ms, 1 ms pauses 20 to 150).
constexpr DWORD kLockPollPauseMs = 1;
// The rotation mutex is waited for in slices, so that the time the machine did not run this
// thread can be told apart (see WaitAllowance).
constexpr DWORD kMutexSliceMs = 50;
// How much longer than planned a pause may take and still count in full.
constexpr DWORD kStallAllowanceMs = 20;

using Clock = std::chrono::steady_clock;

// The waiting one record may still do, kLockWaitMs for all its waits together. A pause counts for
// the time it took, but for no more than planned plus kStallAllowanceMs: a pause that overran by
// more means the machine did not run this thread, which held up the lock's holder as much, and
// is no sign of a stuck holder (measured on a machine loaded far beyond its processors: records
// of busy writers were otherwise dropped now and then).
class WaitAllowance {
public:
    [[nodiscard]] DWORD LeftMs() const
    {
        constexpr std::int64_t allUs = std::int64_t{CLogging::kLockWaitMs} * 1000;
        return m_spentUs >= allUs ? 0 : static_cast<DWORD>((allUs - m_spentUs + 999) / 1000);
    }
    // A pause planned for plannedMs, begun at start, is over.
    void Spend(Clock::time_point start, DWORD plannedMs)
    {
        const std::int64_t tookUs = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
        m_spentUs += std::min<std::int64_t>(tookUs, (std::int64_t{plannedMs} + kStallAllowanceMs) * 1000);
    }

private:
    std::int64_t m_spentUs = 0;
};

// Holds a mutex (the rotation mutex, the debug-output senders' mutex) for one record, waiting for
// it from allowance (null: one try). A wait that times out goes on without it rather than losing
// the record; an abandoned mutex (its holder died) is taken over.
class MutexHold {
public:
    MutexHold(HANDLE mutex, WaitAllowance* allowance)
    {
        if (mutex == nullptr) {
            return;
        }
        for (;;) {
            const DWORD slice = allowance != nullptr ? std::min(allowance->LeftMs(), kMutexSliceMs) : 0;
            const Clock::time_point start = Clock::now();
            const DWORD wait = ::WaitForSingleObject(mutex, slice);
            if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
                m_owned = mutex;
                return;
            }
            if (wait != WAIT_TIMEOUT) {
                return;
            }
            if (slice == 0) {
                m_timedOut = true;
                return;
            }
            allowance->Spend(start, slice);
        }
    }
    ~MutexHold()
    {
        if (m_owned != nullptr) {
            ::ReleaseMutex(m_owned);
        }
    }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;

    [[nodiscard]] bool owned() const { return m_owned != nullptr; }
    [[nodiscard]] bool timedOut() const { return m_timedOut; }

private:
    HANDLE m_owned = nullptr;
    bool m_timedOut = false;
};

const wchar_t* LevelName(LogLevel level)
{
    switch (level) {
    case kLevelNormal: return L"Normal";
    case kLevelWarning: return L"Warning";
    case kLevelInformation: return L"Information";
    case kLevelError: return L"Error";
    case kLevelCritical: return L"Critical";
    case kLevelInformation2: return L"Information";
    default: return nullptr;
    }
}

std::wstring StripExtension(const std::wstring& name)
{
    const std::size_t dot = name.rfind(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

// Text built in place: on the stack up to N - 1 characters, on the heap only beyond that. A
// record's line and its file's path are built for every record; for the usual lengths that
// costs no allocation. Always terminated.
template <std::size_t N>
class InlineText {
public:
    InlineText() noexcept { m_inline[0] = L'\0'; }
    InlineText(const InlineText&) = delete;
    InlineText& operator=(const InlineText&) = delete;

    void Append(const wchar_t* text, std::size_t length) { std::wmemcpy(Grow(length), text, length); }
    void Append(std::wstring_view text) { Append(text.data(), text.size()); }
    void Append(wchar_t c, std::size_t count = 1) { std::wmemset(Grow(count), c, count); }
    // Decimal, with leading zeros up to minimumDigits (as "%02hu" or "%0.3lu" print it).
    void AppendNumber(unsigned long value, std::size_t minimumDigits)
    {
        wchar_t digits[24];
        std::size_t count = 0;
        do {
            digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
            value /= 10;
        } while (value != 0);
        if (count < minimumDigits) {
            Append(L'0', minimumDigits - count);
        }
        wchar_t* at = Grow(count);
        for (std::size_t i = 0; i < count; ++i) {
            at[i] = digits[count - 1 - i];
        }
    }
    [[nodiscard]] const wchar_t* c_str() const noexcept { return m_heap.empty() ? m_inline : m_heap.c_str(); }
    [[nodiscard]] std::wstring_view View() const noexcept { return {c_str(), m_size}; }

private:
    // Room for count more characters, terminated; where they go.
    wchar_t* Grow(std::size_t count)
    {
        const std::size_t size = m_size + count;
        wchar_t* base = m_inline;
        if (m_heap.empty() && size < N) {
            m_inline[size] = L'\0';
        } else {
            if (m_heap.empty()) {
                m_heap.reserve(size < 2 * N ? 2 * N : size);
                m_heap.assign(m_inline, m_size);
            }
            m_heap.resize(size);
            base = m_heap.data();
        }
        wchar_t* at = base + m_size;
        m_size = size;
        return at;
    }

    wchar_t m_inline[N];
    std::wstring m_heap;  // holds the text once it outgrew m_inline
    std::size_t m_size = 0;
};

using LineText = InlineText<512>;
using PathText = InlineText<MAX_PATH + 16>;

// At most width characters from the front of the name, padded on the left to width.
void AppendFixedWidth(LineText& out, const wchar_t* name, std::size_t width)
{
    const std::size_t length = ::wcsnlen(name, width);
    out.Append(L' ', width - length);
    out.Append(name, length);
}

void BuildLine(LineText& out, const SYSTEMTIME& time, LogLevel level, std::uint32_t options,
               const std::optional<std::wstring>& moduleTag, DWORD processId, DWORD threadId, const wchar_t* file,
               int line, const wchar_t* function, const wchar_t* text)
{
    // "%02hu/%02hu/%hu %02hu:%02hu:%02hu %s$ -- (%s)$" on a 12-hour clock: hour 0 is 12 AM, 12 is
    // 12 PM.
    const WORD hour = time.wHour % 12 == 0 ? static_cast<WORD>(12) : static_cast<WORD>(time.wHour % 12);
    out.AppendNumber(time.wMonth, 2);
    out.Append(L'/');
    out.AppendNumber(time.wDay, 2);
    out.Append(L'/');
    out.AppendNumber(time.wYear, 1);
    out.Append(L' ');
    out.AppendNumber(hour, 2);
    out.Append(L':');
    out.AppendNumber(time.wMinute, 2);
    out.Append(L':');
    out.AppendNumber(time.wSecond, 2);
    out.Append(time.wHour < 12 ? std::wstring_view(L" AM$ -- (") : std::wstring_view(L" PM$ -- ("));
    out.Append(LevelName(level), std::wcslen(LevelName(level)));
    out.Append(L")$", 2);

    if ((options & CLogging::kOptionModuleTag) != 0) {
        out.Append(L' ');
        if (moduleTag) {
            out.Append(L'[');
            AppendFixedWidth(out, moduleTag->c_str(), 15);
            out.Append(L"]$", 2);
        }
    }
    if ((options & CLogging::kOptionProcessIds) != 0) {
        wchar_t ids[48];
        const int length = Fundor::FormatW(ids, std::size(ids), L" [PID:%5lu TID:%5lu]$", processId, threadId);
        out.Append(ids, length > 0 ? static_cast<std::size_t>(length) : std::wcslen(ids));
    }
    if ((options & CLogging::kOptionSourceFile) != 0) {
        out.Append(L' ');
        const wchar_t* name = file;
        if (name != nullptr) {
            if (const wchar_t* separator = std::wcsrchr(name, L'\\')) {
                name = separator + 1;
            }
        }
        if (name != nullptr && *name != L'\0') {
            wchar_t number[24];
            const int length = Fundor::FormatW(number, std::size(number), L":%5d]$", line);
            out.Append(L'[');
            AppendFixedWidth(out, name, 20);
            out.Append(number, length > 0 ? static_cast<std::size_t>(length) : std::wcslen(number));
        }
    }
    if ((options & CLogging::kOptionFunction) != 0) {
        out.Append(L' ');
        if (function != nullptr && *function != L'\0') {
            out.Append(L'[');
            AppendFixedWidth(out, function, 40);
            out.Append(L"()]$", 4);
        }
    }
    out.Append(L' ');
    const std::size_t textLength = std::wcslen(text);
    out.Append(text, textLength);
    if (text[textLength - 1] != L'\n') {
        out.Append(L"\r\n", 2);
    }
}

// "%s\%s" of (folder, base name), "_" and the host when there is one: fixed at Initialize.
std::wstring LogFilePrefix(const std::wstring& folder, const std::wstring& baseName,
                           const std::optional<std::wstring>& host)
{
    std::wstring prefix = folder + L"\\" + baseName;
    if (host) {
        prefix += L'_';
        prefix += *host;
    }
    return prefix;
}

// The prefix, then "%0.3lu%s" of (index, ".log").
void BuildLogFilePath(PathText& out, const std::wstring& prefix, std::uint32_t index)
{
    out.Append(prefix);
    out.AppendNumber(index, 3);
    out.Append(L".log", 4);
}

// Every write to a log file, from any thread, process or session, is made while holding an
// exclusive lock on one byte far beyond the end of any log file. An append-only handle alone is
// not enough: where end of file is looked up and then written to in two steps (as Wine does),
// two writers could both write at the same offset. The locked byte never holds data, so readers
// are never blocked.
//
// The lock is held until the handle is closed, which the caller does right after its write: no
// UnlockFileEx, one round trip to the file system fewer per record. That handle is the only one
// to its file object (not inheritable, never duplicated), so closing it releases the lock at once.
//
// The handle is synchronous, where a waiting LockFileEx cannot be given a time-out: the lock is
// tried without waiting, again after short pauses drawn from allowance (null: once).
// ERROR_LOCK_VIOLATION when it stayed held; fileChanged then tells whether the file's size
// changed meanwhile, i.e. other writers got the lock in turn and its holder is not stuck.
[[nodiscard]] DWORD LockForWriting(HANDLE file, WaitAllowance* allowance, bool& fileChanged)
{
    fileChanged = false;
    const auto fileSize = [file]() -> std::int64_t {
        LARGE_INTEGER size{};
        return ::GetFileSizeEx(file, &size) != FALSE ? size.QuadPart : -1;
    };
    std::optional<std::int64_t> sizeBefore;
    for (DWORD pause = 0;; pause = kLockPollPauseMs) {
        OVERLAPPED region{};
        region.Offset = static_cast<DWORD>(CLogging::kWriteLockOffset);
        region.OffsetHigh = static_cast<DWORD>(CLogging::kWriteLockOffset >> 32);
        const DWORD status = Fundor::Win32Status(
            ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &region));
        if (status != ERROR_LOCK_VIOLATION || allowance == nullptr) {
            return status;
        }
        if (!sizeBefore) {
            sizeBefore = fileSize();
        }
        const DWORD left = allowance->LeftMs();
        if (left == 0) {
            fileChanged = fileSize() != *sizeBefore;
            return ERROR_LOCK_VIOLATION;
        }
        const DWORD planned = std::min(pause, left);
        const Clock::time_point start = Clock::now();
        ::Sleep(planned);
        allowance->Spend(start, planned);
    }
}

enum class DebugOutput { Sent, NoMonitor, TimedOut };

// Waits for object from allowance (null: no waiting).
DWORD WaitFrom(WaitAllowance* allowance, HANDLE object)
{
    const DWORD planned = allowance != nullptr ? allowance->LeftMs() : 0;
    const Clock::time_point start = Clock::now();
    const DWORD result = ::WaitForSingleObject(object, planned);
    if (allowance != nullptr) {
        allowance->Spend(start, planned);
    }
    return result;
}

// Whether the monitor's buffer, at the start of a view, can be written whole: whoever made the
// section may have committed none of its pages (a write there faults), or made them read-only.
bool WritableBuffer(const void* view)
{
    MEMORY_BASIC_INFORMATION region = {};
    if (::VirtualQuery(view, &region, sizeof region) != sizeof region) return false;
    constexpr DWORD kWritable = PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    return region.State == MEM_COMMIT && (region.Protect & kWritable) != 0 && (region.Protect & PAGE_GUARD) == 0 &&
           region.RegionSize >= CLogging::kDebugMonitorBufferBytes;
}

// Sends text as OutputDebugStringW does, but with its waits bounded. An attached debugger takes
// it from OutputDebugStringW itself, which then waits for nothing. Else a monitor, when one
// listens, gets it through its section: this waits for the senders' mutex and for the monitor to
// be ready from allowance. Anything else of the user's can create or hold those objects.
DebugOutput SendDebugOutput(const wchar_t* text, const CLogging::DebugMonitorNames& names, WaitAllowance* allowance)
{
    if (::IsDebuggerPresent() != FALSE) {
        ::OutputDebugStringW(text);
        return DebugOutput::Sent;
    }
    const Fundor::ScopedHandle section(::OpenFileMappingW(FILE_MAP_WRITE, FALSE, names.section.c_str()));
    const Fundor::ScopedHandle bufferReady(::OpenEventW(SYNCHRONIZE, FALSE, names.bufferReady.c_str()));
    const Fundor::ScopedHandle dataReady(::OpenEventW(EVENT_MODIFY_STATE, FALSE, names.dataReady.c_str()));
    if (!section.valid() || !bufferReady.valid() || !dataReady.valid()) {
        return DebugOutput::NoMonitor;
    }
    // A view is whole pages: the buffer's bytes are there whatever size the section was made with.
    const Fundor::ScopedMappedView view(::MapViewOfFile(section.get(), FILE_MAP_WRITE, 0, 0, 0));
    const Fundor::ScopedHandle senders(::CreateMutexExW(nullptr, names.senderMutex.c_str(), 0, SYNCHRONIZE));
    if (!view.valid() || !senders.valid() || !WritableBuffer(view.get())) {
        return DebugOutput::NoMonitor;
    }
    const MutexHold sending(senders.get(), allowance);
    if (!sending.owned()) return sending.timedOut() ? DebugOutput::TimedOut : DebugOutput::NoMonitor;
    const DWORD ready = WaitFrom(allowance, bufferReady.get());
    if (ready != WAIT_OBJECT_0) {
        return ready == WAIT_TIMEOUT ? DebugOutput::TimedOut : DebugOutput::NoMonitor;
    }
    auto* const buffer = static_cast<std::uint8_t*>(view.get());
    const DWORD processId = ::GetCurrentProcessId();
    std::memcpy(buffer, &processId, sizeof processId);
    // Cut to the buffer; a code page of several bytes per character may need a shorter cut.
    char* const out = reinterpret_cast<char*>(buffer + sizeof processId);
    constexpr int kRoom = static_cast<int>(CLogging::kDebugMonitorBufferBytes - sizeof processId - 1);
    int chars = static_cast<int>(std::min<std::size_t>(std::wcslen(text), kRoom));
    int bytes = 0;
    while (chars > 0 && (bytes = ::WideCharToMultiByte(CP_ACP, 0, text, chars, out, kRoom, nullptr, nullptr)) == 0) {
        chars /= 2;
    }
    out[bytes] = '\0';
    (void)::SetEvent(dataReady.get());
    return DebugOutput::Sent;
}

bool AnyValue(int) { return true; }
bool ValidMaxSize(int value)
{
    return value >= static_cast<int>(CLogging::kDefaultMaxSize) && value <= static_cast<int>(CLogging::kLargestMaxSize);
}
bool ValidMaxEntries(int value)
{
    return value >= static_cast<int>(kSmallestMaxEntries) && value <= static_cast<int>(CLogging::kLargestMaxEntries);
}
bool ValidSeverity(int value) { return value >= 0 && value <= static_cast<int>(kLargestSeverity); }

// One setting: the folder ini wins over the root ini. An out-of-range value is replaced by the
// default in its file; when that write fails the setting is not applied at all.
std::optional<int> ReadSetting(Fundor::CObfuscatedIniReader& folderIni, Fundor::CObfuscatedIniReader& rootIni,
                               const wchar_t* key, int fallback, bool (*valid)(int))
{
    int value = 0;
    if (folderIni.ReadInt(kConfigSection, key, value)) {
        if (valid(value)) {
            return value;
        }
        if (!folderIni.WriteInt(kConfigSection, key, fallback)) {
            return std::nullopt;
        }
    }
    value = 0;
    if (rootIni.ReadInt(kConfigSection, key, value)) {
        if (valid(value)) {
            return value;
        }
        if (!rootIni.WriteInt(kConfigSection, key, fallback)) {
            return std::nullopt;
        }
    }
    return fallback;
}

}  // namespace

struct CLogging::RecordContext {
    std::wstring_view line;
    SYSTEMTIME time{};
    std::uint32_t options = 0;
    DWORD threadId = 0;
    WaitAllowance wait;
};

bool CLogging::LockBackOff::MayWait()
{
    std::uint64_t until = m_until.load();
    if (until == 0) {
        return true;
    }
    const ULONGLONG now = ::GetTickCount64();
    if (now < until) {
        return false;
    }
    // Over: one record claims the next wait; the others go on trying once until it is done.
    return m_until.compare_exchange_strong(until, now + kLockWaitMs + kLockBackOffMs);
}

void CLogging::LockBackOff::Note(bool acquired, bool timedOut)
{
    if (acquired) {
        if (m_until.load(std::memory_order_relaxed) != 0) {
            m_until = 0;
        }
    } else if (timedOut) {
        m_until = ::GetTickCount64() + kLockBackOffMs;
    }
}

// One mutex per log folder for every process on the session: the name is a hash of the folder
// path (object names cannot hold '\' and are limited in length), taken without case because the
// file system compares names without case.
std::wstring CLogging::RotationMutexName(const std::wstring& folder)
{
    std::wstring upper(folder);
    const int mapped = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, folder.c_str(),
                                       static_cast<int>(folder.size()), upper.data(),
                                       static_cast<int>(upper.size()), nullptr, nullptr, 0);
    if (mapped != static_cast<int>(upper.size())) {
        upper = folder;
    }
    std::uint64_t hash = 0xcbf29ce484222325ull;  // FNV-1a
    for (const wchar_t c : upper) {
        hash = (hash ^ static_cast<std::uint16_t>(c)) * 0x100000001b3ull;
    }
    wchar_t name[64];
    (void)Fundor::FormatW(name, std::size(name), L"Local\\TervaneKvLogsRotation_%016llX",
                          static_cast<unsigned long long>(hash));
    return name;
}

bool CLogging::IniStamp::operator==(const IniStamp& other) const
{
    return exists == other.exists && lastWrite.dwLowDateTime == other.lastWrite.dwLowDateTime &&
           lastWrite.dwHighDateTime == other.lastWrite.dwHighDateTime && size.QuadPart == other.size.QuadPart;
}

CLogging::CLogging() : CLogging(nullptr, nullptr) {}

CLogging::CLogging(std::shared_ptr<LogClock> clock, std::shared_ptr<Fundor::ShlObjAPI> shell)
    : CLogging(std::move(clock), std::move(shell), DebugMonitorNames{})
{
}

CLogging::CLogging(std::shared_ptr<LogClock> clock, std::shared_ptr<Fundor::ShlObjAPI> shell,
                   DebugMonitorNames debugMonitor)
    : m_clock(clock ? std::move(clock) : std::make_shared<LogClock>()),
      m_shell(shell ? std::move(shell) : std::make_shared<Fundor::ShlObjAPI>()),
      m_debugMonitor(std::move(debugMonitor))
{
}

CLogging::~CLogging()
{
    ExclusiveLock lock(m_stateLock);
    ResetLocked();
}

std::uint32_t CLogging::Initialize(const wchar_t* group, HMODULE module, const wchar_t* host,
                                   LoggingConfigListenerIf* /*listener*/)
{
    ExclusiveLock lock(m_stateLock);
    if (m_initialised) {
        return kErrorAlreadyInitialized;
    }
    std::uint32_t result = ERROR_NOT_ENOUGH_MEMORY;
    try {
        result = InitializeLocked(group, module, host);
    } catch (...) {
        // Only the copies and the ini readers allocate.
        result = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (result != ERROR_SUCCESS) {
        ResetLocked();
    }
    return result;
}

std::uint32_t CLogging::InitializeLocked(const wchar_t* group, HMODULE module, const wchar_t* host)
{
    m_initialised = false;
    if ((group != nullptr && *group == L'\0') || (host != nullptr && *host == L'\0')) {
        return ERROR_INVALID_PARAMETER;
    }
    m_group.reset();
    if (group != nullptr) {
        m_group = group;
    }

    std::wstring processName;
    if (!Fundor::GetModuleFileNameOnly(nullptr, processName)) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    m_moduleTag = processName;
    m_baseName = StripExtension(processName);
    std::wstring moduleName;
    if (module != nullptr && Fundor::GetModuleFileNameOnly(module, moduleName)) {
        // The module names the folder and the files; no module tag is written then.
        m_moduleTag.reset();
        m_baseName = StripExtension(moduleName);
    }

    // No host is fine: the file names then carry none.
    m_host.reset();
    if (host != nullptr) {
        m_host = host;
    }

    if (m_baseName.empty()) {
        return ERROR_INVALID_PARAMETER;
    }
    wchar_t programData[kProgramDataChars];
    if (const std::uint32_t result = GetProgramDataFolder(programData, kProgramDataChars); result != ERROR_SUCCESS) {
        return result;
    }
    const std::wstring root = std::wstring(programData) + L"\\Tervane\\" + L"KVLOGS" + L"\\";
    m_folder = m_group ? root + *m_group + L"\\" + m_baseName : root + m_baseName;
    m_folderIni = m_folder + L"\\" + kIniFileName;
    m_rootIni = root + kIniFileName;
    m_logFilePrefix = LogFilePrefix(m_folder, m_baseName, m_host);

    ReadConfiguration();

    m_processId = ::GetCurrentProcessId();
    // Without the mutex (the name is taken by an object of another kind) records still go out;
    // only the move to the next file is then not coordinated between processes.
    m_rotationMutex.reset(::CreateMutexW(nullptr, FALSE, RotationMutexName(m_folder).c_str()));
    m_initialised = true;
    return ERROR_SUCCESS;
}

void CLogging::ReadConfiguration()
{
    const bool folderIniExists = Fundor::IsFile(m_folderIni.c_str());
    const bool rootIniExists = !m_rootIni.empty() && Fundor::IsFile(m_rootIni.c_str());
    if (!folderIniExists && !rootIniExists) {
        return;
    }
    // A missing file still binds the reader's path; nothing is written to it unless it held a value.
    Fundor::CObfuscatedIniReader folderIni;
    Fundor::CObfuscatedIniReader rootIni;
    (void)folderIni.Load(m_folderIni);
    (void)rootIni.Load(m_rootIni);

    if (const auto value = ReadSetting(folderIni, rootIni, L"Enable", 1, AnyValue)) {
        m_enabled = *value != 0;
    }
    if (const auto value = ReadSetting(folderIni, rootIni, L"MaxSize", kDefaultMaxSize, ValidMaxSize)) {
        SetMaxSize(static_cast<std::uint32_t>(*value));
    }
    if (const auto value = ReadSetting(folderIni, rootIni, L"MaxEntries", kDefaultMaxEntries, ValidMaxEntries)) {
        SetMaxEntries(static_cast<std::uint32_t>(*value));
    }
    if (const auto value = ReadSetting(folderIni, rootIni, L"Severity", kDefaultSeverity, ValidSeverity)) {
        m_severity = static_cast<std::uint32_t>(*value);  // stored as it is, 0 included
    }
    if (const auto value = ReadSetting(folderIni, rootIni, L"Options", kDefaultOptions, AnyValue)) {
        m_options = static_cast<std::uint32_t>(*value);
    }
}

void CLogging::ResetLocked()
{
    m_group.reset();
    m_baseName.clear();
    m_moduleTag.reset();
    m_host.reset();
    m_folder.clear();
    m_rootIni.clear();
    m_folderIni.clear();
    m_logFilePrefix.clear();
    m_rotationMutex.reset();
    m_processId = 0;
    m_maxSize = kDefaultMaxSize;
    m_maxEntries = kDefaultMaxEntries;
    m_severity = kDefaultSeverity;
    m_options = kDefaultOptions;
    m_enabled = true;
    m_readiness = Readiness::FolderCheck;
    m_indexCache = IndexCache{};
    m_fileLockBackOff.Reset();
    m_rotationBackOff.Reset();
    m_debugMonitorBackOff.Reset();
    m_initialised = false;
    // The reference count is the object's lifetime, not its configuration: resetting it here
    // would let a later Release delete a logger that is still held.
}

std::uint32_t CLogging::EnsureReady(LogLevel, const wchar_t*, const wchar_t*) { return ERROR_SUCCESS; }

void CLogging::GetGroupPath(std::wstring&) {}

void CLogging::GetGroupName(std::wstring&) {}

std::uint32_t CLogging::Uninitialize()
{
    ExclusiveLock lock(m_stateLock);
    if (!m_initialised) {
        return kErrorNotInitialized;
    }
    ResetLocked();
    return ERROR_SUCCESS;
}

bool CLogging::SetEnabled(bool enabled)
{
    m_enabled = enabled;
    return enabled;
}

bool CLogging::IsEnabled() { return m_enabled; }

void CLogging::Log(LogLevel level, const wchar_t* file, const wchar_t* function, int line, const wchar_t* format,
                   ...)
{
    if (!IsLevelEnabled(level)) {
        return;
    }
    wchar_t text[kLevelTextBufferChars];
    va_list args;
    va_start(args, format);
    (void)Fundor::FormatWV(text, kLevelTextBufferChars, format, args);
    va_end(args);
    (void)WriteText(file, function, line, level, text);
}

std::uint32_t CLogging::WriteText(const wchar_t* file, const wchar_t* function, int line, LogLevel level,
                                  const wchar_t* text)
{
    if (text == nullptr || *text == L'\0' || LevelName(level) == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    // Every path into the file (the front end's, the core library's handler, the level-named
    // calls) passes here: a disabled logger or a level that is off touches no file.
    if (!IsLevelEnabled(level)) {
        return ERROR_SUCCESS;
    }
    SharedLock lock(m_stateLock);
    if (!m_initialised || !EnsureFolder()) {
        return ERROR_INVALID_PARAMETER;
    }
    try {
        RecordContext record;
        record.time = m_clock->LocalTime();
        record.options = m_options;
        record.threadId = ::GetCurrentThreadId();
        LineText recordLine;
        BuildLine(recordLine, record.time, level, record.options, m_moduleTag, m_processId, record.threadId, file,
                  line, function, text);
        record.line = recordLine.View();
        const std::uint32_t result = AppendRecord(record);
        if (result == ERROR_LOCK_VIOLATION) {
            ++m_droppedRecords;
        }
        if ((record.options & kOptionDebugger) != 0) {
            const bool mayWait = m_debugMonitorBackOff.MayWait();
            const DebugOutput sent = SendDebugOutput(recordLine.c_str(), m_debugMonitor, mayWait ? &record.wait : nullptr);
            m_debugMonitorBackOff.Note(sent == DebugOutput::Sent, mayWait && sent == DebugOutput::TimedOut);
        }
        return result;
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

bool CLogging::IsLevelEnabled(LogLevel level) { return m_enabled && level >= m_severity; }

void CLogging::SetMaxEntries(std::uint32_t count)
{
    m_maxEntries = count < kSmallestMaxEntries ? kSmallestMaxEntries
                   : count > kLargestMaxEntries ? kLargestMaxEntries
                                                : count;
}

std::uint32_t CLogging::GetMaxEntries() { return m_maxEntries; }

void CLogging::SetMaxSize(std::uint32_t bytes)
{
    m_maxSize = bytes < kDefaultMaxSize ? kDefaultMaxSize : bytes > kLargestMaxSize ? kLargestMaxSize : bytes;
}

std::uint32_t CLogging::GetMaxSize() { return m_maxSize; }

void CLogging::SetSeverity(std::uint32_t severity)
{
    m_severity = severity == 0 ? 1 : severity > kLargestSeverity ? kLargestSeverity : severity;
}

std::uint32_t CLogging::GetSeverity() { return m_severity; }

std::uint32_t CLogging::AddRef() { return ++m_referenceCount; }

std::uint32_t CLogging::Release()
{
    const std::uint32_t count = --m_referenceCount;
    if (count == 0) {
        delete this;
    }
    return count;
}

std::uint32_t CLogging::GetProgramDataFolder(wchar_t* buffer, std::uint32_t size)
{
    if (buffer == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (size > 0) {
        buffer[0] = L'\0';
    }
    PWSTR path = nullptr;
    const HRESULT hr = m_shell->SHGetKnownFolderPath(FOLDERID_ProgramData, KF_FLAG_CREATE, nullptr, &path);
    const Fundor::ScopedCoTaskMemory owner(path);
    if (FAILED(hr) || path == nullptr || *path == L'\0') {
        return ERROR_INVALID_PARAMETER;
    }
    // A cut folder would put the logs somewhere else: refuse instead.
    const std::size_t length = std::wcslen(path);
    if (length >= size) {
        return ERROR_INSUFFICIENT_BUFFER;
    }
    std::wmemcpy(buffer, path, length + 1);
    return ERROR_SUCCESS;
}

bool CLogging::EnsureFolder()
{
    switch (m_readiness.load()) {
    case Readiness::Ready: return true;
    case Readiness::NeverReady: return false;
    case Readiness::FolderCheck: break;
    }
    if (!m_folder.empty() && Fundor::CreateDirectoryPath(m_folder.c_str())) {
        m_readiness = Readiness::Ready;
        return true;
    }
    // Nowhere to write: stay silent for the life of the object rather than retry every record.
    m_enabled = false;
    m_severity = kSilencedSeverity;
    m_readiness = Readiness::NeverReady;
    return false;
}

std::uint32_t CLogging::AppendRecord(RecordContext& record)
{
    if (m_folder.empty() || m_baseName.empty() || (m_host && m_host->empty())) {
        return ERROR_INVALID_PARAMETER;
    }
    // The common case takes no lock: the file in use exists, has its mark and is not full.
    const std::uint32_t index = CurrentIndex();
    if (index < m_maxEntries) {
        DWORD error = ERROR_SUCCESS;
        PathText path;
        BuildLogFilePath(path, m_logFilePrefix, index);
        switch (TryAppend(path.c_str(), record, AppendMode::FileInUse, error)) {
        case AppendOutcome::Written: return ERROR_SUCCESS;
        case AppendOutcome::Failed: return error;
        case AppendOutcome::NeedsRotationLock: break;
        }
    }
    return AppendUnderRotationLock(record);
}

std::wstring CLogging::LogFilePath(std::uint32_t index) const
{
    PathText path;
    BuildLogFilePath(path, m_logFilePrefix, index);
    return std::wstring(path.View());
}

std::uint32_t CLogging::AppendUnderRotationLock(RecordContext& record)
{
    const bool mayWait = m_rotationBackOff.MayWait();
    MutexHold rotation(m_rotationMutex.get(), mayWait ? &record.wait : nullptr);
    m_rotationBackOff.Note(rotation.owned(), mayWait && rotation.timedOut());
    // Without the mutex, which another writer kept past the wait, a record empties no file and
    // moves to no other one: those writers may be doing just that. It goes into the file in use,
    // past MaxSize if need be; the next record that gets the mutex moves on. (No mutex at all:
    // nothing to coordinate with.)
    const bool mayMove = rotation.owned() || !m_rotationMutex.valid();
    // Another thread or process may have moved on while this one waited.
    std::uint32_t index = ReadIndexFromIni();
    if (index >= m_maxEntries) {
        index = 0;
        // Started afresh; without the mutex appended to instead, and saved all the same so that
        // the next mover does not empty it under the records.
        if (mayMove) {
            if (const DWORD error = CreateAnew(LogFilePath(index), record); error != ERROR_SUCCESS) {
                return error;
            }
        }
        SaveIndex(index);
    } else if (mayMove) {
        const FileState current = QueryFile(LogFilePath(index));
        if (current.exists && current.size >= m_maxSize) {
            std::uint32_t target = index;
            if (const std::uint32_t error = MoveToNextFile(index, current, target, record); error != ERROR_SUCCESS) {
                return error;
            }
            index = target;
        }
    }
    DWORD error = ERROR_SUCCESS;
    return TryAppend(LogFilePath(index).c_str(), record, AppendMode::Chosen, error) == AppendOutcome::Written
               ? ERROR_SUCCESS
               : error;
}

std::uint32_t CLogging::MoveToNextFile(std::uint32_t index, const FileState& current, std::uint32_t& target,
                                       RecordContext& record)
{
    const std::uint32_t maxEntries = m_maxEntries;
    const std::uint64_t maxSize = m_maxSize;
    const auto following = [maxEntries](std::uint32_t i) { return i + 1 < maxEntries ? i + 1 : 0; };

    // "LastLogIdx" may lag behind when it could not be saved (by this process or another). A
    // following file at least as new as the full one was moved to already: go on appending to it
    // (or follow it when it is full too) instead of emptying it again. An older one is left from
    // an earlier round and is started afresh.
    std::uint32_t from = index;
    FileState fromState = current;
    for (std::uint32_t step = 0; step + 1 < maxEntries; ++step) {
        const std::uint32_t candidate = following(from);
        const FileState state = QueryFile(LogFilePath(candidate));
        if (!state.exists) {
            break;
        }
        if (state.size < maxSize) {
            if (state.lastWrite.QuadPart < fromState.lastWrite.QuadPart) {
                break;
            }
            target = candidate;
            SaveIndex(candidate);
            return ERROR_SUCCESS;
        }
        if (state.lastWrite.QuadPart <= fromState.lastWrite.QuadPart) {
            break;
        }
        from = candidate;
        fromState = state;
    }
    target = following(from);
    if (const DWORD error = CreateAnew(LogFilePath(target), record); error != ERROR_SUCCESS) {
        return error;
    }
    SaveIndex(target);
    return ERROR_SUCCESS;
}

CLogging::AppendOutcome CLogging::TryAppend(const wchar_t* path, RecordContext& record, AppendMode mode,
                                            DWORD& error)
{
    const bool inUse = mode == AppendMode::FileInUse;
    // Append-only access: a write lands at the end of the file, never over another record. A
    // chosen file that is missing is created, never emptied: another writer may have created it
    // and written to it meanwhile.
    Fundor::ScopedHandle file(::CreateFileW(path, FILE_READ_DATA | FILE_APPEND_DATA, kFileSharing, nullptr,
                                            inUse ? OPEN_EXISTING : OPEN_ALWAYS, kFileAttributes, nullptr));
    if (!file.valid()) {
        error = ::GetLastError();
        return inUse && error == ERROR_FILE_NOT_FOUND ? AppendOutcome::NeedsRotationLock : AppendOutcome::Failed;
    }
    // A full file in use is left to the rotation; a chosen file takes the record whatever its size.
    switch (WriteUnderFileLock(file.get(), record, true, inUse ? m_maxSize.load() : 0, error)) {
    case FileWrite::Written: return AppendOutcome::Written;
    case FileWrite::Full: return AppendOutcome::NeedsRotationLock;
    case FileWrite::Failed: break;
    }
    return AppendOutcome::Failed;
}

DWORD CLogging::CreateAnew(const std::wstring& path, RecordContext& record)
{
    Fundor::ScopedHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, kFileSharing, nullptr,
                                            CREATE_ALWAYS, kFileAttributes, nullptr));
    if (!file.valid()) {
        return ::GetLastError();
    }
    // Only the mark, and only if no record got in first (it then wrote the mark itself).
    DWORD error = ERROR_SUCCESS;
    return WriteUnderFileLock(file.get(), record, false, 0, error) == FileWrite::Written ? ERROR_SUCCESS : error;
}

// Takes the file's write lock (the caller closes the handle right afterwards), then writes
// nothing when the file has reached fullAt bytes (0: no limit), else in one write: the byte-order
// mark when the file is empty, the line on records dropped before when there were any, and the
// record's line.
CLogging::FileWrite CLogging::WriteUnderFileLock(HANDLE file, RecordContext& record, bool withLine,
                                                 std::uint64_t fullAt, DWORD& error)
{
    const bool mayWait = m_fileLockBackOff.MayWait();
    bool fileChanged = false;
    const DWORD locked = LockForWriting(file, mayWait ? &record.wait : nullptr, fileChanged);
    // Busy writers that took turns are no reason for the next records not to wait.
    m_fileLockBackOff.Note(locked == ERROR_SUCCESS, mayWait && locked == ERROR_LOCK_VIOLATION && !fileChanged);
    if (locked != ERROR_SUCCESS) {
        error = locked;
        return FileWrite::Failed;
    }
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file, &size) == FALSE) {
        error = ::GetLastError();
        return FileWrite::Failed;
    }
    if (fullAt != 0 && static_cast<std::uint64_t>(size.QuadPart) >= fullAt) {
        return FileWrite::Full;
    }
    const std::wstring_view line = withLine ? record.line : std::wstring_view();
    // Taken over by this write (two threads may be writing to two files at once), given back when
    // it fails; records dropped meanwhile by other threads are reported by a later one.
    const std::uint32_t dropped = withLine && m_droppedRecords.load() != 0 ? m_droppedRecords.exchange(0) : 0;
    // Gives the count back unless the write went out.
    struct DroppedClaim {
        std::atomic<std::uint32_t>& counter;
        std::uint32_t count;
        bool reported = false;
        ~DroppedClaim()
        {
            if (!reported && count != 0) {
                counter += count;
            }
        }
    } claim{m_droppedRecords, dropped};
    LineText notice;
    if (dropped > 0) {
        wchar_t text[128];
        (void)Fundor::FormatW(text, std::size(text),
                              L"%u log records were dropped while another process held the log file's lock", dropped);
        BuildLine(notice, record.time, kLevelWarning, record.options, m_moduleTag, m_processId, record.threadId,
                  nullptr, 0, nullptr, text);
    }
    // A new file gets the mark, and the line on dropped records goes with the record's line: one write.
    std::wstring joined;
    std::wstring_view data = line;
    if (size.QuadPart == 0 || !notice.View().empty()) {
        joined.reserve(1 + notice.View().size() + line.size());
        if (size.QuadPart == 0) {
            joined += kByteOrderMark;
        }
        joined += notice.View();
        joined += line;
        data = joined;
    }
    if (data.empty()) {
        return FileWrite::Written;
    }
    const std::size_t bytes = data.size() * sizeof(wchar_t);
    if (bytes > MAXDWORD) {
        error = ERROR_INVALID_PARAMETER;
        return FileWrite::Failed;
    }
    DWORD written = 0;
    if (::WriteFile(file, data.data(), static_cast<DWORD>(bytes), &written, nullptr) == FALSE) {
        error = ::GetLastError();
        return FileWrite::Failed;
    }
    if (written != bytes) {
        error = ERROR_WRITE_FAULT;
        return FileWrite::Failed;
    }
    claim.reported = true;
    return FileWrite::Written;
}

CLogging::FileState CLogging::QueryFile(const std::wstring& path) const
{
    FileState state;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) == FALSE ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return state;
    }
    state.exists = true;
    state.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    state.lastWrite.LowPart = data.ftLastWriteTime.dwLowDateTime;
    state.lastWrite.HighPart = data.ftLastWriteTime.dwHighDateTime;
    return state;
}

CLogging::IniStamp CLogging::StampFolderIni() const
{
    IniStamp stamp;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExW(m_folderIni.c_str(), GetFileExInfoStandard, &data) == FALSE ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return stamp;
    }
    stamp.exists = true;
    stamp.lastWrite = data.ftLastWriteTime;
    stamp.size.LowPart = data.nFileSizeLow;
    stamp.size.HighPart = data.nFileSizeHigh;
    return stamp;
}

std::uint32_t CLogging::CurrentIndex()
{
    // The folder ini is read again only when it changed since it was last read or written here.
    const IniStamp stamp = StampFolderIni();
    {
        SharedLock cache(m_indexLock);
        if (m_indexCache.valid && m_indexCache.stamp == stamp) {
            return m_indexCache.index;
        }
    }
    return ReadIndexFromIni();
}

std::uint32_t CLogging::ReadIndexFromIni()
{
    // Stamp first: a change made while reading then shows as a change on the next record.
    const IniStamp stamp = StampFolderIni();
    int value = 0;
    if (stamp.exists) {
        Fundor::CObfuscatedIniReader ini;
        if (ini.Load(m_folderIni)) {
            (void)ini.ReadInt(kConfigSection, kLastLogIdxKey, value);
        }
    }
    const auto index = static_cast<std::uint32_t>(value);  // a negative index is out of range
    ExclusiveLock cache(m_indexLock);
    m_indexCache = IndexCache{true, stamp, index};
    return index;
}

void CLogging::SaveIndex(std::uint32_t index)
{
    Fundor::CObfuscatedIniReader ini;
    (void)ini.Load(m_folderIni);
    (void)ini.WriteInt(kConfigSection, kLastLogIdxKey, static_cast<int>(index));
    // Saved or not, this process goes on with the new index until the folder ini changes; when
    // the save failed, a record that finds the old index follows the newer files instead.
    const IniStamp stamp = StampFolderIni();
    ExclusiveLock cache(m_indexLock);
    m_indexCache = IndexCache{true, stamp, index};
}

}  // namespace ETWLogging
