#pragma once
// The rolling file logger: UTF-16LE text files, one line per record, below the program-data
// folder, in a fixed number of files used in turn.
//
//   <ProgramData>\Tervane\KVLOGS\                         root, holds the root "log.ini"
//   <root><group>\<base name>\  (or <root><base name>\)   folder, holds the folder "log.ini"
//   <folder>\<base name>[_<host>]NNN.log                   NNN = 000 .. MaxEntries-1
//
// Settings come from the two "log.ini" files (section "Config"), and count only when stored in
// the enciphered ini form; they are read once, by Initialize. "LastLogIdx" in the folder ini
// names the file in use and is rewritten (enciphered) whenever the logger moves to the next file.
//
// Threads and processes: every record opens the file, appends its line with one write and closes
// it again; no file handle outlives a record. The write goes through an append-only handle while
// the record holds an exclusive byte-range lock of the file (the one byte at kWriteLockOffset, far
// beyond its end, so readers are never blocked), taken by every writer in every process and
// session: lines of several writers never overwrite each other and stay whole, and the byte-order
// mark is written only by the writer that finds the file empty. Moving to the next file (reading
// and saving "LastLogIdx", emptying the next file) happens under a named mutex derived from the
// folder path (RotationMutexName), shared by the processes of one session that log into that
// folder.
//
// Waiting on others: any process of the user can hold the file's lock or the mutex, and a hung or
// suspended writer holds them for good, so no record waits long for them: all the waits of one
// record together last at most kLockWaitMs (time in which the machine did not run the waiting
// thread at all, which held up the holder as well, is not counted).
// - Without the file's lock by then the record is dropped: WriteText answers ERROR_LOCK_VIOLATION
//   and the logger counts it. The next record that is written is preceded, in the same write, by
//   a Warning line "<n> log records were dropped while another process held the log file's lock";
//   the count goes down by those n only once that line is written.
// - Without the mutex by then the record goes on without it, but empties no file and moves to no
//   other one (the holder may be doing just that): it appends to the file in use, past MaxSize if
//   need be (an index out of range names 000, appended to and saved), and the next record that
//   gets the mutex moves on.
// - With kOptionDebugger the line also goes to an attached debugger, or else to a debug-output
//   monitor through the platform's protocol (DebugMonitorNames). The platform's own call,
//   OutputDebugStringW, waits for the monitors' mutex without a time-out and then up to 10 s for
//   the monitor; here both waits draw on the record's allowance and have a back-off of their own.
//   A monitor's buffer whose pages are not committed and writable is left alone.
// - A wait that ran out starts a back-off for that lock or mutex (for the file's lock only when
//   the file did not change meanwhile: a stuck holder, not writers taking turns): for
//   kLockBackOffMs records try it once without waiting, then one record may wait again; a record
//   that gets it ends the back-off.
//
// Calls never throw. Results are Win32-style codes.

#include "core/Logging/CLoggingIf.h"
#include "core/Logging/LogClock.h"
#include "core/base/ScopedResource.h"
#include "core/base/ShlObjAPI.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace ETWLogging {

class CLogging : public CLoggingIf {
public:
    // Defaults: MaxSize 0x40000, MaxEntries 3, Severity 3, Options 16, enabled; not initialised.
    static constexpr std::uint32_t kDefaultMaxSize = 0x40000;
    static constexpr std::uint32_t kLargestMaxSize = 0xA00000;
    static constexpr std::uint32_t kDefaultMaxEntries = 3;
    static constexpr std::uint32_t kLargestMaxEntries = 100;
    static constexpr std::uint32_t kDefaultSeverity = 3;
    static constexpr std::uint32_t kDefaultOptions = 16;
    // Options bits.
    static constexpr std::uint32_t kOptionDebugger = 1;     // also to a debugger or debug-output monitor
    static constexpr std::uint32_t kOptionProcessIds = 4;   // [PID:%5lu TID:%5lu]$
    static constexpr std::uint32_t kOptionSourceFile = 8;   // [file:line]$
    static constexpr std::uint32_t kOptionModuleTag = 16;   // [process file name]$
    static constexpr std::uint32_t kOptionFunction = 32;    // [function()]$
    // Severity of a logger whose folder cannot be created: no level is ever on again.
    static constexpr std::uint32_t kSilencedSeverity = 10000;
    // The byte every writer locks (exclusively, one byte) while it appends to a log file.
    static constexpr std::uint64_t kWriteLockOffset = 0x7FFFFFFF00000000ull;
    // The longest a record waits, in all, for the rotation mutex and the file's lock.
    static constexpr DWORD kLockWaitMs = 250;
    // After a wait ran out, how long the records try that lock or mutex without waiting.
    static constexpr DWORD kLockBackOffMs = 2000;

    // Production: local time from the system clock, the program-data folder from the shell.
    CLogging();
    // The named objects through which a debug-output monitor takes the text a process sends with
    // OutputDebugStringW: a section of kDebugMonitorBufferBytes (process id, then the text in the
    // ANSI code page, terminated), an event the monitor sets when it is ready for text, one this
    // logger sets when the text is in, and the mutex that senders hold while they send.
    struct DebugMonitorNames {
        std::wstring section = L"DBWIN_BUFFER";
        std::wstring bufferReady = L"DBWIN_BUFFER_READY";
        std::wstring dataReady = L"DBWIN_DATA_READY";
        std::wstring senderMutex = L"DBWinMutex";
    };
    static constexpr std::uint32_t kDebugMonitorBufferBytes = 4096;

    // Tests bind their own clock, known-folder call or monitor names (which are session-wide); a
    // null argument binds the production one.
    CLogging(std::shared_ptr<LogClock> clock, std::shared_ptr<Fundor::ShlObjAPI> shell);
    CLogging(std::shared_ptr<LogClock> clock, std::shared_ptr<Fundor::ShlObjAPI> shell,
             DebugMonitorNames debugMonitor);
    ~CLogging() override;                                                              // 0
    CLogging(const CLogging&) = delete;
    CLogging& operator=(const CLogging&) = delete;

    // group and host: null for none, never empty (ERROR_INVALID_PARAMETER). module: the module
    // whose file name names the folder and the files; null, or a handle whose name cannot be had,
    // takes the process's file name and writes it as the module tag. The listener is not used.
    // kErrorAlreadyInitialized when already initialised; any failure leaves the logger not
    // initialised.
    [[nodiscard]] std::uint32_t Initialize(const wchar_t* group, HMODULE module, const wchar_t* host,
                                           LoggingConfigListenerIf* listener) override;  // 1
    [[nodiscard]] std::uint32_t EnsureReady(LogLevel level, const wchar_t* file,
                                            const wchar_t* function) override;           // 2: 0
    void GetGroupPath(std::wstring& path) override;                                    // 3: no effect
    void GetGroupName(std::wstring& name) override;                                    // 4: no effect
    [[nodiscard]] std::uint32_t Uninitialize() override;                               // 5
    bool SetEnabled(bool enabled) override;                                            // 6
    [[nodiscard]] bool IsEnabled() override;                                           // 7
    void Log(LogLevel level, const wchar_t* file, const wchar_t* function, int line,
             const wchar_t* format, ...) override;                                     // 8
    // Writes one line. A record is dropped (result 0) when the logger is disabled or the level is
    // below Severity, before any file is touched. ERROR_INVALID_PARAMETER: null or empty text, a
    // level outside 1 to 6, a logger that is not initialised or whose folder cannot be created;
    // ERROR_NOT_ENOUGH_MEMORY: out of memory; ERROR_LOCK_VIOLATION: the file's lock stayed held by
    // another writer, the record was dropped and counted; else the Win32 error of the file
    // operation that failed.
    [[nodiscard]] std::uint32_t WriteText(const wchar_t* file, const wchar_t* function, int line,
                                          LogLevel level, const wchar_t* text) override;  // 9
    // Enabled and level >= Severity.
    [[nodiscard]] bool IsLevelEnabled(LogLevel level) override;                        // 10
    void SetMaxEntries(std::uint32_t count) override;                                  // 11: 2..100
    [[nodiscard]] std::uint32_t GetMaxEntries() override;                              // 12
    void SetMaxSize(std::uint32_t bytes) override;                                     // 13: 0x40000..0xA00000
    [[nodiscard]] std::uint32_t GetMaxSize() override;                                 // 14
    void SetSeverity(std::uint32_t severity) override;                                 // 15: 0 -> 1, >6 -> 6
    [[nodiscard]] std::uint32_t GetSeverity() override;                                // 16
    std::uint32_t AddRef() override;                                                   // 17
    std::uint32_t Release() override;                                                  // 18: deletes at 0

    // Copies the program-data folder (FOLDERID_ProgramData, created when missing) into
    // buffer[size]. 0 on success; ERROR_INVALID_PARAMETER for a null buffer or when the folder
    // cannot be had; ERROR_INSUFFICIENT_BUFFER when it does not fit with its terminator. On failure
    // the buffer holds an empty string when size > 0.
    [[nodiscard]] virtual std::uint32_t GetProgramDataFolder(wchar_t* buffer, std::uint32_t size);  // 24

    // The name of the rotation mutex of a log folder ("Local\..."), the same in every process.
    [[nodiscard]] static std::wstring RotationMutexName(const std::wstring& folder);

private:
    // A record on its way into the file: its line, what the dropped-records line is built from,
    // and when its waits must end.
    struct RecordContext;

    // The back-off of one lock or mutex (see the header comment). Thread-safe.
    class LockBackOff {
    public:
        // Whether this record may wait for it at all (else one try without waiting).
        [[nodiscard]] bool MayWait();
        // After a try: acquired, or timedOut after a wait that was allowed.
        void Note(bool acquired, bool timedOut);
        void Reset() { m_until = 0; }

    private:
        std::atomic<std::uint64_t> m_until{0};  // GetTickCount64 time the back-off ends; 0: none
    };

    enum class Readiness { FolderCheck, Ready, NeverReady };

    // "LastLogIdx" as last read or written, with what the folder ini looked like at that time.
    struct IniStamp {
        bool exists = false;
        FILETIME lastWrite{};
        ULARGE_INTEGER size{};
        [[nodiscard]] bool operator==(const IniStamp& other) const;
    };
    struct IndexCache {
        bool valid = false;
        IniStamp stamp;
        std::uint32_t index = 0;
    };
    struct FileState {
        bool exists = false;
        std::uint64_t size = 0;
        ULARGE_INTEGER lastWrite{};
    };
    enum class AppendOutcome { Written, NeedsRotationLock, Failed };
    // FileInUse: the file "LastLogIdx" names, taken only when it exists and is not full.
    // Chosen: the file the rotation settled on, created when missing, whatever its size.
    enum class AppendMode { FileInUse, Chosen };

    [[nodiscard]] std::uint32_t InitializeLocked(const wchar_t* group, HMODULE module, const wchar_t* host);
    void ReadConfiguration();
    void ResetLocked();
    [[nodiscard]] bool EnsureFolder();
    [[nodiscard]] std::wstring LogFilePath(std::uint32_t index) const;

    enum class FileWrite { Written, Full, Failed };

    [[nodiscard]] std::uint32_t AppendRecord(RecordContext& record);
    [[nodiscard]] std::uint32_t AppendUnderRotationLock(RecordContext& record);
    [[nodiscard]] AppendOutcome TryAppend(const wchar_t* path, RecordContext& record, AppendMode mode,
                                          DWORD& error);
    [[nodiscard]] std::uint32_t MoveToNextFile(std::uint32_t index, const FileState& current,
                                               std::uint32_t& target, RecordContext& record);
    [[nodiscard]] DWORD CreateAnew(const std::wstring& path, RecordContext& record);
    // withLine false: only the byte-order mark of an empty file.
    [[nodiscard]] FileWrite WriteUnderFileLock(HANDLE file, RecordContext& record, bool withLine,
                                               std::uint64_t fullAt, DWORD& error);
    [[nodiscard]] FileState QueryFile(const std::wstring& path) const;
    [[nodiscard]] IniStamp StampFolderIni() const;
    [[nodiscard]] std::uint32_t CurrentIndex();
    [[nodiscard]] std::uint32_t ReadIndexFromIni();
    void SaveIndex(std::uint32_t index);

    std::shared_ptr<LogClock> m_clock;
    std::shared_ptr<Fundor::ShlObjAPI> m_shell;

    // Held shared by records, exclusively by Initialize, Uninitialize and the destructor: the
    // strings and the rotation mutex below change only under it.
    SRWLOCK m_stateLock = SRWLOCK_INIT;
    bool m_initialised = false;
    std::optional<std::wstring> m_group;
    std::wstring m_baseName;
    std::optional<std::wstring> m_moduleTag;
    std::optional<std::wstring> m_host;
    DWORD m_processId = 0;
    std::wstring m_folder;
    std::wstring m_rootIni;
    std::wstring m_folderIni;
    std::wstring m_logFilePrefix;  // "<folder>\<base name>[_<host>]": the log files add "NNN.log"
    Fundor::ScopedHandle m_rotationMutex;

    std::atomic<std::uint32_t> m_referenceCount{0};
    std::atomic<std::uint32_t> m_maxSize{kDefaultMaxSize};
    std::atomic<std::uint32_t> m_maxEntries{kDefaultMaxEntries};
    std::atomic<std::uint32_t> m_severity{kDefaultSeverity};
    std::atomic<std::uint32_t> m_options{kDefaultOptions};
    std::atomic<bool> m_enabled{true};
    std::atomic<Readiness> m_readiness{Readiness::FolderCheck};

    SRWLOCK m_indexLock = SRWLOCK_INIT;
    IndexCache m_indexCache;  // under m_indexLock

    const DebugMonitorNames m_debugMonitor;

    LockBackOff m_fileLockBackOff;
    LockBackOff m_rotationBackOff;
    LockBackOff m_debugMonitorBackOff;
    // Records dropped for the file's lock and not yet reported in the file.
    std::atomic<std::uint32_t> m_droppedRecords{0};
};

}  // namespace ETWLogging
