#include "core/Logging/LogStream.h"

#include "core/Logging/CLoggingIf_ex.h"
#include "core/Logging/LoggerHolder.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

namespace ETWLogging {
namespace {

enum StreamState : int {
    kNoStream = 0,
    kBuildingStream = 1,
    kStreamBuilt = 2,
    kStreamGone = 3,  // destroyed at exit
};

constinit std::atomic<int> g_streamState{kNoStream};
constinit logstream* g_stream = nullptr;

// The image that holds this code: the allocation base of an address inside it.
HMODULE ModuleOfThisCode() noexcept
{
    MEMORY_BASIC_INFORMATION information = {};
    if (::VirtualQuery(reinterpret_cast<const void*>(&ModuleOfThisCode), &information, sizeof information) == 0) {
        return nullptr;
    }
    return static_cast<HMODULE>(information.AllocationBase);
}

void DestroyStreamAtExit() noexcept
{
    g_streamState.store(kStreamGone);
    logstream* stream = g_stream;
    g_stream = nullptr;
    if (stream != nullptr) {
        // Let a record being written end first. The stream itself is left to the ending process:
        // a thread that took the pointer just before it was cleared may still lock it.
        stream->Lock();
        stream->Unlock();
    }
}

}  // namespace

logstreambuf::logstreambuf(const wchar_t* group)
    : std::wstringbuf(std::ios_base::in | std::ios_base::out), m_group(group), m_module(ModuleOfThisCode())
{
}

int logstreambuf::sync()
{
    try {
        const std::wstring text = str();
        if (m_owner == nullptr) {
            return 0;
        }
        internal::HolderUse use;
        LoggerHolder* holder = GetLoggerHolder(nullptr, m_group, m_module, nullptr, 0);
        CLoggingIf* logger = holder != nullptr ? holder->logger.load() : nullptr;
        if (auto* extended = dynamic_cast<CLoggingIf_ex*>(logger)) {
            (void)extended->WriteTextEx(m_owner->Level(), m_owner->File(), m_owner->Function(),
                                        static_cast<int>(m_owner->Line()), text.c_str());
        } else if (logger != nullptr) {
            logger->Log(m_owner->Level(), m_owner->File(), m_owner->Function(), static_cast<int>(m_owner->Line()),
                        L"%s", text.c_str());
        }
    } catch (...) {
        // The record is lost; the buffer is emptied below so it does not join the next one.
    }
    try {
        str(std::wstring());
    } catch (...) {
    }
    return 0;
}

logstream::logstream(std::unique_ptr<logstreambuf> buffer) : std::wostream(buffer.get()), m_buffer(std::move(buffer))
{
    ::InitializeCriticalSection(&m_lock);
    m_buffer->SetOwner(this);
}

logstream::~logstream()
{
    ::DeleteCriticalSection(&m_lock);
}

void logstream::SetRecord(LogLevel level, std::uint32_t line, const wchar_t* function, const wchar_t* file) noexcept
{
    m_level = level;
    m_line = line;
    m_function = function;
    m_file = file;
}

logstream** GetLogStream(bool create) noexcept
{
    for (;;) {
        int state = kNoStream;
        if (g_streamState.compare_exchange_strong(state, kBuildingStream)) {
            break;
        }
        if (state == kStreamBuilt || state == kStreamGone) {
            return &g_stream;
        }
        ::Sleep(0);  // another thread is building it
    }
    // From here every path leaves the state word: a failed build must not leave the other
    // callers spinning.
    if (create) {
        try {
            auto stream = std::make_unique<logstream>(std::make_unique<logstreambuf>(L"SARN"));
            if (std::atexit(&DestroyStreamAtExit) == 0) {
                g_stream = stream.release();
            }
        } catch (...) {
            g_stream = nullptr;
        }
    }
    g_streamState.store(g_stream != nullptr ? kStreamBuilt : kNoStream);
    return &g_stream;
}

LogStreamRecord::LogStreamRecord(LogLevel level, std::uint32_t line, const wchar_t* function,
                                 const wchar_t* file) noexcept
    : m_discard(nullptr)
{
    m_stream = *GetLogStream(true);
    if (m_stream == nullptr) {
        return;
    }
    m_stream->Lock();
    // Each record starts clean: no error state or formatting left by the one before.
    m_stream->clear();
    m_stream->flags(std::ios_base::skipws | std::ios_base::dec);
    m_stream->width(0);
    m_stream->precision(6);
    m_stream->fill(L' ');
    m_stream->SetRecord(level, line, function, file);
}

LogStreamRecord::~LogStreamRecord()
{
    if (m_stream != nullptr) {
        // pubsync rather than flush: flush does nothing on a stream whose state is bad, and the
        // text would then join the next record.
        (void)m_stream->rdbuf()->pubsync();
        m_stream->Unlock();
    }
}

std::wostream& LogStreamRecord::stream() noexcept
{
    if (m_stream != nullptr) {
        return *m_stream;
    }
    return m_discard;
}

}  // namespace ETWLogging
