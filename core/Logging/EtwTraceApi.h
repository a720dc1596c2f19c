#pragma once
// Seam over the classic event-tracing calls of the provider side. The base class forwards each
// call to the operating system unchanged; tests derive from it to drive the control callback and
// to read the events. Every argument and result is the platform call's own.

#include <windows.h>
#include <evntrace.h>

namespace ETWLogging {

class EtwTraceApi {
public:
    EtwTraceApi() = default;
    virtual ~EtwTraceApi();
    EtwTraceApi(const EtwTraceApi&) = delete;
    EtwTraceApi& operator=(const EtwTraceApi&) = delete;

    // RegisterTraceGuidsW without a MOF image or resource. The callback may be called before
    // this returns, on this thread or another. *registration is written by the system.
    [[nodiscard]] virtual ULONG RegisterTraceGuids(WMIDPREQUEST callback, void* context, const GUID& controlGuid,
                                                   ULONG guidCount, TRACE_GUID_REGISTRATION* guids,
                                                   TRACEHANDLE* registration);
    [[nodiscard]] virtual ULONG UnregisterTraceGuids(TRACEHANDLE registration);
    // The header and the data its MOF fields point to are only valid during the call.
    [[nodiscard]] virtual ULONG TraceEvent(TRACEHANDLE session, EVENT_TRACE_HEADER* header);
    // buffer is the one handed to the control callback. INVALID_HANDLE_VALUE (as a trace
    // handle) with the thread's last error on failure.
    [[nodiscard]] virtual TRACEHANDLE GetTraceLoggerHandle(void* buffer);
    // 0 with the thread's last error on failure.
    [[nodiscard]] virtual UCHAR GetTraceEnableLevel(TRACEHANDLE session);
    [[nodiscard]] virtual ULONG GetTraceEnableFlags(TRACEHANDLE session);
};

}  // namespace ETWLogging
