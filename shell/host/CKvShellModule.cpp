#include "shell/host/CKvShellModule.h"

#include "access/CheckedCreation.h"
#include "access/CheckedProgramFile.h"
#include "access/InstallFolders.h"
#include "access/ModuleTrust.h"
#include "access/message/MessageBusClient.h"
#include "core/Logging/Logging.h"
#include "core/base/LastError.h"
#include "core/base/ScopedComValues.h"
#include "core/base/SrwLockGuard.h"
#include "core/base/StringFormat.h"
#include "pageobjects/objects/KvSurrogateConnection.h"
#include "shell/config/VistrelHelper.h"
#include "shell/host/CNAVMSGDATA.h"
#include "shell/host/CShellMainWnd.h"
#include "shell/host/NotQuiteNullDacl.h"
#include "shell/host/ShellMessages.h"
#include "shell/host/ShellWindowHelpers.h"

#include <shellapi.h>
#include <shobjidl.h>

#include <cwchar>
#include <new>
#include <string>
#include <utility>

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kSource[] = L"KvShell";

const wchar_t* ReasonText(int reason)
{
    switch (reason) {
    case 1: return L"Child window frame";
    case 2: return L"External Object Connection";
    case 4: return L"Navigation Manager Object";
    case 5: return L"Session Manager Object";
    case 6: return L"Shell Navigation Object";
    case 8: return L"Shell Main Frame Window";
    case 9: return L"Dialog window creation";
    default: return L"Generic or external reference";
    }
}

// Posted pointer messages carry another sender's pointers: never dispatched.
bool IsPostedPointerMessage(const MSG& message)
{
    return message.message == WM_SHELL_NAVIGATE || message.message == WM_SHELL_GET_CURRENT_URL;
}

}  // namespace

CKvShellModule& GetShellModule()
{
    static CKvShellModule module;
    return module;
}

CKvShellModule::CKvShellModule(std::unique_ptr<IHostUiSettings> settings)
    : m_settings(settings ? std::move(settings) : CreateDefaultHostUiSettings())
{
}

CKvShellModule::~CKvShellModule()
{
    m_surrogate.Reset();
    CloseEvents();
    FreeCommandRecord(m_commandRecord);
    // The module ends with the process, after the browser library is unloaded: the page objects
    // may still hold values and objects the pages made there. What the window's end did not give
    // back stays with the process.
    (void)m_sessionManager.Detach();
    (void)m_platformDispatch.Detach();
    (void)m_uninstallerShim.Detach();
    (void)m_mainWindow.Detach();
}

HRESULT CKvShellModule::AddCommonRGSReplacements(IKvRegistrar* registrar)
{
    return registrar != nullptr ? registrar->AddReplacement(L"APPID", GetAppId()) : E_POINTER;
}

bool CKvShellModule::ParseCommandLine(const wchar_t* line, HRESULT* result)
{
    if (result == nullptr || line == nullptr) return false;
    *result = S_OK;
    int argumentCount = 0;
    // A line that cannot be split is refused: without a record nothing can run.
    Fundor::ScopedLocalMemory arguments(::CommandLineToArgvW(line, &argumentCount));
    if (!arguments) return false;
    wchar_t** argv = static_cast<wchar_t**>(arguments.get());
    if (m_commandRecord == nullptr) m_commandRecord = AllocCommandRecord(1);
    if (m_commandRecord == nullptr) return false;
    KvCommandRecord& record = *m_commandRecord;
    if (std::wcslen(line) > kCommandLineCharacters - 1) return false;
    CopyCut(record.commandLine, kCommandLineCharacters, line);
    record.flags = 0;
    record.headerGiven = 0;
    CopyCut(record.programPath, kProgramPathCharacters - 1, argumentCount > 0 ? argv[0] : L"");

    for (int index = 1; index < argumentCount; ++index) {
        const wchar_t* const option = CommandOptionOf(argv[index]);
        if (option == nullptr) continue;
        if (_wcsicmp(option, L"H") == 0) {
            record.flags |= kCommandFlagHidden;
        } else if (_wcsnicmp(option, L"header:", 7) == 0) {
            record.flags |= kCommandFlagPageOption;
            if (option[7] != L'\0') {
                CopyCut(record.headerUrl, Fundor::kUrlBufferCharacters, option + 7);
                record.headerGiven = 1;
            }
        } else if (_wcsnicmp(option, L"body:", 5) == 0) {
            record.flags |= kCommandFlagPageOption;
            if (option[5] != L'\0') CopyCut(record.bodyUrl, Fundor::kUrlBufferCharacters, option + 5);
        } else if (_wcsnicmp(option, L"id:", 3) == 0) {
            record.flags |= kCommandFlagPageOption;
            if (option[3] != L'\0') {
                CopyCut(record.hostId, kHostIdCharacters, option + 3);
                LowerCaseField(record.hostId, kHostIdCharacters);
            }
        } else if (_wcsnicmp(option, L"mode:", 5) == 0) {
            if (option[5] != L'\0') {
                m_mode = option + 5;
                ::CharLowerBuffW(m_mode.data(), static_cast<DWORD>(m_mode.size()));
            }
        } else if (_wcsnicmp(option, L"ngmdata:", 8) == 0) {
            // The value runs to the end of the whole line, quotes and blanks included.
            std::wstring lowered(line);
            ::CharLowerBuffW(lowered.data(), static_cast<DWORD>(lowered.size()));
            const std::size_t at = lowered.find(L"ngmdata:");
            if (at != std::wstring::npos && at + 8 < lowered.size()) {
                m_ngmData = StripQuotes(std::wstring(line + at + 8));
            }
        } else if (_wcsnicmp(option, L"simulate:", 9) == 0) {
            if (option[9] != L'\0') {
                m_simulate = option + 9;
                ::CharLowerBuffW(m_simulate.data(), static_cast<DWORD>(m_simulate.size()));
            }
        }
    }
    // Only the page options count: "mode:", "simulate:", "ngmdata:" and the registration
    // switches alone start nothing (exit code 0).
    if (record.flags == 0) return false;
    arguments.reset();
    return CKvExeModule::ParseCommandLine(line, result);
}

namespace {

enum class HostEventState { Created, Existing, Unavailable };

// Creates the host event, or opens it when a host made it. A dying host's event refuses creation
// (its list denies WRITE_DAC | DELETE) and may be gone by the time it is opened: creation is tried
// again then, and this start becomes the host. With mayCreate clear the event is only opened.
HostEventState OpenOrCreateHostEvent(const std::wstring& name, SECURITY_ATTRIBUTES* attributes, bool mayCreate,
                                     Fundor::ScopedHandle& event)
{
    const wchar_t* const function = L"CKvShellModule::PreMessageLoop";
    constexpr int kAttempts = 10;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        DWORD createError = ERROR_SUCCESS;
        if (mayCreate) {
            event.reset(::CreateEventW(attributes, FALSE, FALSE, name.c_str()));
            if (event) {
                // Made earlier by someone else with a permissive list: a host exists all the same.
                return ::GetLastError() == ERROR_ALREADY_EXISTS ? HostEventState::Existing : HostEventState::Created;
            }
            createError = ::GetLastError();
            ETWLOG(ETWLogging::kLevelError, kSource, function, L"create event failed: 0x%x", createError);
        }
        event.reset(::OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str()));
        if (event) return HostEventState::Existing;
        const DWORD openError = ::GetLastError();
        ETWLOG(ETWLogging::kLevelError, kSource, function, L"open event failed: 0x%x", openError);
        if (createError != ERROR_ACCESS_DENIED || openError != ERROR_FILE_NOT_FOUND) break;
    }
    return HostEventState::Unavailable;
}

// Whether the host of hostId has been asked to exit (its exit event is set).
bool ExitEventIsSet(const wchar_t* hostId)
{
    wchar_t name[520] = {};
    if (Fundor::FormatW(name, 520, L"%s_%s", kExitEventPrefix, hostId) < 0) return false;
    Fundor::ScopedHandle exitEvent(::OpenEventW(SYNCHRONIZE, FALSE, name));
    return exitEvent && ::WaitForSingleObject(exitEvent.get(), 0) == WAIT_OBJECT_0;
}

}  // namespace

HRESULT CKvShellModule::HandOver(ULONGLONG deadline, bool* hostGone)
{
    const wchar_t* const function = L"CKvShellModule::PreMessageLoop";
    KvCommandRecord& record = *m_commandRecord;
    *hostGone = false;
    // A host on its way out takes nothing more: wait for it to end and take its place.
    if (!m_handOver->HostReads() || ExitEventIsSet(record.hostId)) {
        ETWLOG(ETWLogging::kLevelNormal, kSource, function,
               L"The Host with the given ID: %s is ending. Waiting to take its place", record.hostId);
        if (m_handOver->WaitForHostEnd(deadline)) {
            *hostGone = true;
            return S_FALSE;
        }
        ETWLOG(ETWLogging::kLevelError, kSource, function,
               L"The Host with the given ID: %s did not end in time. Its page was not handed over", record.hostId);
        return kHandOverNotTaken;
    }
    const std::size_t length = wcsnlen(record.bodyUrl, Fundor::kUrlBufferCharacters - 1);
    LONG written = ERROR_SUCCESS;
    // Nothing to hand over: the running host is only brought to the front.
    if (length > 0) {
        bool keyFailed = false;
        written = m_handOver->WriteValue(record.bodyUrl, length, &keyFailed);
        if (written != ERROR_SUCCESS) {
            ETWLOG(ETWLogging::kLevelError, kSource, function,
                   keyFailed ? L"There was an error in RegCreateKeyExW with error 0x%x"
                             : L"There was an error in RegSetValueExW with error 0x%x",
                   written);
        }
    }
    if (!::SetEvent(m_hostEvent.get())) {
        const DWORD error = ::GetLastError();
        ETWLOG(ETWLogging::kLevelError, kSource, function,
               L"Could not set the event of the Host with the given ID: %s. Error: 0x%x", record.hostId, error);
        // Reported as not handed over: not to be shown later by a host woken for another start.
        LONG takeBackError = ERROR_SUCCESS;
        if (written == ERROR_SUCCESS && length > 0) (void)m_handOver->TakeBack(record.bodyUrl, length, &takeBackError);
        return HRESULT_FROM_WIN32(error);
    }
    if (written != ERROR_SUCCESS) return HRESULT_FROM_WIN32(written);
    if (length > 0) {
        switch (m_handOver->WaitUntilTaken(record.bodyUrl, length, deadline)) {
        case HandOverChannel::Outcome::Taken:
            break;
        case HandOverChannel::Outcome::HostGone:
            ETWLOG(ETWLogging::kLevelNormal, kSource, function,
                   L"The Host with the given ID: %s ended without taking the page", record.hostId);
            *hostGone = true;
            return S_FALSE;
        case HandOverChannel::Outcome::TimedOut: {
            // The start reports the page as not handed over: the host must not show it later.
            LONG takeBackError = ERROR_SUCCESS;
            const HandOverChannel::TakeBackResult takeBack =
                m_handOver->TakeBack(record.bodyUrl, length, &takeBackError);
            if (takeBack == HandOverChannel::TakeBackResult::AlreadyTaken) break;  // taken at the last moment
            ETWLOG(ETWLogging::kLevelError, kSource, function,
                   takeBack == HandOverChannel::TakeBackResult::TakenBack
                       ? L"The Host with the given ID: %s did not take the page in %d ms. The page was taken back"
                       : L"The Host with the given ID: %s did not take the page in %d ms. The page could not be "
                         L"taken back. Error: 0x%x",
                   record.hostId, static_cast<int>(kHandOverMilliseconds), static_cast<DWORD>(takeBackError));
            return kHandOverNotTaken;
        }
        }
    }
    ETWLOG(ETWLogging::kLevelNormal, kSource, function,
           L"A Host with the given ID: %s already exists. Setting that event", record.hostId);
    return S_FALSE;
}

namespace {

constexpr wchar_t kPreMessageLoop[] = L"CKvShellModule::PreMessageLoop";

// The access list the host's events and its hand-over lock are made with, as the attributes
// their creation takes. When the descriptor cannot be set up the attributes carry none (default
// security), as they always have.
class HostObjectSecurity {
public:
    HostObjectSecurity() = default;
    HostObjectSecurity(const HostObjectSecurity&) = delete;
    HostObjectSecurity& operator=(const HostObjectSecurity&) = delete;

    // False when the list cannot be built (its error in LastError()).
    [[nodiscard]] bool Create()
    {
        if (!m_dacl.Create()) return false;
        if (::InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
            ::SetSecurityDescriptorDacl(&m_descriptor, TRUE, m_dacl.Acl(), FALSE)) {
            m_attributes.lpSecurityDescriptor = &m_descriptor;
        }
        return true;
    }
    [[nodiscard]] SECURITY_ATTRIBUTES* Attributes() noexcept { return &m_attributes; }
    [[nodiscard]] DWORD LastError() const noexcept { return m_dacl.LastError(); }

private:
    NotQuiteNullDacl m_dacl;
    SECURITY_DESCRIPTOR m_descriptor{};
    SECURITY_ATTRIBUTES m_attributes{sizeof(SECURITY_ATTRIBUTES), nullptr, FALSE};
};

}  // namespace

// Refusals of the page, the browser binding or the window return S_FALSE: the process then ends
// quietly with exit code 0, as the suite's starters expect; only the utility library, the host ID,
// the access list, the events and COM security fail with an HRESULT. The command's "H" flag, not
// the show value, decides how the window starts.
HRESULT CKvShellModule::PreMessageLoop(int)
{
    HRESULT status = BindUtilityLibrary();
    if (status == S_OK) status = RequireHostId();
    if (status != S_OK) return status;
    HostObjectSecurity security;
    if (!security.Create()) {
        ETWLOG(ETWLogging::kLevelError, kSource, kPreMessageLoop, L"failed to create our DACl with error 0x%x",
               security.LastError());
        return E_FAIL;
    }
    bool isHost = false;
    status = TakeHostPlace(security.Attributes(), &isHost);
    if (!isHost) return status;

    // This process holds the host's place from here on: a step that fails gives it up again.
    status = CreateExitEventAndSecurity(security.Attributes());
    if (status == S_OK) status = CheckPageUrls();
    if (status == S_OK) {
        status = BindBrowser();
        if (status == S_OK) status = OpenMainWindow();
        if (status != S_OK) DeInitKvBrowser();
    }
    if (status != S_OK) {
        CloseEvents();
        return status;
    }
    SubscribeToBus();
    NavigateToFirstPage();
    return S_OK;
}

HRESULT CKvShellModule::BindUtilityLibrary()
{
    const DWORD utilResult = m_utilLib.Initialize();
    if (utilResult != ERROR_SUCCESS) {
        ETWLOG(ETWLogging::kLevelError, kSource, kPreMessageLoop,
               L"There was an error initializing KVUTIL library. ERROR: 0x%x", utilResult);
        return E_FAIL;
    }
    m_adminQueryResult = m_utilLib.KvIsNTAdmin(&m_isAdministrator);
    if (m_adminQueryResult == ERROR_SUCCESS && m_isAdministrator == 0) m_notAdministrator = 1;
    return S_OK;
}

HRESULT CKvShellModule::RequireHostId() const
{
    if (m_commandRecord == nullptr || m_commandRecord->hostId[0] == L'\0') {
        ETWLOG(ETWLogging::kLevelCritical, kSource, kPreMessageLoop,
               L"Event ID has not been passed as a command line. Cannot proceed");
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CKvShellModule::TakeHostPlace(SECURITY_ATTRIBUTES* attributes, bool* isHost)
{
    *isHost = false;
    KvCommandRecord& record = *m_commandRecord;
    // The window class is named by the ID, and longer names cannot be registered: such an ID never
    // makes a host. Its part before "?" may still name a running one, which takes the page.
    const bool idTooLong = wcsnlen(record.hostId, kHostIdCharacters) > kMaxHostIdCharacters;
    const std::wstring hostEventName = HostEventNameOf(record.hostId);
    m_handOver.reset(new (std::nothrow) HandOverChannel(hostEventName));
    if (!m_handOver) return E_OUTOFMEMORY;
    const ULONGLONG deadline = ::GetTickCount64() + kHandOverMilliseconds;
    const HandOverChannel::LockResult lock = m_handOver->Lock(attributes, deadline);
    switch (lock) {
    case HandOverChannel::LockResult::Locked:
        break;
    case HandOverChannel::LockResult::TimedOut:
        ETWLOG(ETWLogging::kLevelError, kSource, kPreMessageLoop,
               L"The hand-over lock of the Host with the given ID: %s was not free in %d ms", record.hostId,
               static_cast<int>(kHandOverMilliseconds));
        return kHandOverNotTaken;
    case HandOverChannel::LockResult::NameInvalid:
    case HandOverChannel::LockResult::NameHeld: {
        // Without the lock nothing is written and no host runs: pages would overwrite each other.
        const bool nameHeld = lock == HandOverChannel::LockResult::NameHeld;
        const DWORD error = Fundor::LastErrorOr(ERROR_ACCESS_DENIED);
        ETWLOG(ETWLogging::kLevelError, kSource, kPreMessageLoop,
               nameHeld ? L"The hand-over lock of the Host with the given ID: %s cannot be held: another object "
                          L"holds its name. Error: 0x%x. Nothing was handed over"
                        : L"The hand-over lock of the Host with the given ID: %s cannot be made. Error: 0x%x",
               record.hostId, error);
        // A name that no object can have cannot name a host event either.
        return nameHeld ? HRESULT_FROM_WIN32(error) : E_ABORT;
    }
    }
    for (;;) {
        switch (OpenOrCreateHostEvent(hostEventName, attributes, !idTooLong, m_hostEvent)) {
        case HostEventState::Created:
            // Whatever the value holds was written for an earlier host of this ID; pages for this
            // one are written only after the lock is given back.
            m_handOver->RemoveValue();
            if (!m_handOver->ClaimHost(attributes)) {
                // No start could tell whether this host reads: it would be a host nobody can reach.
                const DWORD error = Fundor::LastErrorOr(ERROR_ACCESS_DENIED);
                ETWLOG(ETWLogging::kLevelError, kSource, kPreMessageLoop,
                       L"Could not take the host token. Error: 0x%x. Cannot run as the Host with the given ID: %s",
                       error, record.hostId);
                m_hostEvent.reset();
                m_handOver->Unlock();
                return HRESULT_FROM_WIN32(error);
            }
            m_handOver->Unlock();
            *isHost = true;
            return S_OK;
        case HostEventState::Unavailable:
            m_handOver->Unlock();
            if (idTooLong) {
                ETWLOG(ETWLogging::kLevelError, kSource, kPreMessageLoop,
                       L"The host ID is longer than %d characters. Cannot proceed",
                       static_cast<int>(kMaxHostIdCharacters));
                return S_FALSE;
            }
            return E_ABORT;
        case HostEventState::Existing: {
            bool hostGone = false;
            const HRESULT handedOver = HandOver(deadline, &hostGone);
            m_hostEvent.reset();
            if (!hostGone) {
                m_handOver->Unlock();
                return handedOver;
            }
            if (::GetTickCount64() >= deadline) {
                m_handOver->Unlock();
                ETWLOG(ETWLogging::kLevelError, kSource, kPreMessageLoop,
                       L"The Host with the given ID: %s ended; its place could not be taken in %d ms", record.hostId,
                       static_cast<int>(kHandOverMilliseconds));
                return kHandOverNotTaken;
            }
            // Its event may outlive it for a moment (its last holders close it).
            ::Sleep(50);
            continue;
        }
        }
    }
}

HRESULT CKvShellModule::CreateExitEventAndSecurity(SECURITY_ATTRIBUTES* attributes)
{
    (void)Fundor::FormatW(m_exitEventName, 520, L"%s_%s", kExitEventPrefix, m_commandRecord->hostId);
    Fundor::ScopedHandle exitEvent(::CreateEventW(attributes, TRUE, FALSE, m_exitEventName));
    if (!exitEvent) {
        ETWLOG(ETWLogging::kLevelCritical, kSource, kPreMessageLoop,
               L"Could not create the shell exit event. Error: 0x%x", ::GetLastError());
        return E_FAIL;
    }
    {
        const Fundor::ExclusiveSrwLock guard(m_exitEventLock);
        m_exitEvent = std::move(exitEvent);
    }
    const HRESULT security = ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                                    RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    return FAILED(security) ? security : S_OK;
}

HRESULT CKvShellModule::CheckPageUrls()
{
    KvCommandRecord& record = *m_commandRecord;
    if ((record.flags & kCommandFlagPageOption) == 0) return S_OK;
    if (record.headerGiven == 1) {
        LowerCaseField(record.headerUrl, Fundor::kUrlBufferCharacters);
        if (!IsSarnUrl(record.headerUrl)) {
            ETWLOG(ETWLogging::kLevelError, kSource, kPreMessageLoop, L"Header URL did not begin with 'sarn::'.");
            if (record.headerUrl[0] != L'\0')
                ETWLOG(ETWLogging::kLevelError, kSource, kPreMessageLoop, L"    Passed url is '%s'", record.headerUrl);
            record.headerGiven = 0;
        }
    }
    LowerCaseField(record.bodyUrl, Fundor::kUrlBufferCharacters);
    if (!IsSarnUrl(record.bodyUrl)) {
        ETWLOG(ETWLogging::kLevelError, kSource, kPreMessageLoop, L"Body URL did not begin with 'sarn::'.");
        if (record.bodyUrl[0] != L'\0')
            ETWLOG(ETWLogging::kLevelError, kSource, kPreMessageLoop, L"    Passed url is '%s'", record.bodyUrl);
        return S_FALSE;
    }
    return S_OK;
}

HRESULT CKvShellModule::BindBrowser()
{
    if (!InitKvBrowser()) return S_FALSE;
    const KvCommandRecord& record = *m_commandRecord;
    ETWLOG(ETWLogging::kLevelNormal, kSource, kPreMessageLoop, L"------------Fresh Activation: SARN Shell------------");
    ETWLOG(ETWLogging::kLevelNormal, kSource, kPreMessageLoop, L"Invocation Path: %s", record.programPath);
    ETWLOG(ETWLogging::kLevelNormal, kSource, kPreMessageLoop, L"Command line: %s", record.commandLine);
    return S_OK;
}

HRESULT CKvShellModule::OpenMainWindow()
{
    CKvPerfCounter interfacesMarker;
    interfacesMarker.Start(L"Creating Shell Interfaces and registering shell with protection manager");
    interfacesMarker.Stop();
    // "H" only chooses this value; the window is created hidden and shown by its zoom timer either way.
    const int show = (m_commandRecord->flags & kCommandFlagHidden) != 0 ? 0 : 1;
    if (CreateMainFrameWnd(show) != S_OK) {
        ETWLOG(ETWLogging::kLevelError, kSource, kPreMessageLoop,
               L"There was an error creating the main frame window of the application");
        return S_FALSE;
    }
    return S_OK;
}

void CKvShellModule::SubscribeToBus()
{
    if (m_noBus) return;
    m_bus = Velmo::MessageBusClient::getInstance();
    if (!m_bus) return;
    (void)m_bus->subscribeAll(L"Nbr.Uninstall.Start",
                              [this](const std::shared_ptr<Velmo::Message>& message) { return OnUninstallStart(message); });
    (void)m_bus->subscribeSessionAll(L"UiContainer.Destroyed", [this](const std::shared_ptr<Velmo::Message>& message) {
        return OnUiContainerDestroyed(message);
    });
}

void CKvShellModule::NavigateToFirstPage()
{
    const HWND window = GetMainWindowHandle();
    ::SendMessageW(window, WM_SHELL_INIT, 0, 0);
    Microsoft::WRL::ComPtr<CNAVMSGDATA> navigation = Fundor::AdoptComPtr(CreateNavMsgData(m_commandRecord->bodyUrl));
    if (navigation) (void)SendNavigateMessage(window, navigation.Get());
    navigation.Reset();
    if (m_mainWindow) m_mainWindow->StartZoomTimer();
}

void CKvShellModule::CloseEvents() noexcept
{
    // The exit event first: a next host of this ID makes it anew once the host event is gone.
    {
        const Fundor::ExclusiveSrwLock guard(m_exitEventLock);
        m_exitEvent.reset();
    }
    m_hostEvent.reset();
    // Last: a start that sees the token free finds the host event gone and takes the host's place.
    if (m_handOver) {
        m_handOver->ReleaseHost();
        m_handOver->Unlock();
    }
}

void CKvShellModule::DestroyLiveWindow()
{
    const HWND window = GetMainWindowHandle();
    if (window != nullptr && ::IsWindow(window)) ::DestroyWindow(window);
}

void CKvShellModule::RunMessageLoop()
{
    if (m_exitEvent && m_hostEvent) {
        const HANDLE handles[] = {m_exitEvent.get(), m_hostEvent.get()};
        (void)Wait(handles, 2, INFINITE, nullptr);
    }
    // A starter arriving from here on must not hand over to a host that no longer reads.
    CloseEvents();
    // The bus delivers nothing more to a host on its way out.
    m_bus.reset();
    // The wait may end with the window alive (exit event set from outside, a failed wait).
    DestroyLiveWindow();
    m_mainWindow.Reset();
    SetShellHostAccess(nullptr);
    DeInitKvBrowser();
    ETWLOG(ETWLogging::kLevelNormal, kSource, L"CKvShellModule::RunMessageLoop",
           L"------------EXITING Application: SARN Shell------------");
}

DWORD CKvShellModule::Wait(const HANDLE* handles, DWORD count, DWORD timeout, HWND secondWindow)
{
    const wchar_t* const function = L"CKvShellModule::Wait";
    ETWLOG(ETWLogging::kLevelNormal, kSource, function,
           L"Waiting on %d handles and also processing windows and COM messages", static_cast<int>(count));
    if (handles == nullptr || count == 0 || count >= MAXIMUM_WAIT_OBJECTS) {
        ETWLOG(ETWLogging::kLevelError, kSource, function, L"Paramters are invalid. Waiting will not happen");
        return WAIT_FAILED;
    }
    for (;;) {
        const DWORD result = ::MsgWaitForMultipleObjects(count, handles, FALSE, timeout, QS_ALLINPUT);
        if (result < WAIT_OBJECT_0 + count) {
            const DWORD index = result - WAIT_OBJECT_0;
            ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Event index %d has been set",
                   static_cast<int>(index));
            if (index == 0) {
                ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Exit Event Set");
                MSG message{};
                while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                    if (IsPostedPointerMessage(message)) continue;
                    ::TranslateMessage(&message);
                    ::DispatchMessageW(&message);
                }
                return index;
            }
            if (index == 1) {
                ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Custom event set");
                DoNavigation();
                (void)ForceForegroundWindow(GetMainWindowHandle(), TRUE);
            }
            continue;
        }
        if (result == WAIT_OBJECT_0 + count) {
            MSG message{};
            while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (IsPostedPointerMessage(message)) {
                    ETWLOG(ETWLogging::kLevelError, kSource, function, L"Posted message 0x%x ignored", message.message);
                    continue;
                }
                if (!PreTranslateMessage(&message, secondWindow)) {
                    ::TranslateMessage(&message);
                    ::DispatchMessageW(&message);
                }
            }
            continue;
        }
        return result;
    }
}

BOOL CKvShellModule::PreTranslateMessage(MSG* message, HWND secondWindow)
{
    if (message == nullptr || m_exitRequested != 0) return FALSE;
    const HWND window = GetMainWindowHandle();
    auto belongsTo = [message](HWND top) {
        return top != nullptr && (message->hwnd == top || ::IsChild(top, message->hwnd));
    };
    if (m_mainWindow && (belongsTo(window) || belongsTo(secondWindow))) {
        return m_mainWindow->TranslateAccelerator(message) != 0 ? TRUE : FALSE;
    }
    return FALSE;
}

namespace {

// The handed-over URL to navigate, or false when it must not be shown (*verdict: why). A URL whose
// DLL comes from a folder it names itself is shown only when that DLL is a file on a drive that
// passes the module trust check. Its path is judged as text first: a share, device, pipe or stream
// is refused before anything is opened (opening one reaches another process or the network).
// The URL is then written with the final path of the file opened, which is held open, neither
// writable nor deletable, until the navigation is over: the DLL checked is the DLL the browser
// control loads, however it reads slashes, "..", short names or case.
bool CheckHandedOverUrl(const wchar_t* url, std::wstring& navigate, CheckedProgramFile& dll, DWORD* verdict)
{
    *verdict = ERROR_SUCCESS;
    const SarnDllReference reference = ReadSarnDllReference(url);
    if (reference.kind == SarnDllReference::Kind::Suite) {
        navigate = url;
        return true;
    }
    std::wstring path = reference.dll;
    if (reference.kind == SarnDllReference::Kind::BelowInstallFolder) {
        wchar_t folder[520] = {};
        *verdict = GetProductInstallDir(folder, 520, 1);
        if (*verdict != ERROR_SUCCESS) return false;
        path = folder + path;
    }
    wchar_t full[MAX_PATH] = {};
    const DWORD fullLength = ::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr);
    *verdict = ERROR_BAD_PATHNAME;
    if (fullLength == 0 || fullLength >= MAX_PATH || !IsDrivePath(full)) return false;
    *verdict = dll.Check(full);
    // The final path may still lead elsewhere (a link to a share).
    if (*verdict == ERROR_SUCCESS && !IsDrivePath(dll.path().c_str())) *verdict = ERROR_BAD_PATHNAME;
    if (*verdict != ERROR_SUCCESS) return false;
    navigate = L"sarn://" + dll.path() + reference.resource;
    return navigate.size() < Fundor::kUrlBufferCharacters;
}

}  // namespace

void CKvShellModule::DoNavigation()
{
    const wchar_t* const function = L"CKvShellModule::DoNavigation";
    const std::wstring valueName =
        HandOverValueName(HostEventNameOf(m_commandRecord != nullptr ? m_commandRecord->hostId : L""));
    wchar_t url[Fundor::kUrlBufferCharacters] = {};
    DWORD size = sizeof(url);
    LONG status =
        ::RegGetValueW(HKEY_CURRENT_USER, kHandOverKey, valueName.c_str(), RRF_RT_REG_SZ, nullptr, url, &size);
    // The value is written without a terminator. One that fills the buffer comes back without one
    // (the platform terminates only where there is room): it is longer than a URL may be.
    if (status == ERROR_SUCCESS && wcsnlen(url, Fundor::kUrlBufferCharacters) == Fundor::kUrlBufferCharacters) status = ERROR_MORE_DATA;
    // Removed in every case. Only a removal of this host's decides that the page is taken: a start
    // that gave up waiting removes its page itself, and the one that removes it first decides.
    LONG removed = ERROR_FILE_NOT_FOUND;
    Fundor::ScopedRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, kHandOverKey, 0, KEY_SET_VALUE, key.put()) == ERROR_SUCCESS) {
        removed = ::RegDeleteValueW(key.get(), valueName.c_str());
    }
    if (status != ERROR_SUCCESS) {
        ETWLOG(ETWLogging::kLevelError, kSource, function,
               L"Failed to read second instance param value from registry - error 0x%x", status);
        return;
    }
    url[Fundor::kUrlBufferCharacters - 1] = L'\0';
    if (removed != ERROR_SUCCESS) {
        ETWLOG(ETWLogging::kLevelError, kSource, function,
               L"Handed-over URL was taken back by its start (0x%x) and is not shown: '%s'", removed, url);
        return;
    }
    // Any process of the user can write the value: only the suite's own pages are shown.
    wchar_t lowered[Fundor::kUrlBufferCharacters] = {};
    CopyCut(lowered, Fundor::kUrlBufferCharacters, url);
    LowerCaseField(lowered, Fundor::kUrlBufferCharacters);
    if (!IsSarnUrl(lowered)) {
        ETWLOG(ETWLogging::kLevelError, kSource, function,
               L"Handed-over URL did not begin with 'sarn::' and is ignored: '%s'", url);
        return;
    }
    std::wstring checked;
    CheckedProgramFile heldDll;
    DWORD verdict = ERROR_SUCCESS;
    if (!CheckHandedOverUrl(url, checked, heldDll, &verdict)) {
        ETWLOG(ETWLogging::kLevelError, kSource, function,
               L"Handed-over URL names a DLL that is missing, not a file on a drive or not trusted (0x%x) and is "
               L"ignored: '%s'",
               verdict, url);
        return;
    }
    CopyCut(url, Fundor::kUrlBufferCharacters, checked.c_str());
    bool navigated = false;
    if (const auto navigation = Fundor::AdoptComPtr(CreateNavMsgData(url))) {
        (void)SendNavigateMessage(GetMainWindowHandle(), navigation.Get());
        // The window signals the record once it has acted on it.
        navigated = ::WaitForSingleObject(navigation->DoneEvent(), 0) == WAIT_OBJECT_0;
    }
    if (!navigated) {
        ETWLOG(ETWLogging::kLevelError, kSource, function, L"Handed-over URL was taken but not navigated: '%s'", url);
    }
}

LONG CKvShellModule::ModuleAddRef(int reason)
{
    const LONG count = ::InterlockedIncrement(&m_referenceCount);
    ETWLOG(ETWLogging::kLevelNormal, kSource, L"CKvShellModule::ModuleAddRef",
           L"Reference count incremented(+) by: %s. Value: %d", ReasonText(reason), static_cast<int>(count));
    return count;
}

LONG CKvShellModule::ModuleRelease(int reason)
{
    const wchar_t* const function = L"CKvShellModule::ModuleRelease";
    LONG current = m_referenceCount;
    // Never below 0, even with two late releases racing.
    for (;;) {
        if (current <= 0) {
            ETWLOG(ETWLogging::kLevelError, kSource, function,
                   L"ModuleRelease called after it has already been set to 0");
            return 0;
        }
        const LONG seen = ::InterlockedCompareExchange(&m_referenceCount, current - 1, current);
        if (seen == current) break;
        current = seen;
    }
    const LONG count = current - 1;
    ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Reference count decremented(-) by: %s. Value: %d",
           ReasonText(reason), static_cast<int>(count));
    if (count == 0) {
        ::InterlockedExchange(&m_exitRequested, 1);
        SetExitEvent();
        ETWLOG(ETWLogging::kLevelNormal, kSource, function,
               L"Reference Count has reached 0. Shell has been asked to exit");
    }
    return count;
}

void CKvShellModule::SetExitEvent()
{
    // Through the handle this host made, never by name: once the host gave its events up, a start
    // that took its place may have made an exit event of the same name.
    const Fundor::ExclusiveSrwLock guard(m_exitEventLock);
    if (m_exitEvent) ::SetEvent(m_exitEvent.get());
}

HRESULT CKvShellModule::GetDispatch(DWORD type, IDispatch** object)
{
    if (object == nullptr || type == 0xFFFFFFFF) return E_INVALIDARG;
    ETWLOG(ETWLogging::kLevelNormal, kSource, L"CKvShellModule::GetDispatch",
           L"Trying to get dispatch object for type %d", static_cast<int>(type));
    *object = nullptr;
    switch (type) {
    case 1:
        if (!m_sessionManager) return kShellPageObjectMissing;
        return m_sessionManager->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(object));
    case 2:
        if (!m_platformDispatch ||
            FAILED(m_platformDispatch->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(object)))) {
            return E_FAIL;
        }
        return S_OK;
    case 3:
        if (!m_uninstallerShim) return kShellPageObjectMissing;
        return m_uninstallerShim->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(object));
    default:
        return E_INVALIDARG;
    }
}

int CKvShellModule::CreateGlobalObjects()
{
    const wchar_t* const function = L"CKvShellModule::CreateGlobalObjects";
    SetShellHostAccess(this);
    if (!m_sessionManager) {
        const HRESULT hr = CreateSessionManager(m_sessionManager.GetAddressOf());
        if (FAILED(hr)) {
            ETWLOG(ETWLogging::kLevelError, kSource, function, L"Failed while creating Session object. Error: 0x%x",
                   hr);
            return 0;
        }
    }
    if (_wcsicmp(m_mode.c_str(), L"fake") == 0) {
        const HRESULT hr =
            CreateFakeUninstaller(m_simulate.c_str(), m_ngmData.c_str(), m_uninstallerShim.ReleaseAndGetAddressOf());
        if (FAILED(hr)) {
            ETWLOG(ETWLogging::kLevelError, kSource, function,
                   L"Failed while creating FakeUninstaller object. Error: 0x%x", hr);
            return 0;
        }
    }
    const HRESULT hr = CreatePlatformDispatch(m_platformDispatch.ReleaseAndGetAddressOf());
    if (FAILED(hr)) {
        ETWLOG(ETWLogging::kLevelError, kSource, function, L"Failed while creating DspWrp object. Error:,%x", hr);
        return 0;
    }
    // With no package; a failure only leaves the title empty.
    m_settings->InitializeLocale();
    return 1;
}

void CKvShellModule::ReleaseGlobalObjects()
{
    m_platformDispatch.Reset();
    m_uninstallerShim.Reset();
}

HostPageWindowSize CKvShellModule::ReadWindowSize()
{
    HostPageWindowSize size;
    const std::wstring page = PageNameFromUrl(m_commandRecord != nullptr ? m_commandRecord->bodyUrl : nullptr);
    if (page == L"uninstall.html") m_noBus = true;
    wchar_t folder[520] = {};
    if (GetProductInstallDir(folder, 520, 1) != ERROR_SUCCESS) folder[0] = L'\0';
    const std::wstring configFile = std::wstring(folder) + L"qrnuicfg.dat";
    if (!page.empty()) {
        const std::wstring lookedUp =
            (page == L"uninstall.html" && m_settings->IsVistrelEnabled()) ? std::wstring(L"abouto.html") : page;
        if (!m_settings->ReadPageWindowSize(configFile.c_str(), L"en-us", L"sarn_ordwell", lookedUp.c_str(), &size)) {
            size = HostPageWindowSize{};
        }
    }
    if (size.width == 0) size.width = 700;
    if (size.height == 0) size.height = 620;
    return size;
}

HRESULT CKvShellModule::CreateMainFrameWnd(int show)
{
    const wchar_t* const function = L"CKvShellModule::CreateMainFrameWnd";
    ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Attempting to create an instance of the main frame window");
    if (!::SetThreadLocale(m_settings->UiLocale())) {
        ETWLOG(ETWLogging::kLevelError, kSource, function, L"SetThreadLocale failed. Error: 0x%x", ::GetLastError());
    }
    auto* window = new (std::nothrow) CShellMainWnd(*this);
    if (window == nullptr) {
        ETWLOG(ETWLogging::kLevelCritical, kSource, function, L"Could not create instance of the window class");
        return kShellObjectsNotCreated;
    }
    // The module's reference; window stays usable while the module holds it.
    m_mainWindow = window;
    if (!CreateGlobalObjects()) {
        ETWLOG(ETWLogging::kLevelCritical, kSource, function, L"There was an error creating global objects");
        m_mainWindow.Reset();
        return kShellObjectsNotCreated;
    }
    const HostPageWindowSize size = ReadWindowSize();
    ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Creating main frame window of size: %d, %d", size.width,
           size.height);
    (void)::SetCurrentProcessExplicitAppUserModelID(L"Tervane.KvAgent");
    CKvPerfCounter marker;
    marker.Start(L"Creating Shell Main Window (protection client, all browsers, all child windows, all shell DOM objects)");
    window->SetPosition(size.position);
    HWND handle = nullptr;
    try {
        handle = window->Create(nullptr, SIZE{size.width, size.height}, L"48392EA030474ca9B38DC55EE5D820AA",
                                kMainWindowStyle, kMainWindowExStyle);
    } catch (...) {
        handle = nullptr;
    }
    HRESULT result = S_OK;
    if (handle != nullptr) {
        ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Successfully created the main frame window of the shell");
        ::SendMessageW(handle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(LoadAppIcon()));
    } else {
        result = kShellWindowCreationFailed;
        ETWLOG(ETWLogging::kLevelCritical, kSource, function,
               L"Could not create the main frame window of the Shell. Error: 0x%x", result);
        SetMainWindowHandle(nullptr);
        m_mainWindow.Reset();
    }
    marker.Stop();
    return result;
}

HICON CKvShellModule::LoadAppIcon()
{
    return m_settings->LoadAppIcon();
}

HRESULT CKvShellModule::GetSurrogateObject(REFCLSID clsid, REFIID iid, void** object)
{
    const wchar_t* const function = L"CKvShellModule::GetSurrogateObject";
    ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Entering...");
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!m_surrogateMode) {
        ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Exitting....");
        return ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object);
    }

    if (!m_surrogate) {
        SurrogateStep step = SurrogateStep::CreateHelper;
        HRESULT hr = ConnectToSurrogate(false, m_surrogate.ReleaseAndGetAddressOf(), &step);
        if (SUCCEEDED(hr) && !m_surrogate) hr = E_NOINTERFACE;
        if (FAILED(hr)) {
            const wchar_t* format = L"We failed in CreateObject for surrogate with Error %x";
            if (step == SurrogateStep::CreateHelper) {
                format = L"We failed in KvCreateInstanceNoAuth for surrogate helper with Error %x";
            } else if (step == SurrogateStep::LoadSurrogate) {
                format = L"We failed in LoadSurrogate Error %x";
            }
            ETWLOG(ETWLogging::kLevelError, kSource, function, format, hr);
            ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Exitting....");
            return hr;
        }
    }
    const HRESULT hr = CreateInSurrogate(m_surrogate.Get(), clsid, iid, object);
    ETWLOG(ETWLogging::kLevelNormal, kSource, function, L"Exitting....");
    return hr;
}

HRESULT CKvShellModule::CreateCheckedInstance(REFCLSID clsid, DWORD context, REFIID iid, void** object)
{
    return KvCreateInstance2(clsid, nullptr, context, iid, object, 1);
}

HRESULT CKvShellModule::CreateInstanceNoAuth(REFCLSID clsid, DWORD context, REFIID iid, void** object)
{
    return KvCreateInstanceNoAuth(clsid, nullptr, context, iid, object);
}

HRESULT CKvShellModule::CallScriptMethod(IDispatch* script, const wchar_t* method)
{
    if (script == nullptr || method == nullptr) return E_INVALIDARG;
    try {
        LPOLESTR name = const_cast<LPOLESTR>(method);
        DISPID id = DISPID_UNKNOWN;
        const HRESULT hr = script->GetIDsOfNames(IID_NULL, &name, 1, 0x400, &id);
        if (FAILED(hr)) return hr;
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        return script->Invoke(id, IID_NULL, 0x800, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    } catch (...) {
        ETWLOG(ETWLogging::kLevelWarning, kSource, L"CKvShellModule::CallScriptMethod",
               L"There was an exception while calling the script interface");
        // A failure code: the bare 574 would read as success to every SUCCEEDED test.
        return HRESULT_FROM_WIN32(ERROR_UNHANDLED_EXCEPTION);
    }
}

int CKvShellModule::IsVistrelUiVisible()
{
    const HWND window = ::FindWindowW(L"AB80AD1E41A445efAB585BDC60B29776", nullptr);
    if (window != nullptr && ::IsWindowVisible(window) && !::IsIconic(window)) return 1;
    return VistrelHelper::IsVistrelRunning() == 1 ? 1 : 0;
}

DWORD CKvShellModule::GetCurrentSessionID()
{
    DWORD session = 0;
    if (!::ProcessIdToSessionId(::GetCurrentProcessId(), &session)) {
        const DWORD error = ::GetLastError();
        ETWLOG(ETWLogging::kLevelWarning, kSource, L"CKvShellModule::GetCurrentSessionID",
               L"Could not get session ID for the current process. Error: 0x%x", error);
        return 0;
    }
    return session;
}

int CKvShellModule::InitKvBrowser()
{
    const wchar_t* const function = L"CKvShellModule::InitKvBrowser";
    DeInitKvBrowser();
    m_browserLib.reset(new (std::nothrow) KvBrwsr2Lib());
    if (!m_browserLib) {
        ETWLOG(ETWLogging::kLevelError, kSource, function, L"Could not allocatate memory for the browser control");
        return 0;
    }
    m_sarnProtocolBuffer.reset(new (std::nothrow) BYTE[4168]());
    if (!m_sarnProtocolBuffer) {
        ETWLOG(ETWLogging::kLevelError, kSource, function, L"Could not allocatate memory for the sarn protocol buffer");
        return 0;
    }
    KvBrwNfHandler handler = nullptr;
    GetBrwNfyHandler(&handler);
    if (m_browserLib->Init(6, handler, this) == ERROR_SUCCESS) return 1;
    ETWLOG(ETWLogging::kLevelError, kSource, function, L"There was an error Initializing the browser control");
    return 0;
}

void CKvShellModule::DeInitKvBrowser()
{
    m_sarnProtocolBuffer.reset();
    m_browserLib.reset();
    // After the browser library: it never keeps a handler of an unloaded module.
    ReleaseBrwNfyHandler();
}

void CKvShellModule::PostCloseToWindow()
{
    const HWND window = GetMainWindowHandle();
    if (window != nullptr) ::PostMessageW(window, WM_CLOSE, 0, 0);
}

unsigned long CKvShellModule::OnUninstallStart(const std::shared_ptr<Velmo::Message>&)
{
    PostCloseToWindow();
    return 0;
}

unsigned long CKvShellModule::OnUiContainerDestroyed(const std::shared_ptr<Velmo::Message>& message)
{
    const std::wstring windowId = m_settings->CurrentSessionWindowId();
    if (message && DataNamesWindow(message->getData().c_str(), windowId.c_str())) {
        PostCloseToWindow();
    } else {
        ETWLOG(ETWLogging::kLevelNormal, kSource, L"CKvShellModule::OnUiContainerDestroyed",
               L"Received Vistrel closed message for %s", windowId.c_str());
    }
    return 0;
}
