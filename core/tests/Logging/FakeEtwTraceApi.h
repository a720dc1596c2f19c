#pragma once
// A tracing system for the ETW logger's tests: keeps what the provider registers, copies every
// event with the data its MOF fields point to (those buffers live on the logger's stack), and
// lets a test play the controller by calling the registered control callback.

#include "core/Logging/EtwEventRecord.h"
#include "core/Logging/EtwTraceApi.h"

#include <windows.h>
#include <evntrace.h>
#include <wmistr.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace ETWLogging::testing {

class FakeEtwTraceApi : public EtwTraceApi {
public:
    struct Registration {
        WMIDPREQUEST callback = nullptr;
        void* context = nullptr;
        GUID controlGuid = {};
        ULONG guidCount = 0;
        GUID traceGuid = {};
    };

    struct Event {
        TRACEHANDLE session = 0;
        std::array<std::uint8_t, kEtwEventSize> bytes = {};  // the header and both MOF fields
        std::vector<std::uint8_t> data;                      // what MOF field 1 points to
        std::vector<std::uint8_t> message;                   // what MOF field 2 points to
    };

    struct SessionState {
        UCHAR level = 0;
        ULONG flags = 0;
        DWORD levelError = 0;  // last error set when the level is 0
    };

    // What RegisterTraceGuids answers, and the handle it hands out on success.
    ULONG registerResult = ERROR_SUCCESS;
    TRACEHANDLE nextRegistration = 0x5100;
    // Runs inside RegisterTraceGuids, after the callback is known (as a controller that enables
    // the provider while it registers).
    std::function<void()> duringRegister;

    ULONG RegisterTraceGuids(WMIDPREQUEST callback, void* context, const GUID& controlGuid, ULONG guidCount,
                             TRACE_GUID_REGISTRATION* guids, TRACEHANDLE* registration) override
    {
        Registration entry;
        entry.callback = callback;
        entry.context = context;
        entry.controlGuid = controlGuid;
        entry.guidCount = guidCount;
        if (guidCount > 0 && guids != nullptr && guids[0].Guid != nullptr) {
            entry.traceGuid = *guids[0].Guid;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_registrations.push_back(entry);
        }
        if (duringRegister) {
            duringRegister();
        }
        if (registerResult == ERROR_SUCCESS) {
            std::lock_guard<std::mutex> lock(m_mutex);
            *registration = nextRegistration++;
        }
        return registerResult;
    }

    ULONG UnregisterTraceGuids(TRACEHANDLE registration) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_unregistered.push_back(registration);
        return ERROR_SUCCESS;
    }

    ULONG TraceEvent(TRACEHANDLE session, EVENT_TRACE_HEADER* header) override
    {
        Event event;
        event.session = session;
        std::memcpy(event.bytes.data(), header, event.bytes.size());
        const auto* record = reinterpret_cast<const EtwEventRecord*>(header);
        event.data = Copy(record->fields[0]);
        event.message = Copy(record->fields[1]);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.push_back(std::move(event));
        return ERROR_SUCCESS;
    }

    // As the system does: the session is named by the node header the callback receives.
    TRACEHANDLE GetTraceLoggerHandle(void* buffer) override
    {
        const TRACEHANDLE session = static_cast<const WNODE_HEADER*>(buffer)->HistoricalContext;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_sessions.count(session) == 0) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return static_cast<TRACEHANDLE>(-1);
        }
        return session;
    }

    UCHAR GetTraceEnableLevel(TRACEHANDLE session) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const SessionState state = m_sessions[session];
        if (state.level == 0) {
            ::SetLastError(state.levelError);
        }
        return state.level;
    }

    ULONG GetTraceEnableFlags(TRACEHANDLE session) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_sessions[session].flags;
    }

    // The controller's side. Each returns what the provider's callback returned.
    ULONG Enable(TRACEHANDLE session, UCHAR level, ULONG flags, DWORD levelError = 0)
    {
        AddSession(session, level, flags, levelError);
        return Request(WMI_ENABLE_EVENTS, session);
    }
    ULONG Disable(TRACEHANDLE session) { return Request(WMI_DISABLE_EVENTS, session); }

    void AddSession(TRACEHANDLE session, UCHAR level, ULONG flags, DWORD levelError = 0)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_sessions[session] = {level, flags, levelError};
    }

    ULONG Request(WMIDPREQUESTCODE code, TRACEHANDLE session, bool withContext = true)
    {
        const Registration registration = LastRegistration();
        WNODE_HEADER header = {};
        header.BufferSize = sizeof(header);
        header.HistoricalContext = session;
        ULONG size = sizeof(header);
        return registration.callback(code, withContext ? registration.context : nullptr, &size, &header);
    }

    [[nodiscard]] std::vector<Registration> Registrations() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_registrations;
    }
    [[nodiscard]] Registration LastRegistration() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_registrations.empty() ? Registration{} : m_registrations.back();
    }
    [[nodiscard]] std::vector<TRACEHANDLE> Unregistered() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_unregistered;
    }
    [[nodiscard]] std::vector<Event> Events() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    void ClearEvents()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events.clear();
    }

private:
    static std::vector<std::uint8_t> Copy(const MOF_FIELD& field)
    {
        const auto* data = reinterpret_cast<const std::uint8_t*>(static_cast<ULONG_PTR>(field.DataPtr));
        if (data == nullptr) {
            return {};
        }
        return std::vector<std::uint8_t>(data, data + field.Length);
    }

    mutable std::mutex m_mutex;
    std::vector<Registration> m_registrations;
    std::vector<TRACEHANDLE> m_unregistered;
    std::vector<Event> m_events;
    std::map<TRACEHANDLE, SessionState> m_sessions;
};

}  // namespace ETWLogging::testing
