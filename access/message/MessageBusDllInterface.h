#pragma once
// The C interface of the message-bus DLL "Corvane.dll": the wire header, the two callbacks the
// DLL calls, the ten-entry function table that "CreateObject"(2001000) returns, and the four
// exports. Shared by the client's binding and by the test stand-in, so both sides agree on every
// byte and argument order.
//
// Strings are NUL-terminated UTF-16 texts; results are the bus's module status codes (0 success).

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#else
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

#pragma pack(push, 1)

// The version-2 session trailer: the Windows session of the sender.
typedef struct CorvaneSessionTrailer {
    uint16_t type;             // 11
    uint16_t length;           // 8
    uint32_t senderSessionId;  // 0 = unknown
} CorvaneSessionTrailer;

// The packed little-endian header that travels with a message (108 bytes in version 2). A
// version-1 header ends before the trailer (100 bytes): read the version before the trailer.
typedef struct CorvaneMessageHeader {
    uint16_t kind;          // 1
    uint32_t totalSize;     // 2 x (characters of name + source + data) + 114
    uint32_t flags;         // bit 0 reply, bit 3 no non-reply copy, bit 4 a non-reply copy follows
    uint16_t version;       // 2
    uint8_t reserved1[80];
    uint32_t replyIndex;    // the request's index, in a reply
    uint8_t reserved2[4];
    CorvaneSessionTrailer trailer;
} CorvaneMessageHeader;

#pragma pack(pop)

#define CORVANE_HEADER_SIZE_V2 108u
#define CORVANE_HEADER_SIZE_V1 100u
#define CORVANE_INTERFACE_VERSION 2001000u

// Called by the DLL on one of its threads for each delivered message. context is what the
// subscriber gave at subscribe time; the result goes back to the publisher's side.
typedef uint32_t (*CorvaneMessageCallback)(void* context, const CorvaneMessageHeader* header,
                                           const wchar_t* name, const wchar_t* source,
                                           const wchar_t* data);

// Called by the DLL on one of its threads for each reply or failed request. context is what
// the requester gave; on a nonzero status the header and texts may be null.
typedef uint32_t (*CorvaneReplyCallback)(void* context, uint32_t replyIndex,
                                         const CorvaneMessageHeader* header, const wchar_t* name,
                                         const wchar_t* source, const wchar_t* data,
                                         uint32_t status);

typedef void* CorvaneHandle;

// The table entries, in table order. Every entry but the first takes the handle first. The DLL
// copies whatever it is given before the call returns.
typedef uint32_t (*CorvaneCreateHandleFn)(CorvaneHandle* handle);
typedef uint32_t (*CorvaneReleaseHandleFn)(CorvaneHandle handle);
typedef uint32_t (*CorvanePublishFn)(CorvaneHandle handle, const CorvaneMessageHeader* header,
                                     const wchar_t* name, const wchar_t* source, const wchar_t* data);
typedef uint32_t (*CorvaneRequestFn)(CorvaneHandle handle, uint32_t replyIndex, void* replyContext,
                                     CorvaneReplyCallback replyCallback,
                                     const CorvaneMessageHeader* header, const wchar_t* name,
                                     const wchar_t* source, const wchar_t* data, uint32_t timeoutMs);
// Subscribe entries give the subscription id; 0 means failure.
typedef uint32_t (*CorvaneSubscribeFn)(CorvaneHandle handle, void* context,
                                       CorvaneMessageCallback callback, const wchar_t* name);
typedef uint32_t (*CorvaneUnsubscribeFn)(CorvaneHandle handle, uint32_t subscriptionId);
typedef uint32_t (*CorvaneSetReplyCallbackFn)(CorvaneHandle handle, CorvaneReplyCallback callback);

typedef struct CorvaneFunctionTable {
    CorvaneCreateHandleFn createHandle;          // 0
    CorvaneReleaseHandleFn releaseHandle;        // 1
    CorvanePublishFn publish;                    // 2
    CorvaneRequestFn request;                    // 3
    CorvaneSubscribeFn subscribe;                // 4
    CorvaneSubscribeFn subscribeFilter;          // 5: the name is a pattern the DLL matches
    CorvaneUnsubscribeFn unsubscribe;            // 6
    CorvaneSetReplyCallbackFn setReplyCallback;  // 7
    CorvanePublishFn publishEx;                  // 8
    CorvaneRequestFn requestEx;                  // 9
} CorvaneFunctionTable;

// The exports, bound by name. CreateObject gives the table for an interface version it serves
// (CORVANE_INTERFACE_VERSION), else null; the table stays valid while the DLL is loaded.
typedef const CorvaneFunctionTable* (*CorvaneCreateObjectFn)(uint32_t interfaceVersion);
typedef uint32_t (*CorvaneReleaseObjectFn)(const CorvaneFunctionTable* table);
typedef const wchar_t* (*CorvaneGetVersionStrFn)(void);
typedef uint32_t (*CorvaneGetVersionNumFn)(void);

#ifdef __cplusplus
}  // extern "C"

static_assert(sizeof(CorvaneMessageHeader) == CORVANE_HEADER_SIZE_V2);
static_assert(offsetof(CorvaneMessageHeader, kind) == 0);
static_assert(offsetof(CorvaneMessageHeader, totalSize) == 2);
static_assert(offsetof(CorvaneMessageHeader, flags) == 6);
static_assert(offsetof(CorvaneMessageHeader, version) == 10);
static_assert(offsetof(CorvaneMessageHeader, reserved1) == 12);
static_assert(offsetof(CorvaneMessageHeader, replyIndex) == 92);
static_assert(offsetof(CorvaneMessageHeader, reserved2) == 96);
static_assert(offsetof(CorvaneMessageHeader, trailer) == CORVANE_HEADER_SIZE_V1);
static_assert(offsetof(CorvaneMessageHeader, trailer) + offsetof(CorvaneSessionTrailer, type) == 100);
static_assert(offsetof(CorvaneMessageHeader, trailer) + offsetof(CorvaneSessionTrailer, length) == 102);
static_assert(offsetof(CorvaneMessageHeader, trailer) + offsetof(CorvaneSessionTrailer, senderSessionId) == 104);
static_assert(sizeof(CorvaneSessionTrailer) == 8);
static_assert(sizeof(CorvaneFunctionTable) == 10 * sizeof(void*));
#endif
