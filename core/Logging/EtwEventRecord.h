#pragma once
// The event the ETW logger hands to TraceEvent: the classic trace header followed by two MOF
// fields (the packed record data, then the message in UTF-8). The layout is the wire format the
// suite's trace consumers read, so it is pinned below.

#include <windows.h>
#include <evntrace.h>
#include <wmistr.h>

#include <cstddef>
#include <cstdint>

namespace ETWLogging {

struct EtwEventRecord {
    EVENT_TRACE_HEADER header;
    MOF_FIELD fields[2];  // [0] the record data, [1] the message
};

inline constexpr std::uint16_t kEtwEventSize = 80;
inline constexpr UCHAR kEtwEventType = 1;
inline constexpr USHORT kEtwEventVersion = 2;
inline constexpr ULONG kEtwEventFlags = WNODE_FLAG_TRACED_GUID | WNODE_FLAG_USE_MOF_PTR;

static_assert(kEtwEventFlags == 0x120000);
static_assert(sizeof(EtwEventRecord) == kEtwEventSize);
static_assert(offsetof(EtwEventRecord, header) == 0);
static_assert(offsetof(EVENT_TRACE_HEADER, Size) == 0);
static_assert(offsetof(EVENT_TRACE_HEADER, Class) == 4);
static_assert(sizeof(EVENT_TRACE_HEADER::Class) == 4);
static_assert(offsetof(EVENT_TRACE_HEADER, Guid) == 24);
static_assert(offsetof(EVENT_TRACE_HEADER, Flags) == 44);
static_assert(offsetof(EtwEventRecord, fields) == 48);
static_assert(offsetof(MOF_FIELD, DataPtr) == 0 && offsetof(MOF_FIELD, Length) == 8 && sizeof(MOF_FIELD) == 16);

}  // namespace ETWLogging
