#include "core/Logging/EtwTraceApi.h"

namespace ETWLogging {

EtwTraceApi::~EtwTraceApi() = default;

ULONG EtwTraceApi::RegisterTraceGuids(WMIDPREQUEST callback, void* context, const GUID& controlGuid, ULONG guidCount,
                                      TRACE_GUID_REGISTRATION* guids, TRACEHANDLE* registration)
{
    return ::RegisterTraceGuidsW(callback, context, &controlGuid, guidCount, guids, nullptr, nullptr, registration);
}

ULONG EtwTraceApi::UnregisterTraceGuids(TRACEHANDLE registration)
{
    return ::UnregisterTraceGuids(registration);
}

ULONG EtwTraceApi::TraceEvent(TRACEHANDLE session, EVENT_TRACE_HEADER* header)
{
    return ::TraceEvent(session, header);
}

TRACEHANDLE EtwTraceApi::GetTraceLoggerHandle(void* buffer)
{
    return ::GetTraceLoggerHandle(buffer);
}

UCHAR EtwTraceApi::GetTraceEnableLevel(TRACEHANDLE session)
{
    return ::GetTraceEnableLevel(session);
}

ULONG EtwTraceApi::GetTraceEnableFlags(TRACEHANDLE session)
{
    return ::GetTraceEnableFlags(session);
}

}  // namespace ETWLogging
