#include "core/testsupport/RegistryIsolation.h"

#include <atomic>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace Fundor::testing {
namespace {

std::atomic<unsigned> g_uniqueCounter{0};
// Whether an isolation of this process is in place (see the header on nesting).
std::atomic<bool> g_isolationInPlace{false};

// FILETIME units (100 ns).
constexpr ULONGLONG kOneDay = 24ULL * 60 * 60 * 10'000'000;
// The longest key name the registry takes.
constexpr std::size_t kMaxKeyName = 255;

std::wstring Widen(const char* text)
{
    std::wstring wide;
    for (const char* p = text; p != nullptr && *p != '\0'; ++p) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*p)));
    }
    return wide;
}

// "Suite_Name" of the running test, empty outside a test; no path separators.
std::wstring CurrentTestName()
{
    std::wstring name;
    if (const auto* info = ::testing::UnitTest::GetInstance()->current_test_info()) {
        name = Widen(info->test_suite_name()) + L"_" + Widen(info->name());
    }
    for (wchar_t& c : name) {
        if (c == L'/' || c == L'\\') c = L'_';
    }
    return name;
}

ULONGLONG ToNumber(const FILETIME& time)
{
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

ULONGLONG Now()
{
    FILETIME now = {};
    ::GetSystemTimeAsFileTime(&now);
    return ToNumber(now);
}

std::wstring Hex16(ULONGLONG value)
{
    std::wstring digits(16, L'0');
    for (std::size_t i = digits.size(); i-- > 0; value >>= 4) {
        digits[i] = L"0123456789ABCDEF"[value & 0xF];
    }
    return digits;
}

// Takes exactly 16 upper-case hex digits and the '_' after them off the front of text.
std::optional<ULONGLONG> TakeHex16(std::wstring_view& text)
{
    if (text.size() < 17 || text[16] != L'_') return std::nullopt;
    ULONGLONG value = 0;
    for (const wchar_t c : text.substr(0, 16)) {
        const int digit = c >= L'0' && c <= L'9' ? c - L'0' : c >= L'A' && c <= L'F' ? c - L'A' + 10 : -1;
        if (digit < 0) return std::nullopt;
        value = (value << 4) | static_cast<ULONGLONG>(digit);
    }
    text.remove_prefix(17);
    return value;
}

// Takes a process id (1 to 10 decimal digits, below 2^32) and the '_' after it off the front of text.
std::optional<DWORD> TakeProcessId(std::wstring_view& text)
{
    ULONGLONG value = 0;
    std::size_t length = 0;
    while (length < text.size() && text[length] >= L'0' && text[length] <= L'9' && length < 10) {
        value = value * 10 + static_cast<ULONGLONG>(text[length] - L'0');
        ++length;
    }
    if (length == 0 || length >= text.size() || text[length] != L'_' || value > MAXDWORD) return std::nullopt;
    text.remove_prefix(length + 1);
    return static_cast<DWORD>(value);
}

struct ScratchOwner {
    ULONGLONG created;
    DWORD processId;
    ULONGLONG processStarted;
};

// The creation time and owner a scratch key's name carries (see the header); nothing for any
// other name.
std::optional<ScratchOwner> ParseScratchKeyName(std::wstring_view name)
{
    const auto created = TakeHex16(name);
    if (!created) return std::nullopt;
    const auto processId = TakeProcessId(name);
    if (!processId) return std::nullopt;
    const auto started = TakeHex16(name);
    if (!started) return std::nullopt;
    return ScratchOwner{*created, *processId, *started};
}

ULONGLONG ProcessStarted(HANDLE process)
{
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        throw std::runtime_error("registry isolation: cannot read this process's creation time");
    }
    return ToNumber(created);
}

// Whether the process that made a scratch key still runs. When that cannot be told (access
// refused, times unreadable) it is taken to run: a key kept a day too long is harmless, one
// removed under a running test is not.
bool OwnerRuns(const ScratchOwner& owner)
{
    const ScopedHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner.processId));
    if (!process) return ::GetLastError() != ERROR_INVALID_PARAMETER;  // no process has that id
    FILETIME created = {}, exited = {}, kernel = {}, user = {};
    if (!::GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return true;
    if (ToNumber(created) != owner.processStarted) return false;  // a later process got the id
    DWORD exitCode = 0;
    const bool exitedAlready = ::GetExitCodeProcess(process.get(), &exitCode) != FALSE && exitCode != STILL_ACTIVE;
    return !exitedAlready;  // a process that ended but is still held open by another
}

// Removes the scratch keys below parent that crashed runs left behind. Best effort: a key that
// cannot be removed now (another process removes it at the same time) is tried again next time.
void RemoveStaleScratchKeys(HKEY parent, ULONGLONG now)
{
    std::vector<std::wstring> stale;
    for (DWORD index = 0;; ++index) {
        wchar_t name[kMaxKeyName + 1] = {};
        DWORD length = ARRAYSIZE(name);
        const LONG status = ::RegEnumKeyExW(parent, index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_MORE_DATA) continue;  // not one of ours
        if (status != ERROR_SUCCESS) break;
        const auto owner = ParseScratchKeyName(std::wstring_view(name, length));
        if (!owner) continue;
        const bool old = owner->created < now && now - owner->created > kOneDay;
        if (old || !OwnerRuns(*owner)) stale.emplace_back(name, length);
    }
    for (const std::wstring& name : stale) {
        (void)::RegDeleteTreeW(parent, name.c_str());
    }
}

const char* StepText(RegistryIsolation::Step step)
{
    switch (step) {
    case RegistryIsolation::Step::OpenScratchParent: return "opening the scratch parent key";
    case RegistryIsolation::Step::CreateScratchKey: return "creating the scratch key";
    case RegistryIsolation::Step::CreateMachineKey: return "creating the scratch HKLM key";
    case RegistryIsolation::Step::CreateUserKey: return "creating the scratch HKCU key";
    case RegistryIsolation::Step::CreateClassesKey: return "creating the scratch HKCR key";
    case RegistryIsolation::Step::RedirectMachine: return "redirecting HKEY_LOCAL_MACHINE";
    case RegistryIsolation::Step::RedirectClasses: return "redirecting HKEY_CLASSES_ROOT";
    case RegistryIsolation::Step::RedirectUser: return "redirecting HKEY_CURRENT_USER";
    }
    return "an unknown step";
}

// Removes folder and everything below it. A link (reparse point) is removed as a link, never
// entered, so a test can never delete what lies outside its scratch folder.
void DeleteTree(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            const DWORD attributes = found.dwFileAttributes;
            if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                DeleteTree(path);
            } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                ::RemoveDirectoryW(path.c_str());
            } else {
                ::DeleteFileW(path.c_str());
            }
        } while (::FindNextFileW(search, &found));
        ::FindClose(search);
    }
    ::SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::RemoveDirectoryW(folder.c_str());
}

}  // namespace

std::wstring UniqueName(const wchar_t* prefix)
{
    std::wstring name = prefix != nullptr ? prefix : L"";
    const std::wstring test = CurrentTestName();
    if (!test.empty()) name += L"_" + test;
    for (wchar_t& c : name) {
        if (c == L'/' || c == L'\\') c = L'_';
    }
    // Wine reuses process ids between runs: the performance counter keeps names apart.
    LARGE_INTEGER now = {};
    ::QueryPerformanceCounter(&now);
    name += L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
            std::to_wstring(g_uniqueCounter.fetch_add(1) + 1) + L"_" + std::to_wstring(now.QuadPart);
    return name;
}

RegistryIsolation::RegistryIsolation() { SetUp(std::nullopt); }

RegistryIsolation::RegistryIsolation(Step failingStep) { SetUp(failingStep); }

RegistryIsolation::~RegistryIsolation() { Undo(); }

void RegistryIsolation::SetUp(std::optional<Step> failingStep)
{
    bool idle = false;
    if (!g_isolationInPlace.compare_exchange_strong(idle, true)) {
        throw std::logic_error("registry isolation: another isolation of this process is in place "
                               "(nesting is refused: its end would undo the outer redirects)");
    }
    try {
        const auto run = [failingStep](Step step, const auto& call) {
            const LONG status = failingStep == step ? ERROR_ACCESS_DENIED : call();
            if (status != ERROR_SUCCESS) {
                throw std::runtime_error(std::string("registry isolation: ") + StepText(step) + " failed with error " +
                                         std::to_string(status) + "; nothing is left redirected");
            }
        };

        // The real HKCU: nothing is redirected yet.
        run(Step::OpenScratchParent, [this] {
            return ::RegCreateKeyExW(HKEY_CURRENT_USER, kScratchParentKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                     m_parent.put(), nullptr);
        });
        const ULONGLONG now = Now();
        RemoveStaleScratchKeys(m_parent.get(), now);

        m_scratchName = Hex16(now) + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                        Hex16(ProcessStarted(::GetCurrentProcess())) + L"_" +
                        std::to_wstring(g_uniqueCounter.fetch_add(1) + 1) + L"_" + CurrentTestName();
        if (m_scratchName.size() > kMaxKeyName) m_scratchName.resize(kMaxKeyName);
        m_scratchPath = std::wstring(kScratchParentKey) + L"\\" + m_scratchName;
        ScopedRegKey scratch;
        run(Step::CreateScratchKey, [this, &scratch] {
            DWORD disposition = 0;
            const LONG status = ::RegCreateKeyExW(m_parent.get(), m_scratchName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                                  nullptr, scratch.put(), &disposition);
            if (status != ERROR_SUCCESS) return status;
            // Someone else's key is neither fresh nor ours to remove.
            if (disposition != REG_CREATED_NEW_KEY) return static_cast<LONG>(ERROR_ALREADY_EXISTS);
            m_scratchCreated = true;
            return static_cast<LONG>(ERROR_SUCCESS);
        });
        const auto create = [&scratch](const wchar_t* name, ScopedRegKey& key) {
            return ::RegCreateKeyExW(scratch.get(), name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
        };
        run(Step::CreateMachineKey, [&] { return create(L"HKLM", m_machine); });
        run(Step::CreateUserKey, [&] { return create(L"HKCU", m_user); });
        run(Step::CreateClassesKey, [&] { return create(L"HKCR", m_classes); });

        const auto redirect = [this, &run](Step step, HKEY root, const ScopedRegKey& key) {
            run(step, [root, &key] { return ::RegOverridePredefKey(root, key.get()); });
            m_redirected[m_redirectCount++] = root;
        };
        redirect(Step::RedirectMachine, HKEY_LOCAL_MACHINE, m_machine);
        redirect(Step::RedirectClasses, HKEY_CLASSES_ROOT, m_classes);
        redirect(Step::RedirectUser, HKEY_CURRENT_USER, m_user);
    } catch (...) {
        Undo();
        throw;
    }
}

void RegistryIsolation::Undo() noexcept
{
    while (m_redirectCount > 0) {
        --m_redirectCount;
        (void)::RegOverridePredefKey(m_redirected[m_redirectCount], nullptr);
    }
    m_classes.reset();
    m_user.reset();
    m_machine.reset();
    if (m_scratchCreated) {
        (void)::RegDeleteTreeW(m_parent.get(), m_scratchName.c_str());
        m_scratchCreated = false;
    }
    m_parent.reset();
    g_isolationInPlace.store(false);
}

ScratchFolder::ScratchFolder()
{
    wchar_t temp[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    if (length == 0 || length > MAX_PATH) {
        throw std::runtime_error("no temporary folder");
    }
    m_path = std::wstring(temp) + UniqueName(L"ordwell");
    if (!::CreateDirectoryW(m_path.c_str(), nullptr)) {
        throw std::runtime_error("cannot create a scratch folder");
    }
}

ScratchFolder::~ScratchFolder()
{
    // Long-path form: a tree deeper than MAX_PATH must still be removed from here, never
    // resolved against the current directory.
    DeleteTree(L"\\\\?\\" + m_path);
}

}  // namespace Fundor::testing
