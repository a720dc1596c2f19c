#pragma once
// The network module's registered callbacks by cookie. While the map holds at least one entry it
// keeps the linger event set, which is what wakes the worker; it resets the event when it becomes
// empty.
//
// Results: 0; 11001 not initialised; 11002 initialised twice; 11003 no linger event; 11004 unknown
// cookie; 11005 visit of an empty map; ERROR_ALREADY_EXISTS cookie already present;
// ERROR_OUTOFMEMORY no memory; a Win32 error of opening or setting the event.

#include <windows.h>

#include <map>

#include "core/base/ScopedResource.h"
#include "pageobjects/net/KvNetCriticalSection.h"

// Called with the context given at registration.
using KvNetCallback = void (*)(void* context);

struct KvNetCallbackEntry {
    void* context = nullptr;
    int lastState = -1;  // -1 until a state was reported
    KvNetCallback onConnected = nullptr;
    KvNetCallback onDisconnected = nullptr;
};

inline constexpr DWORD kNetMapNotInitialized = 11001;
inline constexpr DWORD kNetMapInitializedTwice = 11002;
inline constexpr DWORD kNetMapNoLingerEvent = 11003;
inline constexpr DWORD kNetMapUnknownCookie = 11004;
inline constexpr DWORD kNetMapEmpty = 11005;

class KvNetCallbackMap {
public:
    KvNetCallbackMap() = default;
    ~KvNetCallbackMap() = default;
    KvNetCallbackMap(const KvNetCallbackMap&) = delete;
    KvNetCallbackMap& operator=(const KvNetCallbackMap&) = delete;

    // Opens the linger event by name with EVENT_MODIFY_STATE.
    [[nodiscard]] DWORD Initialize(const char* lingerEventName);
    // Drops every entry and closes the event handle.
    [[nodiscard]] DWORD Release();

    [[nodiscard]] DWORD Add(DWORD cookie, const KvNetCallbackEntry& entry);
    [[nodiscard]] DWORD Remove(DWORD cookie);

    // Tells every entry whose last state differs from state (0 or 1) through the matching function,
    // and removes the entries that were told. Each entry is removed before it is told, and the
    // callbacks run with the map's lock left, so that they may register and remove entries.
    [[nodiscard]] DWORD Visit(int state);

    [[nodiscard]] bool Empty();
    [[nodiscard]] size_t Size();

private:
    void UpdateLingerEvent();

    KvNetCriticalSection m_lock;
    bool m_initialized = false;
    Fundor::ScopedHandle m_lingerEvent;
    std::map<DWORD, KvNetCallbackEntry> m_entries;
};
