// Ordwell.exe started as a process, with its full exit code: start-up codes, registration switches
// and the second start's hand-over to a host event that already exists.

#include "access/tests/KvUtilTestSupport.h"
#include "core/testsupport/ChildProcess.h"
#include "shell/tests/host/HostTestSupport.h"

#include <gtest/gtest.h>
#include <sddl.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

// Host IDs are lower-cased by the program, and event names are compared with case.
std::wstring LowerUniqueName(const wchar_t* prefix)
{
    std::wstring name = Fundor::testing::UniqueName(prefix);
    CharLowerBuffW(name.data(), static_cast<DWORD>(name.size()));
    return name;
}

std::wstring ProgramPath()
{
    return TrustTesting::ProgramFolder() + L"\\Ordwell.exe";
}

// Runs Ordwell.exe with arguments; the full 32-bit exit code, or nullopt when it did not end in time.
std::optional<DWORD> RunOrdwell(const std::wstring& arguments, DWORD timeout = 30000)
{
    return Fundor::testing::RunProgram(ProgramPath(), arguments, timeout);
}

// The size of the image mapped at base in process, or 0 when its headers cannot be read.
SIZE_T ImageSize(HANDLE process, ULONG_PTR base)
{
    IMAGE_DOS_HEADER dos{};
    IMAGE_NT_HEADERS64 nt{};
    SIZE_T read = 0;
    if (!ReadProcessMemory(process, reinterpret_cast<void*>(base), &dos, sizeof(dos), &read) ||
        dos.e_magic != IMAGE_DOS_SIGNATURE ||
        !ReadProcessMemory(process, reinterpret_cast<void*>(base + dos.e_lfanew), &nt, sizeof(nt), &read) ||
        nt.Signature != IMAGE_NT_SIGNATURE) {
        return 0;
    }
    return nt.OptionalHeader.SizeOfImage;
}

struct DebuggedRun {
    DWORD exitCode = 0;
    int ownThreads = 0;  // threads started at an address in the program's own image
};

// Runs Ordwell.exe with this process as its debugger, which sees every thread it creates; nullopt
// when it did not end in time.
std::optional<DebuggedRun> RunOrdwellDebugged(const std::wstring& arguments)
{
    using Fundor::testing::ChildProcess;
    const ChildProcess ordwell(ProgramPath(), arguments, {.flags = DEBUG_ONLY_THIS_PROCESS});
    if (!ordwell.valid()) {
        ADD_FAILURE() << "Ordwell.exe did not start: " << GetLastError();
        return std::nullopt;
    }
    DebuggedRun run;
    ULONG_PTR imageBase = 0;
    ULONG_PTR imageEnd = 0;
    const auto end = Fundor::testing::FollowDebugEvents(ordwell, 30000, [&](const DEBUG_EVENT& event) {
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            imageBase = reinterpret_cast<ULONG_PTR>(event.u.CreateProcessInfo.lpBaseOfImage);
            imageEnd = imageBase + ImageSize(ordwell.handle(), imageBase);
            break;
        case CREATE_THREAD_DEBUG_EVENT: {
            const auto start = reinterpret_cast<ULONG_PTR>(event.u.CreateThread.lpStartAddress);
            if (start >= imageBase && start < imageEnd) ++run.ownThreads;
            break;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
            run.exitCode = event.u.ExitProcess.dwExitCode;
            break;
        default:
            break;
        }
        return true;
    });
    if (end != Fundor::testing::DebugFollowEnd::Exited) return std::nullopt;
    return run;
}

constexpr wchar_t kClassKey[] = L"Software\\Classes\\CLSID\\{F01E4065-20D6-4c86-9076-468AFB1B4156}";
constexpr wchar_t kAppIdKey[] = L"Software\\Classes\\AppID\\{0654DB93-707F-4B09-886F-18AA1EC6A7D0}";

std::wstring ReadText(HKEY root, const std::wstring& subkey, const wchar_t* value)
{
    wchar_t text[1024] = {};
    DWORD size = sizeof(text);
    if (RegGetValueW(root, subkey.c_str(), value, RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, text, &size) !=
        ERROR_SUCCESS) {
        return L"<none>";
    }
    return text;
}

void RemoveRegistration(HKEY root)
{
    RegDeleteTreeW(root, kClassKey);
    RegDeleteKeyW(root, kClassKey);
    RegDeleteTreeW(root, kAppIdKey);
    RegDeleteKeyW(root, kAppIdKey);
    RegDeleteTreeW(root, L"Software\\Classes\\AppID\\Ordwell.exe");
    RegDeleteTreeW(root, L"Software\\Classes\\KvShell.SessionMgr");
    RegDeleteTreeW(root, L"Software\\Classes\\KvShell.SessionMgr.1");
}

// Start-up codes decided before the utility library is needed, and the registration switches.
// Registration writes the prefix's machine-wide classes: one test does it all, in turn.
// A claim of the host token that cannot have it (another thread of a running host keeps it) fails
// after its wait and says why in the last error; once the token is given back the claim succeeds.
TEST(HostToken, AClaimThatCannotHaveTheTokenSaysWhyInTheLastError)
{
    const std::wstring name = LowerUniqueName(L"claim");
    HandOverChannel running(name);
    ASSERT_TRUE(running.ClaimHost(nullptr));
    const struct {
        const char* state;
        bool claimed;
        DWORD error;
    } cases[] = {{"kept by the running host", false, ERROR_TIMEOUT}, {"given back", true, ERROR_SUCCESS}};
    for (const auto& c : cases) {
        if (c.claimed) running.ReleaseHost();
        bool claimed = !c.claimed;
        DWORD error = ERROR_SUCCESS;
        std::thread([&] {
            HandOverChannel second(name);
            claimed = second.ClaimHost(nullptr);
            error = claimed ? DWORD{ERROR_SUCCESS} : ::GetLastError();
        }).join();
        EXPECT_EQ(c.claimed, claimed) << c.state;
        EXPECT_EQ(c.error, error) << c.state;
    }
}

TEST(HostProgram, RefusalsAndRegistrationSwitches)
{
    for (const wchar_t* arguments : {L"", L"/mode:fake", L"/RegServer", L"/ngmdata:\"x\" /simulate:y"}) {
        EXPECT_EQ(std::optional<DWORD>(0), RunOrdwell(arguments)) << arguments;
    }
    EXPECT_EQ(L"<none>", ReadText(HKEY_LOCAL_MACHINE, kClassKey, L""));

    RemoveRegistration(HKEY_LOCAL_MACHINE);
    RemoveRegistration(HKEY_CURRENT_USER);
    EXPECT_EQ(std::optional<DWORD>(0), RunOrdwell(L"/id:x /RegServer"));
    const std::wstring quoted = ProgramPath();
    EXPECT_EQ(quoted, ReadText(HKEY_LOCAL_MACHINE, std::wstring(kClassKey) + L"\\LocalServer32", L""));
    EXPECT_EQ(L"{0654DB93-707F-4B09-886F-18AA1EC6A7D0}", ReadText(HKEY_LOCAL_MACHINE, kClassKey, L"AppID"));
    EXPECT_EQ(L"KvShell.SessionMgr.1", ReadText(HKEY_LOCAL_MACHINE, std::wstring(kClassKey) + L"\\ProgID", L""));
    EXPECT_EQ(L"{D6F870AF-7292-4670-96D3-EAA62A31FB08}",
              ReadText(HKEY_LOCAL_MACHINE, std::wstring(kClassKey) + L"\\TypeLib", L""));
    EXPECT_EQ(L"Ordwell", ReadText(HKEY_LOCAL_MACHINE, kAppIdKey, L""));
    EXPECT_EQ(L"{0654DB93-707F-4B09-886F-18AA1EC6A7D0}",
              ReadText(HKEY_LOCAL_MACHINE, L"Software\\Classes\\AppID\\Ordwell.exe", L"AppID"));

    EXPECT_EQ(std::optional<DWORD>(0), RunOrdwell(L"/id:x /UnregServer"));
    EXPECT_EQ(L"<none>", ReadText(HKEY_LOCAL_MACHINE, kClassKey, L"AppID"));
    EXPECT_EQ(L"<none>", ReadText(HKEY_LOCAL_MACHINE, kAppIdKey, L""));

    EXPECT_EQ(std::optional<DWORD>(0), RunOrdwell(L"/id:x /RegServerPerUser"));
    EXPECT_EQ(quoted, ReadText(HKEY_CURRENT_USER, std::wstring(kClassKey) + L"\\LocalServer32", L""));
    EXPECT_EQ(L"<none>", ReadText(HKEY_LOCAL_MACHINE, kClassKey, L"AppID"));
    EXPECT_EQ(std::optional<DWORD>(0), RunOrdwell(L"/id:x /UnregServerPerUser"));
    EXPECT_EQ(L"<none>", ReadText(HKEY_CURRENT_USER, kClassKey, L"AppID"));
    RemoveRegistration(HKEY_LOCAL_MACHINE);
    RemoveRegistration(HKEY_CURRENT_USER);
}

// With the utility library bound (the signed stand-in, vouched for by the validation service).
class HostProgramWithUtility : public KvUtilTesting::RealKvUtilBinding {
protected:
    void SetUp() override
    {
        RealKvUtilBinding::SetUp();
        const std::wstring folder = KvUtilTesting::SignedKvUtilFolder();
        m_installDir.Set(folder);
        Trust({folder + L"\\KvUtil.dll"});
    }

    static HANDLE CreateHostEvent(const std::wstring& name, const wchar_t* sddl)
    {
        SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (sddl != nullptr &&
            ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
            attributes.lpSecurityDescriptor = descriptor;
        }
        HANDLE event = CreateEventW(&attributes, FALSE, FALSE, name.c_str());
        if (descriptor != nullptr) LocalFree(descriptor);
        return event;
    }
    // The hand-over value's text, or nullopt when absent or not REG_SZ. (The program counts no
    // terminator; the registry adds one itself when a zero follows the counted text.)
    static std::optional<std::wstring> HandOverValue(const std::wstring& hostEventName)
    {
        std::wstring text(4200, L'\0');
        DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        if (RegGetValueW(HKEY_CURRENT_USER, kHandOverKey, HandOverValueName(hostEventName).c_str(), RRF_RT_REG_SZ,
                         nullptr, text.data(), &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        text.resize(wcsnlen(text.c_str(), text.size()));
        return text;
    }
    static void RemoveHandOverValue(const std::wstring& hostEventName)
    {
        RegDeleteKeyValueW(HKEY_CURRENT_USER, kHandOverKey, HandOverValueName(hostEventName).c_str());
    }

    // This process as the running host of an event made elsewhere: it owns the host token, and a
    // reader thread takes every page the way the host does (read, then removed; a page counts as
    // taken only when this removal removed it), keeping its text. A paused host owns the token and
    // reads nothing, as a suspended or busy host does.
    class TakingHost {
    public:
        explicit TakingHost(const std::wstring& hostEventName, bool paused = false)
            : m_name(hostEventName), m_channel(hostEventName), m_paused(paused)
        {
            RemoveHandOverValue(m_name);
            EXPECT_TRUE(m_channel.ClaimHost(nullptr));
            m_reader = std::thread([this] {
                while (!m_stop) {
                    std::optional<std::wstring> page;
                    if (!m_paused) page = HandOverValue(m_name);
                    if (page && RegDeleteKeyValueW(HKEY_CURRENT_USER, kHandOverKey,
                                                   HandOverValueName(m_name).c_str()) == ERROR_SUCCESS) {
                        std::lock_guard<std::mutex> lock(m_mutex);
                        m_taken.push_back(*page);
                    }
                    Sleep(5);
                }
            });
        }
        ~TakingHost()
        {
            m_stop = true;
            m_reader.join();
            m_channel.ReleaseHost();
        }
        void Resume() { m_paused = false; }
        std::vector<std::wstring> Taken()
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            return m_taken;
        }

    private:
        std::wstring m_name;
        HandOverChannel m_channel;
        std::atomic<bool> m_stop{false};
        std::atomic<bool> m_paused{false};
        std::mutex m_mutex;
        std::vector<std::wstring> m_taken;
        std::thread m_reader;
    };
};

TEST_F(HostProgramWithUtility, StartUpCodesOfTheUtilityAndEventSteps)
{
    // "H" passes the parser; no host ID ends the start with E_FAIL.
    EXPECT_EQ(std::optional<DWORD>(0x80004005), RunOrdwell(L"/H"));
    // An event name that cannot exist: neither created nor opened.
    EXPECT_EQ(std::optional<DWORD>(0x80004004), RunOrdwell(L"/id:a\\b /body:sarn://x"));
    // A body that is not one of the suite's pages ends quietly.
    EXPECT_EQ(std::optional<DWORD>(0), RunOrdwell(L"/id:" + Fundor::testing::UniqueName(L"https") + L" /body:https://x"));
    // A host ID too long for a window class is refused cleanly and quickly.
    const ULONGLONG started = GetTickCount64();
    EXPECT_EQ(std::optional<DWORD>(0), RunOrdwell(L"/id:" + std::wstring(300, L'k') + L" /body:sarn://x", 15000));
    EXPECT_LT(GetTickCount64() - started, 15000u);
}

// The root-store warm-up is the program's one thread of its own before a host runs: only a start
// with a host ID, which goes on to a host's or a hand-over's trust checks, begins it. A start that
// ends without a page has no such thread to wait for at its exit.
TEST_F(HostProgramWithUtility, OnlyAStartWithAHostIdWarmsTheRootStore)
{
    const struct {
        const char* start;
        std::wstring arguments;
        DWORD exitCode;
        int ownThreads;
    } cases[] = {
        {"no option", L"", 0, 0},
        {"no page option", L"/mode:fake /simulate:x", 0, 0},
        {"H alone", L"/H", 0x80004005, 0},
        {"a line too long", L"/id:x /body:" + std::wstring(8400, L'a'), 0, 0},
        {"a host ID, its body refused", L"/id:" + LowerUniqueName(L"warm") + L" /body:https://x", 0, 1},
    };
    for (const auto& c : cases) {
        const std::optional<DebuggedRun> run = RunOrdwellDebugged(c.arguments);
        ASSERT_TRUE(run.has_value()) << c.start;
        EXPECT_EQ(c.exitCode, run->exitCode) << c.start;
        EXPECT_EQ(c.ownThreads, run->ownThreads) << c.start;
    }
}

TEST_F(HostProgramWithUtility, SecondStartHandsItsPageOverToAnExistingHostEvent)
{
    const std::wstring permissiveId = LowerUniqueName(L"permissive");
    HANDLE permissive = CreateHostEvent(permissiveId, nullptr);
    ASSERT_NE(nullptr, permissive);
    const std::wstring guardedId = LowerUniqueName(L"guarded");
    HANDLE guarded = CreateHostEvent(guardedId, L"D:(D;;SDWD;;;WD)(A;;GA;;;WD)");
    ASSERT_NE(nullptr, guarded);
    {
        // An event made earlier with a permissive list (the start's create succeeds with 183) is a host.
        TakingHost host(permissiveId);
        EXPECT_EQ(std::optional<DWORD>(0), RunOrdwell(L"/id:" + permissiveId + L" /body:SARN://Res.dll::Page.HTML"));
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(permissive, 0));
        EXPECT_EQ(std::vector<std::wstring>{L"SARN://Res.dll::Page.HTML"}, host.Taken());  // case kept
    }
    {
        // The host's own list: the start's create is refused, the open succeeds.
        TakingHost host(guardedId);
        const std::wstring wide = L"sarn://res.dll::\x4E2D\x6587" + std::wstring(2000, L'w');
        EXPECT_EQ(std::optional<DWORD>(0), RunOrdwell(L"/id:" + guardedId + L" /body:" + wide));
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(guarded, 0));
        // No body: the host is only woken, nothing is written.
        EXPECT_EQ(std::optional<DWORD>(0), RunOrdwell(L"/id:" + guardedId));
        EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(guarded, 0));
        EXPECT_EQ(std::vector<std::wstring>{wide}, host.Taken());
    }
    EXPECT_EQ(std::nullopt, HandOverValue(guardedId));
    CloseHandle(permissive);
    CloseHandle(guarded);
}

// Other processes of the desktop against the hand-over's named objects, and a host that reads
// nothing. A start never reports a page as handed over that no host takes, never writes without the
// hand-over lock, a page reported as not taken is never shown later, and no process runs as a host
// that starts cannot reach.
TEST_F(HostProgramWithUtility, HandOverAgainstSquattedNamesAndAPausedHost)
{
    constexpr DWORD kNotTaken = 0x800705B4;  // ERROR_TIMEOUT
    // The host reads nothing for longer than a start waits: the start runs beside the other rows.
    const std::wstring pausedId = LowerUniqueName(L"paused");
    HANDLE pausedEvent = CreateHostEvent(pausedId, L"D:(D;;SDWD;;;WD)(A;;GA;;;WD)");
    ASSERT_NE(nullptr, pausedEvent);
    auto pausedHost = std::make_unique<TakingHost>(pausedId, true);
    const std::wstring pausedPage = L"sarn://res.dll::paused.html";
    std::optional<DWORD> pausedCode;
    std::thread pausedStart([&] { pausedCode = RunOrdwell(L"/id:" + pausedId + L" /body:" + pausedPage, 120000); });

    // Objects another process made first under the names of the lock or the token.
    enum class Squatted { Lock, Token };
    enum class Squatter { Event, DenyingMutex, OwnedMutex };
    const struct {
        const char* name;
        Squatted what;
        Squatter by;
        DWORD exitCode;
    } rows[] = {
        {"lock name held by an event", Squatted::Lock, Squatter::Event, 0x80070006},
        {"lock name held by a mutex whose list refuses the start", Squatted::Lock, Squatter::DenyingMutex, 0x80070005},
        {"token name held by an event", Squatted::Token, Squatter::Event, 0x80070006},
        {"token name held by a mutex whose list refuses the start", Squatted::Token, Squatter::DenyingMutex,
         0x80070005},
        {"token owned by another process and never given back", Squatted::Token, Squatter::OwnedMutex, kNotTaken},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::wstring id = LowerUniqueName(L"squat");
        const std::wstring name =
            std::wstring(row.what == Squatted::Lock ? L"OrdwellsecinstLock_" : L"OrdwellsecinstHost_") + id;
        HANDLE squatter = nullptr;
        if (row.by == Squatter::Event) {
            squatter = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
        } else {
            SECURITY_ATTRIBUTES attributes{sizeof(attributes), nullptr, FALSE};
            PSECURITY_DESCRIPTOR descriptor = nullptr;
            const wchar_t* sddl =
                row.by == Squatter::DenyingMutex ? L"D:(D;;GA;;;WD)" : L"D:(D;;SDWD;;;WD)(A;;GA;;;WD)";
            ASSERT_TRUE(
                ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
            attributes.lpSecurityDescriptor = descriptor;
            squatter = CreateMutexW(&attributes, row.by == Squatter::OwnedMutex, name.c_str());
            LocalFree(descriptor);
        }
        ASSERT_NE(nullptr, squatter);
        const std::wstring page = L"sarn://res.dll::squat.html";
        if (row.what == Squatted::Lock) {
            // A host runs; a start that cannot hold the lock writes nothing and says so.
            HANDLE hostEvent = CreateHostEvent(id, L"D:(D;;SDWD;;;WD)(A;;GA;;;WD)");
            ASSERT_NE(nullptr, hostEvent);
            {
                TakingHost host(id);
                EXPECT_EQ(std::optional<DWORD>(row.exitCode), RunOrdwell(L"/id:" + id + L" /body:" + page));
                Sleep(100);
                EXPECT_TRUE(host.Taken().empty());
            }
            EXPECT_EQ(std::nullopt, HandOverValue(id));
            EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(hostEvent, 0));
            CloseHandle(hostEvent);
        } else {
            // No host yet: the start that would become the host cannot own the token and ends.
            EXPECT_EQ(std::optional<DWORD>(row.exitCode), RunOrdwell(L"/id:" + id + L" /body:" + page));
            HANDLE left = OpenEventW(SYNCHRONIZE, FALSE, id.c_str());
            EXPECT_EQ(nullptr, left) << "the host event outlived the start";
            if (left != nullptr) CloseHandle(left);
        }
        CloseHandle(squatter);
    }

    pausedStart.join();
    EXPECT_EQ(std::optional<DWORD>(kNotTaken), pausedCode);
    // Taken back before the start reported it: the host, reading again, finds nothing.
    EXPECT_EQ(std::nullopt, HandOverValue(pausedId));
    pausedHost->Resume();
    Sleep(200);
    EXPECT_TRUE(pausedHost->Taken().empty());
    pausedHost.reset();
    CloseHandle(pausedEvent);
}

}  // namespace
