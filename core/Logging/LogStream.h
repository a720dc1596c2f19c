#pragma once
// The process-wide log stream: a wide output stream with its own lock, where one flush is one
// log record. Write a record through the guard:
//     ETWLogging::LogStreamRecord(ETWLogging::kLevelNormal, __LINE__, L"CPlatformDspObj::GetProperty",
//                                 L"PlatformDspObj.cpp")
//         << L"name " << name << L" result " << result;
// The record goes to the front end's logger when the guard ends.

#include "core/Logging/LogLevel.h"

#include <windows.h>

#include <cstdint>
#include <memory>
#include <ostream>
#include <sstream>

namespace ETWLogging {

class logstream;

// The stream's buffer. Each sync sends the buffered text as one record to the logger that the
// front end holds at that moment (fetched at every flush: the logger may be gone at exit), and
// empties the buffer.
class logstreambuf : public std::wstringbuf {
public:
    // group: the group the front end's logger is built with when this stream's record is the
    // first log call of the module (a literal: it is kept, not copied).
    explicit logstreambuf(const wchar_t* group);
    void SetOwner(logstream* owner) noexcept { m_owner = owner; }

protected:
    int sync() override;  // always 0; a record that cannot be sent is lost

private:
    logstream* m_owner = nullptr;
    const wchar_t* m_group;
    HMODULE m_module;
};

class logstream : public std::wostream {
public:
    // Takes ownership of buffer.
    explicit logstream(std::unique_ptr<logstreambuf> buffer);
    ~logstream() override;
    logstream(const logstream&) = delete;
    logstream& operator=(const logstream&) = delete;

    // The lock held while one record is written.
    void Lock() noexcept { ::EnterCriticalSection(&m_lock); }
    void Unlock() noexcept { ::LeaveCriticalSection(&m_lock); }

    // The record being written (under the lock). function and file are kept, not copied: they
    // stay valid until the record is flushed.
    void SetRecord(LogLevel level, std::uint32_t line, const wchar_t* function, const wchar_t* file) noexcept;
    [[nodiscard]] LogLevel Level() const noexcept { return m_level; }
    [[nodiscard]] std::uint32_t Line() const noexcept { return m_line; }
    [[nodiscard]] const wchar_t* Function() const noexcept { return m_function; }
    [[nodiscard]] const wchar_t* File() const noexcept { return m_file; }

private:
    std::unique_ptr<logstreambuf> m_buffer;
    CRITICAL_SECTION m_lock;
    LogLevel m_level = kLevelNormal;
    std::uint32_t m_line = 0;
    const wchar_t* m_function = nullptr;
    const wchar_t* m_file = nullptr;
};

// The address of the stream singleton pointer. With create, builds the stream when it does not
// exist; the pointer stays null when it cannot be built (a later call tries again) and after the
// stream was destroyed at exit. Never throws.
[[nodiscard]] logstream** GetLogStream(bool create) noexcept;

// One record on the log stream: takes the stream (building it if needed) and its lock, and sets
// the record's level, line, function and file. Write the text through stream() or <<; the end
// of the guard sends it as one record and leaves the lock. Without a stream the text is dropped.
class LogStreamRecord {
public:
    LogStreamRecord(LogLevel level, std::uint32_t line, const wchar_t* function, const wchar_t* file) noexcept;
    ~LogStreamRecord();
    LogStreamRecord(const LogStreamRecord&) = delete;
    LogStreamRecord& operator=(const LogStreamRecord&) = delete;

    [[nodiscard]] std::wostream& stream() noexcept;

    template <typename T>
    LogStreamRecord& operator<<(const T& value)
    {
        stream() << value;
        return *this;
    }
    LogStreamRecord& operator<<(std::wostream& (*manipulator)(std::wostream&))
    {
        stream() << manipulator;
        return *this;
    }
    LogStreamRecord& operator<<(std::ios_base& (*manipulator)(std::ios_base&))
    {
        stream() << manipulator;
        return *this;
    }

private:
    logstream* m_stream = nullptr;
    std::wostream m_discard;  // no buffer: stands in when there is no stream, drops everything
};

}  // namespace ETWLogging
