#include "tests/e2e/support/HostControl.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstddef>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace HostControl {

HWND FindHostWindow(const std::wstring& hostId) { return FindWindowW(hostId.c_str(), nullptr); }

HWND WaitUntilShown(const std::wstring& hostId, DWORD timeout)
{
    const ULONGLONG end = GetTickCount64() + timeout;
    for (;;) {
        HWND window = FindHostWindow(hostId);
        if (window != nullptr && IsWindowVisible(window)) return window;
        if (GetTickCount64() >= end) return nullptr;
        Sleep(50);
    }
}

bool RequestClose(const std::wstring& hostId)
{
    HWND window = FindHostWindow(hostId);
    return window != nullptr && PostMessageW(window, kCloseMessage, 0, 0) != FALSE;
}

std::wstring HandOverValueName(const std::wstring& hostId)
{
    std::wstring eventName = hostId.substr(0, 260);
    eventName = eventName.substr(0, eventName.find(L'?'));
    return L"Ordwellsecinst_" + eventName;
}

std::optional<std::wstring> HandOverValue(const std::wstring& hostId)
{
    std::vector<wchar_t> text(4200, L'\0');
    DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_CURRENT_USER, kHandOverKey, HandOverValueName(hostId).c_str(), RRF_RT_REG_SZ, nullptr,
                     text.data(), &size) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    return std::wstring(text.data());
}

DWORD HostProcessId(const std::wstring& hostId)
{
    DWORD processId = 0;
    if (HWND window = FindHostWindow(hostId)) GetWindowThreadProcessId(window, &processId);
    return processId;
}

bool SuspendProcess(DWORD processId)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return false;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    bool suspended = false;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != processId) continue;
        if (HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID)) {
            if (SuspendThread(thread) != static_cast<DWORD>(-1)) suspended = true;
            CloseHandle(thread);
        }
    }
    CloseHandle(snapshot);
    return suspended;
}

namespace {

// VmData of the Linux process whose command line holds marker, in bytes; 0 when none is found.
SIZE_T LinuxPrivateBytes(const std::wstring& marker)
{
    const std::string wanted(marker.begin(), marker.end());
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE) return 0;
    SIZE_T bytes = 0;
    do {
        if (found.cFileName[0] < L'0' || found.cFileName[0] > L'9') continue;
        const std::wstring folder = std::wstring(L"Z:\\proc\\") + found.cFileName;
        std::ifstream command(std::string(folder.begin(), folder.end()) + "\\cmdline", std::ios::binary);
        std::string line((std::istreambuf_iterator<char>(command)), std::istreambuf_iterator<char>());
        if (line.find(wanted) == std::string::npos) continue;
        std::ifstream status(std::string(folder.begin(), folder.end()) + "\\status");
        std::string field;
        while (status >> field) {
            if (field == "VmData:") {
                unsigned long long kilobytes = 0;
                status >> kilobytes;
                bytes = static_cast<SIZE_T>(kilobytes * 1024);
                break;
            }
        }
        if (bytes != 0) break;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return bytes;
}

// Handles the process with processId holds, counted from the system-wide handle table (the
// extended class, whose owner ids are full width); 0 when the table cannot be read.
DWORD SystemTableHandleCount(DWORD processId)
{
    struct Entry {
        PVOID object;
        ULONG_PTR ownerId;
        ULONG_PTR handle;
        ULONG grantedAccess;
        USHORT creatorBackTraceIndex;
        USHORT objectTypeIndex;
        ULONG attributes;
        ULONG reserved;
    };
    struct Table {
        ULONG_PTR count;
        ULONG_PTR reserved;
        Entry entries[1];
    };
    using QueryFunction = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    constexpr ULONG kExtendedHandleInformation = 64;
    constexpr LONG kLengthMismatch = static_cast<LONG>(0xC0000004);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto query = ntdll == nullptr ? nullptr
                                        : reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(
                                              GetProcAddress(ntdll, "NtQuerySystemInformation")));
    if (query == nullptr) return 0;
    // ULONG_PTR storage keeps the table's pointer-sized fields aligned.
    std::vector<ULONG_PTR> buffer(1 << 14);
    LONG status = kLengthMismatch;
    for (int attempt = 0; attempt < 8 && status == kLengthMismatch; ++attempt) {
        ULONG needed = 0;
        const ULONG bytes = static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR));
        status = query(kExtendedHandleInformation, buffer.data(), bytes, &needed);
        // The table can grow between two calls: leave room beyond what was asked for.
        if (status == kLengthMismatch) buffer.resize((std::max<size_t>(bytes, needed) * 2) / sizeof(ULONG_PTR));
    }
    if (status != 0) return 0;
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    const size_t room = (buffer.size() * sizeof(ULONG_PTR) - offsetof(Table, entries)) / sizeof(Entry);
    const size_t count = std::min<size_t>(table->count, room);
    DWORD handles = 0;
    for (size_t i = 0; i < count; ++i) {
        if (table->entries[i].ownerId == processId) ++handles;
    }
    return handles;
}

}  // namespace

std::optional<Figures> Measure(HANDLE process, const std::wstring& marker)
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    Figures figures;
    if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters))) {
        figures.privateBytes = counters.PrivateUsage;
    }
    if (!GetProcessHandleCount(process, &figures.handles)) figures.handles = 0;
    if (figures.privateBytes == 0) figures.privateBytes = LinuxPrivateBytes(marker);
    if (figures.handles == 0) figures.handles = SystemTableHandleCount(GetProcessId(process));
    if (figures.privateBytes == 0 && figures.handles == 0) return std::nullopt;
    return figures;
}

}  // namespace HostControl
