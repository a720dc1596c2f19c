// Writes records through the production file logger from several threads at once.
//
//   OrdwellLogWriter.exe <group> <host> <threads> <records per thread> <ready semaphore> <start event>
//
// The logger is built as the host builds it (program-data folder, this module's handle). Each
// record's text is "P<process id> T<thread number> N<record number>" and a fixed padding, and
// its line number is the record number. The writer releases the semaphore once it is ready and
// starts writing when the event is set. Exit code: 0, or the first failing WriteText result.
//
//   OrdwellLogWriter.exe hold <log file, or -> <rotation mutex name, or -> <ready event> <release event> <most ms>
//
// Holds what a writer holds while it writes (the file's write lock, the rotation mutex: each when
// named) as a hung writer would: sets the ready event once it holds them and lets go when the
// release event is set or after the given time. Exit code: 0, or 5 to 8 for the step that failed.

#include "core/Logging/CLogging.h"
#include "core/base/ScopedResource.h"
#include "core/base/StringFormat.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <thread>
#include <vector>

namespace {

constexpr DWORD kStartTimeoutMs = 60000;

int Hold(const wchar_t* path, const wchar_t* mutexName, const wchar_t* readyName, const wchar_t* releaseName,
         DWORD holdMs)
{
    // Opened as the logger opens it; closing it at exit lets go of the lock.
    Fundor::ScopedHandle file;
    if (std::wcscmp(path, L"-") != 0) {
        file.reset(::CreateFileW(path, FILE_READ_DATA | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, 0, nullptr));
        if (!file.valid()) {
            return 5;
        }
        OVERLAPPED region{};
        region.Offset = static_cast<DWORD>(ETWLogging::CLogging::kWriteLockOffset);
        region.OffsetHigh = static_cast<DWORD>(ETWLogging::CLogging::kWriteLockOffset >> 32);
        if (::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &region) == FALSE) {
            return 6;
        }
    }
    Fundor::ScopedHandle mutex;
    if (std::wcscmp(mutexName, L"-") != 0) {
        mutex.reset(::CreateMutexW(nullptr, FALSE, mutexName));
        if (!mutex.valid() || ::WaitForSingleObject(mutex.get(), 0) != WAIT_OBJECT_0) {
            return 7;
        }
    }
    const Fundor::ScopedHandle ready(::OpenEventW(EVENT_MODIFY_STATE, FALSE, readyName));
    const Fundor::ScopedHandle release(::OpenEventW(SYNCHRONIZE, FALSE, releaseName));
    if (!ready.valid() || !release.valid() || ::SetEvent(ready.get()) == FALSE) {
        return 8;
    }
    (void)::WaitForSingleObject(release.get(), holdMs);
    if (mutex.valid()) {
        (void)::ReleaseMutex(mutex.get());
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 7 && std::wcscmp(argv[1], L"hold") == 0) {
        return Hold(argv[2], argv[3], argv[4], argv[5], std::wcstoul(argv[6], nullptr, 10));
    }
    if (argc != 7) {
        return 2;
    }
    const wchar_t* group = argv[1];
    const wchar_t* host = argv[2];
    const unsigned long threads = std::wcstoul(argv[3], nullptr, 10);
    const unsigned long records = std::wcstoul(argv[4], nullptr, 10);

    ETWLogging::CLogging logger;
    if (const auto result = logger.Initialize(group, ::GetModuleHandleW(nullptr), host, nullptr); result != 0) {
        return static_cast<int>(result);
    }
    const Fundor::ScopedHandle ready(::OpenSemaphoreW(SEMAPHORE_MODIFY_STATE, FALSE, argv[5]));
    const Fundor::ScopedHandle start(::OpenEventW(SYNCHRONIZE, FALSE, argv[6]));
    if (!ready.valid() || !start.valid()) {
        return 3;
    }
    (void)::ReleaseSemaphore(ready.get(), 1, nullptr);
    if (::WaitForSingleObject(start.get(), kStartTimeoutMs) != WAIT_OBJECT_0) {
        return 4;
    }

    std::atomic<std::uint32_t> firstFailure{0};
    std::vector<std::thread> workers;
    for (unsigned long t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (unsigned long n = 0; n < records; ++n) {
                if (!logger.IsLevelEnabled(ETWLogging::kLevelInformation)) {
                    continue;
                }
                wchar_t text[256];
                (void)Fundor::FormatW(text, std::size(text),
                                      L"P%lu T%lu N%lu "
                                      L"xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx",
                                      ::GetCurrentProcessId(), t, n);
                const std::uint32_t result = logger.WriteText(L"src\\LogWriter.cpp", L"Writer::Run", static_cast<int>(n),
                                                              ETWLogging::kLevelInformation, text);
                if (result != 0) {
                    std::uint32_t none = 0;
                    (void)firstFailure.compare_exchange_strong(none, result);
                }
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    return static_cast<int>(firstFailure.load());
}
