#include "pageobjects/net/KvNetCallbackMap.h"

#include "core/base/LastError.h"

#include <new>
#include <vector>

DWORD KvNetCallbackMap::Initialize(const char* lingerEventName)
{
    KvNetLock lock(m_lock);
    if (m_initialized) {
        return kNetMapInitializedTwice;
    }
    Fundor::ScopedHandle event(::OpenEventA(EVENT_MODIFY_STATE, FALSE, lingerEventName));
    if (!event) {
        return Fundor::LastErrorOr(ERROR_INVALID_HANDLE);
    }
    m_lingerEvent = std::move(event);
    m_initialized = true;
    return ERROR_SUCCESS;
}

DWORD KvNetCallbackMap::Release()
{
    KvNetLock lock(m_lock);
    if (!m_initialized) {
        return kNetMapNotInitialized;
    }
    m_entries.clear();
    m_lingerEvent.reset();
    m_initialized = false;
    return ERROR_SUCCESS;
}

DWORD KvNetCallbackMap::Add(DWORD cookie, const KvNetCallbackEntry& entry)
{
    KvNetLock lock(m_lock);
    if (!m_initialized) {
        return kNetMapNotInitialized;
    }
    if (!m_lingerEvent) {
        return kNetMapNoLingerEvent;
    }
    try {
        if (!m_entries.emplace(cookie, entry).second) {
            return ERROR_ALREADY_EXISTS;
        }
    } catch (const std::bad_alloc&) {
        return ERROR_OUTOFMEMORY;
    }
    if (::SetEvent(m_lingerEvent.get()) == FALSE) {
        const DWORD error = Fundor::LastErrorOr(kNetMapNoLingerEvent);
        m_entries.erase(cookie);
        return error;
    }
    return ERROR_SUCCESS;
}

DWORD KvNetCallbackMap::Remove(DWORD cookie)
{
    KvNetLock lock(m_lock);
    if (!m_initialized) {
        return kNetMapNotInitialized;
    }
    if (m_entries.erase(cookie) == 0) {
        return kNetMapUnknownCookie;
    }
    UpdateLingerEvent();
    return ERROR_SUCCESS;
}

DWORD KvNetCallbackMap::Visit(int state)
{
    std::vector<DWORD> cookies;
    {
        KvNetLock lock(m_lock);
        if (!m_initialized) {
            return kNetMapNotInitialized;
        }
        if (m_entries.empty()) {
            return kNetMapEmpty;
        }
        try {
            cookies.reserve(m_entries.size());
            for (const auto& [cookie, entry] : m_entries) {
                cookies.push_back(cookie);
            }
        } catch (const std::bad_alloc&) {
            return ERROR_OUTOFMEMORY;
        }
    }
    // Each entry is looked up again and taken out under the lock, and told after leaving it: a
    // callback registers or removes entries, which takes the module's lock and then this one,
    // while other threads may hold the module's lock waiting for this one.
    for (const DWORD cookie : cookies) {
        KvNetCallback callback = nullptr;
        void* context = nullptr;
        {
            KvNetLock lock(m_lock);
            const auto found = m_entries.find(cookie);
            if (found == m_entries.end()) {
                continue;
            }
            KvNetCallbackEntry& entry = found->second;
            if (state == 1 && entry.lastState != 1) {
                callback = entry.onConnected;
            } else if (state == 0 && entry.lastState != 0) {
                callback = entry.onDisconnected;
            }
            entry.lastState = state;
            if (callback != nullptr) {
                context = entry.context;
                m_entries.erase(found);
            }
        }
        if (callback != nullptr) {
            callback(context);
        }
    }
    KvNetLock lock(m_lock);
    UpdateLingerEvent();
    return ERROR_SUCCESS;
}

bool KvNetCallbackMap::Empty()
{
    KvNetLock lock(m_lock);
    return m_entries.empty();
}

size_t KvNetCallbackMap::Size()
{
    KvNetLock lock(m_lock);
    return m_entries.size();
}

void KvNetCallbackMap::UpdateLingerEvent()
{
    if (!m_lingerEvent) {
        return;
    }
    if (m_entries.empty()) {
        ::ResetEvent(m_lingerEvent.get());
    } else {
        ::SetEvent(m_lingerEvent.get());
    }
}
