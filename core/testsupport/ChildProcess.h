#pragma once
// The child processes of the tests: a program started with a command line (its quoted path in
// front, the arguments behind), owned until it ends. An owner whose process still runs kills it
// and waits for its end on the way out, so that a failed check leaves nothing running behind the
// test; Release() lets a process run on on purpose.
//
// Header only: the benchmarks and the demo's helper start processes too, and link no test
// framework.

#include "core/base/ScopedResource.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace Fundor::testing {

// How a child starts. The defaults: this process's environment, current folder, user and standard
// handles, and no handle inherited.
struct ChildOptions {
    std::wstring environment;  // a block from EnvironmentBlock(); empty: this process's
    DWORD flags = 0;           // creation flags: CREATE_SUSPENDED, DEBUG_ONLY_THIS_PROCESS, CREATE_NO_WINDOW
    std::wstring folder;       // its current folder; empty: this process's
    HANDLE token = nullptr;    // started as this token's user (CreateProcessAsUserW)
    // Standard output and error go through a pipe and are appended here while Wait() waits, so a
    // child that writes much never stalls on a full pipe. Only then does the child inherit this
    // process's inheritable handles. Must outlive the owner.
    std::string* output = nullptr;
};

class ChildProcess {
public:
    // Exit code of a process killed by its owner.
    static constexpr DWORD kKilledExitCode = 0xDEAD;

    ChildProcess() noexcept = default;
    // On failure started() is false, the owner holds nothing and GetLastError() says why.
    ChildProcess(const std::wstring& program, const std::wstring& arguments, const ChildOptions& options = {})
        : m_output(options.output)
    {
        std::wstring commandLine = L"\"" + program + L"\"";
        if (!arguments.empty()) commandLine += L" " + arguments;
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        ScopedHandle childEnd;
        if (m_output != nullptr) {
            SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
            HANDLE readEnd = nullptr;
            HANDLE writeEnd = nullptr;
            if (::CreatePipe(&readEnd, &writeEnd, &inheritable, kPipeBytes) == FALSE) return;
            m_pipe.reset(readEnd);
            childEnd.reset(writeEnd);
            if (::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0) == FALSE) return;
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
            startup.hStdOutput = writeEnd;
            startup.hStdError = writeEnd;
        }
        std::wstring environment = options.environment;
        const DWORD flags = options.flags | (environment.empty() ? 0 : CREATE_UNICODE_ENVIRONMENT);
        void* const block = environment.empty() ? nullptr : environment.data();
        const wchar_t* const folder = options.folder.empty() ? nullptr : options.folder.c_str();
        const BOOL inherit = m_output != nullptr ? TRUE : FALSE;
        PROCESS_INFORMATION started = {};
        const BOOL created =
            options.token != nullptr
                ? ::CreateProcessAsUserW(options.token, program.c_str(), commandLine.data(), nullptr, nullptr, inherit,
                                         flags, block, folder, &startup, &started)
                : ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, inherit, flags, block, folder,
                                   &startup, &started);
        if (created == FALSE) {
            m_pipe.reset();  // keeps the last error
            return;
        }
        m_started = true;
        // Wine starts a program of the host system (Z:\\bin\\ln) without handles or an id.
        if (started.hProcess == nullptr) return;
        const ScopedHandle thread(started.hThread);
        m_process.reset(started.hProcess);
        m_id = started.dwProcessId;
    }
    ~ChildProcess() { EndIfRunning(); }

    ChildProcess(ChildProcess&& other) noexcept
        : m_process(std::move(other.m_process)),
          m_pipe(std::move(other.m_pipe)),
          m_id(std::exchange(other.m_id, 0)),
          m_output(std::exchange(other.m_output, nullptr)),
          m_started(std::exchange(other.m_started, false))
    {
    }
    // What this owner held is ended first, as at its destruction.
    ChildProcess& operator=(ChildProcess&& other) noexcept
    {
        if (this != &other) {
            EndIfRunning();
            m_process = std::move(other.m_process);
            m_pipe = std::move(other.m_pipe);
            m_id = std::exchange(other.m_id, 0);
            m_output = std::exchange(other.m_output, nullptr);
            m_started = std::exchange(other.m_started, false);
        }
        return *this;
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The system started the program. A host program under Wine is started without a handle to
    // wait on: callers wait for its effect.
    [[nodiscard]] bool started() const noexcept { return m_started; }
    // The owner holds a process: it can wait for it, kill it and read its id.
    [[nodiscard]] bool valid() const noexcept { return m_process.valid(); }
    [[nodiscard]] HANDLE handle() const noexcept { return m_process.get(); }
    [[nodiscard]] DWORD id() const noexcept { return m_id; }
    [[nodiscard]] bool Running() const { return valid() && ::WaitForSingleObject(handle(), 0) == WAIT_TIMEOUT; }

    // The full exit code, or nullopt when the process did not end within timeout milliseconds.
    [[nodiscard]] std::optional<DWORD> Wait(DWORD timeout) const
    {
        if (!valid()) return std::nullopt;
        DWORD waited = WAIT_TIMEOUT;
        if (!m_pipe) {
            waited = ::WaitForSingleObject(handle(), timeout);
        } else {
            const ULONGLONG end = ::GetTickCount64() + timeout;
            for (ULONGLONG now = ::GetTickCount64();; now = ::GetTickCount64()) {
                ReadOutput();
                const ULONGLONG left = end > now ? end - now : 0;
                waited = ::WaitForSingleObject(handle(), static_cast<DWORD>(std::min<ULONGLONG>(left, kReadEveryMs)));
                if (waited != WAIT_TIMEOUT || left <= kReadEveryMs) break;
            }
            // A child's writes are in the pipe before it ends.
            ReadOutput();
        }
        DWORD code = 0;
        if (waited != WAIT_OBJECT_0 || ::GetExitCodeProcess(handle(), &code) == FALSE) return std::nullopt;
        return code;
    }

    // Ends the process with code and waits briefly for its end.
    void Kill(DWORD code) const
    {
        if (!valid()) return;
        ::TerminateProcess(handle(), code);
        ::WaitForSingleObject(handle(), kEndWaitMs);
    }

    // Lets the process run on: the owner closes its handle and holds nothing.
    void Release() noexcept
    {
        m_process.reset();
        m_pipe.reset();
        m_id = 0;
    }

private:
    static constexpr DWORD kPipeBytes = 64 * 1024;
    static constexpr DWORD kReadEveryMs = 20;
    static constexpr DWORD kEndWaitMs = 10000;

    void EndIfRunning() noexcept
    {
        if (Running()) Kill(kKilledExitCode);
    }

    // Appends what the pipe holds now, without waiting for more.
    void ReadOutput() const
    {
        DWORD available = 0;
        while (::PeekNamedPipe(m_pipe.get(), nullptr, 0, nullptr, &available, nullptr) != FALSE && available > 0) {
            const std::size_t had = m_output->size();
            m_output->resize(had + available);
            DWORD read = 0;
            const BOOL done = ::ReadFile(m_pipe.get(), m_output->data() + had, available, &read, nullptr);
            m_output->resize(had + read);
            if (done == FALSE || read == 0) return;
        }
    }

    ScopedHandle m_process;
    ScopedHandle m_pipe;  // the read end, when the output is captured
    DWORD m_id = 0;
    std::string* m_output = nullptr;
    bool m_started = false;
};

// The arguments that make a test program run the one test named (a disabled one too): how a test
// runs a part of itself in a child (see ThisProgramPath() in ProgramFolder.h).
[[nodiscard]] inline std::wstring SingleTestArguments(const std::wstring& testName)
{
    return L"--gtest_also_run_disabled_tests --gtest_filter=" + testName;
}

// Starts the program and waits up to timeout milliseconds for its end: its full exit code, or
// nullopt when it did not start or did not end in time (it is then killed).
[[nodiscard]] inline std::optional<DWORD> RunProgram(const std::wstring& program, const std::wstring& arguments,
                                                     DWORD timeout, const ChildOptions& options = {})
{
    const ChildProcess child(program, arguments, options);
    return child.Wait(timeout);
}

enum class DebugFollowEnd { Stopped, Exited, TimedOut };

// For a child started with DEBUG_ONLY_THIS_PROCESS, on the thread that started it: runs its debug
// loop and hands each event to onEvent while the child stands still at it. Ends when onEvent
// returns false, when the child exits (its exit event is handed on first), or at the timeout; a
// child that still runs is let go undebugged. The child's own exceptions stay its own; only its
// first breakpoint is the debugger's. The calling thread's end no longer kills the child.
[[nodiscard]] inline DebugFollowEnd FollowDebugEvents(const ChildProcess& child, DWORD timeout,
                                                       const std::function<bool(const DEBUG_EVENT&)>& onEvent)
{
    ::DebugSetProcessKillOnExit(FALSE);
    const ULONGLONG end = ::GetTickCount64() + timeout;
    while (::GetTickCount64() < end) {
        DEBUG_EVENT event = {};
        if (::WaitForDebugEvent(&event, 1000) == FALSE) continue;
        DWORD continueStatus = DBG_CONTINUE;
        const bool follow = onEvent(event);
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT: {
            const ScopedHandle image(event.u.CreateProcessInfo.hFile);
            break;
        }
        case LOAD_DLL_DEBUG_EVENT: {
            const ScopedHandle image(event.u.LoadDll.hFile);
            break;
        }
        case EXCEPTION_DEBUG_EVENT:
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
                continueStatus = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        default:
            break;
        }
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, continueStatus);
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) return DebugFollowEnd::Exited;
        if (!follow) {
            ::DebugActiveProcessStop(child.id());
            return DebugFollowEnd::Stopped;
        }
    }
    ::DebugActiveProcessStop(child.id());
    return DebugFollowEnd::TimedOut;
}

// FollowDebugEvents for the child's debug strings: each goes to onString (as bytes: the low byte
// of each character of a wide string; the texts are ASCII); false from it stops following.
[[nodiscard]] inline DebugFollowEnd FollowDebugStrings(const ChildProcess& child, DWORD timeout,
                                                        const std::function<bool(const std::string&)>& onString)
{
    constexpr std::size_t kLongestDebugString = std::size_t{64} * 1024;  // bytes read of one string
    return FollowDebugEvents(child, timeout, [&](const DEBUG_EVENT& event) {
        if (event.dwDebugEventCode != OUTPUT_DEBUG_STRING_EVENT) return true;
        const OUTPUT_DEBUG_STRING_INFO& info = event.u.DebugString;
        const std::size_t unit = info.fUnicode ? sizeof(wchar_t) : sizeof(char);
        std::string bytes(std::min<std::size_t>(info.nDebugStringLength * unit, kLongestDebugString), '\0');
        SIZE_T read = 0;
        if (::ReadProcessMemory(child.handle(), info.lpDebugStringData, bytes.data(), bytes.size(), &read) == FALSE) {
            return true;
        }
        std::string text;
        for (std::size_t at = 0; at + unit <= read && bytes[at] != '\0'; at += unit) text += bytes[at];
        return onString(text);
    });
}

}  // namespace Fundor::testing
